// The LAN link's TCP socket: open, connect, the read / out-of-band / close events, the
// send with its pending rest, and close. Runs on the LAN worker thread only; it reports
// through its owner (the socket window), which turns the reports into messages.
#pragma once

#include "links/CDataBlock.h"

#include <deque>
#include <string>
#include <utility>

class LanSocketOwner {
public:
    virtual ~LanSocketOwner() = default;
    virtual void SocketData(DataBlockPtr block) = 0;        // received bytes
    virtual void SocketUrgentData(DataBlockPtr block) = 0;  // one out-of-band byte
    // An error code (0: "an error happened"); posted ones reach the owner later.
    virtual void SocketError(int code, bool posted) = 0;
    virtual void SocketConnected() = 0;
    virtual void SocketClosed() = 0;
    virtual void SocketMessageBox(const char* text) = 0;
    // Asynchronous select: report read, out-of-band and close events on fd; false when
    // that cannot be arranged (errno set).
    virtual bool SelectEvents(int fd) = 0;
    // Stop all reports before the handle is closed.
    virtual void StopEvents() = 0;
    // Report write readiness while a send waits for room.
    virtual void WatchWrite(bool on) = 0;
};

class CLanSocket {
public:
    explicit CLanSocket(LanSocketOwner* owner);
    ~CLanSocket();  // closes a handle still open, without reports
    CLanSocket(const CLanSocket&) = delete;
    CLanSocket& operator=(const CLanSocket&) = delete;

    // An fd that becomes readable when the connect attempt is to be given up (-1: none).
    void SetCancelFd(int fd) { cancelFd_ = fd; }

    // Creates the stream socket and binds it to any local address, port 0.
    bool Open();
    // Connects to "host", "a.b.c.d" or either with ":port" (default 23), waiting at most
    // the connect bound; then asks for read, out-of-band and close events. An attempt
    // given up through the cancel fd fails without any report.
    bool Connect(const std::string& destination);
    // event: FD_READ, FD_WRITE, FD_OOB or FD_CLOSE; error: the code that came with it.
    void OnSocketEvent(int event, int error);
    // Queues the block behind any unsent rest and sends as much as the peer takes now.
    void Send(DataBlockPtr block);
    // Closes the handle and reports SWM_CLOSED; nothing when already closed.
    void Close();

    // What a readable handle means: {FD_READ, 0}, or {FD_CLOSE, error code} when the
    // peer has closed (0) or the connection failed.
    std::pair<int, int> ClassifyReadable() const;

    // True when out-of-band data is really waiting: the exception notice also comes on
    // hang-up and error, which the read path reports.
    bool HasUrgentData() const;

    int handle() const { return fd_; }
    bool sendPending() const { return pending_; }
    std::size_t queuedBytes() const;

    // Upper bound of a connect attempt, name lookup excluded.
    static void SetConnectTimeoutMs(int ms);
    static int ConnectTimeoutMs();
    // A read event takes at most this much, so one block never holds the receiver long;
    // the rest is reported by the next read event.
    static constexpr int kMaxReadBlock = 64 * 1024;
    static constexpr int kMinReadBlock = 4096;

private:
    void Read();
    void ReadUrgent();
    void ContinueSend();
    void DropQueue();

    LanSocketOwner* owner_;
    int fd_ = -1;
    int cancelFd_ = -1;
    // Blocks not yet fully sent; the first one has sentOfFront_ bytes gone already.
    std::deque<DataBlockPtr> queue_;
    std::size_t sentOfFront_ = 0;
    bool pending_ = false;
};
