#include "select/selectdataview.h"

#include <set>

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "common/sizetext.h"
#include "common/widgets/circularprogressbar.h"
#include "net/distro.h"
#include "select/filedialog.h"
#include "select/listitem.h"
#include "select/listview.h"
#include "ui_selectdataview.h"

namespace {

// Assumed throughput of the link, 50 MiB/s.
constexpr uint64_t BytesPerSecond = 52428800;
constexpr int SelectionInfoIntervalMs = 40;

} // namespace

SelectDataView::SelectDataView(QWidget* parent)
    : QWidget(parent)
    , selection(std::make_unique<SelectionModel>())
    , fileMap(selection->fileMap)
    , selectedFileSize(selection->selectedFileSize)
    , selectedAppCount(selection->selectedAppCount)
    , manualPackages(selection->manualPackages)
    , appMap(selection->appMap)
    , ui(new Ui::SelectDataView)
{
    ui->setupUi(this);
    disks.push_back(MountPoint {"/", "", ""});
    fileDialog = new FileDialog(this);

    for (const MountPoint& disk : disks) {
        ListItem* row
            = listWidgetAddItem(ui->fileList, QString::fromStdString(disk.path), QStringLiteral("disk"), &disk);
        connect(row, &ListItem::checked, this, &SelectDataView::diskItemChecked);
    }
    homeRow = listWidgetAddItem(ui->confList, tr("用户数据"), QStringLiteral("user"), nullptr);
    confRow = listWidgetAddItem(ui->confList, tr("系统设置"), QStringLiteral("computer"), nullptr);
    appRow = listWidgetAddItem(ui->confList, tr("应用程序"), QStringLiteral("cube"), nullptr);
    connect(homeRow, &ListItem::checked, this, &SelectDataView::homeItemChecked);
    connect(confRow, &ListItem::checked, this, &SelectDataView::confItemChecked);
    connect(appRow, &ListItem::checked, this, &SelectDataView::appItemChecked);

    ui->filesPage->getList()->setAccessibleName(tr("已选文件"));
    ui->appsPage->getList()->setAccessibleName(tr("应用程序"));
    // Left to right, as the page reads: the two lists of choices, what they chose, then the start.
    setTabOrder(ui->fileList, ui->confList);
    setTabOrder(ui->confList, ui->filesPage->findChild<QLineEdit*>(QStringLiteral("lineEdit")));
    setTabOrder(ui->filesPage->findChild<QLineEdit*>(QStringLiteral("lineEdit")), ui->filesPage->getList());
    setTabOrder(ui->filesPage->getList(), ui->appsPage->findChild<QLineEdit*>(QStringLiteral("lineEdit")));
    setTabOrder(ui->appsPage->findChild<QLineEdit*>(QStringLiteral("lineEdit")), ui->appsPage->getList());
    setTabOrder(ui->appsPage->getList(), ui->pushButton);

    connect(ui->filesPage, &ListView::itemDelete, this, &SelectDataView::fileDelete);
    connect(ui->appsPage, &ListView::itemChecked, this, &SelectDataView::appChecked);
    connect(ui->appsPage, &ListView::refresh, this, &SelectDataView::appRefresh);
    connect(this, &SelectDataView::AddFileItemAsync, this, &SelectDataView::addFileItem);
    connect(this, &SelectDataView::AddAppAsync, this, &SelectDataView::AddApp);
    // Signals of a worker thread reach the page queued; those of the GUI thread at once (a refresh adds its
    // rows before the click returns).
    SelectionModel* chosen = selection.get();
    connect(chosen, &SelectionModel::fileItemAdded, this, &SelectDataView::AddFileItemAsync);
    connect(chosen, &SelectionModel::appFound, this, &SelectDataView::AddAppAsync);
    connect(chosen, &SelectionModel::selectionChanged, this, &SelectDataView::UpdateSelectionInfo);
    connect(chosen, &SelectionModel::scanStarted, this, [this] { setScanning(true); });
    connect(chosen, &SelectionModel::scanEnded, this, &SelectDataView::scansEnded);
    connect(chosen, &SelectionModel::inventoryStarted, this, &SelectDataView::inventoryStarted);
    connect(chosen, &SelectionModel::inventoryFinished, this, [this] {
        // Every package has been looked at: searching is on even when rows were refused as duplicates.
        emit ui->appsPage->enableSearch(true);
    });
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
    // Its threads are joined before the widgets they report to go.
    selection.reset();
    delete ui;
}

