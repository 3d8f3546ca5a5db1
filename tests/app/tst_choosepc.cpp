#include "testmain.h"

#include <QLabel>

#include "app/choosepc.h"

namespace {

const QString receiverSelected = "QWidget#pcwidget{            background-color: #FFF;             border: 2px solid "
                                 "#2563EB;            border-radius: 15px;             }";
const QString receiverNotSelected
    = "QWidget#pcwidget{            background-color: #FFF;             border-radius: 15px;             }";
const QString senderSelected = "QWidget#oldpcwidget{            background-color: #FFF;             border: 2px "
                               "solid #2563EB;            border-radius: 15px;             }";
const QString senderNotSelected
    = "QWidget#oldpcwidget{            background-color: #FFF;             border-radius: 15px;             }";

struct Page
{
    ChoosePC page;
    QWidget* receiver;
    QWidget* sender;
    QLabel* nselect;
    QLabel* oselect;
    bool exposed;

    Page()
    {
        page.show();
        exposed = QTest::qWaitForWindowExposed(&page);
        receiver = page.findChild<QWidget*>("pcwidget");
        sender = page.findChild<QWidget*>("oldpcwidget");
        nselect = page.findChild<QLabel*>("nselect");
        oselect = page.findChild<QLabel*>("oselect");
    }

    // A point of the page named by where it lies relative to the cards.
    QPoint point(const QString& where) const
    {
        const QRect r = receiver->geometry();
        const QRect s = sender->geometry();
        if (where == "receiver centre")
            return r.center();
        if (where == "receiver top left corner")
            return r.topLeft();
        if (where == "receiver bottom right corner")
            return r.bottomRight();
        if (where == "receiver left edge")
            return QPoint(r.left(), r.center().y());
        if (where == "sender centre")
            return s.center();
        if (where == "sender top edge")
            return QPoint(s.center().x(), s.top());
        if (where == "sender bottom right corner")
            return s.bottomRight();
        if (where == "between the cards")
            return QPoint(r.center().x(), (r.bottom() + s.top()) / 2);
        if (where == "just above the receiver")
            return QPoint(r.center().x(), r.top() - 1);
        if (where == "just right of the receiver")
            return QPoint(r.right() + 1, r.center().y());
        if (where == "just below the sender")
            return QPoint(s.center().x(), s.bottom() + 1);
        if (where == "title")
            return page.findChild<QLabel*>("label")->geometry().center();
        return QPoint(-100, -100);
    }
};

} // namespace

class TestChoosePC : public QObject
{
    Q_OBJECT

private slots:
    void startsWithNothingChosen()
    {
        Page p;
        QVERIFY(p.exposed);
        QVERIFY(p.receiver && p.sender && p.nselect && p.oselect);
        QVERIFY(!p.nselect->isVisible());
        QVERIFY(!p.oselect->isVisible());
        QVERIFY(!p.receiver->styleSheet().contains("border:"));
        QVERIFY(!p.sender->styleSheet().contains("border:"));
        QCOMPARE(p.page.findChild<QLabel*>("label")->text(), QString("您正在使用的电脑是"));
        QCOMPARE(p.page.findChild<QLabel*>("label_5")->text(), QString("这是新电脑（接收数据）"));
        QCOMPARE(p.page.findChild<QLabel*>("label_6")->text(), QString("选择此选项将作为数据接收端"));
        QCOMPARE(p.page.findChild<QLabel*>("label_2")->text(), QString("这是旧电脑（发送数据）"));
        QCOMPARE(p.page.findChild<QLabel*>("label_3")->text(), QString("选择此选项将作为数据发送端"));
        // The cards are laid out one above the other without overlapping.
        QVERIFY(p.receiver->geometry().bottom() < p.sender->geometry().top());
        QVERIFY(p.receiver->width() >= 427);
    }

    void checkMarkKeepsItsRoomWhileHidden()
    {
        Page p;
        const QSize before = p.receiver->size();
        QTest::mouseClick(&p.page, Qt::LeftButton, {}, p.point("receiver centre"));
        QApplication::processEvents();
        QCOMPARE(p.receiver->size(), before);
    }

