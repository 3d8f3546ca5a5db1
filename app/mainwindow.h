#pragma once

#include <QMainWindow>

namespace Ui {
class MainWindow;
}
class NewPCConnectPage;
class OldPCConnectPage;
class MigrationWatch;

// The frameless wizard: role chooser and the two role pages above, the button bars below.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

public slots:
    void pcTypeChanged(short pcType);
    void hideBottom();
    void done(int code);

private slots:
    void on_nextBtn_clicked();
    void on_backBtn_clicked();
    void on_homeBtn_clicked();
    void on_exitBtn_clicked();
    void on_transferAgainBtn_clicked();
    void on_content_currentChanged(int index);

private:
    Ui::MainWindow* ui;
    short pcType;
    int lastIndex;
    NewPCConnectPage* newPCPage;
    OldPCConnectPage* oldPCPage;
    // Keeps the computer awake while either role migrates.
    MigrationWatch* migration = nullptr;
    // One "连接断开!" at a time: further failures while it is open add nothing to say.
    bool failureBoxOpen = false;
};
