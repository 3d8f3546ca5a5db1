#pragma once

#include <cstdint>
#include <string>

// What the receiver engine tells its page. The engine runs on the server's service thread, so every
// call must reach the widgets queued; texts are UTF-8. Pages are ReceiverView values, stages Stage
// values and end codes DoneCode values (common/stages.h), passed as their numbers.
class ReceiverEvents
{
public:
    virtual ~ReceiverEvents() = default;

    // The page of the receiver's view the GUI thread shows now (a copy it keeps up to date).
    virtual int shownPage() const = 0;
    virtual void showPage(int index) = 0;
    virtual void transferStarted() = 0;
    virtual void stageChanged(int stage) = 0;
    virtual void progressChanged(int percent) = 0;
    virtual void itemChanged(const std::string& text) = 0;
    virtual void workChanged(const std::string& text) = 0;
    virtual void finished(int code) = 0;
    // Wrong codes tried against the code shown; 0 when there is nothing to tell (a new code).
    virtual void wrongCodesChanged(int count) { static_cast<void>(count); }
    // Too many wrong codes: this new code replaces the one shown.
    virtual void codeChanged(const std::string& code) { static_cast<void>(code); }
    // The transfer header came: files and bytes of the whole run (bytes include the applications' share).
    virtual void totalsKnown(uint64_t files, uint64_t bytes)
    {
        static_cast<void>(files);
        static_cast<void>(bytes);
    }
    // Content bytes taken so far in this run; called often, so it must be cheap.
    virtual void bytesReceived(uint64_t bytes) { static_cast<void>(bytes); }
    // One more file is done with, stored or not.
    virtual void fileReceived() { }
    // A sender paired or resumed: whether its connection travels encrypted (false: a protocol-only peer).
    virtual void channelChanged(bool encrypted) { static_cast<void>(encrypted); }
    // The installer works on this package now.
    virtual void packageInstalling(const std::string& name) { static_cast<void>(name); }
};