void SelectDataView::setNetworkCheckHost(const QString& host)
{
    SelectionModel::setNetworkCheckHost(host);
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

void SelectDataView::setEntriesWanted(bool wanted)
{
    selection->setEntriesWanted(wanted);
}

EntryMap SelectDataView::entrySnapshot()
{
    return selection->entrySnapshot();
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
        ui->spaceView->setProgress(static_cast<int>(percent));
    }
}

void SelectDataView::Clear()
{
    appItemChecked(false);
    selection->clear();
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
    return selection->scanCount();
}

uint64_t SelectDataView::AddFile(const std::string& path, bool skipHidden, bool isRoot, bool skipDesktop, bool async)
{
    return selection->addFile(path, skipHidden, isRoot, skipDesktop, async);
}

// After each scan: the last one gives the page back.
void SelectDataView::scansEnded()
{
    if (scanCount() == 0) {
        setScanning(false);
    }
    emit scanEnded();
}

void SelectDataView::setScanning(bool on)
{
    ui->fileList->setEnabled(!on);
    ui->confList->setEnabled(!on && confAllowed);
    ui->pushButton->setEnabled(!on);
}

void SelectDataView::RemoveFile(const std::string& path)
{
    const bool emptied = selection->removeFile(path, confRow->isChecked());
    fileDialog->checkedPaths.erase(path);
    ui->filesPage->removeItem(QString::fromStdString(path));
    if (emptied) {
        fileDialog->checkedPaths.clear();
    }
    updateSelectionInfo();
}

void SelectDataView::homeItemChecked(bool on)
{
    const std::string home = SelectionModel::homePath();
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
    const std::string home = SelectionModel::homePath();
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
                if (!selection->contains(path)) {
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
    const SelectionModel::Totals figures = selection->totals();
    ui->selectedFile->setText(tr("%1 个").arg(figures.files + figures.apps));
    ui->spaceTaken->setText(getSizeText(figures.bytes));
    ui->timeTaken->setText(getShownTimeText(figures.bytes / BytesPerSecond));
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
    if (row == appRow) {
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

void SelectDataView::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // Enter in the search box only ends the search.
    if (enter && ui->pushButton->isEnabled() && !qobject_cast<QLineEdit*>(focusWidget())) {
        event->accept();
        ui->pushButton->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SelectDataView::on_pushButton_clicked()
{
    if (selection->isEmpty()) {
        return;
    }
    QString message = tr("克隆期间, 请退出所有其他应用程序\n请不要在传输过程中修改任何文件\n");
    if (selectedAppCount > 0 && !SelectionModel::networkReachable()) {
        message += tr("\n当前网络不可用, 应用安装可能失败\n");
    }
    QMessageBox box(QMessageBox::Information, tr("提示"), message, QMessageBox::NoButton, this);
    box.addButton(tr("取消"), QMessageBox::RejectRole);
    QPushButton* start = box.addButton(tr("开始传输"), QMessageBox::AcceptRole);
    box.exec();
    if (box.clickedButton() != start) {
        return;
    }
    // The files go as the selection holds them (no scan runs while the button is offered): the engine may
    // borrow them through holdFiles instead of copying. The applications are a copy, out of the inventory
    // thread's way.
    AppMap apps = selection->appSnapshot();
    emit Transfer(fileMap, apps, selectedFileSize);
}

std::shared_ptr<const void> SelectDataView::holdFiles(const FileMap& files)
{
    return selection->holdFiles(files);
}

// Application inventory.

void SelectDataView::refreshApps(bool loadNew)
{
    selection->refreshApps(loadNew);
}

void SelectDataView::loadApps(bool sync)
{
    selection->loadApps(sync);
}

void SelectDataView::loadApp(std::string package)
{
    selection->loadApp(package);
}

void SelectDataView::inventoryStarted(int expected)
{
    ui->appsPage->deletable = false;
    ui->appsPage->expectedCount = expected;
    emit ui->appsPage->enableSearch(false);
}

void SelectDataView::AddApp(QString appname, QString icon, QString packagename)
{
    ui->appsPage->addItem(appname, icon, selection->appKey(packagename.toStdString()), true);
}

void SelectDataView::appChecked(ListItem* item, bool on)
{
    if (!item || !item->model()) {
        return;
    }
    const auto* package = static_cast<const std::string*>(item->model());
    if (!selection->setAppChecked(*package, on)) {
        return;
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
        selection->uncheckAllApps();
        ui->appsPage->clearCheck();
        updateSelectionInfo();
    }
    appItemBusy = false;
}

void SelectDataView::appRefresh()
{
    refreshApps(true);
}
