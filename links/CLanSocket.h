// The LAN link's TCP socket: open, connect, the read / out-of-band / close events, the
// send with its pending rest, and close. Runs on the LAN worker thread only; it reports
// through its owner (the socket window), which turns the reports into messages.
#pragma once

#include "links/CDataBlock.h"
#include "links/PortIo.h"

#include <chrono>
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
    // Output the peer does not take: held (told once it has waited a while),
    // released, or given up with the writes that were waiting.
    virtual void SocketOutputNotice(const OutputNotice&) {}
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
    // A queue past kMaxQueuedBytes is given up whole (NotSent notice).
    void Send(DataBlockPtr block);
    // Called every so often while a send waits for room: tells held output once it has
    // made no progress for kHeldNoticeMs, and gives it up after the held bound.
    void CheckHeld();
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
    static constexpr int kMaxReadBlock = 256 * 1024;
    static constexpr int kMinReadBlock = 4096;

    // A peer that stops reading: the unsent bytes are bounded, and so is their wait.
    static constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;
    static constexpr int kHeldNoticeMs = 1000;
    static void SetHeldBoundMs(int ms);
    static int HeldBoundMs();  // default PortIo::kHeldBound, as on the serial link

    // Liveness of an idle connection whose peer vanished without a word (cable pulled,
    // NAT state lost): keepalive probes after kKeepIdleS idle seconds, every
    // kKeepIntervalS, kKeepCount unanswered ones end the connection; unacknowledged
    // data gives up after the same time. About a minute in all.
    static constexpr int kKeepIdleS = 30;
    static constexpr int kKeepIntervalS = 10;
    static constexpr int kKeepCount = 3;
    // For tests: shorter timings (seconds); 0 restores the defaults.
    static void SetKeepAliveForTest(int idleS, int intervalS, int count);

private:
    void Read();
    void ReadUrgent();
    void ContinueSend();
    void DropQueue();
    void GiveUpQueue();
    bool ApplyLinkOptions();

    LanSocketOwner* owner_;
    int fd_ = -1;
    int cancelFd_ = -1;
    // Blocks not yet fully sent; the first one has sentOfFront_ bytes gone already.
    std::deque<DataBlockPtr> queue_;
    std::size_t sentOfFront_ = 0;
    bool pending_ = false;
    bool heldTold_ = false;
    std::chrono::steady_clock::time_point lastProgress_{};
};
