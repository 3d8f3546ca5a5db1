#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include "net/freespacemessage.h"
#include "select/model/mountpoint.h"
#include "select/model/selectionmodel.h"

class QKeyEvent;
class QListWidgetItem;
class QTimer;
class FileDialog;
class ListItem;

namespace Ui {
class SelectDataView;
}

// The sender's selection page: folders and files from the browser, the home, the settings folder and
// installed applications. What is chosen lives in a SelectionModel, which the page owns and shows; the
// model's scanning and inventory threads are joined before the page's widgets go.
class SelectDataView : public QWidget
{
    Q_OBJECT

    // First, so the references below can be bound to it.
    std::unique_ptr<SelectionModel> selection;

public:
    explicit SelectDataView(QWidget* parent = nullptr);
    ~SelectDataView() override;

    // The model's selection (see SelectionModel), under the names the page always had.
    FileMap& fileMap;
    uint64_t& selectedFileSize;
    uint64_t& selectedAppCount;
    std::vector<std::string>& manualPackages;
    AppMap& appMap;
    FileDialog* fileDialog;

    // Enables the home, settings and application choices only towards a receiver of the same distribution.
    void setTargetInfo(int type, QString distroName);
    // Whether the chosen receiver takes folder and link entries: only then are they selected.
    void setEntriesWanted(bool wanted);
    // The folders and links selected, for the transfer.
    EntryMap entrySnapshot();
    // Lets a run borrow the selected files when `files` is this page's own fileMap (see
    // SelectionModel::holdFiles); null otherwise.
    std::shared_ptr<const void> holdFiles(const FileMap& files);
    void updateDiskSize(FreeSpaceMessage message);
    // Empties the selection before a new transfer.
    void Clear();
    void ShowAll();

    // Adds a file or a folder tree; returns the bytes added. With async the walk runs on a scanning thread
    // and the call returns 0 at once.
    uint64_t AddFile(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop, bool async);
    void RemoveFile(const std::string& path);
    // Scanning threads still running.
    int scanCount();

    void loadApps(bool sync);
    void refreshApps(bool loadNew);
    void loadApp(std::string package);

    // The host that the network check connects to ("host" or "host:port", port 80 by default).
    static void setNetworkCheckHost(const QString& host);

signals:
    // Hands the selection over for one run: the files by reference to the page's own map (a receiver
    // copies them or borrows them through holdFiles), the applications as a copy.
    void Transfer(std::unordered_map<std::string, uint64_t>& fileMap, std::unordered_map<std::string, AppInfo>& appMap,
        uint64_t selectedFileSize);
    void AddFileItemAsync(QString filename, int type, qulonglong filesize);
    void AddAppAsync(QString appname, QString icon, QString packagename);
    void UpdateSelectionInfo();
    // A scanning thread has ended and was joined.
    void scanEnded();

public slots:
    void updateSelectionInfo();
    void AddApp(QString appname, QString icon, QString packagename);

protected:
    // Enter starts the transfer, as the "开始传输" button would.
    void keyPressEvent(QKeyEvent* event) override;

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
    void scansEnded();
    void setScanning(bool scanning);
    void inventoryStarted(int expected);
    ListItem* rowOf(QListWidgetItem* item) const;

    Ui::SelectDataView* ui;
    std::vector<MountPoint> disks;
    ListItem* homeRow = nullptr;
    ListItem* confRow = nullptr;
    ListItem* appRow = nullptr;
    bool appItemBusy = false;
    bool confAllowed = true;
    // Spaces the label updates of a running scan so the window keeps time for the user.
    QTimer* selectionInfoTimer;
};
