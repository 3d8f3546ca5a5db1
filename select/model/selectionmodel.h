#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <QMetaType>
#include <QObject>
#include <QString>

#include "net/filemeta.h"
#include "select/model/appinfo.h"

using FileMap = std::unordered_map<std::string, uint64_t>;
// Folders and links met inside chosen folders, by path.
using EntryMap = std::unordered_map<std::string, FileMeta::Kind>;
using AppMap = std::unordered_map<std::string, AppInfo>;
Q_DECLARE_METATYPE(FileMap)
Q_DECLARE_METATYPE(AppMap)

// What the sender has chosen to move: regular files found under the chosen roots and the inventoried
// applications. Folder trees are counted on scanning threads, the inventory runs on a thread of its own;
// the model owns both kinds of thread and joins them before it goes. It lives on the GUI thread and tells
// what happened only through signals, which reach a receiver there queued when a worker emits them.
class SelectionModel : public QObject
{
    Q_OBJECT

public:
    explicit SelectionModel(QObject* parent = nullptr);
    ~SelectionModel() override;
    SelectionModel(const SelectionModel&) = delete;
    SelectionModel& operator=(const SelectionModel&) = delete;

    struct Totals
    {
        std::size_t files = 0;
        uint64_t bytes = 0;
        uint64_t apps = 0;
    };

    // The data below is guarded by the selection lock while a scan or the inventory runs; read it directly
    // only when neither does (tests, and the page once its scans have ended).
    // Selected regular files (path as met by the scan → size) and their byte total.
    FileMap fileMap;
    uint64_t selectedFileSize = 0;
    // Folders and links below the chosen roots, kept only while the receiver takes them (see
    // setEntriesWanted); counted like files.
    EntryMap entryMap;
    // Checked applications; GUI thread only.
    uint64_t selectedAppCount = 0;
    // Package names of the last inventory run, in the package manager's order.
    std::vector<std::string> manualPackages;
    // Inventoried packages; records are never removed, so the address of a key is stable.
    AppMap appMap;

    // Adds a file or a folder tree; returns the bytes added. With async the walk runs on a new scanning
    // thread and the call returns 0 at once. A chosen root is announced by fileItemAdded.
    uint64_t addFile(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop, bool async);
    // Removes path and everything below it. With keepSettings, entries of the home's settings folder stay
    // (the settings row is still chosen). True when the selection ended empty with bytes still counted.
    bool removeFile(const std::string& path, bool keepSettings);
    bool contains(const std::string& path);
    // Empties the file selection and unchecks every application.
    void clear();
    // Scanning threads still running.
    int scanCount();
    // Figures for the page; reading them lets the next change be signalled again.
    Totals totals();
    bool isEmpty();
    // Copies of the selection for the engine, taken under the lock.
    void snapshot(FileMap& files, AppMap& apps, uint64_t& bytes);
    AppMap appSnapshot();
    // Lends the selected files to a run without copying them: while the returned hold lives, every entry
    // of fileMap stays where it is and unchanged. A removal meanwhile first hands the entries over to the
    // hold and goes on with a copy; an added file changes no entry. Null when `files` is not this
    // selection's map. Call it while no scan runs, as the page's start button is only offered then.
    std::shared_ptr<const void> holdFiles(const FileMap& files);
    EntryMap entrySnapshot();
    // Whether scans from now on keep folders and links (the chosen receiver takes them); without it links
    // inside a tree are skipped and folders only walked.
    void setEntriesWanted(bool wanted);

    // Reads the manually installed packages; with loadNew, looks at those not yet inventoried.
    void refreshApps(bool loadNew);
    // The whole inventory: on the calling thread with sync, else on the inventory thread.
    void loadApps(bool sync);
    // Looks up one package's display name and icon, records it and announces it by appFound.
    void loadApp(const std::string& package);
    // The stable key of an inventoried package, or nullptr.
    const std::string* appKey(const std::string& package);
    // Sets the check of an inventoried package and counts it once; false when the package is unknown.
    bool setAppChecked(const std::string& package, bool on);
    void uncheckAllApps();

    // The host that the network check connects to ("host" or "host:port", port 80 by default).
    static void setNetworkCheckHost(const QString& host);
    // Whether the network check host answers within a few seconds.
    static bool networkReachable();
    // $HOME, or empty when it is not set.
    static std::string homePath();

signals:
    // A chosen root was counted: type 0 for a file, 1 for a folder.
    void fileItemAdded(QString path, int type, qulonglong size);
    // Files were added below a root; not repeated until totals() has been read.
    void selectionChanged();
    void scanStarted();
    // A scanning thread has ended and was joined (on the model's thread).
    void scanEnded();
    // The inventory begins with this many packages to look at.
    void inventoryStarted(int expected);
    void appFound(QString name, QString icon, QString package);
    // Every package has been looked at.
    void inventoryFinished();
    // Emitted by a scanning thread as it ends; the model joins it on its own thread. Not for other users.
    void scanThreadEnded();

private slots:
    void joinEndedScans();

private:
    struct ScanJob
    {
        std::thread thread;
        std::atomic<bool> finished {false};
    };
    struct ScanOptions
    {
        bool skipHidden;
        bool skipDesktop;
    };

    void startScan(const std::string& path, const ScanOptions& options);
    uint64_t scanPath(const std::string& path, const ScanOptions& options, bool isRoot);
    uint64_t scanFile(
        const std::string& path, const std::string& name, const ScanOptions& options, bool isRoot, uint64_t size);
    uint64_t scanFolder(const std::string& path, const ScanOptions& options, bool isRoot);
    // Adds a file unless it is already selected.
    bool recordFile(const std::string& path, uint64_t size);
    void recordEntry(const std::string& path, FileMeta::Kind kind);
    void scanLink(const std::string& path, const ScanOptions& options);
    void noteSelectionChanged();
    // Under the lock, before entries of fileMap are removed: a hold still lent gets them (see holdFiles).
    void releaseHold();
    // The counts beside the maps, kept under the lock and read without it.
    void countChanged();

    // Guards fileMap, selectedFileSize, appMap and manualPackages.
    std::mutex selectionLock;
    std::atomic<int> scanning {0};
    // Whoever holds a run's hold on fileMap's entries; emptied when the entries are handed over.
    std::shared_ptr<FileMap> heldFiles;
    // A scan that grows the maps holds the lock while they rehash (a fraction of a second at a million
    // files); the page's figures come from these meanwhile.
    std::atomic<std::size_t> countedItems {0};
    std::atomic<uint64_t> countedBytes {0};
    std::atomic<bool> stopping {false};
    std::atomic<bool> changePending {false};
    std::atomic<bool> entriesWanted {false};
    std::list<std::unique_ptr<ScanJob>> scanJobs;
    std::thread inventory;
};
