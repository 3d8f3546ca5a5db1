#include "testmain.h"

#include <QFrame>
#include <QLabel>
#include <QThread>

#include "common/widgets/cloneprogresswidget.h"

namespace {

const char* const iconNames[] = {"pair", "selectdata", "transfer", "done"};

QImage picture(const QString& name)
{
    return QImage(":/icons/icons/" + name + ".png").convertToFormat(QImage::Format_ARGB32);
}

QImage shown(const CloneProgressWidget& w, int stage)
{
    const QLabel* icon = w.findChild<QLabel*>(QString("iconLabel_%1").arg(stage));
    if (!icon)
        return QImage();
#if QT_VERSION >= QT_VERSION_CHECK(5, 15, 0)
    const QPixmap pixmap = icon->pixmap(Qt::ReturnByValue);
#else
    const QPixmap pixmap = icon->pixmap() ? *icon->pixmap() : QPixmap();
#endif
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

bool iconIsBlue(const CloneProgressWidget& w, int stage)
{
    return shown(w, stage) == picture(QString(iconNames[stage - 1]) + "_highlight");
}

bool iconIsGrey(const CloneProgressWidget& w, int stage)
{
    return shown(w, stage) == picture(iconNames[stage - 1]);
}

QString captionStyle(const CloneProgressWidget& w, int stage)
{
    return w.findChild<QLabel*>(QString("textLabel_%1").arg(stage))->styleSheet();
}

QString lineStyle(const CloneProgressWidget& w, int n)
{
    return w.findChild<QFrame*>(QString("line_%1").arg(n))->styleSheet();
}

const QString blueCaption = "color:#2563EB;";
const QString blueLine = "background-color: #2563EB;";
const QString greyLine = "background-color:#D1D1D1D1;";

// Stages 1..shownStage blue, the rest grey; lines follow the stage before them.
void verifyStage(const CloneProgressWidget& w, int shownStage)
{
    QVERIFY(iconIsBlue(w, 1));
    QCOMPARE(captionStyle(w, 1), blueCaption);
    QCOMPARE(lineStyle(w, 1), blueLine);
    for (int s = 2; s <= 4; ++s) {
        const bool blue = s <= shownStage;
        QVERIFY2(blue ? iconIsBlue(w, s) : iconIsGrey(w, s), qPrintable(QString("icon of stage %1").arg(s)));
        if (blue)
            QCOMPARE(captionStyle(w, s), blueCaption);
        else
            QVERIFY2(
                captionStyle(w, s).isEmpty() || captionStyle(w, s) == "color:#999;", qPrintable(captionStyle(w, s)));
    }
    for (int n = 2; n <= 3; ++n)
        QCOMPARE(lineStyle(w, n), n <= shownStage ? blueLine : greyLine);
}

} // namespace

class TestCloneProgressWidget : public QObject
{
    Q_OBJECT

private slots:
    void picturesAreDistinct()
    {
        // Otherwise none of the icon checks below could tell blue from grey.
        for (const char* name : iconNames) {
            QVERIFY(!picture(name).isNull());
            QVERIFY2(picture(name) != picture(QString(name) + "_highlight"), name);
        }
    }

    void formAndCaptions()
    {
        CloneProgressWidget w;
        const QStringList captions = {"配对连接", "选择数据", "迁移数据", "迁移完成"};
        for (int s = 1; s <= 4; ++s) {
            QLabel* caption = w.findChild<QLabel*>(QString("textLabel_%1").arg(s));
            QVERIFY(caption);
            QCOMPARE(caption->text(), captions[s - 1]);
            QLabel* icon = w.findChild<QLabel*>(QString("iconLabel_%1").arg(s));
            QVERIFY(icon);
            QVERIFY(icon->maximumWidth() <= 60 && icon->maximumHeight() <= 60);
            QVERIFY(icon->hasScaledContents());
        }
        for (int n = 1; n <= 3; ++n) {
            QFrame* line = w.findChild<QFrame*>(QString("line_%1").arg(n));
            QVERIFY(line);
            QVERIFY(line->minimumWidth() >= 120);
            QCOMPARE(line->frameShadow(), QFrame::Sunken);
            QCOMPARE(line->frameShape(), QFrame::HLine);
        }
        QVERIFY(captionStyle(w, 2).isEmpty());
        verifyStage(w, 1);
    }

    void setProgress_data()
    {
        QTest::addColumn<QList<int>>("calls");
        QTest::addColumn<int>("expected");
        QTest::newRow("1") << QList<int> {1} << 1;
        QTest::newRow("2") << QList<int> {2} << 2;
        QTest::newRow("3") << QList<int> {3} << 3;
        QTest::newRow("4") << QList<int> {4} << 4;
        QTest::newRow("0 leaves the start look") << QList<int> {0} << 1;
        QTest::newRow("5 leaves the start look") << QList<int> {5} << 1;
        QTest::newRow("0 after 3 leaves 3") << QList<int> {3, 0} << 3;
        QTest::newRow("5 after 2 leaves 2") << QList<int> {2, 5} << 2;
        QTest::newRow("-1 after 4 leaves 4") << QList<int> {4, -1} << 4;
        QTest::newRow("3 after 4 greys stage 4") << QList<int> {4, 3} << 3;
        QTest::newRow("1 after 4 greys all but the first") << QList<int> {4, 1} << 1;
        QTest::newRow("2 after 3") << QList<int> {3, 2} << 2;
    }
    void setProgress()
    {
        QFETCH(QList<int>, calls);
        QFETCH(int, expected);
        CloneProgressWidget w;
        for (int stage : calls)
            w.setProgress(stage);
        verifyStage(w, expected);
    }

    void stageThreeHasTheLastLineBlueButStageFourGrey()
    {
        CloneProgressWidget w;
        w.setProgress(3);
        QCOMPARE(lineStyle(w, 3), blueLine);
        QVERIFY(iconIsGrey(w, 4));
        QVERIFY(captionStyle(w, 4) != blueCaption);
    }

    void changeProgressFromAWorkerIsQueued()
    {
        CloneProgressWidget w;
        QThread* worker = QThread::create([&w] { emit w.changeProgress(3); });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        // Queued: nothing changes until the GUI thread's loop runs.
        QVERIFY(iconIsGrey(w, 3));
        QTRY_VERIFY(iconIsBlue(w, 3));
        verifyStage(w, 3);
    }

    void changeProgressOnTheGuiThreadIsImmediate()
    {
        CloneProgressWidget w;
        emit w.changeProgress(4);
        verifyStage(w, 4);
    }
};

MOVANTA_TEST_MAIN(TestCloneProgressWidget)
#include "tst_cloneprogresswidget.moc"
