#include <QFont>
#include <QFontDatabase>
#include <QtTest>

#include "manualsource.h"
#include "testmain.h"
#include "tounicoderepair.h"

class TestManualSource : public QObject
{
    Q_OBJECT

private slots:
    void titleAndNumbering();
    void blockKinds();
    void chineseLinesJoinWithoutSpace();
    void inlineMarkup_data();
    void inlineMarkup();
    void repairRewritesOnlyDestinations();
    void repairLeavesCompressedMapsAlone();
};

void TestManualSource::titleAndNumbering()
{
    const ManualSource source = ManualSource::fromText(QStringLiteral("% 标题\n%% 副标题\n# 第一章\n## 甲\n## 乙\n"
                                                                      "# 第二章\n## 丙\n"));
    QCOMPARE(source.title(), QStringLiteral("标题"));
    QCOMPARE(source.subtitle(), QStringLiteral("副标题"));
    const QVector<ManualBlock> headings = source.headings();
    QCOMPARE(headings.size(), 5);
    QStringList numbers;
    for (const ManualBlock& h : headings) {
        numbers << h.number + QLatin1Char(' ') + h.text;
    }
    QCOMPARE(numbers, QStringList({"1 第一章", "1.1 甲", "1.2 乙", "2 第二章", "2.1 丙"}));
    QCOMPARE(headings.at(0).level, 1);
    QCOMPARE(headings.at(1).level, 2);
}

void TestManualSource::blockKinds()
{
    const ManualSource source = ManualSource::fromText(QStringLiteral("段落\n\n- 甲\n- 乙\n  续\n\n1. 一\n2. 二\n\n"
                                                                      "> 注意\n\n![图注](a.png)\n\n"
                                                                      "| 端口 | 协议 |\n|---|---|\n| 4399 | TCP |\n"));
    const QVector<ManualBlock>& blocks = source.blocks();
    QCOMPARE(blocks.size(), 6);
    QCOMPARE(blocks.at(0).kind, ManualBlock::Kind::Paragraph);
    QCOMPARE(blocks.at(1).kind, ManualBlock::Kind::Bullets);
    QCOMPARE(blocks.at(1).items, QStringList({"甲", "乙续"}));
    QCOMPARE(blocks.at(2).kind, ManualBlock::Kind::Steps);
    QCOMPARE(blocks.at(2).items, QStringList({"一", "二"}));
    QCOMPARE(blocks.at(3).kind, ManualBlock::Kind::Note);
    QCOMPARE(blocks.at(4).kind, ManualBlock::Kind::Figure);
    QCOMPARE(blocks.at(4).image, QStringLiteral("a.png"));
    QCOMPARE(blocks.at(4).text, QStringLiteral("图注"));
    QCOMPARE(blocks.at(5).kind, ManualBlock::Kind::Table);
    QCOMPARE(blocks.at(5).rows.size(), 2);
    QCOMPARE(blocks.at(5).rows.at(1), QStringList({"4399", "TCP"}));
    QCOMPARE(source.imageNames(), QStringList({"a.png"}));
}

void TestManualSource::chineseLinesJoinWithoutSpace()
{
    const ManualSource source = ManualSource::fromText(QStringLiteral("新电脑\n旧电脑\nMovanta\nruns here\n"));
    QCOMPARE(source.blocks().size(), 1);
    QCOMPARE(source.blocks().at(0).text, QStringLiteral("新电脑旧电脑Movanta runs here"));
}

void TestManualSource::inlineMarkup_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("html");
    QTest::newRow("bold") << "a **b** c"
                          << "a <b>b</b> c";
    QTest::newRow("code keeps stars") << "`**x**`"
                                      << "<span class=\"code\">**x**</span>";
    QTest::newRow("markup is escaped") << "<a> & \"q\""
                                       << "&lt;a&gt; &amp; &quot;q&quot;";
    QTest::newRow("an open mark is closed") << "**open"
                                            << "<b>open</b>";
}

void TestManualSource::inlineMarkup()
{
    QFETCH(QString, text);
    QFETCH(QString, html);
    QCOMPARE(manualInlineHtml(text), html);
}

void TestManualSource::repairRewritesOnlyDestinations()
{
    if (!QFontDatabase().families().contains(QStringLiteral("Noto Sans CJK SC"))) {
        QSKIP("fonts-noto-cjk is not installed");
    }
    const ToUnicodeRepair repair({QFont(QStringLiteral("Noto Sans CJK SC"))});
    QCOMPARE(repair.replacementFor(0x2f64), 0x7528u); // ⽤ → 用
    QCOMPARE(repair.replacementFor(0x09), 0x20u); // a tab reads as a space
    QCOMPARE(repair.replacementFor(0x7528), 0x7528u);

    // The source code <2F64> of the bfchar line is a glyph number and must stay.
    QByteArray pdf("%PDF-1.4\n5 0 obj\n<< /ToUnicode 7 0 R >>\nendobj\n7 0 obj\n<< /Length 99 >>\nstream\n"
                   "1 beginbfchar\n<2F64> <2F64>\nendbfchar\n"
                   "2 beginbfrange\n<0001> <0001> <0009>\n<0002> <0003> [<2F64> <0041>]\nendbfrange\n"
                   "endstream\nendobj\n");
    const int size = pdf.size();
    QCOMPARE(repair.repair(pdf), 3);
    QCOMPARE(pdf.size(), size);
    QVERIFY(pdf.contains("<2F64> <7528>\n"));
    QVERIFY(pdf.contains("<0001> <0001> <0020>\n"));
    QVERIFY(pdf.contains("[<7528> <0041>]"));
}

void TestManualSource::repairLeavesCompressedMapsAlone()
{
    if (!QFontDatabase().families().contains(QStringLiteral("Noto Sans CJK SC"))) {
        QSKIP("fonts-noto-cjk is not installed");
    }
    const ToUnicodeRepair repair({QFont(QStringLiteral("Noto Sans CJK SC"))});
    QByteArray pdf("5 0 obj\n<< /ToUnicode 7 0 R >>\nendobj\n7 0 obj\n<< /Filter /FlateDecode >>\nstream\n"
                   "1 beginbfchar\n<0001> <2F64>\nendbfchar\nendstream\n");
    const QByteArray before = pdf;
    QCOMPARE(repair.repair(pdf), 0);
    QCOMPARE(pdf, before);
}

MOVANTA_TEST_MAIN(TestManualSource)
#include "tst_manualsource.moc"
