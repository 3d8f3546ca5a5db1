#include "testmain.h"

#include <chrono>
#include <string>

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>

#include "report/resultpage.h"

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

namespace {

QString cellText(QTableWidget* table, int row, int column)
{
    auto* label = qobject_cast<QLabel*>(table->cellWidget(row, column));
    return label ? label->text() : QStringLiteral("<no label>");
}

} // namespace

// The report page's figures and tables.
class TestResultPage : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> workDir;
    QString previousDir;
    QScopedPointer<ResultPage> page;

    QString text(const char* name) const
    {
        auto* label = page->findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
    }
    QTableWidget* failedTable() const { return page->findChild<QTableWidget*>(QStringLiteral("tableWidget")); }
    QTableWidget* succeededTable() const { return page->findChild<QTableWidget*>(QStringLiteral("tableWidget_2")); }

private slots:
    void init()
    {
        workDir.reset(new QTemporaryDir);
        QVERIFY(workDir->isValid());
        previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workDir->path()));
        page.reset(new ResultPage);
        page->resize(640, 900);
        QVERIFY(failedTable());
        QVERIFY(succeededTable());
    }
    void cleanup()
    {
        page.reset();
        QDir::setCurrent(previousDir);
        workDir.reset();
    }

    void formBeforeAnyReport()
    {
        QCOMPARE(text("timeL"), QStringLiteral("报告生成时间：2024-01-18 15:30:45"));
        QCOMPARE(text("reportLocationL"), QStringLiteral("报告路径："));
        for (const char* name : {"fileCountL", "dataSizeL", "transPercentageL", "totalTimeL", "averageSpeedL",
                 "sentCount", "sentSize", "failedCount", "failedSize"}) {
            QVERIFY2(text(name).isEmpty(), name);
        }
        QCOMPARE(failedTable()->rowCount(), 0);
        QCOMPARE(succeededTable()->rowCount(), 0);
        auto* failedButton = page->findChild<QPushButton*>(QStringLiteral("checkFailedFilesBtn"));
        auto* succeededButton = page->findChild<QPushButton*>(QStringLiteral("checkFilesBtn"));
        QVERIFY(failedButton && succeededButton);
        QCOMPARE(failedButton->text(), QStringLiteral("查看详情"));
        QCOMPARE(succeededButton->text(), QStringLiteral("查看详情"));
    }

    void tablesAreSetUp()
    {
        QTableWidget* failed = failedTable();
        QTableWidget* succeeded = succeededTable();
        const QStringList failedColumns {"文件名", "文件大小", "失败原因", "失败时间", "耗时"};
        const QStringList succeededColumns {"文件名", "文件大小", "完成时间", "耗时"};
        QCOMPARE(failed->columnCount(), failedColumns.size());
        QCOMPARE(succeeded->columnCount(), succeededColumns.size());
        for (int c = 0; c < failedColumns.size(); ++c) {
            QCOMPARE(failed->horizontalHeaderItem(c)->text(), failedColumns[c]);
        }
        for (int c = 0; c < succeededColumns.size(); ++c) {
            QCOMPARE(succeeded->horizontalHeaderItem(c)->text(), succeededColumns[c]);
        }
        QCOMPARE(failed->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
        QCOMPARE(failed->horizontalHeader()->sectionResizeMode(2), QHeaderView::ResizeToContents);
        QCOMPARE(succeeded->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
        for (QTableWidget* table : {failed, succeeded}) {
            QCOMPARE(table->frameShape(), QFrame::NoFrame);
            QCOMPARE(table->selectionMode(), QAbstractItemView::NoSelection);
            QVERIFY(table->verticalHeader()->isHidden());
        }
        QVERIFY(page->widgetResizable());
    }

    void summary_data()
    {
        QTest::addColumn<int>("succeeded");
        QTest::addColumn<int>("failed");
        QTest::addColumn<quint64>("size");
        QTest::addColumn<QString>("total");
        QTest::addColumn<QString>("percentage");
        QTest::addColumn<QString>("succeededSize");
        QTest::addColumn<QString>("failedSize");
        QTest::newRow("no items") << 0 << 0 << quint64(1024) << "0 B"
                                  << "0 %"
                                  << "0 B"
                                  << "0 B";
        QTest::newRow("1 of 3 succeeded") << 1 << 2 << quint64(512) << "1.5 KB"
                                          << "33 %"
                                          << "512 B"
                                          << "1 KB";
        QTest::newRow("2 of 3 succeeded") << 2 << 1 << quint64(1024) << "3 KB"
                                          << "66 %"
                                          << "2 KB"
                                          << "1 KB";
        QTest::newRow("all succeeded") << 4 << 0 << quint64(1) << "4 B"
                                       << "100 %"
                                       << "4 B"
                                       << "0 B";
        QTest::newRow("all failed") << 0 << 5 << quint64(1048576) << "5 MB"
                                    << "0 %"
                                    << "0 B"
                                    << "5 MB";
    }
    void summary()
    {
        QFETCH(int, succeeded);
        QFETCH(int, failed);
        QFETCH(quint64, size);
        QFETCH(QString, total);
        QFETCH(QString, percentage);
        QFETCH(QString, succeededSize);
        QFETCH(QString, failedSize);
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < succeeded; ++i) {
            page->AddFile(0, "/home/u/ok" + std::to_string(i), size, start);
        }
        for (int i = 0; i < failed; ++i) {
            page->AddFile(4, "/home/u/bad" + std::to_string(i), size, start);
        }
        // Recording alone leaves the figures alone.
        QVERIFY(text("fileCountL").isEmpty());

        page->UpdatePage();
        QCOMPARE(text("fileCountL"), QString::number(succeeded + failed));
        QCOMPARE(text("dataSizeL"), total);
        QCOMPARE(text("transPercentageL"), percentage);
        QCOMPARE(text("sentCount"), QString::number(succeeded));
        QCOMPARE(text("sentSize"), succeededSize);
        QCOMPARE(text("failedCount"), QString::number(failed));
        QCOMPARE(text("failedSize"), failedSize);
        QCOMPARE(succeededTable()->rowCount(), succeeded);
        QCOMPARE(failedTable()->rowCount(), failed);
    }

    void reportTimeAndLocation()
    {
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
        page->UpdatePage();
        const QDateTime after = QDateTime::currentDateTime();

        const QString timeText = text("timeL");
        const QString prefix = QStringLiteral("报告生成时间：");
        QVERIFY2(timeText.startsWith(prefix), qPrintable(timeText));
        const QDateTime shown
            = QDateTime::fromString(timeText.mid(prefix.size()), QStringLiteral("yyyy年MM月dd日-hh:mm:ss"));
        QVERIFY2(shown.isValid(), qPrintable(timeText));
        QVERIFY(shown >= before && shown <= after);

        const QString location = QFileInfo(workDir->path()).canonicalFilePath();
        QCOMPARE(text("reportLocationL"), QStringLiteral("报告路径：") + location);
    }

    void totalTime_data()
    {
        QTest::addColumn<int>("secondsAgo");
        QTest::addColumn<QString>("shown");
        QTest::newRow("started just now") << 0 << QStringLiteral("0 秒");
        QTest::newRow("ninety seconds ago") << 90 << QStringLiteral("1 分钟 30 秒");
        QTest::newRow("an hour and a half ago") << 5400 << QStringLiteral("1 小时 30 分钟");
    }
    void totalTime()
    {
        QFETCH(int, secondsAgo);
        QFETCH(QString, shown);
        page->transferStartTime = Clock::now() - std::chrono::seconds(secondsAgo);
        page->AddFile(0, "/a", 1, Clock::now());
        page->UpdatePage();
        QCOMPARE(text("totalTimeL"), shown);
    }

    void noRunTakesNoTime()
    {
        page->UpdatePage();
        QCOMPARE(text("totalTimeL"), QStringLiteral("0 秒"));
        QCOMPARE(text("averageSpeedL"), QStringLiteral("平均速度 --"));
    }

    // The files' bytes over the time until the last file was done; the installation afterwards is no transfer.
    void averageSpeed_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<int>("filesSeconds");
        QTest::addColumn<QString>("shown");
        QTest::newRow("40 MB in 4 s") << quint64(40) * 1024 * 1024 << 4 << QStringLiteral("平均速度 10 MB/s");
        QTest::newRow("3 GB in 10 minutes")
            << quint64(3) * 1024 * 1024 * 1024 << 600 << QStringLiteral("平均速度 5.1 MB/s");
        QTest::newRow("nothing sent") << quint64(0) << 4 << QStringLiteral("平均速度 0 B/s");
        QTest::newRow("no file done") << quint64(0) << 0 << QStringLiteral("平均速度 --");
    }
    void averageSpeed()
    {
        QFETCH(quint64, bytes);
        QFETCH(int, filesSeconds);
        QFETCH(QString, shown);
        const Clock::time_point start = Clock::now() - std::chrono::seconds(filesSeconds + 300);
        page->transferStartTime = start;
        page->transferredBytes = bytes;
        page->transferEndTime = start + std::chrono::seconds(filesSeconds);
        page->AddFile(0, "/a", bytes, start);
        page->UpdatePage();
        QCOMPARE(text("averageSpeedL"), shown);
    }

    void succeededRowCells()
    {
        const Clock::time_point start = Clock::now() - 61s;
        const QTime before = QTime::currentTime().addMSecs(-1000);
        page->AddFile(0, "/home/u/文档/报告.odt", 1536, start);
        QCOMPARE(succeededTable()->rowCount(), 1);
        QTableWidget* table = succeededTable();
        QCOMPARE(cellText(table, 0, 0), QStringLiteral("/home/u/文档/报告.odt"));
        QCOMPARE(cellText(table, 0, 1), QStringLiteral("1.5 KB"));
        const QTime shown = QTime::fromString(cellText(table, 0, 2), QStringLiteral("hh:mm:ss"));
        QVERIFY2(shown.isValid(), qPrintable(cellText(table, 0, 2)));
        QVERIFY(qAbs(before.secsTo(shown)) <= 3);
        QCOMPARE(cellText(table, 0, 3), QStringLiteral("1 分钟"));
        // Screen readers hear each cell's text; the item itself paints nothing under the label.
        for (int column = 0; column < 4; ++column) {
            QTableWidgetItem* item = table->item(0, column);
            QVERIFY(item);
            QCOMPARE(item->text(), QString());
            QCOMPARE(item->data(Qt::AccessibleTextRole).toString(), cellText(table, 0, column));
            QVERIFY(!(item->flags() & Qt::ItemIsEditable));
        }

        auto* name = qobject_cast<QLabel*>(table->cellWidget(0, 0));
        QVERIFY(name->alignment() & Qt::AlignLeft);
        for (int column = 1; column < 4; ++column) {
            auto* cell = qobject_cast<QLabel*>(table->cellWidget(0, column));
            QCOMPARE(cell->alignment(), Qt::Alignment(Qt::AlignCenter));
        }
        QCOMPARE(failedTable()->rowCount(), 0);
    }

    void failedRowCells_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<quint64>("size");
        QTest::addColumn<QString>("sizeText");
        QTest::addColumn<QString>("reason");
        QTest::newRow("1023 bytes, sending failed") << 1 << quint64(1023) << "1023 B" << QStringLiteral("发送文件失败");
        QTest::newRow("2047 bytes, no directory") << 2 << quint64(2047) << "1.9 KB" << QStringLiteral("无法创建目录");
        QTest::newRow("4 cannot open") << 4 << quint64(0) << "0 B" << QStringLiteral("无法创建或打开文件");
        QTest::newRow("6 cannot open") << 6 << quint64(0) << "0 B" << QStringLiteral("无法创建或打开文件");
        QTest::newRow("8 closed") << 8 << quint64(0) << "0 B" << QStringLiteral("连接已关闭");
        QTest::newRow("16 missing") << 16 << quint64(0) << "0 B" << QStringLiteral("文件不存在或被锁定");
        QTest::newRow("64 application") << 64 << quint64(7) << "7 B" << QStringLiteral("应用安装失败");
        QTest::newRow("3 other") << 3 << quint64(0) << "0 B" << QStringLiteral("网络异常");
        QTest::newRow("32 other") << 32 << quint64(0) << "0 B" << QStringLiteral("网络异常");
    }
    void failedRowCells()
    {
        QFETCH(int, result);
        QFETCH(quint64, size);
        QFETCH(QString, sizeText);
        QFETCH(QString, reason);
        page->AddFile(result, "/srv/data/x.bin", size, Clock::now());
        QTableWidget* table = failedTable();
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(cellText(table, 0, 0), QStringLiteral("/srv/data/x.bin"));
        QCOMPARE(cellText(table, 0, 1), sizeText);
        QCOMPARE(cellText(table, 0, 2), reason);
        QVERIFY(QTime::fromString(cellText(table, 0, 3), QStringLiteral("hh:mm:ss")).isValid());
        QCOMPARE(cellText(table, 0, 4), QStringLiteral("0 秒"));
        QCOMPARE(table->item(0, 2)->data(Qt::AccessibleTextRole).toString(), reason);
        QCOMPARE(succeededTable()->rowCount(), 0);
    }

    void nameIsNeverMarkup()
    {
        page->AddFile(16, "<b>bold</b><img src=x>", 1, Clock::now());
        auto* label = qobject_cast<QLabel*>(failedTable()->cellWidget(0, 0));
        QVERIFY(label);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->text(), QStringLiteral("<b>bold</b><img src=x>"));
    }

    void tablesStopAtRow100()
    {
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < 150; ++i) {
            page->AddFile(8, "/f" + std::to_string(i), 10, start);
        }
        QCOMPARE(failedTable()->rowCount(), 101);
        page->UpdatePage();
        QCOMPARE(failedTable()->rowCount(), 101);
        QCOMPARE(text("failedCount"), QStringLiteral("150"));
        QCOMPARE(text("failedSize"), QStringLiteral("1.4 KB"));
        QCOMPARE(cellText(failedTable(), 0, 0), QStringLiteral("/f0"));
        QCOMPARE(cellText(failedTable(), 100, 0), QStringLiteral("/f100"));
    }

    void secondRunAppendsThenClearStartsOver()
    {
        const Clock::time_point start = Clock::now();
        page->AddFile(0, "/run1/a", 100, start);
        page->AddFile(0, "/run1/b", 100, start);
        page->AddFile(2, "/run1/c", 100, start);
        page->UpdatePage();
        QCOMPARE(text("fileCountL"), QStringLiteral("3"));

        page->AddFile(0, "/run2/a", 100, start);
        page->AddFile(16, "/run2/b", 100, start);
        page->AddFile(16, "/run2/c", 100, start);
        page->UpdatePage();
        QCOMPARE(text("fileCountL"), QStringLiteral("6"));
        QCOMPARE(text("sentCount"), QStringLiteral("3"));
        QCOMPARE(text("failedCount"), QStringLiteral("3"));
        QCOMPARE(text("transPercentageL"), QStringLiteral("50 %"));
        QCOMPARE(text("dataSizeL"), QStringLiteral("600 B"));
        const QStringList succeededNames {"/run1/a", "/run1/b", "/run2/a"};
        const QStringList failedNames {"/run1/c", "/run2/b", "/run2/c"};
        QCOMPARE(succeededTable()->rowCount(), 3);
        QCOMPARE(failedTable()->rowCount(), 3);
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(cellText(succeededTable(), row, 0), succeededNames[row]);
            QCOMPARE(cellText(failedTable(), row, 0), failedNames[row]);
        }

        page->Clear();
        QCOMPARE(succeededTable()->rowCount(), 0);
        QCOMPARE(failedTable()->rowCount(), 0);

        page->AddFile(1, "/run3/a", 5, start);
        QCOMPARE(failedTable()->rowCount(), 1);
        QCOMPARE(cellText(failedTable(), 0, 0), QStringLiteral("/run3/a"));
        page->UpdatePage();
        QCOMPARE(text("fileCountL"), QStringLiteral("1"));
        QCOMPARE(text("sentCount"), QStringLiteral("0"));
        QCOMPARE(text("sentSize"), QStringLiteral("0 B"));
        QCOMPARE(text("failedSize"), QStringLiteral("5 B"));
    }

    void clearAfter150RestartsAtRowZero()
    {
        for (int i = 0; i < 150; ++i) {
            page->AddFile(0, "/s" + std::to_string(i), 1, Clock::now());
        }
        page->Clear();
        page->UpdatePage();
        QCOMPARE(succeededTable()->rowCount(), 0);
        QCOMPARE(text("fileCountL"), QStringLiteral("0"));
        QCOMPARE(text("dataSizeL"), QStringLiteral("0 B"));
        page->AddFile(0, "/again", 1, Clock::now());
        QCOMPARE(succeededTable()->rowCount(), 1);
        QCOMPARE(cellText(succeededTable(), 0, 0), QStringLiteral("/again"));
    }

    void staleOrOutOfOrderRequestsDoNotBreakTheOrder()
    {
        const Clock::time_point start = Clock::now();
        page->AddFile(0, "/first", 1, start);
        ResultPage::FileItemInfo late;
        late.filename = "/late";
        late.time = QTime::currentTime();
        // A request for a row already shown, and one ahead of a missing row, leave the table as it is.
        emit page->InsertFileRequest(0, late);
        emit page->InsertFileRequest(5, late);
        QCOMPARE(succeededTable()->rowCount(), 1);
        QCOMPARE(cellText(succeededTable(), 0, 0), QStringLiteral("/first"));
    }

    // At its own size the report needs no scrolling: summary, both tables' first rows and the buttons show.
    void everythingShowsAtItsOwnSize_data()
    {
        QTest::addColumn<int>("failed");
        QTest::addColumn<int>("succeeded");
        QTest::newRow("a few of each") << 2 << 8;
        QTest::newRow("one of each") << 1 << 1;
        QTest::newRow("150 of each") << 150 << 150;
    }
    void everythingShowsAtItsOwnSize()
    {
        QFETCH(int, failed);
        QFETCH(int, succeeded);
        for (int i = 0; i < failed; ++i) {
            page->AddFile(16, "/home/lin/locked" + std::to_string(i), 100, Clock::now());
        }
        for (int i = 0; i < succeeded; ++i) {
            page->AddFile(0, "/home/lin/文档/" + std::to_string(i) + ".txt", 4096, Clock::now());
        }
        page->UpdatePage();
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.data()));
        page->resize(page->sizeHint());
        QApplication::processEvents();
        QCOMPARE(page->verticalScrollBar()->maximum(), 0);
        QWidget* visible = page->viewport();
        for (const char* name : {"titleL", "widget1", "widget2", "widget3", "widget4", "infoWidget", "fInfoWidget",
                 "checkFailedFilesBtn", "checkFilesBtn", "tableWidget", "tableWidget_2"}) {
            auto* widget = page->findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(widget && widget->isVisible(), name);
            const QRect r(widget->mapTo(visible, QPoint(0, 0)), widget->size());
            QVERIFY2(visible->rect().contains(r), name);
        }
        for (QTableWidget* table : {failedTable(), succeededTable()}) {
            const int shownRows = std::min(table->rowCount(), 3);
            const int bottom = table->rowViewportPosition(shownRows - 1) + table->rowHeight(shownRows - 1);
            QVERIFY2(bottom <= table->viewport()->height(),
                qPrintable(QString("%1: rows end at %2 in %3")
                               .arg(table->objectName())
                               .arg(bottom)
                               .arg(table->viewport()->height())));
        }
        // In a small window the page scrolls; each table keeps room for its first row.
        page->resize(page->width(), 300);
        QApplication::processEvents();
        QVERIFY(page->verticalScrollBar()->maximum() > 0);
        for (QTableWidget* table : {failedTable(), succeededTable()}) {
            QVERIFY2(table->rowHeight(0) <= table->viewport()->height(), qPrintable(table->objectName()));
        }
    }

    void screenshot()
    {
        const QByteArray dir = qgetenv("MOVANTA_SCREENSHOT_DIR");
        if (dir.isEmpty()) {
            QSKIP("set MOVANTA_SCREENSHOT_DIR to write report.png");
        }
        page->transferStartTime = Clock::now() - 754s;
        page->transferEndTime = page->transferStartTime + 702s;
        page->transferredBytes = 769667072;
        const std::pair<int, const char*> items[] = {
            {0, "/home/lin/文档/年度总结.docx"},
            {0, "/home/lin/图片/家庭合影.jpg"},
            {0, "/home/lin/.config/fcitx5/profile"},
            {0, "/home/lin/音乐/月光奏鸣曲.flac"},
            {4, "/home/lin/下载/安装包.deb"},
            {0, "/home/lin/视频/旅行记录.mp4"},
            {16, "/home/lin/.cache/locked.db"},
            {0, "/home/lin/Projects/movanta/README.md"},
            {64, "wps-office"},
            {0, "gimp"},
        };
        const uint64_t sizes[] = {48213, 3145728, 912, 31457280, 524288, 734003200, 8192, 4096, 9, 4};
        int i = 0;
        for (const auto& item : items) {
            page->AddFile(item.first, item.second, sizes[i], Clock::now() - std::chrono::seconds(i * 7));
            ++i;
        }
        page->UpdatePage();
        page->resize(page->sizeHint());
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.data()));
        const QString path = QDir(QString::fromLocal8Bit(dir)).filePath(QStringLiteral("report.png"));
        QVERIFY(page->grab().save(path));
        qInfo("wrote %s", qPrintable(path));
    }
};

MOVANTA_TEST_MAIN(TestResultPage)
#include "tst_resultpage.moc"
