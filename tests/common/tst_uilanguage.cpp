#include "testmain.h"

#include <QProcessEnvironment>

#include "common/sizetext.h"
#include "common/uilanguage.h"

class TestUiLanguage : public QObject
{
    Q_OBJECT

private slots:
    void languageFromTheEnvironment_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<bool>("english");
        QTest::newRow("nothing set keeps Chinese") << QStringList() << false;
        QTest::newRow("LANG English") << QStringList {"LANG=en_US.UTF-8"} << true;
        QTest::newRow("LANG Chinese") << QStringList {"LANG=zh_CN.UTF-8"} << false;
        QTest::newRow("LANG German keeps Chinese") << QStringList {"LANG=de_DE.UTF-8"} << false;
        QTest::newRow("LANGUAGE first entry wins") << QStringList {"LANGUAGE=en_GB:zh_CN", "LANG=zh_CN.UTF-8"} << true;
        QTest::newRow("LANGUAGE other first") << QStringList {"LANGUAGE=fr:en", "LANG=en_US.UTF-8"} << false;
        QTest::newRow("LANGUAGE ignored under the C locale") << QStringList {"LANGUAGE=en", "LANG=C"} << false;
        QTest::newRow("LC_ALL over LANG") << QStringList {"LC_ALL=zh_CN.UTF-8", "LANG=en_US.UTF-8"} << false;
        QTest::newRow("LC_MESSAGES over LANG") << QStringList {"LC_MESSAGES=en_AU.UTF-8", "LANG=zh_CN.UTF-8"} << true;
        QTest::newRow("plain C") << QStringList {"LANG=C.UTF-8"} << false;
    }

    void languageFromTheEnvironment()
    {
        QFETCH(QStringList, variables);
        QFETCH(bool, english);
        QProcessEnvironment environment;
        for (const QString& variable : variables) {
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        }
        QCOMPARE(UiLanguage::prefersEnglish(environment), english);
    }

    void reportFilesKeepTheirWordsWhateverTheLanguage()
    {
        // Without a translation installed both read alike; the file text never goes through one.
        QCOMPARE(getTimeText(5400), QString::fromUtf8("1 小时 30 分钟"));
        QCOMPARE(getShownTimeText(5400), QString::fromUtf8("1 小时 30 分钟"));
    }
};

MOVANTA_TEST_MAIN(TestUiLanguage)
#include "tst_uilanguage.moc"
