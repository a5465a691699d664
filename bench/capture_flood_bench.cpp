// Throughput of received text through the main frame (document, view, trace hook) from
// the simulator's flood over a pty, with trace capture off and on. Prints MB/s. A pty
// moves bytes at memory speed, so this measures the program, not a line.
#include "commands/CInputBoxBar.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {
// Counts what the link delivers and hands it on to the frame's document.
class CountingSink : public ReceiveSink {
public:
    explicit CountingSink(ReceiveSink& next) : next_(next) {}
    void AppendReceived(const char* text, int length) override {
        {
            std::lock_guard lock(m_);
            count_ += static_cast<uint64_t>(length);
            tail_.append(text, static_cast<size_t>(length));
            if (tail_.size() > 16) tail_.erase(0, tail_.size() - 16);
        }
        next_.AppendReceived(text, length);
    }
    void Reset() { std::lock_guard lock(m_); count_ = 0; tail_.clear(); }
    bool EndsWithPrompt(uint64_t atLeast) {
        std::lock_guard lock(m_);
        return count_ >= atLeast && tail_.size() >= 7 && tail_.compare(tail_.size() - 7, 7, "\nmaint>") == 0;
    }

private:
    ReceiveSink& next_;
    std::mutex m_;
    uint64_t count_ = 0;
    std::string tail_;
};

template <class Pred>
bool Pump(Pred done, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const uint64_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 8000000ull;
    QApplication app(argc, argv);
    TempDir dir;
    dir.write("CmdConf.txt", kTwoCommandConf);
    ScopedChdir cwd(dir.path());
    MemoryProfile profile;
    Profile::install(&profile);
    ScriptedMessages boxes;
    frametest::DialogScript dialogs;
    dialogs.password = "velmod";

    linktest::SimProcess sim;
    if (!sim.ok()) { std::fprintf(stderr, "cannot start the simulator\n"); return 1; }
    CMainFrame frame;
    if (!frame.OnCreate()) return 1;
    frametest::ConfigureSerial(sim.path());
    CountingSink sink(frame.session().document());
    CSerialLink link;
    link.SetReceiver(&sink);
    if (!link.Connect(true)) { std::fprintf(stderr, "open failed\n"); return 1; }
    frame.session().setLinkWriter(LinkKind::Serial, [&link](const char* t, int n) { return link.Write(t, n); });
    frame.session().setLinkConnected(LinkKind::Serial, true);
    link.Write("\r", 1);
    if (!Pump([&] { return frame.session().accessMode() == AccessMode::Maintenance; }, 10)) {
        std::fprintf(stderr, "no login\n");
        return 1;
    }
    Pump([] { return false; }, 0);

    for (bool capture : {false, true, false, true}) {
        if (capture) {
            boxes.answerSave(dir.file("flood.txt"));
            frame.action(ID_CAPTURE_ON)->trigger();
        }
        sink.Reset();
        const std::string cmd = "flood " + std::to_string(bytes) + "\r";
        const auto start = std::chrono::steady_clock::now();
        link.Write(cmd.c_str(), static_cast<int>(cmd.size()));
        const bool done = Pump([&] { return sink.EndsWithPrompt(bytes); }, 300);
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (capture) frame.action(ID_CAPTURE_OFF)->trigger();
        std::printf("capture %-3s %llu bytes in %.3f s: %.1f MB/s%s\n", capture ? "on" : "off",
                    static_cast<unsigned long long>(bytes), secs, bytes / secs / 1e6,
                    done ? "" : " (did not finish)");
    }
    frame.session().setLinkConnected(LinkKind::Serial, false);
    frame.session().setLinkWriter(LinkKind::Serial, {});
    link.Connect(false);
    Profile::install(nullptr);
    return 0;
}
