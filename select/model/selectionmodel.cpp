#include "select/model/selectionmodel.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <sys/stat.h>

#include "common/processrunner.h"
#include "select/model/inventory.h"
#include "select/model/networkcheck.h"
#include "select/model/scanrules.h"

namespace fs = std::filesystem;

namespace {

constexpr uint16_t NetworkCheckPort = 80;
constexpr int NetworkCheckTimeoutMs = 3000;
// Desktop entries are small; a larger file is not one.
constexpr std::uintmax_t MaxDesktopEntryBytes = 1 << 20;

QString& checkHost()
{
    static QString host = QStringLiteral("www.baidu.com");
    return host;
}

std::string readSmallFile(const std::string& path)
{
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > MaxDesktopEntryBytes) {
        return std::string();
    }
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether entry is a link itself; an unreadable status counts as one, so it is not entered.
bool isLinkOrUnknown(const fs::path& entry)
{
    std::error_code ec;
    const bool link = fs::is_symlink(fs::symlink_status(entry, ec));
    return ec || link;
}

} // namespace

SelectionModel::SelectionModel(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<FileMap>("FileMap");
    qRegisterMetaType<AppMap>("AppMap");
    qRegisterMetaType<uint64_t>("uint64_t");
    // A scanning thread announces its end through the event queue, so the join happens here, after it.
    connect(this, &SelectionModel::scanThreadEnded, this, &SelectionModel::joinEndedScans, Qt::QueuedConnection);
}

SelectionModel::~SelectionModel()
{
    stopping = true;
    if (inventory.joinable()) {
        inventory.join();
    }
    for (auto& job : scanJobs) {
        job->thread.join();
    }
}

void SelectionModel::setNetworkCheckHost(const QString& host)
{
    checkHost() = host;
}

bool SelectionModel::networkReachable()
{
    return canReachHost(checkHost().toStdString(), NetworkCheckPort, NetworkCheckTimeoutMs);
}

std::string SelectionModel::homePath()
{
    const char* home = std::getenv("HOME");
    return home ? std::string(home) : std::string();
}

// Files.

uint64_t SelectionModel::addFile(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop, bool async)
{
    const ScanOptions options {skipHidden, skipDesktop};
    if (async) {
        startScan(path, options);
        return 0;
    }
    return scanPath(path, options, isRoot);
}

void SelectionModel::startScan(const std::string& path, const ScanOptions& options)
{
    ++scanning;
    emit scanStarted();
    auto job = std::make_unique<ScanJob>();
    ScanJob* running = job.get();
    running->thread = std::thread([this, running, path, options] {
        scanPath(path, options, true);
        --scanning;
        running->finished = true;
        emit scanThreadEnded();
    });
    scanJobs.push_back(std::move(job));
}

// Model thread, once per ended scan: joins what has ended.
void SelectionModel::joinEndedScans()
{
    for (auto it = scanJobs.begin(); it != scanJobs.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = scanJobs.erase(it);
        } else {
            ++it;
        }
    }
    emit scanEnded();
}

int SelectionModel::scanCount()
{
    return scanning;
}

uint64_t SelectionModel::scanPath(const std::string& path, const ScanOptions& options, bool isRoot)
{
    if (stopping || isPathTooLong(path) || contains(path)) {
        return 0;
    }
    const fs::path entry(path);
    const std::string name = entry.filename().string();
    if (options.skipHidden && isHiddenSkipped(path, name)) {
        return 0;
    }
    // One stat per file gives both its kind and its size (a home of a million files pays each call).
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return 0;
    }
    if (!S_ISDIR(st.st_mode)) {
        return S_ISREG(st.st_mode) ? scanFile(path, name, options, isRoot, static_cast<uint64_t>(st.st_size)) : 0;
    }
    // Links inside a tree are never followed: they would count data twice or loop. A chosen root is
    // followed, so a home or settings folder that is itself a link still gets moved.
    if (!isRoot && isLinkOrUnknown(entry)) {
        return 0;
    }
    return scanFolder(path, options, isRoot);
}

uint64_t SelectionModel::scanFile(
    const std::string& path, const std::string& name, const ScanOptions& options, bool isRoot, uint64_t size)
{
    if (isSkippedFileName(name, options.skipDesktop)) {
        return 0;
    }
    if (!recordFile(path, size)) {
        return 0;
    }
    if (isRoot) {
        emit fileItemAdded(QString::fromStdString(path), 0, size);
    } else {
        noteSelectionChanged();
    }
    return size;
}

