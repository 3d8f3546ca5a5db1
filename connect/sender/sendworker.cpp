#include "connect/sender/sendworker.h"

#include <utility>

#include "net/tcpclient.h"

SendWorker::~SendWorker()
{
    stop();
}

void SendWorker::start(TCP::Client& target, SendObserver& observer, SendPlan plan)
{
    join();
    client = &target;
    cancelled = false;
    active = true;
    thread = std::thread([this, &observer, plan = std::move(plan)] {
        SendSession session(*client, observer, cancelled);
        session.run(plan);
        active = false;
    });
}

void SendWorker::stop()
{
    if (!thread.joinable()) {
        return;
    }
    cancelled = true;
    if (client) {
        client->Shutdown();
    }
    join();
}

void SendWorker::join()
{
    if (thread.joinable()) {
        thread.join();
    }
    active = false;
}