    void click_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("emitted"); // -1: nothing
        QTest::newRow("receiver centre") << "receiver centre" << int(Qt::LeftButton) << 0;
        QTest::newRow("receiver with the right button") << "receiver centre" << int(Qt::RightButton) << 0;
        QTest::newRow("receiver top left corner") << "receiver top left corner" << int(Qt::LeftButton) << 0;
        QTest::newRow("receiver bottom right corner") << "receiver bottom right corner" << int(Qt::LeftButton) << 0;
        QTest::newRow("receiver left edge") << "receiver left edge" << int(Qt::LeftButton) << 0;
        QTest::newRow("sender centre") << "sender centre" << int(Qt::LeftButton) << 1;
        QTest::newRow("sender with the middle button") << "sender centre" << int(Qt::MiddleButton) << 1;
        QTest::newRow("sender top edge") << "sender top edge" << int(Qt::LeftButton) << 1;
        QTest::newRow("sender bottom right corner") << "sender bottom right corner" << int(Qt::LeftButton) << 1;
        QTest::newRow("between the cards") << "between the cards" << int(Qt::LeftButton) << -1;
        QTest::newRow("just above the receiver") << "just above the receiver" << int(Qt::LeftButton) << -1;
        QTest::newRow("just right of the receiver") << "just right of the receiver" << int(Qt::LeftButton) << -1;
        QTest::newRow("just below the sender") << "just below the sender" << int(Qt::LeftButton) << -1;
        QTest::newRow("on the title") << "title" << int(Qt::LeftButton) << -1;
    }
    void click()
    {
        QFETCH(QString, where);
        QFETCH(int, button);
        QFETCH(int, emitted);
        Page p;
        QSignalSpy spy(&p.page, &ChoosePC::pcTypeSelected);
        QTest::mouseClick(&p.page, Qt::MouseButton(button), {}, p.point(where));
        if (emitted < 0) {
            QCOMPARE(spy.count(), 0);
            QVERIFY(!p.nselect->isVisible());
            QVERIFY(!p.oselect->isVisible());
            QVERIFY(!p.receiver->styleSheet().contains("border:"));
            QVERIFY(!p.sender->styleSheet().contains("border:"));
            return;
        }
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<short>(), short(emitted));
        QCOMPARE(p.receiver->styleSheet(), emitted == 0 ? receiverSelected : receiverNotSelected);
        QCOMPARE(p.sender->styleSheet(), emitted == 1 ? senderSelected : senderNotSelected);
        QCOMPARE(p.nselect->isVisible(), emitted == 0);
        QCOMPARE(p.oselect->isVisible(), emitted == 1);
    }

    void clickOnATextInsideACardReachesThePage_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("emitted");
        QTest::newRow("receiver title") << "label_5" << 0;
        QTest::newRow("receiver picture") << "iconLabel2" << 0;
        QTest::newRow("sender subtitle") << "label_3" << 1;
        QTest::newRow("sender picture") << "iconLabel" << 1;
    }
    void clickOnATextInsideACardReachesThePage()
    {
        QFETCH(QString, label);
        QFETCH(int, emitted);
        Page p;
        QSignalSpy spy(&p.page, &ChoosePC::pcTypeSelected);
        QLabel* target = p.page.findChild<QLabel*>(label);
        QVERIFY(target);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<short>(), short(emitted));
    }

    void sameCardAgainEmitsAgain_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("emitted");
        QTest::newRow("receiver") << "receiver centre" << 0;
        QTest::newRow("sender") << "sender centre" << 1;
    }
    void sameCardAgainEmitsAgain()
    {
        QFETCH(QString, where);
        QFETCH(int, emitted);
        Page p;
        QSignalSpy spy(&p.page, &ChoosePC::pcTypeSelected);
        QTest::mouseClick(&p.page, Qt::LeftButton, {}, p.point(where));
        QTest::mouseClick(&p.page, Qt::LeftButton, {}, p.point(where));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).value<short>(), short(emitted));
        QCOMPARE(spy.at(1).at(0).value<short>(), short(emitted));
    }

    void switchingCardsMovesTheMark()
    {
        Page p;
        QSignalSpy spy(&p.page, &ChoosePC::pcTypeSelected);
        QTest::mouseClick(&p.page, Qt::LeftButton, {}, p.point("sender centre"));
        QTest::mouseClick(&p.page, Qt::LeftButton, {}, p.point("receiver centre"));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).value<short>(), short(0));
        QCOMPARE(p.receiver->styleSheet(), receiverSelected);
        QCOMPARE(p.sender->styleSheet(), senderNotSelected);
        QVERIFY(p.nselect->isVisible());
        QVERIFY(!p.oselect->isVisible());
    }

    void clickOutsideKeepsTheChoice()
    {
        Page p;
        QTest::mouseClick(&p.page, Qt::LeftButton, {}, p.point("sender centre"));
        QSignalSpy spy(&p.page, &ChoosePC::pcTypeSelected);
        QTest::mouseClick(&p.page, Qt::LeftButton, {}, p.point("between the cards"));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(p.sender->styleSheet(), senderSelected);
        QVERIFY(p.oselect->isVisible());
    }
};

MOVANTA_TEST_MAIN(TestChoosePC)
#include "tst_choosepc.moc"
