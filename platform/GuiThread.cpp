// Sent and posted calls onto the GUI thread. The calls travel through a queue of our
// own under a mutex, and Qt only carries a bare wake-up to the GUI thread's
// dispatcher: the hand-over of what a call captured is then visible to the thread
// sanitizer, which cannot see through Qt's own (uninstrumented) event queue.
#include "platform/GuiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace {

class GuiDispatcher : public QObject {
    Q_OBJECT
public:
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };

    void push(std::function<void()> fn, QObject* receiver, std::shared_ptr<Done> done) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back({std::move(fn), QPointer<QObject>(receiver), receiver != nullptr,
                              std::move(done)});
        }
        QMetaObject::invokeMethod(this, "run", Qt::QueuedConnection);
    }

    Q_INVOKABLE void run() {
        for (;;) {
            Item item;
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) return;
                item = std::move(queue_.front());
                queue_.pop_front();
            }
            if (!item.hasReceiver || item.receiver) item.fn();
            item.fn = nullptr;  // captures are released on this thread, before the waker goes on
            if (item.done) {
                std::lock_guard lock(item.done->mutex);
                item.done->done = true;
                item.done->cv.notify_all();
            }
        }
    }

private:
    struct Item {
        std::function<void()> fn;
        QPointer<QObject> receiver;
        bool hasReceiver = false;
        std::shared_ptr<Done> done;
    };
    std::mutex mutex_;
    std::deque<Item> queue_;
};

GuiDispatcher* dispatcher() {
    static GuiDispatcher* instance = [] {
        auto* d = new GuiDispatcher;  // lives as long as the process
        if (QCoreApplication* app = QCoreApplication::instance()) d->moveToThread(app->thread());
        return d;
    }();
    return instance;
}

} // namespace

bool OnGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void SendToGui(const std::function<void()>& fn) {
    if (OnGuiThread()) {
        fn();
        return;
    }
    auto done = std::make_shared<GuiDispatcher::Done>();
    dispatcher()->push(fn, nullptr, done);
    std::unique_lock lock(done->mutex);
    done->cv.wait(lock, [&] { return done->done; });
}

void PostToGui(std::function<void()> fn, QObject* receiver) {
    if (!QCoreApplication::instance()) {
        fn();
        return;
    }
    dispatcher()->push(std::move(fn), receiver, nullptr);
}

#include "GuiThread.moc"
