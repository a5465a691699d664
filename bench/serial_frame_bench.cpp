// End-to-end throughput of the serial path: the simulator's flood through the
// real frame (Serial Port Connect, log-in), link, document and view, offscreen.
// Prints MB/s for a few flood sizes at 115200 8N1 (a pty ignores the rate), each beside
// a plain reader of the same flood from its own simulator (the pty set raw, read in
// 64 KiB reads and thrown away, as `cat` would); goal: at least 0.9 of it.
#include "app/CMainFrame.h"
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
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <vector>
#include <string>
#include <thread>

#include <poll.h>
#include <termios.h>
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

// Counts what reaches the document, then hands it on unchanged.
class CountingSink : public ReceiveSink {
public:
    explicit CountingSink(ReceiveSink& next) : next_(next) {}
    void AppendReceived(const char* text, int length) override {
        bytes_.fetch_add(static_cast<uint64_t>(length));
        next_.AppendReceived(text, length);
    }
    uint64_t bytes() const { return bytes_.load(); }

private:
    ReceiveSink& next_;
    std::atomic<uint64_t> bytes_{0};
};

// MB/s of a plain reader of the simulator's flood of n bytes, the way `cat` reads
// the raw pty; 0 when the simulator did not answer.
double PlainReaderRate(uint64_t n) {
    linktest::SimProcess sim;
    if (!sim.ok()) return 0;
    const int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return 0;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    std::vector<char> buf(65536);
    auto drain = [&](int ms) {
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, ms) > 0 && ::read(fd, buf.data(), buf.size()) > 0) {}
    };
    auto say = [&](const std::string& s) { return ::write(fd, s.data(), s.size()) == ssize_t(s.size()); };
    say("\r");
    drain(200);
    say("velmod\r");
    drain(200);
    const std::string line = "flood " + std::to_string(n) + "\r";
    const uint64_t want = n + line.size();
    uint64_t got = 0;
    QElapsedTimer clock;
    clock.start();
    say(line);
    pollfd p{fd, POLLIN, 0};
    while (got < want && ::poll(&p, 1, 10000) > 0) {
        const ssize_t r = ::read(fd, buf.data(), buf.size());
        if (r <= 0) break;
        got += static_cast<uint64_t>(r);
    }
    const double s = clock.nsecsElapsed() / 1e9;
    ::close(fd);
    return got >= want ? n / s / 1e6 : 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
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

    // Each flood right after the plain reader's of the same size, so that both see
    // about the same load; the median ratio counts.
    const uint64_t sizes[] = {20000000ull, 50000000ull, 20000000ull, 50000000ull, 20000000ull};
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
    CountingSink counter(frame.session().document());
    frame.session().setReceiveSink(&counter);
    frame.session().serial().OnConnect();
    if (!QTest::qWaitFor([&] { return frame.session().document().GetTranscript().find("maint>") != std::string::npos; },
                         10000)) {
        std::fprintf(stderr, "log-in failed\n");
        return 1;
    }
    std::printf("serial path, simulator flood -> frame/document/view (offscreen), 115200 8N1 on a pty\n");
    std::vector<double> ratios;
    for (uint64_t n : sizes) {
        const double plain = PlainReaderRate(n);
        const uint64_t before = counter.bytes();
        const std::string line = "flood " + std::to_string(n);
        QElapsedTimer clock;
        clock.start();
        frame.session().SendToLink(line.data(), int(line.size()), false);
        frame.session().SendToLink("\r", 1, false);
        // The command's echo and the closing prompt come too: wait for all of it.
        const uint64_t want = before + n;
        if (!QTest::qWaitFor([&] { return counter.bytes() >= want + line.size(); }, 300000)) {
            std::fprintf(stderr, "flood of %llu bytes did not arrive\n", (unsigned long long)n);
            return 1;
        }
        const double s = clock.nsecsElapsed() / 1e9;
        const double rate = n / s / 1e6;
        std::printf("  %9llu bytes  %7.3f s  %7.1f MB/s   plain reader %7.1f MB/s   ratio %.2f\n",
                    (unsigned long long)n, s, rate, plain, plain > 0 ? rate / plain : 0.0);
        if (plain > 0) ratios.push_back(rate / plain);
        QTest::qWait(200);  // let the prompt after the flood arrive
    }
    if (!ratios.empty()) {
        std::sort(ratios.begin(), ratios.end());
        const double ratio = ratios[ratios.size() / 2];
        std::printf("  median ratio program / plain reader %.2f  (goal >= 0.90)  %s\n", ratio,
                    ratio >= 0.9 ? "met" : "NOT MET");
    }
    double load[3] = {0, 0, 0};
    if (::getloadavg(load, 3) > 0) std::printf("  load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    frame.session().serial().Disconnect();
    SetModalHook(nullptr);
    MessageService::install(nullptr);
    Profile::install(nullptr);
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(dir);
    return 0;
}
