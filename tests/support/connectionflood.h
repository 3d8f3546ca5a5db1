#pragma once

#include <atomic>
#include <string>
#include <thread>

// Connections that never pair, from one address, held by a thread of their own: whenever the receiver
// closes one, another takes its place at once, as a host that wants to keep every place would do.
class ConnectionFlood
{
public:
    enum class Kind {
        Silent, // connects and says nothing
        OneByte, // sends one byte and then nothing
        WrongCodes, // sends a wrong code, and another after every answer
    };

    // target and source are dotted IPv4 addresses (source may be empty: the system picks it).
    ConnectionFlood(std::string target, std::string source, int count, Kind kind, std::string wrongCode = "000000");
    ~ConnectionFlood();
    ConnectionFlood(const ConnectionFlood&) = delete;
    ConnectionFlood& operator=(const ConnectionFlood&) = delete;

    void start();
    void stop();

    // Connections the receiver closed (each was opened again).
    int closedByReceiver() const { return closed; }
    // Connections that are established (accepted or waiting in the receiver's queue).
    int established() const { return open; }
    // Answers to wrong codes.
    int answers() const { return answered; }

private:
    void run();

    const std::string target;
    const std::string source;
    const int count;
    const Kind kind;
    const std::string wrongCode;
    std::atomic<bool> stopping {false};
    std::atomic<int> closed {0};
    std::atomic<int> open {0};
    std::atomic<int> answered {0};
    std::thread thread;
};
