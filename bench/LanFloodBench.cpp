// LAN worker throughput: a loopback peer floods the link and the owner only counts the
// bytes, against a plain blocking reader of the same socket traffic. Prints MB/s.
#include "links/CSocketThread.h"
#include "tests/links/LoopbackPeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

namespace {
struct CountingOwner : SocketOwner {
    size_t bytes = 0;
    int blocks = 0;
    int connected = 0;
    void OnSwmConnected() override { ++connected; }
    void OnSwmClosed() override {}
    void OnSwmReceived(DataBlockPtr b) override { bytes += size_t(b->length()); ++blocks; }
    void OnSwmUrgentData(DataBlockPtr) override {}
    void OnSwmError(int code) override { std::fprintf(stderr, "error %d\n", code); }
    void OnSocketMessageBox(const char* t) override { std::fprintf(stderr, "box %s\n", t); }
};
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const size_t kSize = 200u * 1024 * 1024;
    const std::string chunk(1 << 20, 'x');
    LoopbackPeer peer([&](LoopbackPeer& p, int fd) {
        for (size_t sent = 0; sent < kSize && !p.stopping(); sent += chunk.size()) SendAll(fd, chunk);
        p.Collect(fd);
    });

    CountingOwner owner;
    CSocketThread worker(&owner);
    worker.Start();
    worker.Open();
    QElapsedTimer t;
    t.start();
    worker.Connect(peer.destination());
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { if (owner.bytes >= kSize) app.quit(); });
    poll.start(1);
    app.exec();
    const double lanMs = double(t.elapsed());
    worker.End();
    worker.wait();
    std::printf("LAN worker -> GUI thread: %zu MB in %.0f ms: %.1f MB/s (%d blocks)\n", kSize >> 20, lanMs,
                kSize / 1048576.0 / (lanMs / 1000.0), owner.blocks);

    unsigned short port = 0;
    const int lfd = ListenLoopback(1, &port);
    std::thread writer([&] {
        const int c = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
        for (size_t sent = 0; sent < kSize; sent += chunk.size()) SendAll(c, chunk);
        ::close(c);
    });
    const int rfd = ::accept(lfd, nullptr, nullptr);
    t.restart();
    std::vector<char> buf(65536);
    size_t got = 0;
    for (ssize_t n; (n = ::recv(rfd, buf.data(), buf.size(), 0)) > 0;) got += size_t(n);
    const double plainMs = std::max(1.0, double(t.elapsed()));
    writer.join();
    ::close(rfd);
    ::close(lfd);
    std::printf("plain loopback reader:    %zu MB in %.0f ms: %.1f MB/s\n", got >> 20, plainMs,
                got / 1048576.0 / (plainMs / 1000.0));
    return 0;
}
