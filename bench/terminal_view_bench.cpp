// The terminal's cost in the real frame and view (on $DISPLAY when there is one, as
// under xvfb-run; offscreen otherwise):
//  - CPU while a pty peer sends 80-character lines paced at 115200 baud (11,520 B/s in
//    5 ms chunks), beside xterm running `cat` on the same kind of pty (when xterm and a
//    display are there) and beside a plain reader, all in the same run. The goal: at
//    most xterm's share (without xterm: under 5 % of a core);
//  - peak memory (VmHWM) after 200 MB of CR-ended lines and after 50 MB with no CR,
//    each in a fresh process, fed the way a serial reader feeds the document.
// Prints figures and the targets; not a test.
// Usage: bench_terminal_view [seconds (10)] [cpu: the paced run only, as for a profiler]
#include "bench/BenchReport.h"
#include "app/CMainFrame.h"
#include "session/SerialControl.h"
#include "links/SerialTexts.h"
#include "platform/AppGlobals.h"
#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/CTRQDiagView.h"
#include "tests/links/LinkTestSupport.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <termios.h>

namespace {

class QuietMessages : public MessageService {
public:
    int messageBox(const std::string&, const std::string&, MsgIcon, MsgButtons buttons) override {
        return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? IDYES : IDOK;
    }
    std::optional<std::string> saveFileName(const SaveFileRequest&) override { return std::nullopt; }
};

// Counts paint events by widget while installed on the application.
struct PaintCounter : QObject {
    std::map<std::string, long> paints;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            std::string name = watched->metaObject()->className();
            if (!watched->objectName().isEmpty()) name.append(1, ' ').append(watched->objectName().toStdString());
            ++paints[name];
        }
        return false;
    }
};

double ThreadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of each of this process's threads, by thread id, with its name.
std::map<int, std::pair<std::string, double>> ThreadTimes() {
    std::map<int, std::pair<std::string, double>> times;
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(e.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::atof(field.c_str());
            if (i == 15) stime = std::atof(field.c_str());
        }
        times[std::atoi(e.path().filename().c_str())] = {stat.substr(open + 1, close - open - 1), (utime + stime) / tick};
    }
    return times;
}

long PeakKiB() {
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmHWM:") {
            long kib = 0;
            in >> kib;
            return kib;
        }
        in.ignore(1 << 12, '\n');
    }
    return -1;
}

// Writes 80-character lines to the pty master at 115200 baud for the given time;
// returns the CPU the pacer itself used, so that it can be taken off the total.
struct Pacer {
    std::atomic<double> ownCpu{0};
    std::atomic<int> tid{0};
    std::atomic<uint64_t> sent{0};
    std::thread thread;
    Pacer(int master, double seconds, std::function<void()> done = {}) {
        thread = std::thread([this, master, seconds, done] {
            tid = static_cast<int>(::gettid());
            std::string line;
            for (int i = 0; line.size() < (1u << 16); ++i) {
                char buf[96];
                std::snprintf(buf, sizeof buf, "%05d TRUNK %03d  STATE IDLE  LINK %02d  ALARMS 0  ERR %04d  STATUS OK ...\r\n",
                              i % 100000, i % 512, i % 64, (i * 7) % 10000);
                line += std::string(buf).substr(0, 80) + "\r\n";
            }
            const auto start = std::chrono::steady_clock::now();
            size_t pos = 0;
            double due = 0;
            for (int tick = 1;; ++tick) {
                const auto at = start + std::chrono::milliseconds(5 * tick);
                std::this_thread::sleep_until(at);
                if (std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds)) break;
                due += 11520.0 * 0.005;
                const size_t n = static_cast<size_t>(due);
                due -= static_cast<double>(n);
                for (size_t left = n; left > 0;) {
                    const size_t k = std::min(left, line.size() - pos);
                    const ssize_t w = ::write(master, line.data() + pos, k);
                    if (w <= 0) break;
                    pos = (pos + static_cast<size_t>(w)) % line.size();
                    left -= static_cast<size_t>(w);
                    sent += static_cast<uint64_t>(w);
                }
            }
            ownCpu = ThreadCpuSeconds();
            if (done) done();
        });
    }
    void join() { thread.join(); }
};

