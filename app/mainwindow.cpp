#include "app/mainwindow.h"

#include <QMessageBox>
#include <QPushButton>

#include "app/exitnow.h"
#include "app/pagechange.h"
#include "common/widgets/pagefit.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"
#include "ui_mainwindow.h"

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), pcType(0), lastIndex(0), newPCPage(nullptr), oldPCPage(nullptr)
{
    setWindowFlags(Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->b2->hide();
    ui->b3->hide();

    connect(ui->choosePC, &ChoosePC::pcTypeSelected, this, &MainWindow::pcTypeChanged);

    // Transfer and Done may come from worker threads: automatic connections queue them.
    newPCPage = new NewPCConnectPage();
    ui->content->addWidget(newPCPage);
    connect(newPCPage, &NewPCConnectPage::Transfer, this, &MainWindow::hideBottom, Qt::AutoConnection);
    connect(newPCPage, &NewPCConnectPage::Done, this, &MainWindow::done, Qt::AutoConnection);

    oldPCPage = new OldPCConnectPage();
    ui->content->addWidget(oldPCPage);
    connect(oldPCPage, &OldPCConnectPage::Transfer, this, &MainWindow::hideBottom, Qt::AutoConnection);
    connect(oldPCPage, &OldPCConnectPage::Done, this, &MainWindow::done, Qt::AutoConnection);

    fitStackToCurrentPage(ui->content);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::pcTypeChanged(short type)
{
    pcType = type;
    ui->nextBtn->setEnabled(true);
}

void MainWindow::hideBottom()
{
    ui->bottomContent->hide();
}

void MainWindow::done(int code)
{
    if (code == 1) {
        QMessageBox box(QMessageBox::Warning, "提示", "连接断开!");
        box.addButton("确定", QMessageBox::AcceptRole);
        box.exec();
    }
    ui->bottomContent->setCurrentIndex(2);
    ui->bottomContent->show();
    ui->transferAgainBtn->setVisible(code == 2);
}

void MainWindow::on_nextBtn_clicked()
{
    ui->content->setCurrentIndex(pcType + 1);
}

void MainWindow::on_backBtn_clicked()
{
    const int current = ui->content->currentIndex();
    if (current != 0)
        ui->content->setCurrentIndex(current - pcType - 1);
}

void MainWindow::on_homeBtn_clicked()
{
    ui->content->setCurrentIndex(0);
}

void MainWindow::on_exitBtn_clicked()
{
    exitNow();
}

void MainWindow::on_transferAgainBtn_clicked()
{
    const PCItemInfo target = oldPCPage->lastTarget;
    oldPCPage->connectTo(target);
}

void MainWindow::on_content_currentChanged(int index)
{
    const PageChange change = pageChangeFor(lastIndex, index);
    if (change.unload == 1)
        newPCPage->Unload();
    else if (change.unload == 2)
        oldPCPage->Unload();

    if (ui->bottomContent->isHidden())
        ui->bottomContent->show();

    if (change.load == 1)
        newPCPage->Load();
    else if (change.load == 2)
        oldPCPage->Load();
    ui->bottomContent->setCurrentIndex(change.bar);

    lastIndex = index;
}
