// Calls between threads: lanes of our own under one mutex, woken through Qt.
#include "platform/GuiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// One mutex and one condition for every lane: a thread that waits for its call may
// have to wake for a call sent to its own lane as well.
std::mutex& Mutex() {
    static std::mutex m;
    return m;
}
std::condition_variable& Changed() {
    static std::condition_variable cv;
    return cv;
}

struct Call {
    std::function<void()> fn;
    QPointer<QObject> receiver;
    bool hasReceiver = false;
    bool sent = false;
    bool done = false;  // under Mutex()
    bool ran = false;   // under Mutex()
};

} // namespace

struct ThreadLane::State {
    QObject* waker = nullptr;  // exists while the lane is open; lives on thread
    QThread* thread = nullptr;
    std::deque<std::shared_ptr<Call>> queue;
};

namespace {

// Runs one call taken off its lane, then tells a sender it has run. The captures are
// released on this thread, before the sender goes on.
void Run(const std::shared_ptr<Call>& call, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    if (!call->hasReceiver || call->receiver) call->fn();
    call->fn = nullptr;
    lock.lock();
    call->ran = true;
    call->done = true;
    Changed().notify_all();
}

// Under the lock: runs the first sent call of a lane, if there is one.
bool RunOneSent(ThreadLane::State& state, std::unique_lock<std::mutex>& lock) {
    for (auto it = state.queue.begin(); it != state.queue.end(); ++it) {
        if (!(*it)->sent) continue;
        std::shared_ptr<Call> call = *it;
        state.queue.erase(it);
        Run(call, lock);
        return true;
    }
    return false;
}

// The lane's presence on its thread: the wake-up Qt delivers carries nothing.
class LaneWaker : public QObject {
    Q_OBJECT
public:
    explicit LaneWaker(std::weak_ptr<ThreadLane::State> state) : state_(std::move(state)) {}

    Q_INVOKABLE void drain() {
        std::unique_lock lock(Mutex());
        for (;;) {
            std::shared_ptr<ThreadLane::State> state = state_.lock();
            if (!state || state->waker != this || state->queue.empty()) return;
            std::shared_ptr<Call> call = state->queue.front();
            state->queue.pop_front();
            Run(call, lock);
        }
    }

private:
    std::weak_ptr<ThreadLane::State> state_;  // read under Mutex()
};

// Under the lock, while the waker exists (it is only deleted after the lane has let go).
void Wake(ThreadLane::State& state) {
    QMetaObject::invokeMethod(state.waker, "drain", Qt::QueuedConnection);
    Changed().notify_all();
}

ThreadLane& GuiLane() {
    static ThreadLane* lane = [] {
        auto* l = new ThreadLane;  // lives as long as the process
        l->OpenToGui();
        return l;
    }();
    return *lane;
}

} // namespace

ThreadLane::ThreadLane() : state_(std::make_shared<State>()) {}

ThreadLane::~ThreadLane() { Close(); }

void ThreadLane::Open(QThread* thread) {
    Close();
    if (!thread) thread = QThread::currentThread();
    auto* waker = new LaneWaker(state_);
    if (thread != QThread::currentThread()) waker->moveToThread(thread);
    std::lock_guard lock(Mutex());
    state_->waker = waker;
    state_->thread = thread;
}

void ThreadLane::OpenToGui() {
    QCoreApplication* app = QCoreApplication::instance();
    Open(app ? app->thread() : nullptr);
}

void ThreadLane::Close() {
    QObject* waker = nullptr;
    std::deque<std::shared_ptr<Call>> dropped;
    std::deque<std::function<void()>> captures;
    {
        std::lock_guard lock(Mutex());
        waker = state_->waker;
        state_->waker = nullptr;
        dropped.swap(state_->queue);
        for (auto& call : dropped) {
            captures.push_back(std::move(call->fn));
            call->done = true;
        }
        Changed().notify_all();
    }
    // Never deleted at once: Close may run inside one of the lane's own calls.
    if (waker) waker->deleteLater();
    // The dropped calls' captures (blocks being handed over) are freed here, unlocked.
}

bool ThreadLane::isOpen() const {
    std::lock_guard lock(Mutex());
    return state_->waker != nullptr;
}

bool ThreadLane::Send(std::function<void()> fn, ThreadLane* serving) {
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    call->sent = true;
    std::unique_lock lock(Mutex());
    if (!state_->waker) return false;
    if (state_->thread == QThread::currentThread()) {
        lock.unlock();
        call->fn();
        return true;
    }
    state_->queue.push_back(call);
    Wake(*state_);
    while (!call->done) {
        if (serving && RunOneSent(*serving->state_, lock)) continue;
        Changed().wait(lock);
    }
    return call->ran;
}

bool ThreadLane::Post(std::function<void()> fn, QObject* receiver) {
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    call->receiver = receiver;
    call->hasReceiver = receiver != nullptr;
    std::lock_guard lock(Mutex());
    if (!state_->waker) return false;
    state_->queue.push_back(std::move(call));
    Wake(*state_);
    return true;
}

void ThreadLane::WaitServing(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock lock(Mutex());
    for (;;) {
        while (RunOneSent(*state_, lock)) {
        }
        if (Changed().wait_until(lock, deadline) == std::cv_status::timeout) {
            while (RunOneSent(*state_, lock)) {
            }
            return;
        }
    }
}

bool OnGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void SendToGui(const std::function<void()>& fn) {
    if (OnGuiThread()) {
        fn();
        return;
    }
    GuiLane().Send(fn);
}

void PostToGui(std::function<void()> fn, QObject* receiver) {
    if (!QCoreApplication::instance()) {
        fn();
        return;
    }
    GuiLane().Post(std::move(fn), receiver);
}

#include "GuiThread.moc"