// xterm showing the same paced stream through `cat` on the pty: the CPU of xterm and
// cat together, or a negative share when xterm or a display is missing.
double XtermShare(double seconds) {
    if (!std::getenv("DISPLAY") || std::system("command -v xterm >/dev/null 2>&1") != 0) return -1;
    linktest::PtyPair pty;
    if (!pty.ok()) return -1;
    const std::string shell = "stty raw -echo <" + pty.path() + " && exec cat " + pty.path();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execlp("xterm", "xterm", "-geometry", "100x35", "-e", "sh", "-c", shell.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) return -1;
    ::usleep(1000 * 1000);  // xterm maps its window and cat opens the pty
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto t0 = std::chrono::steady_clock::now();
    Pacer pacer(pty.master(), seconds);
    pacer.join();
    ::usleep(100 * 1000);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // Hanging up the pty ends cat and so xterm, which reaps cat: the children's
    // usage then holds both. xterm's start-up is in it too, so the share errs high
    // by its start-up cost; the start is measured alone below and taken off.
    pty.CloseMaster();
    int status = 0;
    for (int i = 0; i < 50 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) ::usleep(100 * 1000);
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, &status, 0);
    }
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    auto secs = [](const rusage& u) {
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double total = secs(after) - secs(before);
    // The same xterm started and ended with nothing to show: its start-up alone.
    linktest::PtyPair idle;
    const std::string idleShell = "stty raw -echo <" + idle.path() + " && exec cat " + idle.path();
    getrusage(RUSAGE_CHILDREN, &before);
    const pid_t idlePid = ::fork();
    if (idlePid == 0) {
        ::execlp("xterm", "xterm", "-geometry", "100x35", "-e", "sh", "-c", idleShell.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::usleep(1100 * 1000);
    idle.CloseMaster();
    ::waitpid(idlePid, &status, 0);
    getrusage(RUSAGE_CHILDREN, &after);
    const double startup = secs(after) - secs(before);
    return std::max(0.0, total - startup) / wall * 100;
}

int RunCpu(double seconds) {
    const auto dir = std::filesystem::temp_directory_path() / "pmx_terminal_view_bench";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "CmdConf.txt") << "{t b[Set Board Trace] 1 [Board No];s s[Station Status] 0;}";
    std::filesystem::current_path(dir);
    MemoryProfile profile;
    Profile::install(&profile);
    QuietMessages boxes;
    MessageService::install(&boxes);

    // The program: frame, serial link, document and view, fed through a pty.
    double frameShare = 0;
    uint64_t frameBytes = 0;
    char work[160] = "";
    char threadSplit[512] = "";
    char paintSplit[1024] = "";
    {
        linktest::PtyPair pty;
        using namespace serialtext;
        profile.writeString(kDevicesSection, "COM1", pty.path());
        profile.writeInt(kSection, kKeyPort, 0);
        profile.writeInt(kSection, kKeyBaud, 115200);
        profile.writeInt(kSection, kKeyDataBits, 8);
        profile.writeInt(kSection, kKeyStopBits, 0);
        profile.writeInt(kSection, kKeyParity, 0);
        profile.writeInt(kSection, kKeyFlow, 0);
        CMainFrame frame;
        if (!frame.OnCreate()) return 1;
        frame.resize(900, 600);
        frame.show();
        frame.session().serial().OnConnect();
        QTest::qWait(300);
        auto* view = frame.findChild<CTRQDiagView*>();
        const CTRQDiagView::PaintStats stats0 = view ? view->Stats() : CTRQDiagView::PaintStats{};
        PaintCounter painted;
        qApp->installEventFilter(&painted);
        const auto threads0 = ThreadTimes();
        const double cpu0 = ProcessCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        // The GUI thread waits in an event loop as the program's own does: QTest's
        // waits wake every 10 ms to poll, which would be counted as the program's.
        QEventLoop loop;
        Pacer pacer(pty.master(), seconds, [&loop] { QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection); });
        loop.exec();
        pacer.join();
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        frameShare = (ProcessCpuSeconds() - cpu0 - pacer.ownCpu) / wall * 100;
        qApp->removeEventFilter(&painted);
        std::string others;
        for (const auto& [name, n] : painted.paints) {
            char part[128];
            std::snprintf(part, sizeof part, "%s%s %.1f", others.empty() ? "" : ", ", name.c_str(), n / wall);
            others += part;
        }
        std::snprintf(paintSplit, sizeof paintSplit, "  paint events per second: %s\n", others.c_str());
        // Where it went, by thread (clock-tick resolution: a rough split).
        std::string split;
        for (const auto& [tid, t] : ThreadTimes()) {
            if (tid == pacer.tid) continue;
            const auto before = threads0.find(tid);
            const double used = t.second - (before == threads0.end() ? 0 : before->second.second);
            if (used <= 0) continue;
            char part[96];
            std::snprintf(part, sizeof part, "%s%s %.2f %%", split.empty() ? "" : ", ",
                          tid == ::getpid() ? "GUI thread" : t.first == "bench_terminal_" ? "link reader" : t.first.c_str(), used / wall * 100);
            split += part;
        }
        std::snprintf(threadSplit, sizeof threadSplit, "  by thread: %s\n", split.c_str());
        if (view) {
            const CTRQDiagView::PaintStats s = view->Stats();
            std::snprintf(work, sizeof work, "  view work per second: %.1f paints, %.1f lines drawn, %.1f scroll bar pushes\n",
                          (s.paints - stats0.paints) / wall, (s.linesDrawn - stats0.linesDrawn) / wall,
                          (s.scrollBarUpdates - stats0.scrollBarUpdates) / wall);
        }
        frameBytes = pacer.sent;
        frame.session().serial().Disconnect();
    }

    // A plain reader of a pty: read() and nothing else.
    double plainShare = 0;
    {
        linktest::PtyPair pty;
        const int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        std::atomic<bool> stop{false};
        std::atomic<double> readerCpu{0};
        std::thread reader([&] {
            char buf[4096];
            while (!stop) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) > 0 && ::read(fd, buf, sizeof buf) < 0) continue;  // drained, or retried
            }
            readerCpu = ThreadCpuSeconds();
        });
        const auto t0 = std::chrono::steady_clock::now();
        Pacer pacer(pty.master(), seconds);
        pacer.join();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        stop = true;
        reader.join();
        ::close(fd);
        plainShare = readerCpu / wall * 100;
    }

    const double xtermShare = XtermShare(seconds);

    std::printf("paced 115200 baud, 80-character lines, %.0f s each (%llu bytes to the program), %s\n", seconds,
                (unsigned long long)frameBytes, std::getenv("DISPLAY") && qgetenv("QT_QPA_PLATFORM") != "offscreen"
                                                    ? "on the X display" : "offscreen");
    std::printf("  program (frame, serial link, document, view): %5.2f %% of a core\n", frameShare);
    if (xtermShare >= 0) {
        std::printf("  xterm + cat on the same kind of pty:          %5.2f %% of a core\n", xtermShare);
        std::printf("  goal: program at most xterm's share: %s\n", frameShare <= xtermShare ? "met" : "NOT MET");
    } else {
        std::printf("  xterm: not installed or no display (run under xvfb-run for the peer)\n");
        std::printf("  goal: program under 5 %% of a core: %s\n", frameShare < 5 ? "met" : "NOT MET");
    }
    std::printf("%s%s%s", threadSplit, work, paintSplit);
    std::printf("  plain pty reader:                              %5.2f %% of a core\n", plainShare);
    PrintLoadAverage("  ");
    MessageService::install(nullptr);
    Profile::install(nullptr);
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(dir);
    return 0;
}

