// The LAN worker thread and its invisible socket window. CSocketThread's public calls
// run on the main thread; CSocketWnd and everything under it on the worker.
#include "links/CSocketThread.h"

#include "res/ids_links.h"

#include <QSocketNotifier>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
const char* const kWindowTitle = "Invisible socket window...";
}

// ---- CSocketWnd (worker thread) ----

CSocketWnd::CSocketWnd(SocketOwner* owner, ThreadLane* toOwner, ThreadLane* own, int cancelFd)
    : owner_(owner), toOwner_(toOwner), own_(own), cancelFd_(cancelFd) {
    setObjectName(QString::fromLatin1(kWindowTitle));
}

CSocketWnd::~CSocketWnd() {
    socket_.reset();  // closes a handle still open; its reports are no longer wanted
}

void CSocketWnd::SendToOwner(std::function<void(SocketOwner&)> fn) {
    SocketOwner* owner = owner_;
    toOwner_->Send([owner, fn = std::move(fn)] { fn(*owner); }, own_);
}

void CSocketWnd::OnOpen() {
    socket_ = std::make_unique<CLanSocket>(static_cast<LanSocketOwner*>(this));
    socket_->Open();
}

void CSocketWnd::OnConnect(const std::string& destination) {
    if (!socket_) socket_ = std::make_unique<CLanSocket>(static_cast<LanSocketOwner*>(this));
    socket_->SetCancelFd(cancelFd_);
    socket_->Connect(destination);
}

void CSocketWnd::OnClose() {
    if (socket_) socket_->Close();
}

void CSocketWnd::OnSend(DataBlockPtr block) {
    if (socket_) socket_->Send(std::move(block));
}

void CSocketWnd::OnSocketEvent(int fd, long lParam) {
    if (!socket_ || fd != socket_->handle()) return;
    socket_->OnSocketEvent(static_cast<int>(lParam & 0xFFFF), static_cast<int>((lParam >> 16) & 0xFFFF));
}

void CSocketWnd::OnData(DataBlockPtr block) {
    if (owner_->ReceivesOnWorker()) {
        owner_->OnSwmReceived(std::move(block));
        return;
    }
    auto holder = std::make_shared<DataBlockPtr>(std::move(block));
    SendToOwner([holder](SocketOwner& o) { o.OnSwmReceived(std::move(*holder)); });
}

void CSocketWnd::OnUrgentData(DataBlockPtr block) {
    auto holder = std::make_shared<DataBlockPtr>(std::move(block));
    SendToOwner([holder](SocketOwner& o) { o.OnSwmUrgentData(std::move(*holder)); });
}

void CSocketWnd::OnError(int code) {
    SendToOwner([code](SocketOwner& o) { o.OnSwmError(code); });
}

void CSocketWnd::OnConnected() {
    SendToOwner([](SocketOwner& o) { o.OnSwmConnected(); });
}

void CSocketWnd::OnClosed() {
    SendToOwner([](SocketOwner& o) { o.OnSwmClosed(); });
}

void CSocketWnd::OnEndThread() {
    // The loop ends once the current message returns; the window and its socket are
    // destroyed after it, never under a handler still on the stack.
    StopEvents();
    QThread::currentThread()->quit();
}

// Reports of the socket, turned into the window's own messages.
void CSocketWnd::SocketData(DataBlockPtr block) { OnData(std::move(block)); }
void CSocketWnd::SocketUrgentData(DataBlockPtr block) { OnUrgentData(std::move(block)); }
void CSocketWnd::SocketConnected() { OnConnected(); }
void CSocketWnd::SocketClosed() { OnClosed(); }

void CSocketWnd::SocketError(int code, bool posted) {
    if (posted) {
        QMetaObject::invokeMethod(this, "OnError", Qt::QueuedConnection, Q_ARG(int, code));
        return;
    }
    OnError(code);
}

void CSocketWnd::SocketMessageBox(const char* text) {
    // Widgets live on the main thread: the box is shown there while the worker waits.
    const std::string t = text;
    SendToOwner([t](SocketOwner& o) { o.OnSocketMessageBox(t.c_str()); });
}

bool CSocketWnd::SelectEvents(int fd) {
    StopEvents();
    readNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    oobNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Exception, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this, fd] {
        if (!socket_ || socket_->handle() != fd) return;
        const auto [event, error] = socket_->ClassifyReadable();
        OnSocketEvent(fd, static_cast<long>(event) | (static_cast<long>(error) << 16));
    });
    connect(oobNotifier_, &QSocketNotifier::activated, this, [this, fd] {
        if (socket_ && socket_->handle() == fd && socket_->HasUrgentData()) OnSocketEvent(fd, FD_OOB);
    });
    return true;
}

