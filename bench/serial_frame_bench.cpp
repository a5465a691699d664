// End-to-end throughput of the serial path: the simulator's flood through the
// real frame (Serial Port Connect, log-in), link, document and view, offscreen.
// Prints MB/s for a few flood sizes at 115200 8N1 (a pty ignores the rate).
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
    for (uint64_t n : {1000000ull, 10000000ull, 30000000ull}) {
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
        std::printf("  %9llu bytes  %7.3f s  %7.1f MB/s\n", (unsigned long long)n, s, n / s / 1e6);
        QTest::qWait(200);  // let the prompt after the flood arrive
    }
    frame.session().serial().Disconnect();
    SetModalHook(nullptr);
    MessageService::install(nullptr);
    Profile::install(nullptr);
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(dir);
    return 0;
}
