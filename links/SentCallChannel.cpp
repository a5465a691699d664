// Sent calls between two threads, with the waiting thread serving its own inbox.
#include "links/SentCallChannel.h"

#include <QMetaObject>
#include <QObject>

#include <chrono>

void SentCallChannel::Open(Side side, QObject* ctx) {
    std::lock_guard lock(mutex_);
    ctx_[side] = ctx;
}

void SentCallChannel::Close(Side side) {
    std::deque<std::shared_ptr<Call>> dropped;
    std::deque<std::function<void()>> droppedPosts;
    {
        std::lock_guard lock(mutex_);
        ctx_[side] = nullptr;
        dropped.swap(inbox_[side]);
        droppedPosts.swap(posted_[side]);
        for (auto& c : dropped) c->done = true;
    }
    cv_.notify_all();
    // The dropped calls' captures (blocks being handed over) are freed here, unlocked.
}

bool SentCallChannel::isOpen(Side side) const {
    std::lock_guard lock(mutex_);
    return ctx_[side] != nullptr;
}

bool SentCallChannel::RunOne(Side side, std::unique_lock<std::mutex>& lock) {
    if (inbox_[side].empty()) return false;
    std::shared_ptr<Call> call = inbox_[side].front();
    inbox_[side].pop_front();
    lock.unlock();
    call->fn();
    call->fn = nullptr;
    lock.lock();
    call->ran = true;
    call->done = true;
    cv_.notify_all();
    return true;
}

bool SentCallChannel::Send(Side from, std::function<void()> fn) {
    const Side to = from == Gui ? Worker : Gui;
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    std::unique_lock lock(mutex_);
    if (!ctx_[to]) return false;
    inbox_[to].push_back(call);
    // Posting under the lock: the context cannot be destroyed before Close(to) runs.
    // Only a bare wake-up goes through Qt; the call itself travels in our inbox.
    QMetaObject::invokeMethod(ctx_[to], "drainSentCalls", Qt::QueuedConnection, Q_ARG(int, to));
    cv_.notify_all();
    while (!call->done) {
        if (!RunOne(from, lock)) cv_.wait(lock);
    }
    return call->ran;
}

bool SentCallChannel::Post(Side to, std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    if (!ctx_[to]) return false;
    posted_[to].push_back(std::move(fn));
    QMetaObject::invokeMethod(ctx_[to], "drainSentCalls", Qt::QueuedConnection, Q_ARG(int, to));
    return true;
}

void SentCallChannel::DrainPosted(Side side) {
    // Posted calls run from the thread's event loop only, never inside a sent call's
    // wait, so that a posted close cannot cut into a call being served.
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mutex_);
            if (posted_[side].empty()) return;
            fn = std::move(posted_[side].front());
            posted_[side].pop_front();
        }
        fn();
    }
}

void SentCallChannel::Drain(Side side) {
    std::unique_lock lock(mutex_);
    while (RunOne(side, lock)) {
    }
}

void SentCallChannel::Wait(Side side, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock lock(mutex_);
    for (;;) {
        while (RunOne(side, lock)) {
        }
        if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
            while (RunOne(side, lock)) {
            }
            return;
        }
    }
}
