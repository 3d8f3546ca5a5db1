#include "connect/oldpcconnectpage.h"

#include <cstdlib>
#include <utility>

#include <arpa/inet.h>

#include <QMessageBox>
#include <QPushButton>

#include "common/stages.h"
#include "common/widgets/cloneprogresswidget.h"
#include "common/widgets/pagefit.h"
#include "connect/sender/connectionwatch.h"
#include "connect/sender/planbuilder.h"
#include "connect/oldpcview.h"
#include "connect/pcpairpage.h"
#include "net/socket.h"
#include "net/capabilitymark.h"
#include "net/wire.h"
#include "report/log/reportcommands.h"
#include "report/resultpage.h"
#include "select/selectdataview.h"
#include "transfer/transferpage.h"
#include "ui_oldpcconnectpage.h"

namespace {

const char* const FramedStyle = "QStackedWidget#stackedWidget{    background-color: white;    border: 2px solid "
                                "#D1D1D1D1;    border-radius: 15px;    margin: auto auto;    }";
constexpr int WatchPeriodMs = 50;
constexpr std::size_t PairReplySize = 2;
// The pairing reply and the free-space report come at once from a receiver that works; a silent one is
// given up on after this.
constexpr int ReplyLimitMs = 10000;

std::optional<std::string> homeFolder()
{
    if (const char* value = std::getenv("HOME")) {
        return std::string(value);
    }
    return std::nullopt;
}

} // namespace

OldPCConnectPage::OldPCConnectPage(QWidget* parent)
    : QWidget(parent)
    , udpServer("0.0.0.0", Wire::UdpPort)
    , ui(new Ui::OldPCConnectPage)
    , listener(udpServer, hosts, hostsChanged)
{
    ui->setupUi(this);
    observer = std::make_unique<PageSendObserver>(this, ui->progressWidget, ui->page_4, ui->page_5);

    connect(ui->page, &OldPCView::pcItemSelected, this, &OldPCConnectPage::connectTo);
    connect(ui->page_2, &PCPairPage::codeReady, this, &OldPCConnectPage::tryPair);
    connect(ui->page_3, &SelectDataView::Transfer, this, &OldPCConnectPage::sendFiles);
    connect(this, &OldPCConnectPage::setCurrentIndex, ui->stackedWidget, &QStackedWidget::setCurrentIndex);
    connect(this, &OldPCConnectPage::showPasswordMsgBox, this, &OldPCConnectPage::passwordMsgBox);
    connect(&watchTimer, &QTimer::timeout, this, &OldPCConnectPage::watch);
    connect(&connector, &ReceiverConnector::finished, this, &OldPCConnectPage::connectFinished);
    connect(&messageWait, &MessageWait::arrived, this, &OldPCConnectPage::messageArrived);
    connect(&messageWait, &MessageWait::failed, this, &OldPCConnectPage::messageFailed);
    connect(ui->page_5, &ResultPage::retryFailedRequested, this, &OldPCConnectPage::retryFailed);

    ui->page_2->setForOldPC();
    // The digits go to the pairing page by focus, not by a keyboard grab that would hold every other
    // window's keys too.
    ui->page_2->setFocusPolicy(Qt::StrongFocus);
    emit ui->progressWidget->changeProgress(toInt(Stage::Pairing));
    // The selection page is far wider than the others; the window widens only while it shows.
    fitStackToCurrentPage(ui->stackedWidget);
}

OldPCConnectPage::~OldPCConnectPage()
{
    // The run and the listener read this page and its widgets: both end before anything is freed.
    worker.stop();
    listener.stop();
    watchTimer.stop();
    connector.cancel();
    messageWait.cancel();
    client.Close();
    delete ui;
}

OldPCView* OldPCConnectPage::GetOldPCView()
{
    return ui->page;
}

void OldPCConnectPage::Load()
{
    watchTimer.start(WatchPeriodMs);
    emit ui->progressWidget->changeProgress(toInt(Stage::Pairing));
    connecting = false;
    listener.start();
}

