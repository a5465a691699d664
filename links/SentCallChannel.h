// Sent messages between the GUI thread and the LAN worker: the caller waits until the
// call has run on the other thread, and while it waits it runs the calls sent to it, so
// two threads that send to each other never block each other. Either thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

class SentCallChannel {
public:
    enum Side { Gui = 0, Worker = 1 };

    // ctx lives on that side's thread and has an invokable drainSentCalls(int side)
    // that calls Drain: the channel wakes it through Qt with nothing else attached.
    void Open(Side side, QObject* ctx);
    // The side's thread stops taking calls: queued ones are dropped (not run) and later
    // sends to it return false at once.
    void Close(Side side);
    bool isOpen(Side side) const;

    // Runs fn on the other side's thread and waits for it; false when that side is closed.
    bool Send(Side from, std::function<void()> fn);
    // Queues fn to run on side's thread later; false when that side is closed.
    bool Post(Side to, std::function<void()> fn);
    // Runs the calls sent to side; called on its thread.
    void Drain(Side side);
    // Runs the calls posted to side; called on its thread, from its event loop.
    void DrainPosted(Side side);
    // Waits ms milliseconds on side's thread, running the calls sent to it meanwhile.
    void Wait(Side side, int ms);

private:
    struct Call {
        std::function<void()> fn;
        bool done = false;
        bool ran = false;
    };
    bool RunOne(Side side, std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<Call>> inbox_[2];
    std::deque<std::function<void()>> posted_[2];
    QObject* ctx_[2] = {nullptr, nullptr};
};
