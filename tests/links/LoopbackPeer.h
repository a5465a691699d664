// A TCP peer on 127.0.0.1 for the LAN link tests: accepts connections on a thread of
// its own and collects what it receives, or serves a test's own script per connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Sends all of bytes on fd; false when the connection fails.
inline bool SendAll(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

// A listening socket on 127.0.0.1, ephemeral port.
inline int ListenLoopback(int backlog, unsigned short* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, backlog);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

class LoopbackPeer {
public:
    // script runs on the peer's thread for each accepted connection; the default
    // collects everything received until the other side closes.
    using Script = std::function<void(LoopbackPeer&, int fd)>;

    explicit LoopbackPeer(Script script = {}, int rcvbuf = 0) : script_(std::move(script)), rcvbuf_(rcvbuf) {
        listenFd_ = ListenLoopback(16, &port_);
        if (rcvbuf_ > 0) setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf_, sizeof rcvbuf_);
        thread_ = std::thread([this] { Run(); });
    }
    ~LoopbackPeer() {
        stop_ = true;
        thread_.join();
        ::close(listenFd_);
    }

    unsigned short port() const { return port_; }
    std::string destination(const char* host = "127.0.0.1") const {
        return std::string(host) + ":" + std::to_string(port_);
    }
    int accepted() const { return accepted_; }
    std::string received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void clearReceived() {
        std::lock_guard lock(mutex_);
        received_.clear();
    }
    // The current connection's handle, or -1 (for a test that writes from its thread).
    int connection() const { return conn_; }
    bool peerClosed() const { return closedByOther_; }

    // Reads into received() until the other side closes or stop; slow: a few bytes at
    // a time with a pause, for a reader that keeps the sender waiting.
    void Collect(int fd, int chunk = 65536, int pauseUs = 0) {
        std::string buf(static_cast<size_t>(chunk), '\0');
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0) {
                closedByOther_ = true;
                return;
            }
            {
                std::lock_guard lock(mutex_);
                received_.append(buf.data(), static_cast<size_t>(n));
            }
            if (pauseUs) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        }
    }
    // Waits until received() holds at least n bytes (or ms pass).
    bool WaitReceived(size_t n, int ms) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (received().size() >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return received().size() >= n;
    }
    bool stopping() const { return stop_; }

private:
    void Run() {
        while (!stop_) {
            pollfd p{listenFd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            closedByOther_ = false;  // before the count, so that a waiter on both never sees the last close
            ++accepted_;
            conn_ = fd;
            if (script_) script_(*this, fd);
            else Collect(fd);
            conn_ = -1;
            ::close(fd);
        }
    }

    Script script_;
    int rcvbuf_;
    int listenFd_ = -1;
    unsigned short port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> conn_{-1};
    std::atomic<bool> closedByOther_{false};
    mutable std::mutex mutex_;
    std::string received_;
};
