// End-to-end throughput of the serial path: the simulator's flood through the
// real frame (Serial Port Connect, log-in), link, document and view, offscreen.
// Prints MB/s for 20 and 50 MB floods at 115200 8N1 (a pty ignores the rate), each
// beside a plain reader of the same flood from its own simulator doing the least a
// terminal must (PlainPtyReader.h); goal: at least 0.9 of it, median over the rounds.
// Both clocks run from the flood command to the last byte taken in; neither counts
// the connect, the log-in or the close.
// Usage: bench_serial_frame [rounds, default 12] [--program-only (for profiling)]
#include "bench/BenchReport.h"
#include "app/CMainFrame.h"
#include "bench/PlainPtyReader.h"
#include "session/SerialControl.h"
#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "links/SerialTexts.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "tests/links/LinkTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// Every box answers with its first button.
class QuietMessages : public MessageService {
public:
    int messageBox(const std::string&, const std::string&, MsgIcon, MsgButtons buttons) override {
        return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? IDYES : IDOK;
    }
    std::optional<std::string> saveFileName(const SaveFileRequest&) override { return std::nullopt; }
};

// Counts what reaches the document, then hands it on unchanged; notes on the reading
// thread when the count reaches the mark, so the clock stops at the last byte taken in.
class CountingSink : public ReceiveSink {
public:
    explicit CountingSink(ReceiveSink& next) : next_(next) {}
    void AppendReceived(const char* text, int length) override {
        next_.AppendReceived(text, length);
        if (!started_.exchange(true)) firstAt_ = benchpty::Clock::now();
        const uint64_t now = bytes_.fetch_add(static_cast<uint64_t>(length)) + static_cast<uint64_t>(length);
        if (now >= mark_.load() && !reached_.exchange(true)) {
            reachedAt_ = benchpty::Clock::now();
            if (QEventLoop* loop = loop_.load()) QMetaObject::invokeMethod(loop, "quit", Qt::QueuedConnection);
        }
    }
    // The next mark and the loop told when it is reached.
    void Arm(uint64_t mark, QEventLoop* loop) {
        loop_.store(loop);
        reached_.store(false);
        started_.store(false);
        mark_.store(mark);
    }
    uint64_t bytes() const { return bytes_.load(); }
    bool reached() const { return reached_.load(); }
    benchpty::Clock::time_point reachedAt() const { return reachedAt_; }
    benchpty::Clock::time_point firstAt() const { return firstAt_; }

private:
    ReceiveSink& next_;
    std::atomic<uint64_t> bytes_{0};
    std::atomic<uint64_t> mark_{UINT64_MAX};
    std::atomic<bool> reached_{false}, started_{false};
    std::atomic<QEventLoop*> loop_{nullptr};
    benchpty::Clock::time_point reachedAt_, firstAt_;
};

