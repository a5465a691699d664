// The TCP transport of pmxsim: one poll loop over the listening socket, the stop
// descriptor and every open connection. Single-threaded.
#include "tools/pmxsim/TcpServer.h"
#include "tools/pmxsim/TelnetSession.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace pmxsim {

namespace {

using Clock = TelnetSession::Clock;

constexpr size_t kMaxConnections = 32;
constexpr size_t kIoChunk = 65536;

struct Connection {
    Connection(int f, int n, const SwitchDialogue::Options& options) : fd(f), number(n), session(options) {}
    ~Connection() { ::close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const int fd;
    const int number;
    TelnetSession session;
    std::string pending;  // pulled from the session, not yet taken by the socket
    size_t pendingPos = 0;
    bool reported = false;
};

int Listen(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        std::perror("pmxsim: socket");
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        std::fprintf(stderr, "pmxsim: port %d: %s\n", port, std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

int BoundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
    return ntohs(a.sin_port);
}

void Report(Connection& c, const char* event) {
    std::fprintf(stderr, "pmxsim: connection %d %s: %s\n", c.number, event,
                 c.session.Summary().c_str());
}

// False when the connection has ended.
bool ReadFrom(Connection& c, char* buf) {
    for (;;) {
        const ssize_t n = ::recv(c.fd, buf, kIoChunk, 0);
        if (n > 0) {
            c.session.Receive(buf, static_cast<size_t>(n), Clock::now());
            if (!c.reported && c.session.NegotiationSettled()) {
                c.reported = true;
                Report(c, "negotiated");
            }
            if (static_cast<size_t>(n) < kIoChunk) return true;
            continue;
        }
        if (n == 0) return false;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
}

// False when the connection has failed.
bool WriteTo(Connection& c, char* buf) {
    for (;;) {
        if (c.pendingPos == c.pending.size()) {
            if (!c.session.HasOutput()) return true;
            const size_t n = c.session.Pull(buf, kIoChunk);
            c.pending.assign(buf, n);
            c.pendingPos = 0;
            if (n == 0) return true;
        }
        const ssize_t n = ::send(c.fd, c.pending.data() + c.pendingPos, c.pending.size() - c.pendingPos,
                                 MSG_NOSIGNAL);
        if (n > 0) {
            c.pendingPos += static_cast<size_t>(n);
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
}

} // namespace

int ServeTcp(int port, const SwitchDialogue::Options& options, int stopFd) {
    const int listener = Listen(port);
    if (listener < 0) return 1;
    std::printf("%d\n", BoundPort(listener));
    std::fflush(stdout);

    std::vector<std::unique_ptr<Connection>> conns;
    std::vector<pollfd> fds;
    std::vector<char> buf(kIoChunk);
    int accepted = 0;
    for (;;) {
        int timeout = -1;
        const auto now = Clock::now();
        for (auto& c : conns) {
            const int due = c->session.MsUntilDue(now);
            if (due >= 0 && (timeout < 0 || due < timeout)) timeout = due;
        }
        fds.clear();
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({listener, POLLIN, 0});
        for (auto& c : conns) {
            const bool wantOut = c->pendingPos < c->pending.size() || c->session.HasOutput();
            fds.push_back({c->fd, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0});
        }
        const int r = ::poll(fds.data(), fds.size(), timeout);
        if (r < 0 && errno != EINTR) {
            std::perror("pmxsim: poll");
            break;
        }
        if (fds[0].revents & POLLIN) break;

        std::vector<bool> ended(conns.size(), false);
        for (size_t i = 0; i < conns.size(); ++i) {
            Connection& c = *conns[i];
            c.session.Tick(Clock::now());
            const short ev = r > 0 ? fds[i + 2].revents : 0;
            if ((ev & (POLLIN | POLLHUP | POLLERR)) && !ReadFrom(c, buf.data())) ended[i] = true;
            if (!ended[i] && !WriteTo(c, buf.data())) ended[i] = true;
        }
        for (size_t i = conns.size(); i-- > 0;) {
            if (!ended[i]) continue;
            Report(*conns[i], "closed");
            conns.erase(conns.begin() + static_cast<std::ptrdiff_t>(i));
        }

        if (r > 0 && (fds[1].revents & POLLIN)) {
            for (;;) {
                const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0) break;
                if (conns.size() >= kMaxConnections) {
                    ::close(fd);  // a busy port: the caller sees the line drop at once
                    continue;
                }
                const int one = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                conns.push_back(std::make_unique<Connection>(fd, ++accepted, options));
                conns.back()->session.Open(Clock::now());
                WriteTo(*conns.back(), buf.data());
            }
        }
    }
    conns.clear();
    ::close(listener);
    return 0;
}

} // namespace pmxsim
