// Test helpers for the ISDN link: a loopback TCP peer that plays the far end of a
// call, a routing file installed through PMX_ISDN_ROUTES, and counts of this
// process's threads and descriptors.
#pragma once

#include "tests/support/TempDir.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#ifndef PMX_ISDN_TEST_LIBRARY
#error "the test build gives the reference adapter's path"
#endif

inline const char* kAdapterPath = PMX_ISDN_TEST_LIBRARY;
inline const char* kLackingAdapterPath = PMX_ISDN_LACKING_LIBRARY;

// Listens on 127.0.0.1 at a free port; accepts one call at a time.
class LoopbackPeer {
public:
    LoopbackPeer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 8);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackPeer() {
        hangUp();
        ::close(listener_);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int port() const { return port_; }
    std::string endpoint() const { return "127.0.0.1:" + std::to_string(port_); }

    bool accept(int timeoutMs = 5000) {
        hangUp();
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        conn_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return conn_ >= 0;
    }
    void hangUp() {
        if (conn_ >= 0)
            ::close(conn_);
        conn_ = -1;
    }
    bool send(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(conn_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }
    // Up to count bytes, waiting at most timeoutMs for them all.
    std::string receive(size_t count, int timeoutMs = 5000) {
        std::string got;
        while (got.size() < count) {
            pollfd p{conn_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0)
                break;
            char buf[4096];
            ssize_t n = ::recv(conn_, buf, std::min(sizeof buf, count - got.size()), 0);
            if (n <= 0)
                break;
            got.append(buf, size_t(n));
        }
        return got;
    }
    // True when the far end hung up within timeoutMs (data before that is dropped).
    bool sawHangUp(int timeoutMs = 5000) {
        for (;;) {
            pollfd p{conn_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0)
                return false;
            char buf[4096];
            ssize_t n = ::recv(conn_, buf, sizeof buf, 0);
            if (n <= 0)
                return true;
        }
    }

private:
    int listener_ = -1;
    int conn_ = -1;
    int port_ = 0;
};

// A loopback port nobody listens on.
inline int ClosedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

// The routing file for the adapter, pointed at by PMX_ISDN_ROUTES while alive.
class RoutesFile {
public:
    explicit RoutesFile(const std::string& text) {
        dir_.write("routes.txt", text);
        ::setenv("PMX_ISDN_ROUTES", dir_.file("routes.txt").c_str(), 1);
    }
    ~RoutesFile() { ::unsetenv("PMX_ISDN_ROUTES"); }
    void rewrite(const std::string& text) { dir_.write("routes.txt", text); }

private:
    TempDir dir_;
};

inline int CountEntries(const char* dir) {
    int n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
    }
    return n;
}
inline int ThreadCount() { return CountEntries("/proc/self/task"); }
inline int FdCount() { return CountEntries("/proc/self/fd"); }
