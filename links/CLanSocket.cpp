// The LAN link's TCP socket over POSIX sockets. Worker thread only.
#include "links/CLanSocket.h"

#include "links/LanDestination.h"
#include "links/WinSockErrors.h"
#include "res/ids_links.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <sys/eventfd.h>
#include <thread>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
std::atomic<int> g_connectTimeoutMs{20000};
std::atomic<int> g_heldBoundMs{static_cast<int>(PortIo::kHeldBound.count())};
std::atomic<int> g_keepIdleS{CLanSocket::kKeepIdleS};
std::atomic<int> g_keepIntervalS{CLanSocket::kKeepIntervalS};
std::atomic<int> g_keepCount{CLanSocket::kKeepCount};

int LastCode() { return WinSockCodeFromErrno(errno); }

bool SetNonBlocking(int fd, bool on) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    return fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

// True when cancelFd (if any) is readable.
bool Cancelled(int cancelFd) {
    if (cancelFd < 0) return false;
    pollfd p{cancelFd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// Waits for fd to become ready for events, or for cancelFd; ECANCELED, ETIMEDOUT or 0.
int WaitReady(int fd, short events, int cancelFd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return ETIMEDOUT;
        pollfd p[2] = {{fd, events, 0}, {cancelFd, POLLIN, 0}};
        const int n = ::poll(p, cancelFd >= 0 ? 2 : 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ETIMEDOUT;
        if (cancelFd >= 0 && p[1].revents) return ECANCELED;
        return 0;
    }
}

// A name lookup on a thread of its own, so that the worker can give it up at once;
// the thread finishes on its own and the state lives until both sides are done.
struct Lookup {
    int doneFd = ::eventfd(0, EFD_CLOEXEC);
    std::mutex mutex;
    int rc = EAI_FAIL;
    std::uint32_t address = 0;
    ~Lookup() { if (doneFd >= 0) ::close(doneFd); }
};

// 0 with the address, ECANCELED, or the lookup's own result code (negative: EAI_*).
int LookUp(const std::string& host, int cancelFd, std::uint32_t* address) {
    auto state = std::make_shared<Lookup>();
    if (state->doneFd < 0) return EAI_SYSTEM;
    std::thread([state, host] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* answer = nullptr;
        int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
        std::uint32_t a = 0;
        if (rc == 0 && answer) a = reinterpret_cast<sockaddr_in*>(answer->ai_addr)->sin_addr.s_addr;
        else if (rc == 0) rc = EAI_NODATA;
        if (answer) ::freeaddrinfo(answer);
        {
            std::lock_guard lock(state->mutex);
            state->rc = rc;
            state->address = a;
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t w = ::write(state->doneFd, &one, sizeof one);
    }).detach();
    const int wait = WaitReady(state->doneFd, POLLIN, cancelFd,
                               std::chrono::steady_clock::now() + std::chrono::hours(1));
    if (wait == ECANCELED) return ECANCELED;
    std::lock_guard lock(state->mutex);
    *address = state->address;
    return state->rc;
}

// A connect that gives up after timeoutMs; returns 0 or the errno of the failure.
int ConnectBounded(int fd, const sockaddr_in& remote, int timeoutMs, int cancelFd) {
    if (!SetNonBlocking(fd, true)) return errno;
    int err = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            err = WaitReady(fd, POLLOUT, cancelFd,
                            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
            if (err == 0) {
                socklen_t len = sizeof err;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            }
        }
    }
    // Blocking again until events are selected, as a freshly connected socket is.
    if (!SetNonBlocking(fd, false) && err == 0) err = errno;
    return err;
}
} // namespace

void CLanSocket::SetConnectTimeoutMs(int ms) { g_connectTimeoutMs = ms > 0 ? ms : 1; }
int CLanSocket::ConnectTimeoutMs() { return g_connectTimeoutMs; }
void CLanSocket::SetHeldBoundMs(int ms) { g_heldBoundMs = ms > 0 ? ms : static_cast<int>(PortIo::kHeldBound.count()); }
int CLanSocket::HeldBoundMs() { return g_heldBoundMs; }

