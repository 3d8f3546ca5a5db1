#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// What a send run tells the world. The run calls it from its worker thread, so an implementation that
// shows anything must hand it over to the GUI thread (queued signals); tests record the calls.
class SendObserver
{
public:
    using TimePoint = std::chrono::system_clock::time_point;

    virtual ~SendObserver() = default;

    // The run begins; the report measures its total duration from here.
    virtual void runStarted(TimePoint start) = 0;
    // The item being worked on (a path, or a phase such as "正在处理中").
    virtual void currentItem(const std::string& text) = 0;
    // Percentage of the run done; called only when the value changes.
    virtual void progress(int percent) = 0;
    // The receiver is about to install applications and may ask for a password there.
    virtual void passwordNotice() = 0;
    // One file or application with its result code (0 is success).
    virtual void itemResult(int result, const std::string& name, uint64_t size, TimePoint start) = 0;
    // The run is over and the connection closed; every item has been reported.
    virtual void runFinished() = 0;
    // Content bytes of the run's files sent so far (files given up on count with their size); called
    // often, so it must be cheap.
    virtual void bytesSent(uint64_t bytes) { static_cast<void>(bytes); }
    // A file left out because the receiver confirmed it in an earlier run and it has not changed since.
    // Each comes once, after runStarted and before anything is sent; it never comes through itemResult.
    virtual void itemSkipped(const std::string& name, uint64_t size)
    {
        static_cast<void>(name);
        static_cast<void>(size);
    }
    // What the run will report through itemResult before the applications, once the skipped files are
    // known: entries (files, folders, links) and their recorded bytes.
    virtual void runPlanned(uint64_t files, uint64_t bytes)
    {
        static_cast<void>(files);
        static_cast<void>(bytes);
    }
};
