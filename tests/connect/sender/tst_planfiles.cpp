#include "testmain.h"

#include <map>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "connect/sender/planbuilder.h"
#include "connect/sender/planfiles.h"
#include "net/capabilitymark.h"
#include "select/model/selectionmodel.h"

namespace {

std::map<std::string, uint64_t> listed(const PlanFiles& files)
{
    std::map<std::string, uint64_t> out;
    for (std::size_t i = 0; i < files.size(); ++i) {
        out.emplace(files[i].first, files[i].second);
    }
    return out;
}

} // namespace

// A run borrows the selection's paths instead of copying a million of them; these cases check that the
// borrowed paths stay good whatever the selection does meanwhile.
class TestPlanFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;

    std::string makeTree(int files)
    {
        const std::string root = tmp.path().toStdString() + "/tree" + std::to_string(files);
        QDir().mkpath(QString::fromStdString(root + "/sub"));
        for (int i = 0; i < files; ++i) {
            QFile f(
                QString::fromStdString(root + (i % 2 ? "/sub/" : "/") + "file-with-a-long-name-" + std::to_string(i)));
            if (!f.open(QIODevice::WriteOnly)) {
                qFatal("cannot write the tree");
            }
            f.write(QByteArray(i, 'x'));
        }
        return root;
    }

private slots:
    void ownedAndLentFilesKeepOrderAndSurviveCopies()
    {
        const PlanFiles::Map map {{"/lent/a-path-longer-than-a-short-string", 7}, {"/lent/b", 9}};
        PlanFiles files {{"/owned/first", 1}};
        files.lend(map, std::make_shared<int>(0));
        files.emplace_back("/owned/last", 5);
        QCOMPARE(files.size(), std::size_t(4));
        QCOMPARE(files.recordedBytes(), uint64_t(22));
        QCOMPARE(files[0].first, std::string("/owned/first"));
        QCOMPARE(files[3].first, std::string("/owned/last"));
        QCOMPARE(files[3].second, uint64_t(5));
        // A lent entry is the map's own, not a copy.
        QVERIFY(&files[1].first == &map.begin()->first || &files[2].first == &map.begin()->first);

        PlanFiles copy = files;
        files = PlanFiles();
        files.emplace_back("/something/else", 1);
        const std::map<std::string, uint64_t> expected {
            {"/owned/first", 1}, {"/lent/a-path-longer-than-a-short-string", 7}, {"/lent/b", 9}, {"/owned/last", 5}};
        QCOMPARE(listed(copy), expected);
    }

    void planBorrowsOnlyWithAHold()
    {
        const FileMap map {{"/h/a", 1}, {"/h/b", 2}};
        const SendPlan copied = makeSendPlan(map, nullptr, EntryMap(), AppMap(), 3, CapabilityMark::Entries, {});
        const SendPlan lent = makeSendPlan(map, std::make_shared<int>(0), EntryMap(), AppMap(), 3, 0, {});
        QCOMPARE(listed(copied.files), listed(lent.files));
        for (std::size_t i = 0; i < map.size(); ++i) {
            QVERIFY(map.count(copied.files[i].first) == 1);
            QVERIFY(&copied.files[i].first != &map.find(copied.files[i].first)->first);
            QVERIFY(&lent.files[i].first == &map.find(lent.files[i].first)->first);
        }
    }

    // The selection's files lent to a plan stay as they were while the user removes, clears and scans
    // again; the selection shows its own changes. Under the sanitizers a freed entry would be caught here.
    void selectionChangesLeaveALentPlanIntact()
    {
        const std::string root = makeTree(40);
        SelectionModel model;
        model.addFile(root, false, true, false, false);
        QCOMPARE(model.fileMap.size(), std::size_t(40));
        const std::map<std::string, uint64_t> before(model.fileMap.begin(), model.fileMap.end());

        QVERIFY(!model.holdFiles(FileMap(model.fileMap)));
        SendPlan plan
            = makeSendPlan(model.fileMap, model.holdFiles(model.fileMap), EntryMap(), AppMap(), 0, 0, std::nullopt);
        const SendPlan second
            = makeSendPlan(model.fileMap, model.holdFiles(model.fileMap), EntryMap(), AppMap(), 0, 0, std::nullopt);

        model.removeFile(root + "/sub", false);
        QCOMPARE(model.fileMap.size(), std::size_t(20));
        QCOMPARE(model.totals().files, std::size_t(20));
        model.addFile(root + "/sub", false, true, false, false);
        model.clear();
        QVERIFY(model.fileMap.empty());
        QCOMPARE(model.totals().files, std::size_t(0));
        QCOMPARE(listed(plan.files), before);
        QCOMPARE(listed(second.files), before);

        // A plan made after the hand-over borrows the selection as it is now.
        model.addFile(root, false, true, false, false);
        const SendPlan later
            = makeSendPlan(model.fileMap, model.holdFiles(model.fileMap), EntryMap(), AppMap(), 0, 0, std::nullopt);
        plan = SendPlan();
        model.removeFile(root, false);
        QCOMPARE(listed(later.files), before);
        QCOMPARE(listed(second.files), before);
    }

    // Without a living hold a change costs no copy: the entries are the selection's own again.
    void releasedHoldLeavesTheSelectionInPlace()
    {
        const std::string root = makeTree(6);
        SelectionModel model;
        model.addFile(root, false, true, false, false);
        {
            const SendPlan plan
                = makeSendPlan(model.fileMap, model.holdFiles(model.fileMap), EntryMap(), AppMap(), 0, 0, std::nullopt);
            QCOMPARE(plan.files.size(), std::size_t(6));
        }
        const std::string kept = root + "/file-with-a-long-name-0";
        const std::string* entry = &model.fileMap.find(kept)->first;
        model.removeFile(root + "/sub", false);
        QCOMPARE(&model.fileMap.find(kept)->first, entry);
    }
};

MOVANTA_TEST_MAIN(TestPlanFiles)
#include "tst_planfiles.moc"