void CLanSocket::SetKeepAliveForTest(int idleS, int intervalS, int count) {
    const bool reset = idleS <= 0 || intervalS <= 0 || count <= 0;
    g_keepIdleS = reset ? kKeepIdleS : idleS;
    g_keepIntervalS = reset ? kKeepIntervalS : intervalS;
    g_keepCount = reset ? kKeepCount : count;
}

bool CLanSocket::ApplyLinkOptions() {
    const int on = 1;
    const int idle = g_keepIdleS, interval = g_keepIntervalS, count = g_keepCount;
    // Commands are short lines the switch answers at once: never held back to be merged.
    // A dead peer is a link loss (ETIMEDOUT on the socket, reported as its close).
    const unsigned userTimeoutMs = static_cast<unsigned>(idle + interval * count) * 1000u;
    return ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 &&
           ::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 &&
           ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0 &&
           ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0 &&
           ::setsockopt(fd_, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs) == 0;
}

CLanSocket::CLanSocket(LanSocketOwner* owner) : owner_(owner) {}

CLanSocket::~CLanSocket() {
    if (fd_ >= 0) {
        owner_->StopEvents();
        ::close(fd_);
        fd_ = -1;
    }
}

bool CLanSocket::Open() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        owner_->SocketError(LastCode(), false);
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        owner_->SocketError(LastCode(), false);
        return false;
    }
    return true;
}

bool CLanSocket::Connect(const std::string& destination) {
    const LanDestination dest = ParseLanDestination(destination);
    bool ok = true;
    std::uint32_t address = 0;
    if (auto dotted = ParseDottedIPv4(dest.host)) {
        address = *dotted;
    } else {
        const int rc = LookUp(dest.host, cancelFd_, &address);
        if (rc == ECANCELED) return false;
        if (rc != 0) {
            owner_->SocketError(WinSockCodeFromLookup(rc), true);
            ok = false;
        }
    }

    if (ok) {
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(dest.port);
        remote.sin_addr.s_addr = address;
        const int err = fd_ >= 0 ? ConnectBounded(fd_, remote, g_connectTimeoutMs, cancelFd_) : EBADF;
        if (err == ECANCELED || Cancelled(cancelFd_)) return false;
        if (err != 0) {
            owner_->SocketError(WinSockCodeFromErrno(err), false);
            ok = false;
        } else {
            owner_->SocketConnected();
        }
    }

    if (!ok) {
        owner_->SocketMessageBox("Failed to establish TCP/IP connection...");
        owner_->SocketError(0, false);
        return false;
    }
    // The events come in as messages from now on; the socket no longer blocks.
    if (!ApplyLinkOptions() || !SetNonBlocking(fd_, true) || !owner_->SelectEvents(fd_)) {
        owner_->SocketError(LastCode(), false);
        owner_->SocketError(0, false);
    }
    return true;
}

std::pair<int, int> CLanSocket::ClassifyReadable() const {
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0) return {FD_READ, 0};
    char probe;
    const ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return {FD_CLOSE, 0};
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return {FD_CLOSE, LastCode()};
    return {FD_READ, 0};
}

void CLanSocket::OnSocketEvent(int event, int error) {
    if (error != 0) {
        owner_->SocketError(error, false);
        // A connection that failed stays readable for ever: it is closed rather than
        // left connected with nobody reading it.
        if (event == FD_CLOSE) Close();
        return;
    }
    switch (event) {
    case FD_READ: Read(); break;
    case FD_WRITE: ContinueSend(); break;
    case FD_OOB: ReadUrgent(); break;
    case FD_CLOSE: Close(); break;
    default: break;
    }
}

