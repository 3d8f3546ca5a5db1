#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include <QTimer>
#include <QWidget>

#include "connect/pagesendobserver.h"
#include "connect/sender/messagewait.h"
#include "connect/sender/receiverconnector.h"
#include "connect/sender/sendworker.h"
#include "net/discoverylistener.h"
#include "net/hosttable.h"
#include "net/pciteminfo.h"
#include "net/secure/securehandshake.h"
#include "net/secure/sessionkeys.h"
#include "net/tcpclient.h"
#include "net/udpserver.h"
#include "select/model/appinfo.h"

namespace Ui {
class OldPCConnectPage;
}
class OldPCView;

// The whole sender role: the list of receivers heard on the network, connecting and pairing, the selection,
// the transfer run and the report, in one page stack.
class OldPCConnectPage : public QWidget
{
    Q_OBJECT

public:
    explicit OldPCConnectPage(QWidget* parent = nullptr);
    ~OldPCConnectPage() override;

    void Load();
    void Unload();
    OldPCView* GetOldPCView();

    // The receiver of the latest successful connection; "继续传输" connects to it again.
    PCItemInfo lastTarget;
    bool hostsChanged = false;
    bool paired = false;
    std::unordered_map<unsigned, PCItemInfo> hosts;
    TCP::Client client;
    UDP::Server udpServer;

public slots:
    void connectTo(PCItemInfo info);
    void tryPair(QString code);
    void sendFiles(std::unordered_map<std::string, uint64_t>& fileMap, std::unordered_map<std::string, AppInfo>& appMap,
        uint64_t selectedFileSize);
    void passwordMsgBox();
    // "重新发送失败项": connects to the receiver again as "继续传输" does and sends only what failed.
    void retryFailed();

signals:
    void Transfer();
    void setCurrentIndex(int index);
    void Done(int code);
    void showPasswordMsgBox();

private slots:
    void on_stackedWidget_currentChanged(int index);
    void watch();
    void connectFinished(int outcome);
    void messageArrived(QByteArray bytes);
    void messageFailed();

private:
    // SecureReplyStart: the first byte of the secure reply, which tells a plain answer at once.
    enum class Awaiting { Nothing, PairReply, SecureReplyStart, SecureReply, FreeSpace };

    void Paired();
    void pairReplyArrived(const QByteArray& reply);
    void secureReplyArrived(const QByteArray& bytes, bool complete);
    // The receiver announced the secure channel: pairing and "继续传输" go through it, never in plain.
    bool secureTarget() const;
    // Tells the pairing and transfer pages whether the connection is encrypted.
    void showChannel(bool encrypted);
    void freeSpaceArrived(QByteArray bytes);
    void connectionBroken();
    // Shows the transfer page and starts the run (the selection's or the failed items').
    void startRun(SendPlan plan);
    // The resume ledger's name for the receiver.
    static std::string receiverIdentity(const PCItemInfo& info);
    Ui::OldPCConnectPage* ui;
    QTimer watchTimer;
    bool connecting = false;
    // The receiver being connected to until the connector has finished.
    PCItemInfo pendingTarget;
    ReceiverConnector connector;
    // The receiver's answers, read without blocking the window.
    MessageWait messageWait;
    Awaiting awaiting = Awaiting::Nothing;
    // The secure pairing running with the receiver, and the secret a reconnect within the window proves.
    std::unique_ptr<SecureHandshake> handshake;
    std::optional<SessionKeys::Key> resumeSecret;
    std::unique_ptr<PageSendObserver> observer;
    // The run "重新发送失败项" starts once the receiver has answered again.
    std::optional<SendPlan> pendingRetry;
    // The folders and links sent on this connection: a failed one goes again as one.
    std::unordered_map<std::string, FileMeta::Kind> sentKinds;
    // Fills hosts on its own thread while the list is shown.
    DiscoveryListener listener;
    // Declared last: destroyed (and joined) first, before anything the run reaches.
    SendWorker worker;
};
