#include "select/selectdataview.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "common/widgets/circularprogressbar.h"
#include "net/distro.h"
#include "common/commandpipe.h"
#include "select/filedialog.h"
#include "select/model/inventory.h"
#include "select/listitem.h"
#include "select/listview.h"
#include "select/model/networkcheck.h"
#include "select/model/scanrules.h"
#include "common/sizetext.h"
#include "ui_selectdataview.h"

namespace fs = std::filesystem;

namespace {

// Assumed throughput of the link, 50 MiB/s.
constexpr uint64_t BytesPerSecond = 52428800;
constexpr int NetworkCheckTimeoutMs = 3000;
constexpr int SelectionInfoIntervalMs = 40;
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

} // namespace

SelectDataView::SelectDataView(QWidget* parent) : QWidget(parent), ui(new Ui::SelectDataView)
{
    qRegisterMetaType<FileMap>("FileMap");
    qRegisterMetaType<AppMap>("AppMap");
    qRegisterMetaType<uint64_t>("uint64_t");
    ui->setupUi(this);
    disks.push_back(MountPoint {"/", "", ""});
    fileDialog = new FileDialog(this);

    for (const MountPoint& disk : disks) {
        ListItem* row
            = listWidgetAddItem(ui->fileList, QString::fromStdString(disk.path), QStringLiteral("disk"), &disk);
        connect(row, &ListItem::checked, this, &SelectDataView::diskItemChecked);
    }
    homeRow = listWidgetAddItem(ui->confList, QStringLiteral("用户数据"), QStringLiteral("user"), nullptr);
    confRow = listWidgetAddItem(ui->confList, QStringLiteral("系统设置"), QStringLiteral("computer"), nullptr);
    appRow = listWidgetAddItem(ui->confList, QStringLiteral("应用程序"), QStringLiteral("cube"), nullptr);
    connect(homeRow, &ListItem::checked, this, &SelectDataView::homeItemChecked);
    connect(confRow, &ListItem::checked, this, &SelectDataView::confItemChecked);
    connect(appRow, &ListItem::checked, this, &SelectDataView::appItemChecked);

    connect(ui->filesPage, &ListView::itemDelete, this, &SelectDataView::fileDelete);
    connect(ui->appsPage, &ListView::itemChecked, this, &SelectDataView::appChecked);
    connect(ui->appsPage, &ListView::refresh, this, &SelectDataView::appRefresh);
    connect(this, &SelectDataView::AddFileItemAsync, this, &SelectDataView::addFileItem);
    connect(this, &SelectDataView::AddAppAsync, this, &SelectDataView::AddApp);
    connect(this, &SelectDataView::scanEnded, this, &SelectDataView::scanFinished, Qt::QueuedConnection);
    selectionInfoTimer = new QTimer(this);
    selectionInfoTimer->setSingleShot(true);
    selectionInfoTimer->setInterval(SelectionInfoIntervalMs);
    connect(selectionInfoTimer, &QTimer::timeout, this, &SelectDataView::updateSelectionInfo);
    connect(this, &SelectDataView::UpdateSelectionInfo, selectionInfoTimer, qOverload<>(&QTimer::start));

    loadApps(false);
    updateSelectionInfo();
}

SelectDataView::~SelectDataView()
{
    stopping = true;
    if (inventory.joinable()) {
        inventory.join();
    }
    for (auto& job : scanJobs) {
        job->thread.join();
    }
    delete ui;
}

void SelectDataView::setNetworkCheckHost(const QString& host)
{
    checkHost() = host;
}

QString SelectDataView::networkCheckHost()
{
    return checkHost();
}

std::string SelectDataView::homePath()
{
    const char* home = std::getenv("HOME");
    return home ? std::string(home) : std::string();
}

ListItem* SelectDataView::rowOf(QListWidgetItem* item) const
{
    return item ? qobject_cast<ListItem*>(item->listWidget()->itemWidget(item)) : nullptr;
}

void SelectDataView::setTargetInfo(int, QString distroName)
{
    confAllowed = distroName == QString::fromStdString(getdistroname());
    ui->confList->setEnabled(confAllowed && scanCount() == 0);
}

void SelectDataView::updateDiskSize(FreeSpaceMessage message)
{
    // A receiver that reports more free than total space has none of it in use.
    const uint64_t used = message.free < message.total ? message.total - message.free : 0;
    ui->totalSpaceL->setText(getSizeText(message.total));
    ui->freeL->setText(getSizeText(message.free));
    ui->usedL->setText(getSizeText(used));
    uint64_t percent = 0;
    if (message.total != 0) {
        percent = used <= UINT64_MAX / 100 ? used * 100 / message.total : used / (message.total / 100);
    }
    if (percent <= 100) {
        ui->spaceView->progress = static_cast<int>(percent);
        ui->spaceView->update();
    }
}