void CLanSocket::Read() {
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) waiting = 0;
    if (waiting > kMaxReadBlock) waiting = kMaxReadBlock;
    // The count stops at an urgent mark and stays 0 there although data follows it:
    // a read then takes what is there, or an empty block when nothing is.
    const bool counted = waiting > 0;
    if (!counted) waiting = kMinReadBlock;
    // Read straight into the block handed on: no buffer to clear and copy per read.
    auto block = std::make_unique<CDataBlock>(nullptr, waiting);
    ssize_t n = ::recv(fd_, block->data(), static_cast<std::size_t>(waiting), MSG_DONTWAIT);
    if (n < 0) {
        const int code = LastCode();
        if (code != WSAEWOULDBLOCK) {
            owner_->SocketError(code, true);
            return;
        }
        if (counted) return;
        n = 0;
    }
    block->Truncate(static_cast<std::int32_t>(n));
    owner_->SocketData(std::move(block));
}

bool CLanSocket::HasUrgentData() const {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLPRI, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLPRI);
}

void CLanSocket::ReadUrgent() {
    char byte = 0;
    const ssize_t n = ::recv(fd_, &byte, 1, MSG_OOB | MSG_DONTWAIT);
    if (n <= 0) {
        const int code = n < 0 ? LastCode() : 0;
        owner_->SocketMessageBox("Error");
        if (code != WSAEWOULDBLOCK) owner_->SocketError(code, false);
        return;
    }
    owner_->SocketUrgentData(std::make_unique<CDataBlock>(&byte, 1));
}

void CLanSocket::Send(DataBlockPtr block) {
    if (!block) return;
    queue_.push_back(std::move(block));
    if (!pending_) ContinueSend();
    else if (queuedBytes() > kMaxQueuedBytes) GiveUpQueue();
}

void CLanSocket::CheckHeld() {
    if (!pending_ || queue_.empty()) return;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - lastProgress_).count();
    if (waited >= g_heldBoundMs) {
        // Held this long, the lines would reach a switch whose state has moved on.
        GiveUpQueue();
    } else if (waited >= kHeldNoticeMs && !heldTold_) {
        heldTold_ = true;
        owner_->SocketOutputNotice(OutputNotice{OutputNotice::Kind::Held, {}});
    }
}

void CLanSocket::GiveUpQueue() {
    OutputNotice notice{OutputNotice::Kind::NotSent, {}};
    for (const DataBlockPtr& b : queue_) notice.lines.emplace_back(b->data(), static_cast<std::size_t>(b->length()));
    DropQueue();
    owner_->SocketOutputNotice(notice);
}

void CLanSocket::ContinueSend() {
    while (!queue_.empty()) {
        const CDataBlock& front = *queue_.front();
        const std::size_t total = static_cast<std::size_t>(front.length());
        if (sentOfFront_ >= total) {
            queue_.pop_front();
            sentOfFront_ = 0;
            continue;
        }
        const ssize_t n = ::send(fd_, front.data() + sentOfFront_, total - sentOfFront_, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = LastCode();
            if (code == WSAEWOULDBLOCK) {
                if (!pending_) {
                    lastProgress_ = std::chrono::steady_clock::now();
                    owner_->WatchWrite(true);
                }
                pending_ = true;
                if (queuedBytes() > kMaxQueuedBytes) GiveUpQueue();
                return;
            }
            owner_->SocketError(code, false);
            DropQueue();
            return;
        }
        sentOfFront_ += static_cast<std::size_t>(n);
        lastProgress_ = std::chrono::steady_clock::now();
    }
    if (pending_) owner_->WatchWrite(false);
    pending_ = false;
    if (heldTold_) {
        heldTold_ = false;
        owner_->SocketOutputNotice(OutputNotice{OutputNotice::Kind::Released, {}});
    }
}

void CLanSocket::DropQueue() {
    queue_.clear();
    sentOfFront_ = 0;
    if (pending_) owner_->WatchWrite(false);
    pending_ = false;
    heldTold_ = false;
}

std::size_t CLanSocket::queuedBytes() const {
    std::size_t n = 0;
    for (const auto& b : queue_) n += static_cast<std::size_t>(b->length());
    return n - sentOfFront_;
}

void CLanSocket::Close() {
    if (fd_ < 0) return;
    owner_->StopEvents();
    DropQueue();
    const int fd = fd_;
    // The number is forgotten even if close fails: it may be reused at once.
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        owner_->SocketError(LastCode(), false);
        return;
    }
    owner_->SocketClosed();
}