uint64_t SelectionModel::scanFolder(const std::string& path, const ScanOptions& options, bool isRoot)
{
    // Each folder travels too, so empty ones arrive and every one keeps its mode and time; the home itself
    // (and "/") is the receiver's own.
    const std::string home = homePath();
    if (entriesWanted && path != "/" && fs::path(path).lexically_normal() != fs::path(home).lexically_normal()
        && fs::path(path).lexically_normal() != fs::path(home + "/").lexically_normal()) {
        recordEntry(path, FileMeta::Kind::Folder);
    }
    uint64_t sum = 0;
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    const fs::directory_iterator end;
    while (!ec && it != end && !stopping) {
        const bool isLink = it->is_symlink(ec);
        if (ec) {
            break;
        }
        if (!isLink) {
            sum += scanPath(it->path().string(), options, false);
        } else if (entriesWanted) {
            scanLink(it->path().string(), options);
        }
        it.increment(ec);
    }
    if (isRoot && !stopping) {
        emit fileItemAdded(QString::fromStdString(path), 1, sum);
    }
    return sum;
}

bool SelectionModel::recordFile(const std::string& path, uint64_t size)
{
    std::lock_guard<std::mutex> lock(selectionLock);
    if (!fileMap.emplace(path, size).second) {
        return false;
    }
    selectedFileSize += size;
    countChanged();
    return true;
}

void SelectionModel::scanLink(const std::string& path, const ScanOptions& options)
{
    if (stopping || isPathTooLong(path)) {
        return;
    }
    const std::string name = fs::path(path).filename().string();
    if ((options.skipHidden && isHiddenSkipped(path, name)) || isSkippedFileName(name, options.skipDesktop)) {
        return;
    }
    recordEntry(path, FileMeta::Kind::Link);
}

void SelectionModel::recordEntry(const std::string& path, FileMeta::Kind kind)
{
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        if (!entryMap.emplace(path, kind).second) {
            return;
        }
        countChanged();
    }
    noteSelectionChanged();
}

void SelectionModel::setEntriesWanted(bool wanted)
{
    entriesWanted = wanted;
}

EntryMap SelectionModel::entrySnapshot()
{
    std::lock_guard<std::mutex> lock(selectionLock);
    return entryMap;
}

void SelectionModel::noteSelectionChanged()
{
    if (!changePending.exchange(true)) {
        emit selectionChanged();
    }
}

bool SelectionModel::removeFile(const std::string& path, bool keepSettings)
{
    const std::string home = homePath();
    std::lock_guard<std::mutex> lock(selectionLock);
    releaseHold();
    const auto found = fileMap.find(path);
    if (found != fileMap.end()) {
        selectedFileSize -= found->second;
        fileMap.erase(found);
    }
    for (auto it = fileMap.begin(); it != fileMap.end();) {
        if (isUnderFolder(it->first, path) && !(keepSettings && isSettingsEntry(it->first, home))) {
            selectedFileSize -= it->second;
            it = fileMap.erase(it);
        } else {
            ++it;
        }
    }
    entryMap.erase(path);
    for (auto it = entryMap.begin(); it != entryMap.end();) {
        if (isUnderFolder(it->first, path) && !(keepSettings && isSettingsEntry(it->first, home))) {
            it = entryMap.erase(it);
        } else {
            ++it;
        }
    }
    const bool lostBytes = fileMap.empty() && selectedFileSize != 0;
    if (lostBytes) {
        selectedFileSize = 0;
    }
    countChanged();
    return lostBytes;
}

bool SelectionModel::contains(const std::string& path)
{
    std::lock_guard<std::mutex> lock(selectionLock);
    return fileMap.count(path) != 0;
}

void SelectionModel::clear()
{
    uncheckAllApps();
    std::lock_guard<std::mutex> lock(selectionLock);
    releaseHold();
    selectedFileSize = 0;
    fileMap.clear();
    entryMap.clear();
    countChanged();
}

void SelectionModel::countChanged()
{
    countedItems = fileMap.size() + entryMap.size();
    countedBytes = selectedFileSize;
}

std::shared_ptr<const void> SelectionModel::holdFiles(const FileMap& files)
{
    if (&files != &fileMap) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(selectionLock);
    // One hold serves every run until the entries are handed over.
    if (!heldFiles) {
        heldFiles = std::make_shared<FileMap>();
    }
    return heldFiles;
}

