// The LAN link's core: error texts and codes, destination parsing, and the socket's
// connect, read, close and send paths against real loopback peers.
#include "links/CLanSocket.h"
#include "links/LanDestination.h"
#include "links/WinSockErrors.h"
#include "res/ids_links.h"
#include "tests/links/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <netdb.h>
#include <poll.h>

#include <netinet/tcp.h>

#include <chrono>
#include <thread>
#include <vector>

TEST(WinSockErrors, TextsFromErrnoAndLookup) {
    struct Case { int code; const char* text; };
    const Case cases[] = {
        {WinSockCodeFromErrno(ECONNREFUSED), "WinSock error 10061 : Connection refused"},
        {WinSockCodeFromErrno(ETIMEDOUT), "WinSock error 10060 : Connection timed out"},
        {WinSockCodeFromErrno(ECONNRESET), "WinSock error 10054 : Connection reset by peer"},
        {WinSockCodeFromErrno(EAGAIN), "WinSock error 10035 : Operation would block"},
        {WinSockCodeFromErrno(EHOSTUNREACH), "WinSock error 10065 : No route to host"},
        {WinSockCodeFromErrno(EADDRINUSE), "WinSock error 10048 : Address already in use"},
        {WinSockCodeFromErrno(EBADF), "WinSock error 10009 : Bad file number"},
        {WinSockCodeFromLookup(EAI_NONAME), "WinSock error 11001 : Host not found"},
        {WinSockCodeFromLookup(EAI_AGAIN), "WinSock error 11002 : Non-authoritative host not found"},
        {WinSockCodeFromLookup(EAI_FAIL), "WinSock error 11003 : Non-recoverable error"},
        {10101, "WinSock error 10101 : Disconnect"},
        {10047, "WinSock error 10047 : Address family not supported by protocol family"},
        {10003, "Not a WinSock error"},
        {WinSockCodeFromErrno(ENOENT), "Not a WinSock error"},
        {11005, "Not a WinSock error"},
        {-1, "Not a WinSock error"},
    };
    for (const Case& c : cases) EXPECT_EQ(WinSockErrorText(c.code), c.text) << c.code;
    EXPECT_EQ(WinSockErrorText(0), "");
    EXPECT_EQ(WinSockCodeFromErrno(0), 0);
    EXPECT_EQ(WinSockCodeFromLookup(0), 0);
}

TEST(LanDestination, HostAndPort) {
    struct Case { const char* text; const char* host; int port; };
    const Case cases[] = {
        {"10.1.2.3", "10.1.2.3", 23},
        {"switch-a", "switch-a", 23},
        {"switch-a:2323", "switch-a", 2323},
        {"127.0.0.1:65535", "127.0.0.1", 65535},
        {"127.0.0.1:65536", "127.0.0.1:65536", 23},
        {"127.0.0.1:0", "127.0.0.1:0", 23},
        {"host:", "host:", 23},
        {":23", ":23", 23},
        {"host:2x", "host:2x", 23},
        {"host:-1", "host:-1", 23},
        {"host:0000023", "host:0000023", 23},
        {"fe80::1", "fe80::1", 23},
        {"", "", 23},
    };
    for (const Case& c : cases) {
        const LanDestination d = ParseLanDestination(c.text);
        EXPECT_EQ(d.host, c.host) << c.text;
        EXPECT_EQ(d.port, c.port) << c.text;
    }
}