// Seconds the plain reader takes for a flood of n bytes from its own simulator (the
// same binary and pty kind as the program's), 0 when it did not all come.
double PlainReaderSeconds(uint64_t n, const std::string& dumpDir, double* cpu, double* firstByte) {
    linktest::SimProcess sim;
    if (!sim.ok()) return 0;
    const int fd = benchpty::OpenRaw(sim.path());
    if (fd < 0) return 0;
    benchpty::LogIn(fd);
    const double cpu0 = benchpty::CpuSeconds();
    const double s = benchpty::ReadFlood(fd, n, dumpDir, [](const char*, size_t) {}, firstByte);
    *cpu = benchpty::CpuSeconds() - cpu0;
    ::close(fd);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rounds = 12;
    bool programOnly = false;  // for profiling the program alone
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--program-only") == 0) programOnly = true;
        else if (std::atoi(argv[i]) > 0) rounds = std::atoi(argv[i]);
    }
    const auto dir = std::filesystem::temp_directory_path() / "pmx_serial_frame_bench";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "CmdConf.txt") << "{t b[Set Board Trace] 1 [Board No];s s[Station Status] 0;}";
    std::filesystem::current_path(dir);

    MemoryProfile profile;
    Profile::install(&profile);
    QuietMessages boxes;
    MessageService::install(&boxes);
    SetModalHook([](QDialog& d) {
        if (ControlId(&d) != IDD_ENTER_PASSWORD) return int(QDialog::Rejected);
        FindControl<QLineEdit>(&d, IDC_PASSWORD_EDIT)->setText("velmod");
        d.accept();
        return d.result();
    });

    // Rounds alternate 20 and 50 MB floods and which of the two goes first, so that
    // both see about the same load; the median ratio counts.
    const uint64_t sizes[] = {20000000ull, 50000000ull};
    linktest::SimProcess sim;
    if (!sim.ok()) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    using namespace serialtext;
    profile.writeString(kDevicesSection, "COM1", sim.path());
    profile.writeInt(kSection, kKeyPort, 0);
    profile.writeInt(kSection, kKeyBaud, 115200);
    profile.writeInt(kSection, kKeyDataBits, 8);
    profile.writeInt(kSection, kKeyStopBits, 0);
    profile.writeInt(kSection, kKeyParity, 0);
    profile.writeInt(kSection, kKeyFlow, 0);

    CMainFrame frame;
    if (!frame.OnCreate()) return 1;
    // Shown, as in use: the view paints what arrives at display rate meanwhile.
    frame.resize(900, 600);
    frame.show();
    if (!QTest::qWaitForWindowExposed(&frame)) return 1;
    CountingSink counter(frame.session().document());
    frame.session().setReceiveSink(&counter);
    frame.session().serial().OnConnect();
    if (!QTest::qWaitFor([&] { return frame.session().document().GetTranscript().find("maint>") != std::string::npos; },
                         10000)) {
        std::fprintf(stderr, "log-in failed\n");
        return 1;
    }
    // The program's flood: from the command to the last byte taken into the document,
    // the GUI thread running its event loop meanwhile as it does in use.
    auto programSeconds = [&](uint64_t n, double* cpu, double* guiCpu, double* firstByte) -> double {
        const std::string line = "flood " + std::to_string(n);
        // The plain reader's log-in gives it 400 ms of quiet before its flood: the
        // program gets as long, whatever ran just before.
        QTest::qWait(400);
        QEventLoop loop;
        counter.Arm(counter.bytes() + line.size() + 2 + n, &loop);  // the echo, its CR LF, the flood
        QTimer::singleShot(300000, &loop, &QEventLoop::quit);
        const auto start = benchpty::Clock::now();
        const double cpu0 = benchpty::CpuSeconds(), gui0 = benchpty::ThreadCpuSeconds();
        frame.session().SendToLink(line.data(), int(line.size()), false);
        frame.session().SendToLink("\r", 1, false);
        if (!counter.reached()) loop.exec();
        *cpu = benchpty::CpuSeconds() - cpu0;
        *guiCpu = benchpty::ThreadCpuSeconds() - gui0;
        if (!counter.reached()) return 0;
        const double s = std::chrono::duration<double>(counter.reachedAt() - start).count();
        *firstByte = std::chrono::duration<double>(counter.firstAt() - start).count();
        QTest::qWait(200);  // the prompt after the flood
        return s;
    };
    std::printf("serial path, simulator flood -> frame/document/view (offscreen), 115200 8N1 on a pty\n");
    std::printf("plain reader: its own simulator's pty, raw, 64 KiB reads, line ends counted, the text\n"
                "appended to the current second's dump file every 2000 lines; ms: from the command to the first byte\n");
    const auto plainDir = dir / "plain";
    std::filesystem::create_directories(plainDir);
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        const uint64_t n = sizes[round % 2];
        const bool plainFirst = (round / 2) % 2 == 0;
        double plain = 0, program = 0, plainCpu = 0, programCpu = 0, guiCpu = 0, plainFirstByte = 0, programFirstByte = 0;
        if (plainFirst && !programOnly) plain = PlainReaderSeconds(n, plainDir.string(), &plainCpu, &plainFirstByte);
        program = programSeconds(n, &programCpu, &guiCpu, &programFirstByte);
        if (!plainFirst && !programOnly) plain = PlainReaderSeconds(n, plainDir.string(), &plainCpu, &plainFirstByte);
        if (program <= 0) {
            std::fprintf(stderr, "flood of %llu bytes did not arrive\n", (unsigned long long)n);
            return 1;
        }
        const double rate = n / program / 1e6, plainRate = plain > 0 ? n / plain / 1e6 : 0;
        std::printf("  %9llu bytes  program %6.3f s %6.1f MB/s %5.3f CPU-s (GUI %5.3f) %4.1f ms | plain reader %6.3f s"
                    " %6.1f MB/s %5.3f CPU-s %4.1f ms | ratio %.2f (%s first)\n",
                    (unsigned long long)n, program, rate, programCpu, guiCpu, programFirstByte * 1e3, plain, plainRate, plainCpu,
                    plainFirstByte * 1e3,
                    plain > 0 ? rate / plainRate : 0.0, plainFirst ? "reader" : "program");
        if (plain > 0) ratios.push_back(rate / plainRate);
        for (const auto& e : std::filesystem::directory_iterator(plainDir)) std::filesystem::remove(e.path());
    }
    if (!ratios.empty()) {
        const double ratio = Median(ratios);
        std::printf("  median ratio program / plain reader %.2f over %zu rounds  (goal >= 0.90)  %s\n", ratio,
                    ratios.size(), Met(ratio >= 0.9));
    }
    PrintLoadAverage("  ");
    frame.session().serial().Disconnect();
    SetModalHook(nullptr);
    MessageService::install(nullptr);
    Profile::install(nullptr);
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(dir);
    return 0;
}