void OldPCConnectPage::Unload()
{
    watchTimer.stop();
    connector.cancel();
    messageWait.cancel();
    awaiting = Awaiting::Nothing;
    handshake.reset();
    resumeSecret.reset();
    ui->page_2->setEnabled(true);
    if (connecting) {
        connecting = false;
        unsetCursor();
    }
    paired = false;
    listener.stop();
    worker.stop();
    // A run stopped half-way says nothing more; its figures stop here.
    ui->page_4->finishCounting();
    client.Close();
    ui->page_2->clearFocus();
    emit setCurrentIndex(toInt(SenderView::List));
    emit ui->progressWidget->changeProgress(toInt(Stage::Pairing));
    ui->page_5->Clear();
    observer->forget();
    sentKinds.clear();
    pendingRetry.reset();
}

void OldPCConnectPage::watch()
{
    if (paired) {
        if (!worker.running() && awaiting == Awaiting::Nothing && connectionLost(client)) {
            watchTimer.stop();
            connectionBroken();
        }
        return;
    }
    // While a click on a card is being handled (its failure box runs a nested event loop) the cards stay.
    if (connecting) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (hostsChanged && GetOldPCView()->TryUpdateView(hosts)) {
        hostsChanged = false;
    }
}

void OldPCConnectPage::connectTo(PCItemInfo info)
{
    if (connecting || worker.running()) {
        return;
    }
    connecting = true;
    setCursor(Qt::BusyCursor);

    info.address.sin_port = htons(Wire::TcpPort);
    pendingTarget = info;
    client = TCP::Client(info.address);
    // A receiver that still knows this sender sends its free space at once; a restarted one (or one whose
    // user went home) waits for the code instead. The connector tells which, without blocking the window.
    // After a secure pairing the reconnect proves the secret from it instead of relying on the address.
    const bool marked = (info.capabilities & CapabilityMark::Secure) != 0;
    const bool resumable = paired && (!marked || resumeSecret);
    connector.start(client, resumable, marked ? resumeSecret : std::nullopt);
}

void OldPCConnectPage::connectFinished(int outcome)
{
    unsetCursor();
    const PCItemInfo info = pendingTarget;
    if (outcome == ReceiverConnector::Failed) {
        pendingRetry.reset();
        emit ui->page_4->updateText(tr("连接中断"));
        // The cards stay while the failure box is open.
        emit Done(toInt(DoneCode::ConnectionFailed));
        connecting = false;
        return;
    }
    if (outcome == ReceiverConnector::Known) {
        showChannel(client.secured());
        Paired();
    } else {
        paired = false;
        showChannel((info.capabilities & CapabilityMark::Secure) != 0);
        ui->page_2->setForOldPC();
        listener.stop();
        emit setCurrentIndex(toInt(SenderView::Pairing));
        ui->page_2->setFocus(Qt::OtherFocusReason);
        ui->page_3->setTargetInfo(info.type, QString::fromStdString(info.distro));
        removeWorkingReportFiles();
    }
    lastTarget = info;
    ui->page_3->setEntriesWanted((info.capabilities & CapabilityMark::Entries) != 0);
    connecting = false;
}

void OldPCConnectPage::tryPair(QString code)
{
    // One code at a time: the digits typed while the receiver answers wait for its answer.
    if (awaiting != Awaiting::Nothing) {
        return;
    }
    listener.stop();
    const QByteArray bytes = code.toUtf8();
    if (secureTarget()) {
        // The code never crosses the wire: it keys the handshake, whose opening no code can be taken for.
        handshake = std::make_unique<SecureHandshake>(SecureHandshake::Role::Initiator, bytes);
        const QByteArray opening = handshake->start();
        if (opening.isEmpty()
            || client.SendUnkeyed(opening.constData(), static_cast<unsigned long>(opening.size()), true) < 0
            || client.state != TCP::Connected) {
            handshake.reset();
            client.Close();
            connectionBroken();
            return;
        }
        ui->page_2->setEnabled(false);
        setCursor(Qt::BusyCursor);
        awaiting = Awaiting::SecureReplyStart;
        messageWait.expect(client, 1, ReplyLimitMs);
        return;
    }
    if (!Wire::sendCode(client, bytes.toStdString())) {
        connectionBroken();
        return;
    }
    ui->page_2->setEnabled(false);
    setCursor(Qt::BusyCursor);
    awaiting = Awaiting::PairReply;
    messageWait.expect(client, PairReplySize, ReplyLimitMs);
}

