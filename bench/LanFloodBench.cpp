// LAN flood end to end: a loopback peer sends a prebuilt buffer of 80-character CR LF
// lines, read once by a minimal reader that does the work the program must do at least
// (Telnet command check, line-end count, transcript appended every 2000 lines to the
// current second's dump file, kept open while that second lasts), and once by the real
// frame, document and view (offscreen) over LAN Connect, with a key typed into the
// input box every 50 ms. Prints MB/s of each and their ratio, how long a typed key took
// to be painted, and how late the GUI thread ran a 10 ms timer meanwhile; each beside
// its goal, met or not. The CPU time of each (with the sending peer's) is printed too.
// Each round runs the reader and then the program, so that both see about the same
// load; the median of the rounds' ratios is what counts.
// Usage: bench_lan_flood [megabytes, default 100] [rounds, default 3]
#include "bench/BenchReport.h"
#include "app/CMainFrame.h"
#include "commands/CInputBoxBar.h"
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
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>

#include <sys/resource.h>

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

// The least a terminal must do with each block: what arrives is checked for Telnet
// commands, its line ends counted, and every 2000 lines the text so far is appended to
// the dump file of the current second, which stays open while that second lasts.
double SameWorkReader(unsigned short port, const std::string& dumpDir, size_t* got) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto start = Clock::now();
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
    std::vector<char> buf(256 * 1024);  // as large as the program's largest read
    std::string transcript;
    size_t lines = 0, commands = 0;
    std::FILE* dump = nullptr;
    std::time_t dumpSecond = 0;
    auto append = [&] {
        const std::time_t now = std::time(nullptr);
        if (!dump || now != dumpSecond) {
            if (dump) std::fclose(dump);
            char name[32];
            std::tm tm{};
            localtime_r(&now, &tm);
            std::snprintf(name, sizeof name, "/T%02d%02d%02d.dat", tm.tm_hour, tm.tm_min, tm.tm_sec);
            dump = std::fopen((dumpDir + name).c_str(), "ab");
            dumpSecond = now;
        }
        if (dump) {
            std::fwrite(transcript.data(), 1, transcript.size(), dump);
            std::fflush(dump);
        }
        transcript.clear();
    };
    for (ssize_t n; (n = ::recv(fd, buf.data(), buf.size(), 0)) > 0;) {
        *got += static_cast<size_t>(n);
        if (std::memchr(buf.data(), 255, static_cast<size_t>(n))) ++commands;
        for (const char* p = buf.data(); (p = static_cast<const char*>(
                                              std::memchr(p, '\r', static_cast<size_t>(buf.data() + n - p))));
             ++p)
            ++lines;
        transcript.append(buf.data(), static_cast<size_t>(n));
        if (lines >= 2000) {
            append();
            lines = 0;
        }
    }
    append();
    if (dump) std::fclose(dump);
    ::close(fd);
    if (commands) std::printf("(unexpected Telnet commands: %zu)\n", commands);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

qint64 Percentile(std::vector<qint64> v, int pct) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(pct) / 100)];
}

// CPU seconds this process has used (every thread, the sending peer's included): the
// work a round costs, which load on a shared machine does not change as much as time.
double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
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
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    QApplication app(argc, argv);
    const std::string flood = BuildFlood(size);

    LoopbackPeer peer([&](LoopbackPeer&, int fd) {
        SendAll(fd, flood);
        ::shutdown(fd, SHUT_WR);
    });

    MemoryProfile profile;
    Profile::install(&profile);
    ScriptedMessages boxes;
    std::vector<double> ratios;
    std::vector<qint64> lateness, keyDelays;
    for (int round = 1; round <= rounds; ++round) {
    TempDir readerDir;
    size_t readerGot = 0;
    const double readerCpu0 = CpuSeconds();
    const double readerSecs = SameWorkReader(peer.port(), readerDir.path(), &readerGot);
    const double readerRate = readerGot / readerSecs / 1e6;
    const double readerCpu = CpuSeconds() - readerCpu0;
    std::printf("round %d: same-work reader: %zu bytes in %.3f s: %.1f MB/s, CPU %.3f s\n", round, readerGot,
                readerSecs, readerRate, readerCpu);

    TestStartDir start;
    {
        CMainFrame frame;
        if (!frame.OnCreate()) return 1;
        frame.show();
        Profile::get().writeString("Server", "History %c", peer.destination());

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
        // A key typed into the input box every 20 ms: how long until the box repaints.
        QLineEdit* edit = frame.findChild<CInputBoxBar*>() ? frame.findChild<CInputBoxBar*>()->edit() : nullptr;
        qint64 typedAt = -1;
        struct PaintWatch : QObject {
            std::function<void()> painted;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint) painted();
                return false;
            }
        } watch;
        watch.painted = [&] {
            if (typedAt < 0) return;
            keyDelays.push_back(clock.elapsed() - typedAt);
            typedAt = -1;
        };
        QTimer typist;
        typist.setInterval(20);
        QObject::connect(&typist, &QTimer::timeout, [&] {
            // Only while the flood runs: connecting is not what is measured.
            if (!edit || typedAt >= 0 || !edit->isEnabled() || !frame.session().isLinkConnected(LinkKind::Lan)) return;
            if (edit->text().size() > 60) edit->clear();
            typedAt = clock.elapsed();
            QCoreApplication::postEvent(edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
            QCoreApplication::postEvent(edit, new QKeyEvent(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, "x"));
        });
        if (edit) edit->installEventFilter(&watch);
        clock.start();
        tick.start();
        typist.start();
        const auto begin = Clock::now();
        const double cpu0 = CpuSeconds();
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
        const double cpu = CpuSeconds() - cpu0;
        tick.stop();
        typist.stop();
        if (edit) edit->removeEventFilter(&watch);
        const uint64_t shown = DumpedBytes(start.dir().path()) + frame.session().document().GetTranscript().size();
        const double rate = size / secs / 1e6;
        std::printf("round %d: program (frame, document, view): %zu bytes in %.3f s: %.1f MB/s%s, CPU %.3f s, ratio %.2f\n",
                    round, size, secs, rate, shown == size ? "" : " (bytes missing!)", cpu, rate / readerRate);
        if (shown != size) std::printf("shown %llu of %zu\n", static_cast<unsigned long long>(shown), size);
        ratios.push_back(rate / readerRate);
        for (const RecordedBox& b : boxes.boxes()) std::printf("box: %s\n", b.text.c_str());
    }
    }
    const double median = Median(ratios);
    std::printf("median ratio program / same-work reader over %d rounds: %.2f  (goal >= 0.50)  %s\n", rounds, median,
                Met(median >= 0.5));
    const qint64 kp50 = Percentile(keyDelays, 50), kp99 = Percentile(keyDelays, 99), kmax = Percentile(keyDelays, 100);
    std::printf("key typed into the input box to its repaint, %zu keys: p50 %lld ms, p99 %lld ms, max %lld ms"
                "  (goal p99 < 20, max < 50)  %s\n",
                keyDelays.size(), static_cast<long long>(kp50), static_cast<long long>(kp99),
                static_cast<long long>(kmax), keyDelays.empty() ? "NOT MEASURED" : Met(kp99 < 20 && kmax < 50));
    const qint64 p99 = Percentile(lateness, 99), worst = Percentile(lateness, 100);
    std::printf("GUI thread lateness over %zu ticks of 10 ms: p99 %lld ms, max %lld ms\n", lateness.size(),
                static_cast<long long>(p99), static_cast<long long>(worst));
    PrintLoadAverage();
    Profile::install(nullptr);
    return 0;
}
