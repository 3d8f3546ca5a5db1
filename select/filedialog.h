#pragma once

#include <set>
#include <string>

#include <QDialog>

class ListItem;

namespace Ui {
class FileDialog;
}

// Modal browser for ticking files and folders below a fixed root, one directory level at a time. Ticked
// entries are kept as absolute paths across navigation and across openings.
class FileDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FileDialog(QWidget* parent = nullptr);
    ~FileDialog() override;

    // The top the user may not leave; set by the owner before Open.
    std::string root;
    std::string currentPath;
    // Ticked entries of every directory visited, in byte order.
    std::set<std::string> checkedPaths;
    // Full paths that are never listed.
    std::set<std::string> excludedPaths;

    void Open(std::string path);

public slots:
    void Refresh();

private slots:
    void itemChecked(ListItem* item, bool on);
    void itemDblClicked(ListItem* item);
    void on_backButton_clicked();
    void on_FileDialog_accepted();
    void on_FileDialog_rejected();

private:
    bool isInsideRoot(const std::string& path) const;

    Ui::FileDialog* ui;
};

// dir and name joined by one "/".
std::string getPath(std::string dir, std::string name);