TEST(LanDestination, DottedAddressesNeedNoLookup) {
    EXPECT_EQ(ParseDottedIPv4("127.0.0.1"), htonl(INADDR_LOOPBACK));
    // The all-ones address is a valid address, not a parse failure.
    EXPECT_EQ(ParseDottedIPv4("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseDottedIPv4("127.1"), htonl(0x7F000001));
    EXPECT_FALSE(ParseDottedIPv4("localhost"));
    EXPECT_FALSE(ParseDottedIPv4(""));
    EXPECT_FALSE(ParseDottedIPv4("1.2.3.4.5"));
    EXPECT_FALSE(ParseDottedIPv4("256.1.1.1"));
}

namespace {
// Records the socket's reports as the socket window would receive them.
struct RecordingOwner : LanSocketOwner {
    std::string data;
    int dataBlocks = 0;
    std::vector<int> errors;
    std::vector<int> postedErrors;
    std::vector<std::string> boxes;
    int connected = 0, closed = 0, selected = 0;
    bool watchingWrite = false;
    void SocketData(DataBlockPtr b) override { data.append(b->data(), b->length()); ++dataBlocks; }
    void SocketUrgentData(DataBlockPtr b) override { data.append("!").append(b->data(), 1); }
    void SocketError(int code, bool posted) override { (posted ? postedErrors : errors).push_back(code); }
    void SocketConnected() override { ++connected; }
    void SocketClosed() override { ++closed; }
    void SocketMessageBox(const char* t) override { boxes.emplace_back(t); }
    bool SelectEvents(int) override { ++selected; return true; }
    void StopEvents() override {}
    void WatchWrite(bool on) override { watchingWrite = on; }
    std::vector<OutputNotice> notices;
    void SocketOutputNotice(const OutputNotice& n) override { notices.push_back(n); }
};

int AcceptOne(int listenFd) {
    pollfd p{listenFd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return -1;
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

// Runs the socket's readable-event dispatch until pred holds.
template <class Pred>
bool PumpReads(CLanSocket& s, Pred pred, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred() && std::chrono::steady_clock::now() < end) {
        if (s.handle() < 0) break;
        pollfd p{s.handle(), POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const auto [event, error] = s.ClassifyReadable();
        s.OnSocketEvent(event, error);
    }
    return pred();
}

struct Connected {
    RecordingOwner owner;
    CLanSocket socket{&owner};
    int listenFd = -1;
    int peer = -1;
    explicit Connected(int rcvbuf = 0) {
        unsigned short port = 0;
        listenFd = ListenLoopback(4, &port);
        if (rcvbuf) setsockopt(listenFd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        EXPECT_TRUE(socket.Open());
        EXPECT_TRUE(socket.Connect("127.0.0.1:" + std::to_string(port)));
        peer = AcceptOne(listenFd);
    }
    ~Connected() {
        if (peer >= 0) ::close(peer);
        ::close(listenFd);
    }
};
} // namespace

TEST(CLanSocket, ConnectFailuresReportTheCodeThenTheBox) {
    unsigned short port = 0;
    const int fd = ListenLoopback(1, &port);
    ::close(fd);  // nobody listens there now
    struct Case { std::string dest; std::vector<int> errors; std::vector<int> posted; };
    const Case cases[] = {
        {"127.0.0.1:" + std::to_string(port), {WSAECONNREFUSED, 0}, {}},
        {"no-such-host.invalid", {0}, {WSAHOST_NOT_FOUND}},
    };
    for (const Case& c : cases) {
        RecordingOwner owner;
        CLanSocket s(&owner);
        ASSERT_TRUE(s.Open());
        EXPECT_FALSE(s.Connect(c.dest));
        EXPECT_EQ(owner.errors, c.errors) << c.dest;
        // A lookup failure may be reported as "try again" where no resolver answers.
        if (!c.posted.empty()) {
            ASSERT_EQ(owner.postedErrors.size(), 1u);
            EXPECT_TRUE(owner.postedErrors[0] == WSAHOST_NOT_FOUND || owner.postedErrors[0] == WSATRY_AGAIN);
        }
        EXPECT_EQ(owner.boxes, std::vector<std::string>{"Failed to establish TCP/IP connection..."});
        EXPECT_EQ(owner.connected, 0);
        EXPECT_EQ(owner.selected, 0);
    }
}

TEST(CLanSocket, ConnectToAPeerThatNeverAnswersGivesUpAtTheBound) {
    // A listener whose accept queue is full drops further handshakes: the connect hangs.
    unsigned short port = 0;
    const int fd = ListenLoopback(0, &port);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(c);
    }
    const int saved = CLanSocket::ConnectTimeoutMs();
    CLanSocket::SetConnectTimeoutMs(500);
    RecordingOwner owner;
    CLanSocket s(&owner);
    ASSERT_TRUE(s.Open());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.Connect("127.0.0.1:" + std::to_string(port)));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    CLanSocket::SetConnectTimeoutMs(saved);
    EXPECT_LT(ms, 5000);
    EXPECT_EQ(owner.errors, (std::vector<int>{WSAETIMEDOUT, 0}));
    for (int c : fillers) ::close(c);
    ::close(fd);
}

TEST(CLanSocket, ReadsInOrderThenReportsThePeersClose) {
    Connected c;
    ASSERT_GE(c.peer, 0);
    EXPECT_EQ(c.owner.connected, 1);
    EXPECT_EQ(c.owner.selected, 1);
    std::string sent(300000, '\0');
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(SendAll(c.peer, sent));
    ::close(c.peer);
    c.peer = -1;
    EXPECT_TRUE(PumpReads(c.socket, [&] { return c.owner.closed == 1; }));
    EXPECT_EQ(c.owner.data, sent);  // every byte delivered before the close
    EXPECT_GE(c.owner.dataBlocks, static_cast<int>(sent.size() / CLanSocket::kMaxReadBlock));
    EXPECT_EQ(c.socket.handle(), -1);
    EXPECT_TRUE(c.owner.errors.empty());
    c.socket.Close();  // a second close reports nothing
    EXPECT_EQ(c.owner.closed, 1);
}

TEST(CLanSocket, AResetConnectionIsReportedAndClosed) {
    Connected c;
    ASSERT_GE(c.peer, 0);
    linger lg{1, 0};
    setsockopt(c.peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    ::close(c.peer);
    c.peer = -1;
    EXPECT_TRUE(PumpReads(c.socket, [&] { return c.owner.closed == 1; }));
    EXPECT_EQ(c.owner.errors, std::vector<int>{10054});
}

TEST(CLanSocket, UrgentByteIsDeliveredApart) {
    Connected c;
    ASSERT_GE(c.peer, 0);
    ASSERT_EQ(::send(c.peer, "U", 1, MSG_OOB), 1);
    pollfd p{c.socket.handle(), POLLPRI, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    c.socket.OnSocketEvent(FD_OOB, 0);
    EXPECT_EQ(c.owner.data, "!U");
    // No urgent byte waiting: "Error", and no code for a would-block.
    c.socket.OnSocketEvent(FD_OOB, 0);
    EXPECT_EQ(c.owner.boxes, std::vector<std::string>{"Error"});
}

TEST(CLanSocket, SendToASlowReaderKeepsEveryBlockInOrder) {
    Connected c(4096);
    ASSERT_GE(c.peer, 0);
    // Blocks handed over while an earlier rest is still waiting queue behind it.
    std::string expected;
    // Until the peer's buffers are full, then a rest within the queue's bound.
    for (int b = 0, after = 0; b < 40000 && after < 1000; ++b, after += c.socket.sendPending()) {
        std::string block(256, static_cast<char>('A' + b % 26));
        block[0] = static_cast<char>(b & 0x7F);
        expected += block;
        c.socket.Send(std::make_unique<CDataBlock>(block.data(), 256));
    }
    EXPECT_TRUE(c.socket.sendPending());
    EXPECT_TRUE(c.owner.watchingWrite);
    std::string got;
    std::vector<char> buf(65536);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.size() < expected.size() && std::chrono::steady_clock::now() < end) {
        const ssize_t n = ::recv(c.peer, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n > 0) got.append(buf.data(), static_cast<size_t>(n));
        pollfd p{c.socket.handle(), POLLOUT, 0};
        if (c.socket.sendPending() && ::poll(&p, 1, 1) == 1) c.socket.OnSocketEvent(FD_WRITE, 0);
    }
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(c.socket.sendPending());
    EXPECT_FALSE(c.owner.watchingWrite);
    EXPECT_EQ(c.socket.queuedBytes(), 0u);
}

TEST(CLanSocket, SendWithoutAConnectionReportsAndDrops) {
    RecordingOwner owner;
    CLanSocket s(&owner);
    s.Send(std::make_unique<CDataBlock>("x", 1));
    EXPECT_EQ(owner.errors, std::vector<int>{10009});
    EXPECT_EQ(s.queuedBytes(), 0u);
}

// A peer that stops reading: the link has no delay and keepalive, held output is told
// after a while, given up whole with its lines at the time bound or at once past the
// byte bound, and a peer that reads again releases what waits.
TEST(CLanSocket, OutputToAPeerThatStopsReadingIsBounded) {
    CLanSocket::SetHeldBoundMs(1500);
    Connected c(4096);
    ASSERT_GE(c.peer, 0);
    auto option = [&](int level, int name) {
        int v = -1;
        socklen_t len = sizeof v;
        return ::getsockopt(c.socket.handle(), level, name, &v, &len) == 0 ? v : -1;
    };
    EXPECT_EQ(option(IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), CLanSocket::kKeepIdleS);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), CLanSocket::kKeepIntervalS);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), CLanSocket::kKeepCount);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 60000);

    auto fill = [&](char tag) {
        for (int i = 0; !c.socket.sendPending() || i < 3; ++i) {
            const std::string line = std::string(1, tag) + std::to_string(i) + std::string(200, 'x') + "\r";
            c.socket.Send(std::make_unique<CDataBlock>(line.data(), static_cast<int>(line.size())));
        }
    };
    auto waitNotices = [&](size_t n) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (c.owner.notices.size() < n && std::chrono::steady_clock::now() < end) {
            c.socket.CheckHeld();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return c.owner.notices.size() >= n;
    };
    fill('a');
    const std::size_t waiting = c.socket.queuedBytes();
    ASSERT_TRUE(waitNotices(2));
    EXPECT_EQ(c.owner.notices[0].kind, OutputNotice::Kind::Held);
    EXPECT_EQ(c.owner.notices[1].kind, OutputNotice::Kind::NotSent);
    std::size_t given = 0;
    for (const std::string& l : c.owner.notices[1].lines) given += l.size();
    EXPECT_GE(given, waiting);  // the block in progress is named whole
    EXPECT_FALSE(c.socket.sendPending());
    EXPECT_EQ(c.socket.queuedBytes(), 0u);

    // Past the byte bound: given up at once.
    c.owner.notices.clear();
    const std::string big(CLanSocket::kMaxQueuedBytes / 4, 'b');
    for (int i = 0; i < 6 && c.owner.notices.empty(); ++i)
        c.socket.Send(std::make_unique<CDataBlock>(big.data(), static_cast<int>(big.size())));
    ASSERT_EQ(c.owner.notices.size(), 1u);
    EXPECT_EQ(c.owner.notices[0].kind, OutputNotice::Kind::NotSent);

    // Held, then the peer reads everything: released, nothing given up.
    c.owner.notices.clear();
    fill('c');
    ASSERT_TRUE(waitNotices(1));
    std::vector<char> buf(65536);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (c.socket.sendPending() && std::chrono::steady_clock::now() < end) {
        [[maybe_unused]] const ssize_t n = ::recv(c.peer, buf.data(), buf.size(), MSG_DONTWAIT);
        pollfd p{c.socket.handle(), POLLOUT, 0};
        if (::poll(&p, 1, 1) == 1) c.socket.OnSocketEvent(FD_WRITE, 0);
    }
    ASSERT_EQ(c.owner.notices.size(), 2u);
    EXPECT_EQ(c.owner.notices[1].kind, OutputNotice::Kind::Released);
    CLanSocket::SetHeldBoundMs(0);
}
