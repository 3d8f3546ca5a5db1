#pragma once

#include <atomic>
#include <memory>
#include <string>

#include <QWidget>

#include "connect/receiver/receiverengine.h"
#include "connect/receiver/receiverevents.h"
#include "net/announcer.h"

namespace Ui {
class NewPCConnectPage;
}
namespace TCP {
class Server;
struct Client;
} // namespace TCP

// The receiver role: while loaded it listens on port 4399 and announces itself; its view walks through
// waiting, the pairing code, the transfer and the report. The migration runs on the server's service
// thread (ReceiverEngine) and reaches the widgets only through queued signals.
class NewPCConnectPage : public QWidget, private ReceiverEvents
{
    Q_OBJECT

public:
    explicit NewPCConnectPage(QWidget* parent = nullptr, const ReceiverLimits& limits = ReceiverLimits());
    ~NewPCConnectPage() override;

    void Load();
    void Unload();

    // Whether the last Load() got port 4399 (and so announces this computer).
    bool isListening() const { return listening; }
    bool isAnnouncing() const { return announcer.running(); }

    // The server's callback: one step of the migration for this client.
    static void OnConn(TCP::Client* client, void* page);
    void connected(TCP::Client* client);
    void transferDone(TCP::Client* client);

signals:
    void Transfer();
    void setCurrentIndex(int index);
    void Done(int code);

private slots:
    void on_view_currentChanged(int index);

private:
    void stopServer();

    // ReceiverEvents, called on the service thread.
    int shownPage() const override;
    void showPage(int index) override;
    void transferStarted() override;
    void stageChanged(int stage) override;
    void progressChanged(int percent) override;
    void itemChanged(const std::string& text) override;
    void workChanged(const std::string& text) override;
    void finished(int code) override;
    void wrongCodesChanged(int count) override;
    void codeChanged(const std::string& code) override;
    void totalsKnown(uint64_t files, uint64_t bytes) override;
    void bytesReceived(uint64_t bytes) override;
    void fileReceived() override;
    void packageInstalling(const std::string& name) override;
    void channelChanged(bool encrypted) override;
    void showPairingNote();

    Ui::NewPCConnectPage* ui;
    // The view's page, copied on the GUI thread for the service thread.
    std::atomic<int> viewIndex {0};
    // Set while the page stops its server: a connection cut by the stop is no failure to report.
    std::atomic<bool> stopping {false};
    // GUI thread only.
    bool loaded = false;
    bool listening = false;
    int wrongCodes = 0;
    std::unique_ptr<ReceiverEngine> engine;
    std::unique_ptr<TCP::Server> server;
    Announcer announcer;
};