void SelectDataView::Clear()
{
    appItemChecked(false);
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        selectedFileSize = 0;
        fileMap.clear();
    }
    selectedAppCount = 0;
    ui->filesPage->clear();
    for (int i = 0; i < ui->fileList->count(); ++i) {
        if (ListItem* row = rowOf(ui->fileList->item(i))) {
            row->paths.clear();
            row->setChecked(false);
        }
    }
    for (int i = 0; i < ui->confList->count(); ++i) {
        if (ListItem* row = rowOf(ui->confList->item(i))) {
            row->setChecked(false);
        }
    }
    fileDialog->checkedPaths.clear();
    updateSelectionInfo();
}

void SelectDataView::ShowAll()
{
    ui->filesPage->ShowAll();
    ui->appsPage->ShowAll();
}

int SelectDataView::scanCount()
{
    std::lock_guard<std::mutex> lock(selectionLock);
    return scanning;
}

uint64_t SelectDataView::AddFile(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop, bool async)
{
    if (async) {
        startScan(path, skipHidden, isRoot, skipDesktop);
        return 0;
    }
    return scanPath(path, skipHidden, isRoot, skipDesktop);
}

void SelectDataView::startScan(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop)
{
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        ++scanning;
    }
    setScanning(true);
    auto job = std::make_unique<ScanJob>();
    ScanJob* running = job.get();
    running->thread = std::thread([this, running, path, skipHidden, isRoot, skipDesktop] {
        scanPath(path, skipHidden, isRoot, skipDesktop);
        {
            std::lock_guard<std::mutex> lock(selectionLock);
            --scanning;
        }
        running->finished = true;
        emit scanEnded();
    });
    scanJobs.push_back(std::move(job));
}

// GUI thread, once per finished scan: joins what has ended and, after the last one, gives the page back.
void SelectDataView::scanFinished()
{
    for (auto it = scanJobs.begin(); it != scanJobs.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = scanJobs.erase(it);
        } else {
            ++it;
        }
    }
    if (scanCount() == 0) {
        setScanning(false);
    }
}

void SelectDataView::setScanning(bool on)
{
    ui->fileList->setEnabled(!on);
    ui->confList->setEnabled(!on && confAllowed);
    ui->pushButton->setEnabled(!on);
}

uint64_t SelectDataView::scanPath(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop)
{
    if (stopping || isPathTooLong(path)) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        if (fileMap.count(path)) {
            return 0;
        }
    }
    const fs::path entry(path);
    const std::string name = entry.filename().string();
    if (skipHidden && isHiddenSkipped(path, name)) {
        return 0;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(entry, ec);
    if (ec || !fs::exists(status)) {
        return 0;
    }
    if (!fs::is_directory(status)) {
        if (isSkippedFileName(name, skipDesktop)) {
            return 0;
        }
        const uint64_t size = fs::file_size(entry, ec);
        if (ec) {
            return 0;
        }
        {
            std::lock_guard<std::mutex> lock(selectionLock);
            if (!fileMap.emplace(path, size).second) {
                return 0;
            }
            selectedFileSize += size;
        }
        if (isRoot) {
            emit AddFileItemAsync(QString::fromStdString(path), 0, size);
        } else {
            noteSelectionChanged();
        }
        return size;
    }
    // Links inside a tree are never followed: they would count data twice or loop. A chosen root is
    // followed, so a home or settings folder that is itself a link still gets moved.
    if (!isRoot) {
        const bool isLink = fs::is_symlink(fs::symlink_status(entry, ec));
        if (ec || isLink) {
            return 0;
        }
    }
    uint64_t sum = 0;
    fs::directory_iterator it(entry, ec);
    const fs::directory_iterator end;
    while (!ec && it != end && !stopping) {
        const bool isLink = it->is_symlink(ec);
        if (ec) {
            break;
        }
        if (!isLink) {
            sum += scanPath(it->path().string(), skipHidden, false, skipDesktop);
        }
        it.increment(ec);
    }
    if (isRoot && !stopping) {
        emit AddFileItemAsync(QString::fromStdString(path), 1, sum);
    }
    return sum;
}

void SelectDataView::noteSelectionChanged()
{
    if (!selectionInfoPending.exchange(true)) {
        emit UpdateSelectionInfo();
    }
}

