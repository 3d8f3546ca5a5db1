#include "testmain.h"

#include <arpa/inet.h>

#include <functional>

#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTextDocument>

#include "connect/oldpcview.h"
#include "connect/pcitem.h"

namespace {

PCItemInfo receiver(const char* name, const char* ip, const char* distro = "Debian GNU/Linux")
{
    PCItemInfo info;
    info.name = name;
    info.address.sin_family = AF_INET;
    info.address.sin_port = htons(43999);
    inet_pton(AF_INET, ip, &info.address.sin_addr);
    info.distro = distro;
    info.type = 2;
    info.lastSeen = 1000;
    return info;
}

using Table = std::unordered_map<unsigned, PCItemInfo>;

void put(Table& table, const PCItemInfo& info)
{
    table[info.address.sin_addr.s_addr] = info;
}

QList<PCItem*> cards(OldPCView& view)
{
    return view.findChildren<PCItem*>();
}

QStringList texts(OldPCView& view, const char* label)
{
    QStringList out;
    for (PCItem* card : cards(view)) {
        out << card->findChild<QLabel*>(label)->text();
    }
    out.sort();
    return out;
}

// The text a tooltip shows: Qt renders it as rich text when it looks like markup.
QString shownToolTip(const QString& tip)
{
    if (!Qt::mightBeRichText(tip)) {
        return tip;
    }
    QTextDocument doc;
    doc.setHtml(tip);
    return doc.toPlainText();
}

} // namespace

class TestOldPCView : public QObject
{
    Q_OBJECT

private slots:
    void noReceiverNoCard()
    {
        OldPCView view;
        view.show();
        Table empty;
        QVERIFY(view.TryUpdateView(empty));
        QVERIFY(cards(view).isEmpty());
        QCOMPARE(view.findChild<QLabel*>("label")->text(), QString("请选择新电脑"));
    }

