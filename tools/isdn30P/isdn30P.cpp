// Reference ISDN adapter: "dials" a number by looking up its route (number ->
// host:port) and opening a TCP connection there. Used by the tests and the demo.
// Called on the link's threads: the reader polls ReadISDNBlock while the main
// thread writes and hangs up.
#include "links/IsdnApi.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>

#define ISDN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kConnectTimeoutMs = 10000;
constexpr int kSendStallMs = 5000;  // a far end that takes nothing for this long has failed

thread_local int t_lastError = ISDN_OK;

int fail(int code) {
    t_lastError = code;
    return -1;
}

// The fd is closed only when the last operation holding the call lets go of it,
// so a read racing a hang-up never touches a closed (or reused) descriptor.
struct Call {
    explicit Call(int f) : fd(f) {}
    ~Call() { ::close(fd); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    const int fd;
    std::mutex sendMutex;  // whole blocks from two writers never interleave
};

std::mutex g_callMutex;
std::shared_ptr<Call> g_call;

std::shared_ptr<Call> currentCall() {
    std::lock_guard<std::mutex> lock(g_callMutex);
    return g_call;
}

struct Route {
    std::string host;
    std::string port;
};

// PMX_ISDN_ROUTES; else the file beside the library (a build tree); else, for an
// installed library (PREFIX/lib/pmxdiag), the configuration file in /etc/pmxdiag
// (prefix /usr) or PREFIX/etc/pmxdiag.
std::string routesPath() {
    if (const char* env = std::getenv("PMX_ISDN_ROUTES"); env && *env)
        return env;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&routesPath), &info) || !info.dli_fname)
        return "isdn-routes.txt";
    std::string dir = info.dli_fname;
    const size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
    // The program loads us as BINDIR/../lib/pmxdiag/...: compare the real folder.
    if (char* real = realpath(dir.c_str(), nullptr)) {
        dir = real;
        std::free(real);
    }
    const std::string beside = dir + "/isdn-routes.txt";
    constexpr std::string_view kInstalled = "/lib/pmxdiag";
    if (access(beside.c_str(), F_OK) == 0 || dir.size() < kInstalled.size() ||
        dir.compare(dir.size() - kInstalled.size(), kInstalled.size(), kInstalled) != 0)
        return beside;
    const std::string prefix = dir.substr(0, dir.size() - kInstalled.size());
    return (prefix == "/usr" ? std::string() : prefix) + "/etc/pmxdiag/isdn-routes.txt";
}

// "host:port", "[v6addr]:port"; false when either part is missing or the port is
// not 1..65535.
bool splitEndpoint(const std::string& text, Route* route) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string host = text.substr(0, colon);
    std::string port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
        return false;  // an IPv6 address needs its brackets
    if (host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long value = std::strtol(port.c_str(), nullptr, 10);
    if (value < 1 || value > 65535)
        return false;
    route->host = host;
    route->port = port;
    return true;
}

// Lines are "number host:port"; a line whose first non-blank is '#' is a comment,
// and so is anything after the endpoint. Numbers may hold '#' and '*'. The first
// line for a number wins.
int lookUp(const std::string& number, Route* route) {
    std::ifstream in(routesPath());
    if (!in)
        return ISDN_ERR_NO_ROUTES;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first, endpoint;
        if (!(words >> first) || first[0] == '#' || first != number)
            continue;
        if (!(words >> endpoint) || !splitEndpoint(endpoint, route))
            return ISDN_ERR_BAD_ROUTE;
        return ISDN_OK;
    }
    return ISDN_ERR_UNKNOWN_NUMBER;
}

int connectErrorCode(int err) {
    switch (err) {
    case ECONNREFUSED:
        return ISDN_ERR_REFUSED;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return ISDN_ERR_RESOURCES;
    default:
        return ISDN_ERR_UNREACHABLE;
    }
}