void OldPCConnectPage::pairReplyArrived(const QByteArray& reply)
{
    ui->page_2->setEnabled(true);
    unsetCursor();
    // "S0" pairs; any other pair of bytes is a wrong code, after which the user erases and types again.
    if (reply.size() != int(PairReplySize) || reply[1] != '0') {
        ui->page_2->setFocus(Qt::OtherFocusReason);
        return;
    }
    const QByteArray key = ui->page_2->code().toUtf8();
    client.key.assign(key.begin(), key.end());
    ui->page_2->clearFocus();
    paired = true;
    Paired();
}

bool OldPCConnectPage::secureTarget() const
{
    return (lastTarget.capabilities & CapabilityMark::Secure) != 0;
}

void OldPCConnectPage::secureReplyArrived(const QByteArray& bytes, bool complete)
{
    const QByteArray out = handshake->feed(bytes);
    if (handshake->state() == SecureHandshake::State::Running && !complete) {
        // The first byte is a secure reply's: the rest of it.
        awaiting = Awaiting::SecureReply;
        messageWait.expect(client, SecureHandshake::ReplyBytes - 1, ReplyLimitMs);
        return;
    }
    if (!out.isEmpty()) {
        client.SendUnkeyed(out.constData(), static_cast<unsigned long>(out.size()), true);
    }
    ui->page_2->setEnabled(true);
    unsetCursor();
    const SecureHandshake::State state = handshake->state();
    const SecureHandshake::Failure failure = handshake->failure();
    if (state == SecureHandshake::State::Done && client.state == TCP::Connected) {
        const SessionKeys keys = handshake->keys();
        const QByteArray excess = handshake->takeExcess();
        handshake.reset();
        if (!client.Secure(keys, excess.constData(), static_cast<std::size_t>(excess.size()))) {
            watchTimer.stop();
            connectionBroken();
            return;
        }
        resumeSecret = keys.resume;
        ui->page_2->clearFocus();
        paired = true;
        Paired();
        return;
    }
    handshake.reset();
    if (state == SecureHandshake::State::Failed && failure == SecureHandshake::Failure::WrongCode
        && client.state == TCP::Connected) {
        // As after "S1": the user erases and types again, on this connection.
        ui->page_2->setFocus(Qt::OtherFocusReason);
        return;
    }
    // A receiver that offered the secure channel and answers otherwise ("S0", "S1" in plain) is not trusted.
    watchTimer.stop();
    client.Close();
    connectionBroken();
}

void OldPCConnectPage::Paired()
{
    listener.stop();
    if (client.state != TCP::Connected) {
        watchTimer.stop();
        connectionBroken();
        return;
    }
    awaiting = Awaiting::FreeSpace;
    messageWait.expect(client, FreeSpaceMessage::Size, ReplyLimitMs);
}

void OldPCConnectPage::freeSpaceArrived(QByteArray bytes)
{
    if (!client.key.empty()) {
        Socket::applyKey(bytes.data(), static_cast<std::size_t>(bytes.size()), client.key);
    }
    if (pendingRetry) {
        // "重新发送失败项": no selection, the failed items go at once.
        SendPlan plan = std::move(*pendingRetry);
        pendingRetry.reset();
        emit Transfer();
        ui->page_3->updateDiskSize(FreeSpaceMessage::decode(bytes.constData()));
        startRun(std::move(plan));
        return;
    }
    // The selection opens with the receiver's disk already known.
    emit ui->progressWidget->changeProgress(toInt(Stage::Selection));
    emit setCurrentIndex(toInt(SenderView::Selection));
    emit Transfer();
    ui->page_3->updateDiskSize(FreeSpaceMessage::decode(bytes.constData()));
    ui->page_3->Clear();
    ui->page_3->ShowAll();
    // Also after "继续传输", when the timer was stopped by the previous run: a receiver that goes away while
    // the user selects is noticed at once.
    watchTimer.start(WatchPeriodMs);
}

void OldPCConnectPage::messageArrived(QByteArray bytes)
{
    const Awaiting what = awaiting;
    awaiting = Awaiting::Nothing;
    if (what == Awaiting::PairReply) {
        pairReplyArrived(bytes);
    } else if (what == Awaiting::SecureReplyStart || what == Awaiting::SecureReply) {
        secureReplyArrived(bytes, what == Awaiting::SecureReply);
    } else if (what == Awaiting::FreeSpace) {
        freeSpaceArrived(bytes);
    }
}