void CSocketWnd::StopEvents() {
    // Disabled now, because the handle is about to be closed and its number may be
    // reused at once; freed later, since this may run inside a notifier's own signal.
    for (QSocketNotifier** n : {&readNotifier_, &oobNotifier_, &writeNotifier_}) {
        if (!*n) continue;
        (*n)->setEnabled(false);
        (*n)->deleteLater();
        *n = nullptr;
    }
}

void CSocketWnd::WatchWrite(bool on) {
    if (!socket_ || socket_->handle() < 0) return;
    if (on && !writeNotifier_) {
        const int fd = socket_->handle();
        writeNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        connect(writeNotifier_, &QSocketNotifier::activated, this,
                [this, fd] { OnSocketEvent(fd, FD_WRITE); });
    } else if (!on && writeNotifier_) {
        // May be called from the notifier's own handler: disabled now, freed later.
        writeNotifier_->setEnabled(false);
        writeNotifier_->deleteLater();
        writeNotifier_ = nullptr;
    }
}

// ---- CSocketThread (main thread) ----

CSocketThread::CSocketThread(SocketOwner* owner) : owner_(owner) {
    cancelFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    mainLane_.Open();
}

CSocketThread::~CSocketThread() {
    if (isRunning()) {
        End();
        wait();
    }
    mainLane_.Close();
    if (cancelFd_ >= 0) ::close(cancelFd_);
}

bool CSocketThread::Start() {
    start();
    return isRunning() || isFinished();
}

void CSocketThread::run() {
    CSocketWnd wnd(owner_, &mainLane_, &workerLane_, cancelFd_);
    wnd_ = &wnd;
    workerLane_.Open();
    {
        std::lock_guard lock(readyMutex_);
        ready_ = true;
    }
    readyCv_.notify_all();
    exec();
    workerLane_.Close();
    wnd_ = nullptr;
}

void CSocketThread::Open() {
    {
        std::unique_lock lock(readyMutex_);
        readyCv_.wait(lock, [this] { return ready_; });
    }
    workerLane_.Send([this] { wnd_->OnOpen(); }, &mainLane_);
}

void CSocketThread::ConnectAsync(const std::string& destination) {
    workerLane_.Post([this, destination] {
        wnd_->OnConnect(destination);
        // Queued behind the reports the attempt posted (a failed lookup's error), so
        // that the owner hears them first.
        QMetaObject::invokeMethod(wnd_, [this] {
            SocketOwner* owner = owner_;
            mainLane_.Send([owner] { owner->OnConnectDone(); }, &workerLane_);
        }, Qt::QueuedConnection);
    });
}

void CSocketThread::CancelConnect() {
    const std::uint64_t one = 1;
    if (cancelFd_ >= 0) [[maybe_unused]] const ssize_t n = ::write(cancelFd_, &one, sizeof one);
}

void CSocketThread::Connect(const std::string& destination) {
    workerLane_.Send([this, &destination] { wnd_->OnConnect(destination); }, &mainLane_);
}

int CSocketThread::Write(const char* bytes, int length) {
    if (!bytes || length <= 0) return 1;
    if (QThread::currentThread() == this) {
        // On the worker (a reply while a block is decoded): straight to the socket, in order.
        if (wnd_) wnd_->OnSend(std::make_unique<CDataBlock>(bytes, length));
        return 1;
    }
    for (int offset = 0; offset < length; offset += kMaxBlock) {
        const int n = std::min(kMaxBlock, length - offset);
        auto holder = std::make_shared<DataBlockPtr>(std::make_unique<CDataBlock>(bytes + offset, n));
        // Posted, not sent: the worker may be waiting for this thread (the password
        // dialog whose answer this is), and a socket must never hold the GUI thread.
        workerLane_.Post([this, holder] { wnd_->OnSend(std::move(*holder)); });
    }
    return 1;
}

void CSocketThread::Close() {
    workerLane_.Post([this] { wnd_->OnClose(); });
}

void CSocketThread::End() {
    workerLane_.Send([this] { wnd_->OnEndThread(); }, &mainLane_);
}

void CSocketThread::WaitServing(int ms) { mainLane_.WaitServing(ms); }
