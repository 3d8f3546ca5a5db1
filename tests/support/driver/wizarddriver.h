#pragma once

#include <cstdio>

#include <functional>
#include <string>

#include <QList>
#include <QString>
#include <QStringList>

class MainWindow;
class NewPCConnectPage;
class OldPCConnectPage;
class QApplication;
class QWidget;

// Lines from a descriptor, read without stdio buffering that a socket notifier would not see.
class LineReader
{
public:
    explicit LineReader(int fd);
    // Reads what is available (waiting for it when nothing is); false at the end of the input.
    bool fill();
    // The next complete line, when one is buffered.
    bool next(std::string& line);

private:
    int fd;
    std::string pending;
};

// Where replies go (standard output when never set). A benchmark sends the program's own console lines
// elsewhere, so that its reader wakes for replies only, not for every file.
void setReplyStream(std::FILE* stream);

// Start-up of a peer program, before any thread exists: a network namespace of its own, or the one at
// joinPath (a computer that keeps its network after its program died), then "ready" and the line
// "go <address/prefix> <device>" (or "go keep" for a joined namespace that is set up already).
// Returns 0, or the exit status to end with after an "error ..." reply.
int enterPeerNetwork(const std::string& marker, LineReader& input, const char* joinPath);

// The wizard of one computer, worked through its widgets as a user would. Every wait gives up after the
// step timeout with the reply "error timed out waiting for ..."; the other failures reply "error ..." too,
// so a caller replies only on success.
class WizardDriver
{
public:
    WizardDriver(std::string role, std::string marker, int stepTimeoutMs);
    ~WizardDriver();
    WizardDriver(const WizardDriver&) = delete;
    WizardDriver& operator=(const WizardDriver&) = delete;

    // One reply line, marked so that the harness tells it from the program's own output.
    void reply(const std::string& text) const;

    // Runs the event loop as the application would (blocked in poll until something happens), checking the
    // condition every few milliseconds. timeoutMs 0 means the step timeout.
    bool waitFor(const std::function<bool()>& condition, const std::string& what, int timeoutMs = 0);

    MainWindow& window() { return *mainWindow; }
    NewPCConnectPage* receiverPage() const { return newPage; }
    OldPCConnectPage* senderPage() const { return oldPage; }
    // Done codes of the role pages, in the order the wizard handled them.
    const QList<int>& receiverEnds() const { return receiverDone; }
    const QList<int>& senderEnds() const { return senderDone; }

    // Picks this driver's role on the chooser and presses Next; true when the role page shows.
    bool chooseRole();
    bool waitForCards(int count);
    // "host@address" of every receiver card.
    QStringList cards() const;
    // Clicks the first card; true when the pairing page shows.
    bool clickCard();
    // The six digits the receiver shows, once its pairing page is up.
    bool receiverCode(std::string& code);
    void typeDigits(const std::string& digits);
    // Types the code and waits for the selection page.
    bool typeCode(const std::string& code);
    // Checks the rows of the configuration list with these names and waits until their scans have ended.
    bool checkRows(const QStringList& names);
    // Waits until the selection page shows the figures of the finished scans.
    bool waitSelectionShown();
    // Presses "开始传输", confirms the box and waits until the transfer page shows. The box's title and text
    // go to confirmText.
    bool beginTransfer(QString* confirmText);
    // Waits until the sender's run that began after `endsBefore` Done codes has ended on the report page.
    bool waitReport(int endsBefore);
    bool waitReceiverEnd(int count);
    // "继续传输"; true when the selection page shows again.
    bool transferAgain();
    // "继续传输"; true when the pairing page shows.
    bool transferAgainToPairing();
    // Waits for a message box and presses its first button; its text goes to text.
    bool dismissMessage(QString& text);
    // "主页" on the end bar; true when the role chooser shows.
    bool goHome();
    // Which page each role page shows: the receiver's view, the sender's stack.
    int receiverView() const;
    int senderStack() const;
    bool saveShot(const QString& path);

    static QString label(QWidget* root, const char* name);

private:
    std::string role;
    std::string marker;
    int stepTimeoutMs;
    MainWindow* mainWindow;
    NewPCConnectPage* newPage = nullptr;
    OldPCConnectPage* oldPage = nullptr;
    QList<int> receiverDone;
    QList<int> senderDone;
};

// Runs the application, handing every line of input to handle() in turn; ends when the input ends or a
// handler quits the application. Lines that came with the start-up are handled first.
int runCommands(QApplication& app, LineReader& input, const std::function<void(const std::string&)>& handle);

std::string utf8(const QString& s);
