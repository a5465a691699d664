// Sent and posted calls onto the GUI thread through Qt's queued invocation.
#include "app/GuiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

bool OnGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void SendToGui(const std::function<void()>& fn) {
    if (OnGuiThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&fn] { fn(); },
                              Qt::BlockingQueuedConnection);
}

void PostToGui(std::function<void()> fn, QObject* receiver) {
    QObject* ctx = receiver ? receiver : QCoreApplication::instance();
    if (!ctx) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(ctx, std::move(fn), Qt::QueuedConnection);
}