void SelectDataView::RemoveFile(const std::string& path)
{
    const std::string home = homePath();
    const bool keepSettings = confRow->isChecked();
    bool emptied = false;
    {
        std::lock_guard<std::mutex> lock(selectionLock);
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
        if (fileMap.empty() && selectedFileSize != 0) {
            selectedFileSize = 0;
            emptied = true;
        }
    }
    fileDialog->checkedPaths.erase(path);
    ui->filesPage->removeItem(QString::fromStdString(path));
    if (emptied) {
        fileDialog->checkedPaths.clear();
    }
    updateSelectionInfo();
}

void SelectDataView::homeItemChecked(bool on)
{
    const std::string home = homePath();
    if (home.empty()) {
        // Without a home there is nothing to choose; the row does not pretend otherwise.
        if (on) {
            homeRow->setChecked(false);
        }
        return;
    }
    if (on) {
        AddFile(home, true, true, true, true);
    } else {
        RemoveFile(home);
    }
}

void SelectDataView::confItemChecked(bool on)
{
    const std::string home = homePath();
    if (home.empty()) {
        if (on) {
            confRow->setChecked(false);
        }
        return;
    }
    const std::string settings = home + "/.config";
    if (on) {
        AddFile(settings, false, true, false, true);
    } else {
        RemoveFile(settings);
    }
}

void SelectDataView::diskItemChecked(bool on)
{
    auto* row = qobject_cast<ListItem*>(sender());
    if (!row || !row->model()) {
        return;
    }
    if (on) {
        fileDialog->root = row->text().toStdString();
        fileDialog->Open(fileDialog->root);
        if (fileDialog->exec() == QDialog::Accepted) {
            const std::set<std::string> chosen = fileDialog->checkedPaths;
            for (const std::string& path : chosen) {
                bool known = false;
                {
                    std::lock_guard<std::mutex> lock(selectionLock);
                    known = fileMap.count(path) != 0;
                }
                if (!known) {
                    row->paths.append(QString::fromStdString(path));
                }
                AddFile(path, true, true, false, true);
            }
        } else if (fileDialog->checkedPaths.empty() && ui->filesPage->count() == 0) {
            row->setChecked(false);
        }
    } else {
        const QList<QString> paths = row->paths;
        row->paths.clear();
        for (const QString& path : paths) {
            RemoveFile(path.toStdString());
        }
    }
    updateSelectionInfo();
}

void SelectDataView::fileDelete(QString filename)
{
    RemoveFile(filename.toStdString());
    updateSelectionInfo();
}

void SelectDataView::addFileItem(QString filename, int type, qulonglong filesize)
{
    ListItem* row = ui->filesPage->addItem(
        filename, type == 1 ? QStringLiteral("folder") : QStringLiteral("file"), nullptr, true);
    if (!row) {
        return;
    }
    auto* size = new QLabel(getSizeText(filesize), row);
    size->setObjectName(QStringLiteral("sizeLabel"));
    size->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
    size->setStyleSheet(QStringLiteral("color: #6B7280;"));
    row->layout()->addWidget(size);
    fileDialog->checkedPaths.insert(filename.toStdString());
    updateSelectionInfo();
}

void SelectDataView::updateSelectionInfo()
{
    selectionInfoPending = false;
    std::size_t files = 0;
    uint64_t bytes = 0;
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        files = fileMap.size();
        bytes = selectedFileSize;
    }
    ui->selectedFile->setText(QString::number(files + selectedAppCount) + QStringLiteral(" 个"));
    ui->spaceTaken->setText(getSizeText(bytes));
    ui->timeTaken->setText(getTimeText(bytes / BytesPerSecond));
}

void SelectDataView::on_fileList_itemClicked(QListWidgetItem* item)
{
    const ListItem* row = rowOf(item);
    if (row && row->text().startsWith(QLatin1Char('/'))) {
        ui->view->setCurrentIndex(0);
    }
}

void SelectDataView::on_fileList_itemDoubleClicked(QListWidgetItem* item)
{
    if (ListItem* row = rowOf(item)) {
        row->setChecked(true);
    }
}

void SelectDataView::on_confList_itemClicked(QListWidgetItem* item)
{
    const ListItem* row = rowOf(item);
    if (!row) {
        return;
    }
    if (row->text() == QStringLiteral("应用程序")) {
        ui->view->setCurrentIndex(1);
        ui->appsPage->ShowAll();
    } else {
        ui->view->setCurrentIndex(0);
    }
}

void SelectDataView::on_confList_itemDoubleClicked(QListWidgetItem* item)
{
    ListItem* row = rowOf(item);
    if (row && !row->isChecked()) {
        row->setChecked(true);
    }
}

