#include "testmain.h"

#include "app/pagechange.h"

class TestPageChange : public QObject
{
    Q_OBJECT

private slots:
    void pageChangeFor_data()
    {
        QTest::addColumn<int>("lastIndex");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("unload");
        QTest::addColumn<int>("load");
        QTest::addColumn<int>("bar");
        QTest::newRow("chooser to receiver loads the receiver") << 0 << 1 << -1 << 1 << 1;
        QTest::newRow("chooser to sender loads the sender") << 0 << 2 << -1 << 2 << 1;
        QTest::newRow("receiver back to chooser unloads it") << 1 << 0 << 1 << -1 << 0;
        QTest::newRow("sender back to chooser unloads it") << 2 << 0 << 2 << -1 << 0;
        QTest::newRow("receiver to sender swaps them") << 1 << 2 << 1 << 2 << 1;
        QTest::newRow("sender to receiver swaps them") << 2 << 1 << 2 << 1 << 1;
        QTest::newRow("chooser to chooser does nothing") << 0 << 0 << -1 << -1 << 0;
        QTest::newRow("emptied stack unloads the receiver") << 1 << -1 << 1 << -1 << 0;
    }
    void pageChangeFor()
    {
        QFETCH(int, lastIndex);
        QFETCH(int, index);
        QFETCH(int, unload);
        QFETCH(int, load);
        QFETCH(int, bar);
        const PageChange change = ::pageChangeFor(lastIndex, index);
        QCOMPARE(change.unload, unload);
        QCOMPARE(change.load, load);
        QCOMPARE(change.bar, bar);
    }
};

MOVANTA_TEST_MAIN(TestPageChange)
#include "tst_pagechange.moc"
