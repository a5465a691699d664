// Capture while the user disconnects, and large floods over LAN and a serial pty into
// the overflow dumps and a trace file: through the real frame and its commands.
#include "app/CMainFrame.h"
#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/TraceCapture.h"
#include "res/resource.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/links/LinkTestSupport.h"
#include "tests/links/LoopbackPeer.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"
#include "tools/pmxsim/FloodPattern.h"

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <fstream>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

class CaptureOverLinksTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestStartDir> start_;
    MemoryProfile profile_;

    static bool trigger(CMainFrame& f, int id) {
        f.session().updateState();
        if (!f.action(id)->isEnabled()) return false;
        f.action(id)->trigger();
        return true;
    }
    static off_t sizeOf(const std::string& path) {
        struct stat st{};
        return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
    }
    // The overflow dumps in the order they were written (names are times of day).
    std::string dumped() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(start_->dir().path()))
            if (e.path().extension() == ".dat") names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string all;
        for (const auto& n : names) all += start_->dir().read(n);
        return all;
    }
    static bool endsWith(const std::string& path, const std::string& tail) {
        std::ifstream f(path, std::ios::binary | std::ios::ate);
        const auto size = static_cast<std::streamoff>(f.tellg());
        if (!f || size < std::streamoff(tail.size())) return false;
        std::string got(tail.size(), '\0');
        f.seekg(size - std::streamoff(tail.size()));
        return bool(f.read(got.data(), std::streamsize(got.size()))) && got == tail;
    }