void SelectDataView::on_pushButton_clicked()
{
    bool noFiles = false;
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        noFiles = fileMap.empty();
    }
    if (noFiles && selectedAppCount == 0) {
        return;
    }
    QString message = QStringLiteral("克隆期间, 请退出所有其他应用程序\n请不要在传输过程中修改任何文件\n");
    if (selectedAppCount > 0 && !canReachHost(checkHost().toStdString(), 80, NetworkCheckTimeoutMs)) {
        message += QStringLiteral("\n当前网络不可用, 应用安装可能失败\n");
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("提示"), message, QMessageBox::NoButton, this);
    box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    QPushButton* start = box.addButton(QStringLiteral("开始传输"), QMessageBox::AcceptRole);
    box.exec();
    if (box.clickedButton() != start) {
        return;
    }
    // The engine copies what it is handed; a snapshot keeps the inventory thread out of that copy.
    FileMap files;
    AppMap apps;
    uint64_t bytes = 0;
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        files = fileMap;
        apps = appMap;
        bytes = selectedFileSize;
    }
    emit Transfer(files, apps, bytes);
}

// Application inventory.

void SelectDataView::refreshApps(bool loadNew)
{
    std::vector<std::string> names;
    {
        CommandPipe pipe("apt-mark showmanual");
        if (!pipe.isOpen()) {
            return;
        }
        names = parsePackageList(pipe.readAll());
    }
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        manualPackages = names;
    }
    if (!loadNew) {
        return;
    }
    for (const std::string& name : names) {
        bool known = false;
        {
            std::lock_guard<std::mutex> lock(selectionLock);
            known = appMap.count(name) != 0;
        }
        if (!known) {
            loadApp(name);
        }
    }
}

void SelectDataView::loadApps(bool sync)
{
    refreshApps(false);
    std::vector<std::string> names;
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        names = manualPackages;
    }
    const int expected = static_cast<int>(names.size());
    if (QThread::currentThread() == thread()) {
        prepareAppsPage(expected);
    } else {
        // The list's fields belong to the GUI thread; this arrives there before any row does.
        QMetaObject::invokeMethod(
            this, [this, expected] { prepareAppsPage(expected); }, Qt::QueuedConnection);
    }
    emit ui->appsPage->enableSearch(false);
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
    // Every package has been looked at: searching is on even when rows were refused as duplicates.
    emit ui->appsPage->enableSearch(true);
}

void SelectDataView::prepareAppsPage(int expected)
{
    ui->appsPage->deletable = false;
    ui->appsPage->expectedCount = expected;
}

void SelectDataView::loadApp(std::string package)
{
    if (!isValidPackageName(package)) {
        return;
    }
    QString appName = QString::fromStdString(package);
    QString icon = QStringLiteral("cube");
    const std::string entryPath = firstLine(getCommandOutput(desktopEntryCommand(package)));
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
                const std::string iconFile = firstLine(getCommandOutput(iconFileCommand(package)));
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
    emit AddAppAsync(appName, icon, QString::fromStdString(package));
}

void SelectDataView::AddApp(QString appname, QString icon, QString packagename)
{
    const std::string* key = nullptr;
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        const auto found = appMap.find(packagename.toStdString());
        if (found != appMap.end()) {
            key = &found->first;
        }
    }
    ui->appsPage->addItem(appname, icon, key, true);
}

void SelectDataView::appChecked(ListItem* item, bool on)
{
    if (!item || !item->model()) {
        return;
    }
    const auto* package = static_cast<const std::string*>(item->model());
    bool found = false;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(selectionLock);
        const auto record = appMap.find(*package);
        if (record != appMap.end()) {
            found = true;
            changed = record->second.checked != on;
            record->second.checked = on;
        }
    }
    if (!found) {
        return;
    }
    // The count follows the flags, so a repeated tick is not counted twice.
    if (changed) {
        if (on) {
            ++selectedAppCount;
        } else if (selectedAppCount > 0) {
            --selectedAppCount;
        }
    }
    if (on && !appRow->isChecked()) {
        appRow->setChecked(true);
    }
    updateSelectionInfo();
}

void SelectDataView::appItemChecked(bool on)
{
    if (appItemBusy) {
        return;
    }
    appItemBusy = true;
    if (on) {
        ui->view->setCurrentIndex(1);
        if (selectedAppCount == 0) {
            ui->appsPage->ShowAll();
        }
    } else {
        ui->view->setCurrentIndex(0);
        {
            std::lock_guard<std::mutex> lock(selectionLock);
            for (auto& record : appMap) {
                record.second.checked = false;
            }
        }
        ui->appsPage->clearCheck();
        selectedAppCount = 0;
        updateSelectionInfo();
    }
    appItemBusy = false;
}

void SelectDataView::appRefresh()
{
    refreshApps(true);
}
