#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <QMetaType>
#include <QString>
#include <QWidget>

#include "net/freespacemessage.h"
#include "select/model/appinfo.h"
#include "select/model/mountpoint.h"

class QListWidgetItem;
class QTimer;
class FileDialog;
class ListItem;

namespace Ui {
class SelectDataView;
}

using FileMap = std::unordered_map<std::string, uint64_t>;
using AppMap = std::unordered_map<std::string, AppInfo>;
Q_DECLARE_METATYPE(FileMap)
Q_DECLARE_METATYPE(AppMap)

// The sender's selection page: folders and files from the browser, the home, the settings folder and
// installed applications. Folder trees are counted on scanning threads; the application inventory runs on
// a thread of its own. The page owns both kinds of thread and joins them before it goes.
class SelectDataView : public QWidget
{
    Q_OBJECT

public:
    explicit SelectDataView(QWidget* parent = nullptr);
    ~SelectDataView() override;

    // Selected regular files (path as met by the scan → size) and their byte total, guarded by the
    // selection lock while scans run.
    FileMap fileMap;
    uint64_t selectedFileSize = 0;
    uint64_t selectedAppCount = 0;
    // Package names of the last inventory run, in the package manager's order.
    std::vector<std::string> manualPackages;
    // Inventoried packages; records are never removed, so the address of a key is stable.
    AppMap appMap;
    FileDialog* fileDialog;

    // Enables the home, settings and application choices only towards a receiver of the same distribution.
    void setTargetInfo(int type, QString distroName);
    void updateDiskSize(FreeSpaceMessage message);
    // Empties the selection before a new transfer.
    void Clear();
    void ShowAll();

    // Adds a file or a folder tree; returns the bytes added. With async the walk runs on a new scanning
    // thread and the call returns 0 at once.
    uint64_t AddFile(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop, bool async);
    void RemoveFile(const std::string& path);
    // Scanning threads still running.
    int scanCount();

    void loadApps(bool sync);
    void refreshApps(bool loadNew);
    void loadApp(std::string package);

    // The host that the network check connects to ("host" or "host:port", port 80 by default).
    static void setNetworkCheckHost(const QString& host);
    static QString networkCheckHost();

signals:
    void Transfer(std::unordered_map<std::string, uint64_t>& fileMap, std::unordered_map<std::string, AppInfo>& appMap,
        uint64_t selectedFileSize);
    void AddFileItemAsync(QString filename, int type, qulonglong filesize);
    void AddAppAsync(QString appname, QString icon, QString packagename);
    void UpdateSelectionInfo();
    // A scanning thread has ended (emitted on that thread, handled queued).
    void scanEnded();

public slots:
    void updateSelectionInfo();
    void AddApp(QString appname, QString icon, QString packagename);

private slots:
    void diskItemChecked(bool on);
    void homeItemChecked(bool on);
    void confItemChecked(bool on);
    void appItemChecked(bool on);
    void appChecked(ListItem* item, bool on);
    void appRefresh();
    void fileDelete(QString filename);
    void addFileItem(QString filename, int type, qulonglong filesize);
    void on_fileList_itemClicked(QListWidgetItem* item);
    void on_fileList_itemDoubleClicked(QListWidgetItem* item);
    void on_confList_itemClicked(QListWidgetItem* item);
    void on_confList_itemDoubleClicked(QListWidgetItem* item);
    void on_pushButton_clicked();

private:
    struct ScanJob
    {
        std::thread thread;
        std::atomic<bool> finished {false};
    };

    uint64_t scanPath(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop);
    void startScan(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop);
    void scanFinished();
    void setScanning(bool scanning);
    // Asks for one label update; further files found before it runs ride along.
    void noteSelectionChanged();
    void prepareAppsPage(int expected);
    static std::string homePath();
    ListItem* rowOf(QListWidgetItem* item) const;

    Ui::SelectDataView* ui;
    std::vector<MountPoint> disks;
    ListItem* homeRow = nullptr;
    ListItem* confRow = nullptr;
    ListItem* appRow = nullptr;

    // Guards fileMap, selectedFileSize, scanning, appMap and manualPackages.
    std::mutex selectionLock;
    int scanning = 0;
    bool appItemBusy = false;
    bool confAllowed = true;

    std::atomic<bool> stopping {false};
    std::atomic<bool> selectionInfoPending {false};
    // Spaces the label updates of a running scan so the window keeps time for the user.
    QTimer* selectionInfoTimer;
    std::list<std::unique_ptr<ScanJob>> scanJobs;
    std::thread inventory;
};