void SelectionModel::releaseHold()
{
    if (heldFiles && heldFiles.use_count() > 1) {
        // A moved map keeps its entries where they were: the runs' pointers stay good.
        *heldFiles = std::move(fileMap);
        fileMap = *heldFiles;
    }
    heldFiles.reset();
}

SelectionModel::Totals SelectionModel::totals()
{
    changePending = false;
    Totals figures;
    std::unique_lock<std::mutex> lock(selectionLock, std::try_to_lock);
    if (lock.owns_lock()) {
        figures.files = fileMap.size() + entryMap.size();
        figures.bytes = selectedFileSize;
        lock.unlock();
    } else {
        figures.files = countedItems;
        figures.bytes = countedBytes;
    }
    figures.apps = selectedAppCount;
    return figures;
}

bool SelectionModel::isEmpty()
{
    std::lock_guard<std::mutex> lock(selectionLock);
    return fileMap.empty() && entryMap.empty() && selectedAppCount == 0;
}

void SelectionModel::snapshot(FileMap& files, AppMap& apps, uint64_t& bytes)
{
    std::lock_guard<std::mutex> lock(selectionLock);
    files = fileMap;
    apps = appMap;
    bytes = selectedFileSize;
}

AppMap SelectionModel::appSnapshot()
{
    std::lock_guard<std::mutex> lock(selectionLock);
    return appMap;
}

// Application inventory.

void SelectionModel::refreshApps(bool loadNew)
{
    const std::vector<std::string> names = parsePackageList(Process::output("apt-mark", {"showmanual"}));
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        manualPackages = names;
    }
    if (!loadNew) {
        return;
    }
    for (const std::string& name : names) {
        if (!appKey(name)) {
            loadApp(name);
        }
    }
}

void SelectionModel::loadApps(bool sync)
{
    refreshApps(false);
    std::vector<std::string> names;
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        names = manualPackages;
    }
    emit inventoryStarted(static_cast<int>(names.size()));
    if (!sync) {
        if (!inventory.joinable()) {
            inventory = std::thread([this] { loadApps(true); });
        }
        return;
    }
    for (const std::string& name : names) {
        if (stopping) {
            return;
        }
        loadApp(name);
    }
    emit inventoryFinished();
}

void SelectionModel::loadApp(const std::string& package)
{
    if (!isValidPackageName(package)) {
        return;
    }
    QString appName = QString::fromStdString(package);
    QString icon = QStringLiteral("cube");
    // One listing of the package's files serves both the desktop entry and the icon.
    const std::string files = Process::output("dpkg-query", {"-L", package});
    const std::string entryPath = firstDesktopEntry(files);
    std::error_code ec;
    if (!entryPath.empty() && fs::is_regular_file(entryPath, ec)) {
        const std::string entry = readSmallFile(entryPath);
        const std::string name = desktopEntryName(entry);
        if (!name.empty()) {
            appName = QString::fromStdString(name);
        }
        std::string iconValue;
        if (desktopEntryIcon(entry, iconValue)) {
            if (iconValue.find('/') != std::string::npos && fs::is_regular_file(iconValue, ec)) {
                icon = QString::fromStdString(iconValue);
            } else {
                const std::string iconFile = firstIconFile(files);
                if (iconFile.find('/') != std::string::npos) {
                    icon = QString::fromStdString(iconFile);
                }
            }
        }
    }
    if (package.find("wps") != std::string::npos) {
        icon = QStringLiteral("wps");
    }
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        appMap.emplace(package, AppInfo {});
    }
    emit appFound(appName, icon, QString::fromStdString(package));
}

const std::string* SelectionModel::appKey(const std::string& package)
{
    std::lock_guard<std::mutex> lock(selectionLock);
    const auto found = appMap.find(package);
    return found != appMap.end() ? &found->first : nullptr;
}

bool SelectionModel::setAppChecked(const std::string& package, bool on)
{
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        const auto record = appMap.find(package);
        if (record == appMap.end()) {
            return false;
        }
        changed = record->second.checked != on;
        record->second.checked = on;
    }
    // The count follows the flags, so a repeated tick is not counted twice.
    if (changed) {
        if (on) {
            ++selectedAppCount;
        } else if (selectedAppCount > 0) {
            --selectedAppCount;
        }
    }
    return true;
}

void SelectionModel::uncheckAllApps()
{
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        for (auto& record : appMap) {
            record.second.checked = false;
        }
    }
    selectedAppCount = 0;
}
