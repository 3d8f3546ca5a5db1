#include "testmain.h"

#include <QAbstractButton>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include "app/choosepc.h"
#include "app/mainwindow.h"
#include "common/resultbits.h"
#include "common/sizetext.h"
#include "common/uilanguage.h"
#include "connect/pcpairpage.h"
#include "report/log/resultcodes.h"
#include "report/resultpage.h"
#include "select/filedialog.h"
#include "select/selectdataview.h"
#include "transfer/transferpage.h"
#include "quiettools.h"

namespace {

const QRegularExpression chinese(QStringLiteral("[\\x{4e00}-\\x{9fff}\\x{3000}-\\x{303f}\\x{ff00}-\\x{ffef}]"));

void addIfChinese(QStringList& found, const QObject* where, const char* what, const QString& text)
{
    if (text.contains(chinese)) {
        found << QStringLiteral("%1 (%2) %3: %4")
                     .arg(where->objectName(), QString::fromLatin1(where->metaObject()->className()),
                         QString::fromLatin1(what), text);
    }
}

// Every text a person can see or hear from `root` and the widgets below it, shown or not yet shown.
QStringList chineseTexts(const QWidget* root)
{
    QStringList found;
    QList<const QWidget*> widgets {root};
    for (const QWidget* w : root->findChildren<const QWidget*>()) {
        widgets << w;
    }
    for (const QWidget* w : widgets) {
        addIfChinese(found, w, "title", w->windowTitle());
        addIfChinese(found, w, "tooltip", w->toolTip());
        addIfChinese(found, w, "accessible name", w->accessibleName());
        addIfChinese(found, w, "accessible description", w->accessibleDescription());
        if (auto* label = qobject_cast<const QLabel*>(w)) {
            addIfChinese(found, w, "text", label->text());
        } else if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
            addIfChinese(found, w, "text", button->text());
        } else if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
            addIfChinese(found, w, "placeholder", edit->placeholderText());
        } else if (auto* box = qobject_cast<const QGroupBox*>(w)) {
            addIfChinese(found, w, "title", box->title());
        } else if (auto* table = qobject_cast<const QTableWidget*>(w)) {
            for (int c = 0; c < table->columnCount(); ++c) {
                if (const QTableWidgetItem* header = table->horizontalHeaderItem(c)) {
                    addIfChinese(found, w, "header", header->text());
                }
            }
        } else if (auto* list = qobject_cast<const QListWidget*>(w)) {
            for (int r = 0; r < list->count(); ++r) {
                addIfChinese(found, w, "row", list->item(r)->text());
            }
        }
    }
    return found;
}

QString lrelease()
{
    for (const char* name : {"lrelease-qt5", "lrelease"}) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!found.isEmpty()) {
            return found;
        }
    }
    return QStandardPaths::findExecutable(QStringLiteral("lrelease"), {QStringLiteral("/usr/lib/qt5/bin")});
}

QString translationSource()
{
    return qEnvironmentVariable("MOVANTA_SOURCE_DIR") + QStringLiteral("/resources/translations/movanta_en.ts");
}

} // namespace

