#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "net/announcement.h"
#include "net/udpclient.h"

// The receiver's voice: broadcasts the 66-byte announcement to 255.255.255.255:43999 every 3 seconds on
// its own thread until stopped. stop() (and the destructor) wake the thread and join it.
class Announcer
{
public:
    Announcer();
    ~Announcer();
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    // Builds the announcement from the host name and getdistroname(), switches broadcasting on and starts
    // the thread. A running announcer is stopped first. target defaults to the broadcast address.
    void start(const char* target = "255.255.255.255");
    // The same with a given content, optionally sent from a given local address.
    void start(const Announcement& content, const char* target, const char* source = nullptr);
    // Wakes and joins the thread, then closes the socket and sets the state Closed.
    void stop();
    bool running() const;

    UDP::Client announcer;

private:
    void run();
    std::thread thread;
    std::mutex waitMutex;
    std::condition_variable wake;
    bool stopRequested = false;
    char datagram[Announcement::Size] {};
};

// This machine's announcement: its host name and getdistroname(), type 2.
Announcement localAnnouncement();

// Capability bits this process leaves out of what start() announces from now on, so a benchmark or test
// peer can play a receiver without an ability (0 announces them all again). Not offered to users.
void withholdCapabilities(uint32_t bits);
