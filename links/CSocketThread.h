// The LAN link's worker: CSocketThread runs an event loop of its own in which
// CSocketWnd, the invisible socket window, owns the CLanSocket and receives its events.
// The main thread drives it with the messages SWM_OPEN ... SWM_END_THREAD; the window
// reports to its owner (SWM_CONNECTED, SWM_CLOSED, SWM_RECEIVED ...) on the main thread.
#pragma once

#include "links/CDataBlock.h"
#include "links/CLanSocket.h"
#include "platform/GuiThread.h"

#include <QObject>
#include <QThread>

#include <condition_variable>
#include <mutex>
#include <string>

class QSocketNotifier;

// The window the worker reports to; every call arrives on the main thread, sent (the
// worker waits for it to return), except received blocks for an owner that takes them
// on the worker (ReceivesOnWorker), which then delivers them as a read thread does.
class SocketOwner {
public:
    virtual ~SocketOwner() = default;
    // True: OnSwmReceived is called on the worker thread, so that decoding a block never
    // holds the main thread.
    virtual bool ReceivesOnWorker() const { return false; }
    virtual void OnSwmConnected() = 0;                      // SWM_CONNECTED
    virtual void OnSwmClosed() = 0;                         // SWM_CLOSED
    virtual void OnSwmReceived(DataBlockPtr block) = 0;     // SWM_RECEIVED
    virtual void OnSwmUrgentData(DataBlockPtr block) = 0;   // SWM_URGENT_DATA
    virtual void OnSwmError(int code) = 0;                  // SWM_ERROR
    // A box the worker raises, shown on the main thread.
    virtual void OnSocketMessageBox(const char* text) = 0;
    // The connect attempt of ConnectAsync has ended, after its other reports.
    virtual void OnConnectDone() {}
};

// Lives on the worker thread; its handlers are the messages 700-711.
class CSocketWnd : public QObject, public LanSocketOwner {
    Q_OBJECT
public:
    // toOwner: the main thread's lane; own: the worker's, served while a report waits.
    CSocketWnd(SocketOwner* owner, ThreadLane* toOwner, ThreadLane* own, int cancelFd);
    ~CSocketWnd() override;

    void OnOpen();                                  // SWM_OPEN
    void OnConnect(const std::string& destination); // SWM_CONNECT
    void OnClose();                                 // SWM_CLOSE
    void OnSend(DataBlockPtr block);                // SWM_SEND
    void OnSocketEvent(int fd, long lParam);        // SWM_SOCKET_EVENT
    void OnData(DataBlockPtr block);                // SWM_DATA
    void OnUrgentData(DataBlockPtr block);          // SWM_URGENT_DATA
    Q_INVOKABLE void OnError(int code);             // SWM_ERROR
    void OnConnected();                             // SWM_CONNECTED
    void OnClosed();                                // SWM_CLOSED
    void OnEndThread();                             // SWM_END_THREAD

    CLanSocket* socket() const { return socket_.get(); }

private:
    void SocketData(DataBlockPtr block) override;
    void SocketUrgentData(DataBlockPtr block) override;
    void SocketError(int code, bool posted) override;
    void SocketConnected() override;
    void SocketClosed() override;
    void SocketMessageBox(const char* text) override;
    bool SelectEvents(int fd) override;
    void StopEvents() override;
    void WatchWrite(bool on) override;

    void SendToOwner(std::function<void(SocketOwner&)> fn);

    SocketOwner* owner_;
    ThreadLane* toOwner_;
    ThreadLane* own_;
    int cancelFd_;
    std::unique_ptr<CLanSocket> socket_;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* oobNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
};

class CSocketThread : public QThread {
    Q_OBJECT
public:
    // owner: the window the worker reports to; it must outlive this object.
    explicit CSocketThread(SocketOwner* owner);
    // Ends a worker that is still running and waits for it.
    ~CSocketThread() override;

    // Creates the worker thread; false when it cannot be created.
    bool Start();
    // Waits for the socket window to exist, then SWM_OPEN.
    void Open();
    // SWM_CONNECT; returns when the worker has finished trying.
    void Connect(const std::string& destination);
    // SWM_CONNECT without waiting: the main thread goes on, and the owner hears
    // OnConnectDone when the worker has finished trying (name lookup included).
    void ConnectAsync(const std::string& destination);
    // Gives up a connect attempt at once, without any report of it. Any thread.
    void CancelConnect();
    // SWM_SEND, in blocks of at most kMaxBlock bytes; longer writes are split in order.
    // Queued without waiting; on the worker itself (replies written while a block is
    // decoded) sent at once.
    int Write(const char* bytes, int length);
    // SWM_CLOSE, posted.
    void Close();
    // SWM_END_THREAD: the worker's loop ends and its socket is closed.
    void End();
    // Main thread waits ms, serving the worker's sent messages meanwhile.
    void WaitServing(int ms);

    static constexpr int kMaxBlock = 256;

protected:
    void run() override;

private:
    SocketOwner* owner_;
    // Sent messages run on the other thread while the sender serves its own lane, so the
    // two threads never block each other; posted ones wait for the event loop.
    ThreadLane mainLane_;    // calls the worker makes to the main thread
    ThreadLane workerLane_;  // calls the main thread makes to the worker
    CSocketWnd* wnd_ = nullptr;  // exists while the worker runs; touched on the worker only
    int cancelFd_ = -1;          // readable once the connect attempt is given up
    // The ready event: set once the socket window exists.
    std::mutex readyMutex_;
    std::condition_variable readyCv_;
    bool ready_ = false;
};