// A connected non-blocking socket, or -1 with *code set.
int connectTo(const Route& route, int* code) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(route.host.c_str(), route.port.c_str(), &hints, &found) != 0 || !found) {
        *code = ISDN_ERR_BAD_ROUTE;
        return -1;
    }
    *code = ISDN_ERR_UNREACHABLE;
    int fd = -1;
    for (addrinfo* a = found; a; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            *code = connectErrorCode(errno);
            continue;
        }
        int err = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                int ready;
                do
                    ready = ::poll(&p, 1, kConnectTimeoutMs);
                while (ready < 0 && errno == EINTR);
                socklen_t len = sizeof err;
                if (ready == 0)
                    err = ETIMEDOUT;
                else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
        if (err == 0)
            break;
        *code = connectErrorCode(err);
        ::close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    return fd;
}

}  // namespace

ISDN_EXPORT int GetISDNLastError(void) {
    return t_lastError;
}

ISDN_EXPORT int DialISDN(const char* number) {
    if (!number || !*number)
        return fail(ISDN_ERR_BAD_NUMBER);
    if (currentCall())
        return fail(ISDN_ERR_BUSY);
    Route route;
    if (int code = lookUp(number, &route); code != ISDN_OK)
        return fail(code);
    int code = ISDN_OK;
    int fd = connectTo(route, &code);
    if (fd < 0)
        return fail(code);
    std::shared_ptr<Call> call;
    try {
        call = std::make_shared<Call>(fd);
    } catch (...) {
        ::close(fd);
        return fail(ISDN_ERR_RESOURCES);
    }
    std::lock_guard<std::mutex> lock(g_callMutex);
    if (g_call)  // another thread dialled meanwhile
        return fail(ISDN_ERR_BUSY);
    g_call = std::move(call);
    t_lastError = ISDN_OK;
    return 0;
}

ISDN_EXPORT int WriteISDNBlock(const unsigned char* bytes, int count) {
    if (count < 0 || (count > 0 && !bytes))
        return fail(ISDN_ERR_BAD_ARGUMENT);
    std::shared_ptr<Call> call = currentCall();
    if (!call)
        return fail(ISDN_ERR_NOT_CONNECTED);
    std::lock_guard<std::mutex> lock(call->sendMutex);
    int sent = 0;
    while (sent < count) {
        ssize_t n = ::send(call->fd, bytes + sent, size_t(count - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A hang-up on another thread shuts the socket down, which ends this wait.
            pollfd p{call->fd, POLLOUT, 0};
            int ready = ::poll(&p, 1, kSendStallMs);
            if (ready > 0 || (ready < 0 && errno == EINTR))
                continue;
            return fail(ISDN_ERR_LINK);
        }
        return fail(errno == EPIPE || errno == ECONNRESET ? ISDN_ERR_HUNG_UP : ISDN_ERR_LINK);
    }
    return count;
}

ISDN_EXPORT int ReadISDNBlock(unsigned char* buffer, int capacity) {
    if (!buffer || capacity <= 0)
        return fail(ISDN_ERR_BAD_ARGUMENT);
    std::shared_ptr<Call> call = currentCall();
    if (!call)
        return fail(ISDN_ERR_NOT_CONNECTED);
    for (;;) {
        ssize_t n = ::recv(call->fd, buffer, size_t(capacity), MSG_DONTWAIT);
        if (n > 0)
            return int(n);
        if (n == 0)
            return fail(ISDN_ERR_HUNG_UP);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return fail(ISDN_ERR_LINK);
    }
}

ISDN_EXPORT int CloseISDN(void) {
    std::shared_ptr<Call> call;
    {
        std::lock_guard<std::mutex> lock(g_callMutex);
        call.swap(g_call);
    }
    if (!call)
        return fail(ISDN_ERR_NOT_CONNECTED);
    // Wakes a writer waiting on a full line; the fd itself closes when the
    // last user drops the call.
    ::shutdown(call->fd, SHUT_RDWR);
    t_lastError = ISDN_OK;
    return 0;
}
