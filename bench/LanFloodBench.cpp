// LAN flood end to end: a loopback peer sends a prebuilt buffer of 80-character CR LF
// lines, read once by a minimal reader that does the work the program must do at least
// (Telnet command check, line-end count, transcript written to a file every 2000 lines),
// and once by the real frame, document and view (offscreen) over LAN Connect. Prints
// MB/s of each, their ratio, and how late the GUI thread ran a 10 ms timer meanwhile.
// Usage: bench_lan_flood [megabytes, default 100]
#include "app/CMainFrame.h"
#include "session/LanControl.h"
#include "platform/Profile.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "tests/links/LoopbackPeer.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

std::string BuildFlood(size_t bytes) {
    std::string flood;
    flood.reserve(bytes);
    char line[96];
    for (unsigned n = 0; flood.size() < bytes; ++n) {
        std::snprintf(line, sizeof line, "%08u ", n);
        std::string l(line);
        for (int c = 0; l.size() < 78; ++c) l.push_back(static_cast<char>('A' + (n + c) % 26));
        l += "\r\n";
        flood.append(l, 0, std::min(l.size(), bytes - flood.size()));
    }
    return flood;
}

// The least a terminal must do with each block.
double SameWorkReader(unsigned short port, const std::string& dumpPath, size_t* got) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto start = Clock::now();
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
    std::vector<char> buf(65536);
    std::string transcript;
    size_t lines = 0, commands = 0;
    std::FILE* dump = std::fopen(dumpPath.c_str(), "wb");
    for (ssize_t n; (n = ::recv(fd, buf.data(), buf.size(), 0)) > 0;) {
        *got += static_cast<size_t>(n);
        if (std::memchr(buf.data(), 255, static_cast<size_t>(n))) ++commands;
        for (const char* p = buf.data(); (p = static_cast<const char*>(
                                              std::memchr(p, '\r', buf.data() + n - p)));
             ++p)
            ++lines;
        transcript.append(buf.data(), static_cast<size_t>(n));
        if (lines >= 2000) {
            std::fwrite(transcript.data(), 1, transcript.size(), dump);
            std::fflush(dump);
            transcript.clear();
            lines = 0;
        }
    }
    std::fwrite(transcript.data(), 1, transcript.size(), dump);
    std::fclose(dump);
    ::close(fd);
    if (commands) std::printf("(unexpected Telnet commands: %zu)\n", commands);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

uint64_t DumpedBytes(const std::string& dir) {
    uint64_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".dat") n += e.file_size();
    return n;
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const size_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100;
    const size_t size = megabytes * 1000 * 1000;
    QApplication app(argc, argv);
    const std::string flood = BuildFlood(size);

    LoopbackPeer peer([&](LoopbackPeer&, int fd) {
        SendAll(fd, flood);
        ::shutdown(fd, SHUT_WR);
    });

    TempDir readerDir;
    size_t readerGot = 0;
    const double readerSecs = SameWorkReader(peer.port(), readerDir.file("transcript.dat"), &readerGot);
    const double readerRate = readerGot / readerSecs / 1e6;
    std::printf("same-work reader: %zu bytes in %.3f s: %.1f MB/s\n", readerGot, readerSecs, readerRate);

    TestStartDir start;
    MemoryProfile profile;
    Profile::install(&profile);
    ScriptedMessages boxes;
    {
        CMainFrame frame;
        if (!frame.OnCreate()) return 1;
        frame.show();
        Profile::get().writeString("Server", "History %c", peer.destination());

        std::vector<qint64> lateness;
        QElapsedTimer clock;
        qint64 last = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(10);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            lateness.push_back(std::max<qint64>(0, now - last - 10));
            last = now;
        });
        clock.start();
        tick.start();
        const auto begin = Clock::now();
        frame.action(ID_LAN_CONNECT)->trigger();
        bool seen = false;
        // The peer closes once it has sent everything; the worker has laid out every
        // byte before it reports the close.
        const auto until = begin + std::chrono::minutes(5);
        while (Clock::now() < until) {
            // Waits as the program's own event loop does: a loop that polls would take
            // a core from the worker on this 2-core machine. The 10 ms tick wakes it.
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            if (frame.session().isLinkConnected(LinkKind::Lan)) seen = true;
            if (seen && !frame.session().isLinkConnected(LinkKind::Lan) && !frame.session().lan().thread()) break;
        }
        const double secs = std::chrono::duration<double>(Clock::now() - begin).count();
        tick.stop();
        const uint64_t shown = DumpedBytes(start.dir().path()) + frame.session().document().GetTranscript().size();
        const double rate = size / secs / 1e6;
        std::printf("program (frame, document, view): %zu bytes in %.3f s: %.1f MB/s%s\n", size, secs,
                    rate, shown == size ? "" : " (bytes missing!)");
        if (shown != size) std::printf("shown %llu of %zu\n", static_cast<unsigned long long>(shown), size);
        std::printf("ratio program / same-work reader: %.1f %% (target >= 30 %%)\n", 100.0 * rate / readerRate);

        std::sort(lateness.begin(), lateness.end());
        const qint64 p99 = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
        const qint64 worst = lateness.empty() ? 0 : lateness.back();
        std::printf("GUI thread lateness over %zu ticks: p99 %lld ms, max %lld ms (targets < 50, < 100)\n",
                    lateness.size(), static_cast<long long>(p99), static_cast<long long>(worst));
        for (const RecordedBox& b : boxes.boxes()) std::printf("box: %s\n", b.text.c_str());
    }
    Profile::install(nullptr);
    return 0;
}
