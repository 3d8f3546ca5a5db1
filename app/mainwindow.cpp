#include "app/mainwindow.h"

#include <QMessageBox>
#include <QPushButton>

#include "app/exitnow.h"
#include "app/migrationwatch.h"
#include "app/pagechange.h"
#include "common/stages.h"
#include "common/widgets/pagefit.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"
#include "ui_mainwindow.h"

namespace {

// The role page for the card chosen (ChoosePC: 0 receiver, 1 sender).
WizardPage rolePage(short pcType)
{
    return pcType == 0 ? WizardPage::Receiver : WizardPage::Sender;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), pcType(0), lastIndex(0), newPCPage(nullptr), oldPCPage(nullptr)
{
    // Before the form: building it already changes the content page.
    migration = new MigrationWatch(this);
    setWindowFlags(Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->b2->hide();
    ui->b3->hide();

    connect(ui->choosePC, &ChoosePC::pcTypeSelected, this, &MainWindow::pcTypeChanged);

    // Transfer and Done may come from worker threads: automatic connections queue them.
    newPCPage = new NewPCConnectPage();
    ui->content->addWidget(newPCPage);
    connect(newPCPage, &NewPCConnectPage::Transfer, this, &MainWindow::hideBottom, Qt::AutoConnection);
    // Watched first: the end is handled before the failure box waits for the user.
    migration->watchReceiver(newPCPage);
    connect(newPCPage, &NewPCConnectPage::Done, this, &MainWindow::done, Qt::AutoConnection);

    oldPCPage = new OldPCConnectPage();
    ui->content->addWidget(oldPCPage);
    connect(oldPCPage, &OldPCConnectPage::Transfer, this, &MainWindow::hideBottom, Qt::AutoConnection);
    migration->watchSender(oldPCPage);
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
    fitWindowSoon(this);
}

void MainWindow::done(int code)
{
    if (code == toInt(DoneCode::ConnectionFailed) && !failureBoxOpen) {
        failureBoxOpen = true;
        QMessageBox box(QMessageBox::Warning, tr("提示"), tr("连接断开!"));
        box.addButton(tr("确定"), QMessageBox::AcceptRole);
        box.exec();
        failureBoxOpen = false;
    }
    ui->bottomContent->setCurrentIndex(toInt(BottomBar::Finished));
    ui->bottomContent->show();
    ui->transferAgainBtn->setVisible(code == toInt(DoneCode::SenderFinished));
    // The end bar takes room of its own: the page keeps what it asked for.
    fitWindowSoon(this);
}

void MainWindow::on_nextBtn_clicked()
{
    ui->content->setCurrentIndex(toInt(rolePage(pcType)));
}

void MainWindow::on_backBtn_clicked()
{
    // Only a role page shows this button, and it always leads back to the chooser.
    if (ui->content->currentIndex() != toInt(WizardPage::Chooser))
        ui->content->setCurrentIndex(toInt(WizardPage::Chooser));
}

void MainWindow::on_homeBtn_clicked()
{
    ui->content->setCurrentIndex(toInt(WizardPage::Chooser));
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
    if (change.unload != PageChange::NoPage)
        migration->stopped();
    if (change.unload == toInt(WizardPage::Receiver))
        newPCPage->Unload();
    else if (change.unload == toInt(WizardPage::Sender))
        oldPCPage->Unload();

    if (ui->bottomContent->isHidden())
        ui->bottomContent->show();

    if (change.load == toInt(WizardPage::Receiver))
        newPCPage->Load();
    else if (change.load == toInt(WizardPage::Sender))
        oldPCPage->Load();
    ui->bottomContent->setCurrentIndex(change.bar);

    lastIndex = index;
}
