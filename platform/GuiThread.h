// The one way a call crosses from one thread to another (Qt Core only, so a core
// without widgets and a runner without a display use it too).
//
// The rule: a worker thread reaches the GUI thread, and the GUI thread a worker that
// runs an event loop, only through this file. A "sent" call runs on the other thread
// while the caller waits (at once when the caller is on that thread); a "posted" one
// is queued and the caller goes on. Calls travel through a queue of our own under a
// mutex; Qt only carries a bare wake-up to the receiving thread's event loop, so the
// hand-over of what a call captured stays visible to the thread sanitizer.
//
// - SendToGui / PostToGui: plain reports that belong to nobody in particular.
// - ThreadLane: calls that belong to one worker, or to one attempt of it. Closing the
//   lane drops what is still queued on it (a late report from an ended worker never
//   runs), releases every sender waiting on it, and refuses later calls. A lane's calls
//   run in the order they were made; none is lost while it is open.
// - Two threads that send to each other (the GUI and the LAN worker) each own a lane,
//   and each names its own lane as the one to serve while it waits for the other's, so
//   neither blocks the other: a disconnect that waits for the worker never deadlocks.
#pragma once

#include <functional>
#include <memory>

class QObject;
class QThread;

bool OnGuiThread();
// Runs fn on the GUI thread and waits for it. Never call it from a thread that the
// GUI thread may be joining (a reader being closed): see the links' Close().
void SendToGui(const std::function<void()>& fn);
// Queues fn to run on the GUI thread in the context of receiver (dropped if
// receiver is destroyed first; nullptr: the application object).
void PostToGui(std::function<void()> fn, QObject* receiver = nullptr);

// Calls queued for one thread's event loop.
class ThreadLane {
public:
    ThreadLane();
    // Closes the lane.
    ~ThreadLane();
    ThreadLane(const ThreadLane&) = delete;
    ThreadLane& operator=(const ThreadLane&) = delete;

    // Calls run on thread (nullptr: the calling thread; OpenToGui: the GUI thread) from
    // now on. A lane that is open already is closed first, dropping what it held.
    void Open(QThread* thread = nullptr);
    void OpenToGui();
    // Drops the queued calls, releases waiting senders and refuses later calls.
    void Close();
    bool isOpen() const;

    // Runs fn on the lane's thread and waits for it; false when it did not run (the
    // lane is or became closed). While it waits, the calling thread runs the calls sent
    // to serving (a lane of its own), but never its posted ones.
    bool Send(std::function<void()> fn, ThreadLane* serving = nullptr);
    // Queues fn for the lane's event loop (dropped if receiver is destroyed first);
    // false when the lane is closed.
    bool Post(std::function<void()> fn, QObject* receiver = nullptr);
    // On the lane's thread: waits ms, running the calls sent to the lane meanwhile.
    void WaitServing(int ms);

    struct State;

private:
    std::shared_ptr<State> state_;
};