class TestEnglish : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QuietPackageTools quietTools;

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        // The selection page lists the home's folders; an empty home keeps the user's own names out.
        qputenv("HOME", home.path().toUtf8());
        QVERIFY(QDir::setCurrent(home.path()));
        QVERIFY(UiLanguage::install(*qApp, true));
    }

    void everyPageSpeaksEnglish()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QStringList left = chineseTexts(&window);
        QVERIFY2(left.isEmpty(), qPrintable(left.join('\n')));
        QCOMPARE(window.findChild<QPushButton*>("nextBtn")->text().trimmed(), QStringLiteral("Next"));
    }

    void receiverPagesSpeakEnglishOnceLoaded()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* chooser = window.findChild<ChoosePC*>("choosePC");
        QVERIFY(chooser);
        QWidget* card = chooser->findChild<QWidget*>("pcwidget");
        QTest::mouseClick(chooser, Qt::LeftButton, {}, card->geometry().center());
        QPushButton* next = window.findChild<QPushButton*>("nextBtn");
        QTRY_VERIFY(next->isEnabled());
        QTest::mouseClick(next, Qt::LeftButton);
        auto* content = window.findChild<QStackedWidget*>("content");
        QVERIFY(content);
        QTRY_COMPARE(content->currentIndex(), 1);
        QTest::qWait(100);
        const QStringList left = chineseTexts(&window);
        QVERIFY2(left.isEmpty(), qPrintable(left.join('\n')));
    }

    void textsSetWhileWorkingSpeakEnglish()
    {
        PCPairPage pair;
        pair.setForNewPC();
        QStringList left = chineseTexts(&pair);
        pair.setForOldPC();
        left << chineseTexts(&pair);

        TransferPage transfer;
        emit transfer.updateWorkText(QCoreApplication::translate("ReceiverEngine", "正在接收数据..."));
        QCoreApplication::processEvents();
        left << chineseTexts(&transfer);

        ResultPage report;
        report.AddFile(ResultBits::NotWritten, "/home/al/a.txt", 10, std::chrono::system_clock::now());
        report.AddFile(ResultBits::Success, "/home/al/b.txt", 10, std::chrono::system_clock::now());
        report.UpdatePage();
        QCoreApplication::processEvents();
        left << chineseTexts(&report);
        QVERIFY2(left.isEmpty(), qPrintable(left.join('\n')));
    }

    // Whether the connection is encrypted, as both roles' pages tell it.
    void channelTextsSpeakEnglish_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("english");
        for (const char* context : {"OldPCConnectPage", "NewPCConnectPage"}) {
            QTest::newRow(qPrintable(QString(context) + ": encrypted"))
                << context << QStringLiteral("加密连接") << QStringLiteral("Encrypted connection");
            QTest::newRow(qPrintable(QString(context) + ": plain"))
                << context << QStringLiteral("未加密：对方为旧版本")
                << QStringLiteral("Not encrypted: the other computer runs an older version");
        }
    }

    void channelTextsSpeakEnglish()
    {
        QFETCH(QString, context);
        QFETCH(QString, source);
        QFETCH(QString, english);
        const QString shown = QCoreApplication::translate(context.toUtf8().constData(), source.toUtf8().constData());
        QCOMPARE(shown, english);
        PCPairPage pair;
        pair.setChannelText(shown);
        TransferPage transfer;
        transfer.setChannelText(shown);
        QStringList left = chineseTexts(&pair);
        left << chineseTexts(&transfer);
        QVERIFY2(left.isEmpty(), qPrintable(left.join('\n')));
    }

    void failureReasonsAndTimesHaveEnglishWords_data()
    {
        QTest::addColumn<int>("result");
        for (int bits : {ResultBits::ConnectionLost, ResultBits::NoDirectory, ResultBits::NotWritten,
                 ResultBits::NoHeader, ResultBits::Incomplete, ResultBits::AppFailed, 0x7f}) {
            QTest::newRow(qPrintable(QString::number(bits))) << bits;
        }
    }

    void failureReasonsAndTimesHaveEnglishWords()
    {
        QFETCH(int, result);
        const std::string reason = getFailureReason(result);
        // The report files keep the reason as it always was; only the page translates it.
        QVERIFY(QString::fromStdString(reason).contains(chinese));
        const QString shown = getShownFailureReason(reason);
        QVERIFY(!shown.isEmpty());
        QVERIFY2(!shown.contains(chinese), qPrintable(shown));
        QCOMPARE(getShownTimeText(5400), QStringLiteral("1 h 30 min"));
        QCOMPARE(getTimeText(5400), QString::fromUtf8("1 小时 30 分钟"));
    }

    void reportCopiesKeepTheirNames()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path()));
        {
            ResultPage report;
            report.AddFile(ResultBits::Success, "/home/al/b.txt", 10, std::chrono::system_clock::now());
            report.AddFile(ResultBits::NotWritten, "/home/al/c.txt", 10, std::chrono::system_clock::now());
            report.UpdatePage();
        }
        const QStringList copies = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        QDir::setCurrent(before);
        QVERIFY2(copies.filter(QRegularExpression(QString::fromUtf8("^传输成功列表-报告生成时间："))).size() == 1,
            qPrintable(copies.join(' ')));
        QVERIFY2(copies.filter(QRegularExpression(QString::fromUtf8("^传输失败列表-报告生成时间："))).size() == 1,
            qPrintable(copies.join(' ')));
    }

    void translationIsFinished()
    {
        const QString tool = lrelease();
        if (tool.isEmpty()) {
            QSKIP("lrelease (qttools5-dev-tools) is not installed");
        }
        QTemporaryDir out;
        QProcess run;
        run.start(tool, {translationSource(), QStringLiteral("-qm"), out.filePath("check.qm")});
        QVERIFY(run.waitForFinished(60000));
        const QString said = QString::fromUtf8(run.readAllStandardOutput() + run.readAllStandardError());
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(said.contains(QStringLiteral(" 0 unfinished")), qPrintable(said));

        // And no translation kept a Chinese word by mistake.
        QFile ts(translationSource());
        QVERIFY(ts.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&ts);
        int translations = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("translation")) {
                const QString text = xml.readElementText();
                QVERIFY2(!text.contains(chinese), qPrintable(text));
                ++translations;
            }
        }
        QVERIFY(!xml.hasError());
        QVERIFY(translations > 100);
    }
};

MOVANTA_TEST_MAIN(TestEnglish)
#include "tst_english.moc"
