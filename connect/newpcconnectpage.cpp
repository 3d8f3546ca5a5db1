#include "connect/newpcconnectpage.h"

#include <QMetaObject>

#include "common/stages.h"
#include "common/widgets/cloneprogresswidget.h"
#include "common/widgets/pagefit.h"
#include "connect/pcpairpage.h"
#include "net/tcpserver.h"
#include "net/wire.h"
#include "transfer/transferpage.h"
#include "ui_newpcconnectpage.h"

NewPCConnectPage::NewPCConnectPage(QWidget* parent, const ReceiverLimits& limits)
    : QWidget(parent), ui(new Ui::NewPCConnectPage)
{
    ui->setupUi(this);
    ui->verticalLayout->setAlignment(Qt::AlignHCenter);
    // Drawn once: every connection of this run uses the same code.
    ui->page_2->setForNewPC();
    ReceiverEvents& events = *this;
    engine = std::make_unique<ReceiverEngine>(ui->page_2->code().toStdString(), events, limits);
    connect(this, &NewPCConnectPage::setCurrentIndex, ui->view, &QStackedWidget::setCurrentIndex);
    // The report page this view holds asks for far more room than any page the receiver shows.
    fitStackToCurrentPage(ui->view);
}

NewPCConnectPage::~NewPCConnectPage()
{
    stopServer();
    announcer.stop();
    delete ui;
}

void NewPCConnectPage::Load()
{
    emit ui->progressWidget->changeProgress(toInt(Stage::Pairing));
    stopServer();
    server = std::make_unique<TCP::Server>("0.0.0.0", Wire::TcpPort, Wire::ServerCapacity);
    listening = server->Listen(&NewPCConnectPage::OnConn, this, false);
    loaded = true;
    ui->page->showListenFailure(!listening);
    // Senders that hear this computer connect to port 4399: only announced when that is really this one.
    if (listening) {
        announcer.start();
    }
}

void NewPCConnectPage::stopServer()
{
    if (!server) {
        return;
    }
    stopping = true;
    // Before the join: an installation in progress must not hold the page until apt is done.
    engine->stop = true;
    server->Stop();
    server.reset();
    engine->stop = false;
    stopping = false;
}

void NewPCConnectPage::Unload()
{
    loaded = false;
    listening = false;
    stopServer();
    engine->reset();
    announcer.stop();
    wrongCodes = 0;
    showPairingNote();
    emit setCurrentIndex(toInt(ReceiverView::Waiting));
    // Page changes the service thread asked for may still be queued; this one must come last.
    QMetaObject::invokeMethod(
        this, [this] { emit setCurrentIndex(toInt(ReceiverView::Waiting)); }, Qt::QueuedConnection);
}

void NewPCConnectPage::OnConn(TCP::Client* client, void* page)
{
    static_cast<NewPCConnectPage*>(page)->connected(client);
}

void NewPCConnectPage::connected(TCP::Client* client)
{
    engine->connected(client);
}

void NewPCConnectPage::transferDone(TCP::Client* client)
{
    engine->transferDone(client);
}

void NewPCConnectPage::on_view_currentChanged(int index)
{
    viewIndex = index;
    // A sender has found this computer; nobody else needs to hear of it.
    if (index != toInt(ReceiverView::Waiting)) {
        announcer.stop();
    } else if (loaded && listening && !announcer.running()) {
        // Back to waiting (whoever brought up the code page went without a word): heard again.
        announcer.start();
    }
    showPairingNote();
}

void NewPCConnectPage::showPairingNote()
{
    const bool shown = wrongCodes > 0 && ui->view->currentIndex() == toInt(ReceiverView::Pairing);
    if (shown) {
        ui->pairingNote->setText(tr("已有 %1 次错误的配对码尝试").arg(wrongCodes));
    }
    ui->pairingNote->setVisible(shown);
}

int NewPCConnectPage::shownPage() const
{
    return viewIndex;
}

void NewPCConnectPage::showPage(int index)
{
    if (!stopping) {
        emit setCurrentIndex(index);
    }
}

void NewPCConnectPage::transferStarted()
{
    if (!stopping) {
        emit Transfer();
    }
}

void NewPCConnectPage::stageChanged(int stage)
{
    if (!stopping) {
        emit ui->progressWidget->changeProgress(stage);
    }
}

void NewPCConnectPage::progressChanged(int percent)
{
    if (!stopping) {
        TransferPage::callback(percent, ui->page_3);
    }
}

void NewPCConnectPage::itemChanged(const std::string& text)
{
    if (!stopping) {
        TransferPage::textCallback(text, ui->page_3);
    }
}

void NewPCConnectPage::workChanged(const std::string& text)
{
    if (!stopping) {
        emit ui->page_3->updateWorkText(QString::fromStdString(text));
    }
}

void NewPCConnectPage::finished(int code)
{
    ui->page_3->finishCounting();
    if (!stopping) {
        emit Done(code);
    }
}

void NewPCConnectPage::totalsKnown(uint64_t files, uint64_t bytes)
{
    ui->page_3->startCounting(files, bytes);
}

void NewPCConnectPage::bytesReceived(uint64_t bytes)
{
    ui->page_3->countBytes(bytes);
}

void NewPCConnectPage::fileReceived()
{
    ui->page_3->countFile();
}

void NewPCConnectPage::packageInstalling(const std::string& name)
{
    if (!stopping) {
        emit ui->page_3->updateInstallText(tr("正在安装：") + QString::fromStdString(name));
    }
}

void NewPCConnectPage::wrongCodesChanged(int count)
{
    QMetaObject::invokeMethod(
        this,
        [this, count] {
            wrongCodes = count;
            showPairingNote();
        },
        Qt::QueuedConnection);
}

void NewPCConnectPage::channelChanged(bool encrypted)
{
    QMetaObject::invokeMethod(
        this,
        [this, encrypted] {
            const QString text = encrypted ? tr("加密连接") : tr("未加密：对方为旧版本");
            ui->page_2->setChannelText(text);
            ui->page_3->setChannelText(text);
            ui->page_4->setChannelText(text);
        },
        Qt::QueuedConnection);
}

void NewPCConnectPage::codeChanged(const std::string& code)
{
    const QString text = QString::fromStdString(code);
    QMetaObject::invokeMethod(
        this, [this, text] { ui->page_2->code(text); }, Qt::QueuedConnection);
}