// In a fresh process: the real frame and view, their document fed in 4096-byte blocks
// from a reader thread while the GUI thread paints.
int RunMemory(bool withCR, uint64_t total) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("pmx_terminal_view_bench_mem" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "CmdConf.txt") << "{t b[Set Board Trace] 1 [Board No];s s[Station Status] 0;}";
    std::filesystem::current_path(dir);
    SetStartDirectory(dir.string());
    MemoryProfile profile;
    Profile::install(&profile);
    QuietMessages boxes;
    MessageService::install(&boxes);
    long peak;
    {
        CMainFrame frame;
        if (!frame.OnCreate()) return 1;
        frame.resize(900, 600);
        frame.show();
        QTest::qWait(100);
        std::string text;
        for (int i = 0; text.size() < (1u << 20); ++i) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "%05d TRUNK %03d\tSTATE IDLE   LINK %02d  ALARMS 0  ERR %04d  OK%s",
                          i % 100000, i % 512, i % 64, (i * 7) % 10000, withCR ? "\r\n" : " ");
            text += buf;
        }
        std::atomic<bool> done{false};
        std::thread feeder([&] {
            size_t pos = 0, sinceCleanup = 0;
            for (uint64_t fed = 0; fed < total; fed += 4096) {
                const size_t n = std::min<size_t>(4096, text.size() - pos);
                frame.session().document().AppendReceived(text.data() + pos, static_cast<int>(n));
                pos = (pos + n) % text.size();
                if ((sinceCleanup += n) > (16u << 20)) {  // keep the dumps' disk use small
                    for (const auto& e : std::filesystem::directory_iterator(dir))
                        if (e.path().extension() == ".dat") std::filesystem::remove(e.path());
                    sinceCleanup = 0;
                }
            }
            done = true;
        });
        const auto t0 = std::chrono::steady_clock::now();
        (void)QTest::qWaitFor([&] { return done.load(); }, 600000);
        feeder.join();
        QTest::qWait(100);
        peak = PeakKiB();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("  %3llu MB %-10s peak RSS %6.1f MB  (target < 100 MB)  %s   [%.1f s, %.0f MB/s]\n",
                    (unsigned long long)(total >> 20), withCR ? "CR lines" : "no CR", peak / 1024.0,
                    peak < 100 * 1024 ? "met" : "NOT MET", s, (total >> 20) / s);
    }
    MessageService::install(nullptr);
    Profile::install(nullptr);
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(dir);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "memory-cr" || mode == "memory-nocr") {
        QApplication app(argc, argv);
        return mode == "memory-cr" ? RunMemory(true, 200ull << 20) : RunMemory(false, 50ull << 20);
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    {
        QApplication app(argc, argv);
        if (int rc = RunCpu(seconds > 0 ? seconds : 10)) return rc;
    }
    if (argc > 2 && std::string(argv[2]) == "cpu") return 0;
    std::printf("peak memory, each in a fresh process:\n");
    std::fflush(stdout);
    for (const char* m : {"memory-cr", "memory-nocr"}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/proc/self/exe", argv[0], m, static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    return 0;
}
