#include "select/filedialog.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include <QDialogButtonBox>
#include <QPushButton>

#include "common/pathtext.h"
#include "select/listitem.h"
#include "select/listview.h"
#include "ui_filedialog.h"

namespace fs = std::filesystem;

std::string getPath(std::string dir, std::string name)
{
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    return dir + name;
}

FileDialog::FileDialog(QWidget* parent)
    : QDialog(parent), excludedPaths {"/dev", "/sys", "/proc", "/run", "/tmp", "/usr", "/opt"}, ui(new Ui::FileDialog)
{
    ui->setupUi(this);
    ui->backButton->hide();
    ui->listView->deletable = false;
    ui->buttonBox->button(QDialogButtonBox::Ok)->setText(tr("确定"));
    ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
    connect(ui->listView, &ListView::itemChecked, this, &FileDialog::itemChecked);
    connect(ui->listView, &ListView::itemDoubleClicked, this, &FileDialog::itemDblClicked);
    connect(ui->listView, &ListView::refresh, this, &FileDialog::Refresh);
}

FileDialog::~FileDialog()
{
    delete ui;
}

// The root itself or a path below it; a sibling whose name merely extends the root's is outside.
bool FileDialog::isInsideRoot(const std::string& path) const
{
    if (!startsWith(path, root)) {
        return false;
    }
    return path.size() == root.size() || (!root.empty() && root.back() == '/') || path[root.size()] == '/';
}

void FileDialog::Open(std::string path)
{
    if (!isInsideRoot(path)) {
        path = root;
    }
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
        return;
    }
    ui->backButton->setVisible(path.size() != root.size());
    ui->listView->clear();
    ui->listView->clearCheck();
    // Set before listing: restoring a tick records it under the folder being opened.
    currentPath = path;

    fs::directory_iterator it(path, ec);
    const fs::directory_iterator end;
    while (!ec && it != end) {
        const fs::directory_entry& entry = *it;
        const bool isLink = entry.is_symlink(ec);
        if (ec) {
            break;
        }
        if (!isLink) {
            const bool isDir = entry.is_directory(ec);
            if (ec) {
                break;
            }
            const std::string name = entry.path().filename().string();
            const std::string full = getPath(path, name);
            if (!excludedPaths.count(full)) {
                ListItem* row = ui->listView->addItem(QString::fromStdString(name),
                    isDir ? QStringLiteral("folder") : QStringLiteral("file"), nullptr, true);
                if (row && checkedPaths.count(full)) {
                    row->setChecked(true);
                }
            }
        }
        it.increment(ec);
    }
    if (ec) {
        std::cerr << "cannot list " << path << ": " << ec.message() << std::endl;
    }
    ui->pathLabel->setText(QString::fromStdString(path));
}

void FileDialog::Refresh()
{
    Open(currentPath);
}

void FileDialog::itemChecked(ListItem* item, bool on)
{
    if (!item) {
        return;
    }
    const std::string full = getPath(currentPath, item->text().toStdString());
    if (on) {
        checkedPaths.insert(full);
    } else {
        checkedPaths.erase(full);
    }
}

void FileDialog::itemDblClicked(ListItem* item)
{
    if (item) {
        Open(getPath(currentPath, item->text().toStdString()));
    }
}

void FileDialog::on_backButton_clicked()
{
    const std::size_t slash = currentPath.rfind('/');
    Open(slash == std::string::npos ? std::string() : currentPath.substr(0, slash));
}

void FileDialog::on_FileDialog_accepted() { }

void FileDialog::on_FileDialog_rejected() { }