    void oneCardPerReceiver_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("ips");
        QTest::newRow("one receiver") << QStringList {"study"} << QStringList {"10.0.0.7"};
        QTest::newRow("two receivers") << QStringList {"study", "kitchen"} << QStringList {"10.0.0.7", "10.0.0.9"};
        QTest::newRow("same host name at two addresses")
            << QStringList {"laptop", "laptop"} << QStringList {"192.168.1.2", "192.168.1.3"};
        QTest::newRow("Chinese host name") << QStringList {"新电脑"} << QStringList {"172.16.5.200"};
    }
    void oneCardPerReceiver()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, ips);
        Table table;
        for (int i = 0; i < names.size(); ++i) {
            put(table, receiver(names[i].toUtf8().constData(), ips[i].toLatin1().constData()));
        }
        OldPCView view;
        QVERIFY(view.TryUpdateView(table));
        QCOMPARE(cards(view).size(), names.size());
        names.sort();
        ips.sort();
        QCOMPARE(texts(view, "hostname_label"), names);
        QCOMPARE(texts(view, "ipLabel"), ips);
    }

    void cardsAreRebuiltOnChange()
    {
        Table table;
        put(table, receiver("a", "10.0.0.1"));
        put(table, receiver("b", "10.0.0.2"));
        OldPCView view;
        QVERIFY(view.TryUpdateView(table));
        QCOMPARE(cards(view).size(), 2);
        QList<QPointer<PCItem>> old;
        for (PCItem* card : cards(view)) {
            old << card;
        }

        table.erase(receiver("a", "10.0.0.1").address.sin_addr.s_addr);
        put(table, receiver("c", "10.0.0.3"));
        put(table, receiver("d", "10.0.0.4"));
        QVERIFY(view.TryUpdateView(table));
        QCOMPARE(texts(view, "hostname_label"), (QStringList {"b", "c", "d"}));
        // Every card of the earlier table is gone, also the one whose receiver is still there.
        for (const QPointer<PCItem>& card : old) {
            QTRY_VERIFY(card.isNull());
        }

        table.clear();
        QVERIFY(view.TryUpdateView(table));
        QVERIFY(cards(view).isEmpty());
    }

    void clickPicksTheReceiver()
    {
        Table table;
        put(table, receiver("study", "10.0.0.7", "Deepin"));
        put(table, receiver("kitchen", "10.0.0.9"));
        OldPCView view;
        view.resize(400, 300);
        view.show();
        QVERIFY(view.TryUpdateView(table));
        QSignalSpy spy(&view, &OldPCView::pcItemSelected);

        PCItem* study = nullptr;
        for (PCItem* card : cards(view)) {
            if (card->itemInfo().name == "study") {
                study = card;
            }
        }
        QVERIFY(study);
        QTest::mouseClick(study->findChild<QLabel*>("ipLabel"), Qt::LeftButton);
        QTest::mouseClick(study, Qt::RightButton);
        QCOMPARE(spy.count(), 2);
        const PCItemInfo picked = spy.at(0).at(0).value<PCItemInfo>();
        QCOMPARE(picked.name, std::string("study"));
        QCOMPARE(picked.distro, std::string("Deepin"));
        QCOMPARE(picked.type, int16_t(2));
        QCOMPARE(picked.address.sin_addr.s_addr, receiver("x", "10.0.0.7").address.sin_addr.s_addr);
    }

    void cardShowsItsRecord()
    {
        const PCItemInfo info = receiver("office-pc", "192.168.10.42");
        PCItem card(info);
        QCOMPARE(card.objectName(), QString("PCItem"));
        QCOMPARE(card.findChild<QLabel*>("hostname_label")->text(), QString("office-pc"));
        QCOMPARE(card.findChild<QLabel*>("ipLabel")->text(), QString("192.168.10.42"));
        QVERIFY(!card.findChild<QLabel*>("label")->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(card.styleSheet().contains("#PCItem:hover"));
        QCOMPARE(card.itemInfo().name, info.name);
        QCOMPARE(card.itemInfo().address.sin_addr.s_addr, info.address.sin_addr.s_addr);
    }

    // Names and distributions come from any machine on the network: markup in them is shown, not obeyed.
    void peerTextIsShownAsWritten_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("image from a device") << "<img src=/dev/zero>";
        QTest::newRow("bold") << "<b>bold</b>";
        QTest::newRow("font") << "<font color=red>x</font>";
        QTest::newRow("entity") << "a&amp;b";
        QTest::newRow("plain") << "Debian GNU/Linux";
    }
    void peerTextIsShownAsWritten()
    {
        QFETCH(QString, text);
        const std::string raw = text.toStdString();
        const PCItemInfo info = receiver(raw.c_str(), "10.0.0.5", raw.c_str());
        PCItem card(info);
        auto* name = card.findChild<QLabel*>("hostname_label");
        QCOMPARE(name->textFormat(), Qt::PlainText);
        QCOMPARE(name->text(), text);
        QCOMPARE(card.findChild<QLabel*>("ipLabel")->textFormat(), Qt::PlainText);
        QCOMPARE(shownToolTip(card.toolTip()), text);
        // Laid out and painted with nothing loaded on the way.
        card.show();
        QVERIFY(!card.grab().isNull());

        // The same through the view that builds the cards.
        Table table;
        put(table, info);
        OldPCView view;
        QVERIFY(view.TryUpdateView(table));
        QCOMPARE(cards(view).size(), 1);
        QCOMPARE(cards(view).at(0)->findChild<QLabel*>("hostname_label")->textFormat(), Qt::PlainText);
        QCOMPARE(texts(view, "hostname_label"), QStringList {text});
        QCOMPARE(shownToolTip(cards(view).at(0)->toolTip()), text);
    }

    // A receiver heard again changes only lastSeen: the cards stay; a changed name rebuilds them.
    void unchangedCardsAreKept()
    {
        Table table;
        put(table, receiver("a", "10.0.0.1"));
        put(table, receiver("b", "10.0.0.2"));
        OldPCView view;
        QVERIFY(view.TryUpdateView(table));
        QList<QPointer<PCItem>> old;
        for (PCItem* card : cards(view)) {
            old << card;
        }
        QCOMPARE(old.size(), 2);

        for (auto& entry : table) {
            entry.second.lastSeen += 2;
        }
        QVERIFY(view.TryUpdateView(table));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QPointer<PCItem>& card : old) {
            QVERIFY(!card.isNull());
            QCOMPARE(card->parentWidget(), view.findChild<QWidget*>("widget"));
        }
        QCOMPARE(cards(view).size(), 2);

        table.at(receiver("a", "10.0.0.1").address.sin_addr.s_addr).name = "renamed";
        QVERIFY(view.TryUpdateView(table));
        QCOMPARE(texts(view, "hostname_label"), (QStringList {"b", "renamed"}));
        for (const QPointer<PCItem>& card : old) {
            QTRY_VERIFY(card.isNull());
        }

        // Distribution, type and address count as well.
        const auto rebuilds = [&](const std::function<void(PCItemInfo&)>& change) {
            QPointer<PCItem> before = cards(view).at(0);
            change(table.begin()->second);
            view.TryUpdateView(table);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return before.isNull();
        };
        QVERIFY(rebuilds([](PCItemInfo& i) { i.distro = "Other"; }));
        QVERIFY(rebuilds([](PCItemInfo& i) { i.type = 3; }));
        QVERIFY(rebuilds([](PCItemInfo& i) { i.address.sin_port = htons(1); }));
        QVERIFY(!rebuilds([](PCItemInfo& i) { i.lastSeen = 99999; }));
    }
};

MOVANTA_TEST_MAIN(TestOldPCView)
#include "tst_oldpcview.moc"