void OldPCConnectPage::messageFailed()
{
    awaiting = Awaiting::Nothing;
    handshake.reset();
    ui->page_2->setEnabled(true);
    unsetCursor();
    // Reported once: the watch would otherwise find the same lost connection again.
    watchTimer.stop();
    client.Close();
    connectionBroken();
}

void OldPCConnectPage::connectionBroken()
{
    pendingRetry.reset();
    ui->page_2->clearFocus();
    emit ui->page_4->updateText(tr("连接中断"));
    emit Done(toInt(DoneCode::ConnectionFailed));
}

void OldPCConnectPage::sendFiles(std::unordered_map<std::string, uint64_t>& fileMap,
    std::unordered_map<std::string, AppInfo>& appMap, uint64_t selectedFileSize)
{
    const EntryMap entries = ui->page_3->entrySnapshot();
    if ((fileMap.empty() && entries.empty() && appMap.empty()) || worker.running() || awaiting != Awaiting::Nothing) {
        return;
    }
    // The selection page's own files are borrowed for the run, anything else is copied.
    std::shared_ptr<const void> hold = ui->page_3->holdFiles(fileMap);
    startRun(makeSendPlan(
        fileMap, std::move(hold), entries, appMap, selectedFileSize, lastTarget.capabilities, homeFolder()));
}

void OldPCConnectPage::retryFailed()
{
    if (worker.running() || connecting || awaiting != Awaiting::Nothing) {
        return;
    }
    const PageSendObserver::FailedItems failed = observer->failedItems();
    if (failed.files.empty() && failed.apps.empty()) {
        return;
    }
    SendPlan plan;
    plan.entriesUnderstood = (lastTarget.capabilities & CapabilityMark::Entries) != 0;
    // Files first, then folders and links, as a selection's plan has them.
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& [path, size] : failed.files) {
            const auto known = sentKinds.find(path);
            const FileMeta::Kind kind = known == sentKinds.end() ? FileMeta::Kind::File : known->second;
            if ((kind == FileMeta::Kind::File) != (pass == 0)) {
                continue;
            }
            if (kind != FileMeta::Kind::File) {
                plan.entryKinds.emplace(path, kind);
            }
            plan.files.emplace_back(path, size);
            plan.selectedFileSize += size;
        }
    }
    plan.checkedApps = failed.apps;
    plan.appCount = failed.apps.size();
    plan.home = homeFolder();
    pendingRetry = std::move(plan);
    // The same way as "继续传输": a receiver that still knows this sender answers at once, a restarted one
    // asks for its code first.
    connectTo(lastTarget);
}

std::string OldPCConnectPage::receiverIdentity(const PCItemInfo& info)
{
    // The receiver's program has no lasting name of its own; its host name and its address are what a
    // restart (a new code) leaves unchanged, and another computer differs in at least one of them.
    char address[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &info.address.sin_addr, address, sizeof(address));
    return info.name + " " + address;
}

void OldPCConnectPage::startRun(SendPlan plan)
{
    watchTimer.stop();
    ui->page_5->SyncFile();
    emit ui->progressWidget->changeProgress(toInt(Stage::Transfer));
    emit setCurrentIndex(toInt(SenderView::Transfer));
    emit ui->page_4->updateWorkText(tr("正在发送数据..."));

    plan.receiverIdentity = receiverIdentity(lastTarget);
    // Only folders and links: every other path is a file, and a run may hold millions of them.
    for (const auto& [path, kind] : plan.entryKinds) {
        sentKinds[path] = kind;
    }
    observer->planned(plan.files.size(), plan.checkedApps.size());
    ui->page_4->showSkipped(0);
    ui->page_4->startCounting(plan.files.size(), plan.files.recordedBytes());
    worker.start(client, *observer, std::move(plan));
}

void OldPCConnectPage::showChannel(bool encrypted)
{
    const QString text = encrypted ? tr("加密连接") : tr("未加密：对方为旧版本");
    ui->page_2->setChannelText(text);
    ui->page_4->setChannelText(text);
    ui->page_5->setChannelText(text);
}

void OldPCConnectPage::passwordMsgBox()
{
    QMessageBox box(this);
    box.setWindowTitle(tr("应用安装"));
    box.setText(tr("需要在新电脑输入密码"));
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(tr("确定"));
    box.exec();
}

void OldPCConnectPage::on_stackedWidget_currentChanged(int index)
{
    setStyleSheet(index == toInt(SenderView::Selection) ? QString() : QString(FramedStyle));
}