private slots:
    void init() {
        start_ = std::make_unique<TestStartDir>();
        profile_.clear();
        Profile::install(&profile_);
        SetModalHook([](QDialog& d) {
            if (ControlId(&d) != IDD_ENTER_PASSWORD) return int(QDialog::Rejected);
            FindControl<QLineEdit>(&d, IDC_PASSWORD_EDIT)->setText(QStringLiteral("velmod"));
            d.accept();
            return d.result();
        });
    }
    void cleanup() {
        SetModalHook(nullptr);
        Profile::install(nullptr);
        start_.reset();
    }

    // The capture ends (its message and stop banner) before the port closes and the
    // disconnect is reported.
    void serialDisconnectStopsCaptureFirst() {
        linktest::SimProcess sim;
        QVERIFY(sim.ok());
        profile_.writeString("Devices", "COM1", sim.path());
        for (auto [k, v] : {std::pair{"CommPort", 0}, {"BaudRate", 9600}, {"DataBits", 8},
                            {"StopBits", 0}, {"Parity", 0}, {"Flow", 0}})
            profile_.writeInt("SerialPort", k, v);
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        QVERIFY(trigger(frame, ID_SERIAL_CONNECT));
        QTRY_VERIFY_WITH_TIMEOUT(frame.session().accessMode() == AccessMode::Maintenance, 10000);
        boxes.answerSave(start_->dir().file("t.txt"));
        QVERIFY(trigger(frame, ID_CAPTURE_ON));
        boxes.clear();
        QVERIFY(trigger(frame, ID_SERIAL_DISCONNECT));
        std::vector<std::string> texts;
        for (const auto& b : boxes.boxes()) texts.push_back(b.text);
        const std::vector<std::string> expected = {"Are you sure to disconnect serial port connection ?",
                                                   "Stop Saving trace data.",
                                                   "Serial port connection disconnected..."};
        QCOMPARE(texts, expected);
        QVERIFY(!frame.session().captureRunning());
        const std::string bytes = start_->dir().read("t.txt");
        QVERIFY(bytes.find("\tStop Saving Trace Data at  ") != std::string::npos);
    }

    // Ten megabytes from the simulator over LAN land in the trace file byte for byte,
    // while the window keeps answering.
    void lanFloodIsCapturedCompletely() {
        SimProcess sim(PMXSIM_PATH, start_->dir().file("sim.log"));
        QVERIFY(sim.port() > 0);
        profile_.writeString("Server", "History %c", "127.0.0.1:" + std::to_string(sim.port()));
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        QVERIFY(trigger(frame, ID_LAN_CONNECT));
        QTRY_VERIFY_WITH_TIMEOUT(frame.session().accessMode() == AccessMode::Maintenance, 10000);
        QTRY_VERIFY(frame.session().document().GetTranscript().find("maint>") != std::string::npos);

        const std::string path = start_->dir().file("lan-flood.txt");
        boxes.answerSave(path);
        QVERIFY(trigger(frame, ID_CAPTURE_ON));

        // The GUI thread's latency while the flood arrives: a 10 ms ping's lateness.
        qint64 worst = 0;
        QElapsedTimer since;
        since.start();
        QTimer ping;
        ping.setInterval(10);
        connect(&ping, &QTimer::timeout, this, [&] {
            worst = std::max(worst, since.restart() - 10);
        });
        ping.start();

        constexpr uint64_t kBytes = 10u << 20;
        const std::string command = "flood " + std::to_string(kBytes);
        QElapsedTimer clock;
        clock.start();
        frame.session().SendToLink(command.c_str(), int(command.size()), true);
        frame.session().SendToLink("\r", 1, true);
        std::string flood(kBytes, '\0');
        for (uint64_t i = 0; i < kBytes; ++i) flood[i] = pmxsim::FloodByte(i);
        const std::string expected = TraceCapture::ConvertReceived(flood) + "\r\nmaint>";
        // The file's end, not the transcript's: an overflow dump may empty the
        // transcript at the very block that brings the prompt.
        QTRY_VERIFY_WITH_TIMEOUT(sizeOf(path) > off_t(expected.size()) && endsWith(path, "maint>"),
                                 120000);
        const qint64 ms = clock.elapsed();
        ping.stop();
        QVERIFY(trigger(frame, ID_CAPTURE_OFF));
        const std::string bytes = start_->dir().read("lan-flood.txt");
        const size_t at = bytes.find(expected.substr(0, 64));
        QVERIFY(at != std::string::npos);
        QVERIFY(bytes.compare(at, expected.size(), expected) == 0);
        qInfo("LAN flood of %llu bytes into the trace file: %lld ms (%.1f MB/s), worst GUI lateness %lld ms",
              static_cast<unsigned long long>(kBytes), static_cast<long long>(ms),
              kBytes / 1048576.0 / (ms / 1000.0), static_cast<long long>(worst));
        QVERIFY(trigger(frame, ID_LAN_DISCONNECT));
    }

    // Several megabytes of lines, tabs and a CR-less stretch longer than the dump's byte
    // limit: the dumps plus the transcript hold every byte in order, and the trace file
    // holds the flood as rewritten, over LAN and over a serial pty.
    void floodKeepsEveryByte_data() {
        QTest::addColumn<bool>("lan");
        QTest::newRow("lan") << true;
        QTest::newRow("serial") << false;
    }
    void floodKeepsEveryByte() {
        QFETCH(bool, lan);
        std::string flood;
        for (unsigned n = 0; flood.size() < (3u << 20); ++n)
            flood += std::to_string(n) + "\tABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz 0123456789\r\n";
        for (unsigned n = 0; n < 30000; ++n) flood += "no line end here " + std::to_string(n) + " \n";
        flood += "\rlast line";
        std::atomic<bool> go{false};
        LoopbackPeer peer([&](LoopbackPeer&, int fd) {
            while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            SendAll(fd, flood);
            ::shutdown(fd, SHUT_WR);
        });
        linktest::PtyPair pty;
        QVERIFY(pty.ok());
        profile_.writeString("Server", "History %c", peer.destination());
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        std::unique_ptr<frametest::SerialHookup> serial;
        if (lan) {
            QVERIFY(trigger(frame, ID_LAN_CONNECT));
            QTRY_VERIFY(frame.session().isLinkConnected(LinkKind::Lan));
        } else {
            serial = std::make_unique<frametest::SerialHookup>(frame, pty.path());
            QVERIFY(serial->ok());
        }
        const std::string trace = start_->dir().file("flood.txt");
        boxes.answerSave(trace);
        QVERIFY(trigger(frame, ID_CAPTURE_ON));
        std::thread writer;
        if (lan) go = true;
        else writer = std::thread([&] { pty.WriteAll(flood, 120000); });
        auto held = [&] { return dumped() + frame.session().document().GetTranscript(); };
        QTRY_VERIFY_WITH_TIMEOUT(held().ends_with("last line"), 120000);
        if (writer.joinable()) writer.join();
        const std::string got = held();
        QCOMPARE(got.size(), flood.size());
        QVERIFY(got == flood);
        QVERIFY(trigger(frame, ID_CAPTURE_OFF));
        QVERIFY(start_->dir().read("flood.txt").find(TraceCapture::ConvertReceived(flood)) != std::string::npos);
    }
};

QTEST_MAIN(CaptureOverLinksTest)
#include "CaptureOverLinksTest.moc"
