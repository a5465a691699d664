// Trace capture through the frame: the save dialog's request, the confirmations and
// the banners byte for byte, received text from a serial link rewritten into the
// file, a file deleted or unreachable during capture, the close order, and a flood
// from the switch simulator arriving in the file complete.
#include "commands/CInputBoxBar.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"
#include "tools/pmxsim/FloodPattern.h"

#include <QAction>
#include <QStatusBar>
#include <QtTest>

#include <sys/stat.h>

using frametest::DialogScript;
using frametest::SerialHookup;
using linktest::PtyPair;

namespace {
const std::string kRule(75, '=');

// Boxes as ScriptedMessages records them, plus an action run when a given text shows.
class WatchingMessages : public ScriptedMessages {
public:
    std::function<void(const std::string& text)> onBox;
    int messageBox(const std::string& text, const std::string& title, MsgIcon icon,
                   MsgButtons buttons) override {
        if (onBox) onBox(text);
        return ScriptedMessages::messageBox(text, title, icon, buttons);
    }
};

// True when bytes is the start banner, the middle, then the stop banner, with banner
// times taken between from and to (the clock may tick during the test).
bool FramedBy(const std::string& bytes, const std::string& middle, std::time_t from, std::time_t to) {
    for (std::time_t a = from; a <= to; ++a)
        for (std::time_t b = a; b <= to; ++b)
            if (bytes == TraceCapture::Banner(true, a) + middle + TraceCapture::Banner(false, b)) return true;
    return false;
}

std::string AfterStartBanner(const std::string& bytes) {
    const std::string end = kRule + "\r\nmaint> ";
    const size_t at = bytes.find(end);
    return at == std::string::npos ? std::string("<no start banner>") : bytes.substr(at + end.size());
}
} // namespace

class CaptureTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<ScopedChdir> cwd_;
    MemoryProfile profile_;

    void start(CMainFrame& f, ScriptedMessages& boxes, const std::string& path) {
        boxes.answerSave(path);
        f.action(ID_CAPTURE_ON)->trigger();
        QVERIFY(f.session().captureRunning());
    }

private slots:
    void init() {
        dir_ = std::make_unique<TempDir>();
        dir_->write("CmdConf.txt", kTwoCommandConf);
        cwd_ = std::make_unique<ScopedChdir>(dir_->path());
        profile_.clear();
        Profile::install(&profile_);
    }
    void cleanup() {
        Profile::install(nullptr);
        cwd_.reset();
        dir_.reset();
    }

    void startedAndStoppedAtOnceHoldsTheTwoBanners() {
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        dir_->write("t.txt", "old contents\r\n");
        f.session().updateState();
        QVERIFY(f.action(ID_CAPTURE_ON)->isEnabled());
        QVERIFY(!f.action(ID_CAPTURE_OFF)->isEnabled());
        const std::time_t from = std::time(nullptr);
        start(f, boxes, dir_->file("t.txt"));
        const SaveFileRequest req = boxes.saveRequests().at(0);
        QCOMPARE(req.filter, std::string("Text Files (*.txt)|*.txt|All Files (*.*)|*.*||"));
        QCOMPARE(req.defaultExt, std::string("txt"));
        QCOMPARE(req.initialName, std::string("*.txt"));
        QVERIFY(req.overwritePrompt);
        QVERIFY(!f.action(ID_CAPTURE_ON)->isEnabled());
        QVERIFY(f.action(ID_CAPTURE_OFF)->isEnabled());

        f.action(ID_CAPTURE_OFF)->trigger();
        const std::time_t to = std::time(nullptr);
        QVERIFY(!f.session().captureRunning());
        QVERIFY(f.action(ID_CAPTURE_ON)->isEnabled());
        QVERIFY(!f.action(ID_CAPTURE_OFF)->isEnabled());
        const auto shown = boxes.boxes();
        QCOMPARE(shown.size(), size_t(2));
        QCOMPARE(shown[0].text, std::string("Now Start to Save trace data."));
        QCOMPARE(shown[0].title, std::string("Confirm starting"));
        QCOMPARE(shown[1].text, std::string("Stop Saving trace data."));
        QCOMPARE(shown[1].title, std::string("Confirm stopping"));
        for (const RecordedBox& b : shown) QVERIFY(b.icon == MsgIcon::None && b.buttons == MsgButtons::Ok);
        QVERIFY2(FramedBy(dir_->read("t.txt"), "", from, to), dir_->read("t.txt").c_str());
    }

    void receivedTextIsRewrittenAndTheFileComesBack() {
        PtyPair pty;
        QVERIFY(pty.ok());
        CMainFrame f;
        QVERIFY(f.OnCreate());
        SerialHookup serial(f, pty.path());
        QVERIFY(serial.ok());
        ScriptedMessages boxes;
        const std::string path = dir_->file("t.txt");
        start(f, boxes, path);

        QVERIFY(pty.WriteAll("a\tb\r\nline two\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(AfterStartBanner(dir_->read("t.txt")),
                                  std::string("a        b\r\nline two\r\n"), 5000);
        // Deleted while capturing: the next piece of text creates it again.
        QCOMPARE(std::remove(path.c_str()), 0);
        QVERIFY(pty.WriteAll("c\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(dir_->read("t.txt"), std::string("c\r\n"), 5000);

        f.action(ID_CAPTURE_OFF)->trigger();
        const std::string bytes = dir_->read("t.txt");
        QVERIFY(bytes.rfind("c\r\n" + TraceCapture::Banner(false, std::time(nullptr)).substr(0, 10), 0) == 0);
        QVERIFY(bytes.find("Stop Saving Trace Data at  ") != std::string::npos);
        QVERIFY(bytes.find("Start to Save") == std::string::npos);  // it went with the deleted file
        QCOMPARE(boxes.count(), size_t(2));
    }

    void textDuringTheConfirmationFollowsTheStartBanner() {
        CMainFrame f;
        QVERIFY(f.OnCreate());
        WatchingMessages boxes;
        boxes.onBox = [&](const std::string& text) {
            // Arrives (as LAN text does, on this thread) while the user reads the box.
            if (text == "Now Start to Save trace data.") f.session().document().AppendReceived("early\r\n", 7);
        };
        const std::time_t from = std::time(nullptr);
        start(f, boxes, dir_->file("t.txt"));
        f.session().document().AppendReceived("late\r\n", 6);
        f.action(ID_CAPTURE_OFF)->trigger();
        QVERIFY2(FramedBy(dir_->read("t.txt"), "early\r\nlate\r\n", from, std::time(nullptr)),
                 dir_->read("t.txt").c_str());
    }

    void failuresAreReportedOnceAndEndTheCapture() {
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        // Cancelled dialog: nothing at all.
        f.action(ID_CAPTURE_ON)->trigger();
        QVERIFY(!f.session().captureRunning());
        QCOMPARE(boxes.count(), size_t(0));

        boxes.answerSave(dir_->file("missing/t.txt"));
        f.action(ID_CAPTURE_ON)->trigger();
        QVERIFY(!f.session().captureRunning());
        QCOMPARE(boxes.count(), size_t(1));
        QCOMPARE(boxes.boxes()[0].text, std::string("Failed to Open File"));
        QVERIFY(boxes.boxes()[0].title.empty() || boxes.boxes()[0].title == kAppTitle);
        QVERIFY(boxes.boxes()[0].icon == MsgIcon::Warning);
        f.session().updateState();
        QVERIFY(f.action(ID_CAPTURE_ON)->isEnabled());

        boxes.clear();
        const std::string path = dir_->file("t.txt");
        start(f, boxes, path);
        boxes.clear();
        // The file's place taken by a directory: the capture ends at the first failed
        // write, the user told once (box and status bar).
        std::remove(path.c_str());
        QCOMPARE(::mkdir(path.c_str(), 0700), 0);
        f.session().document().AppendReceived("lost one\r\n", 10);
        f.session().document().AppendReceived("lost two\r\n", 10);
        QTRY_COMPARE(boxes.count(), size_t(1));
        QTest::qWait(50);
        QCOMPARE(boxes.count(), size_t(1));
        QCOMPARE(boxes.boxes()[0].text, std::string("file open failure in Save_Trace"));
        QVERIFY(!f.session().captureRunning());
        QVERIFY(f.statusBar()->currentMessage().startsWith(QStringLiteral("Capture stopped")));
        f.session().updateState();
        QVERIFY(f.action(ID_CAPTURE_ON)->isEnabled());
        QCOMPARE(::rmdir(path.c_str()), 0);
        f.session().document().AppendReceived("not kept\r\n", 10);
        QVERIFY(!dir_->exists("t.txt"));
        start(f, boxes, path);
        f.session().document().AppendReceived("kept\r\n", 6);
        QVERIFY(AfterStartBanner(dir_->read("t.txt")) == "kept\r\n");

        // A file opened into the terminal while capturing is not captured.
        dir_->write("old.txt", "from a file\r\n");
        QVERIFY(f.OpenDocumentFile(dir_->file("old.txt")));
        QCOMPARE(AfterStartBanner(dir_->read("t.txt")), std::string("kept\r\n"));
    }

    void closingTheWindowWritesTheStopBannerBeforeTheMessage() {
        auto f = std::make_unique<CMainFrame>();
        QVERIFY(f->OnCreate());
        WatchingMessages boxes;
        const std::string path = dir_->file("t.txt");
        std::string atMessage;
        boxes.onBox = [&](const std::string& text) {
            if (text == "Stop Saving trace data.") atMessage = dir_->read("t.txt");
        };
        const std::time_t from = std::time(nullptr);
        start(*f, boxes, path);
        f->close();
        QVERIFY2(FramedBy(atMessage, "", from, std::time(nullptr)), atMessage.c_str());
        QCOMPARE(dir_->read("t.txt"), atMessage);
        QCOMPARE(boxes.boxes().back().title, std::string("Confirm stopping"));
    }

    // The flood of the simulator, logged in over a pty, with capture on: every byte
    // is in the file (its lines already end in CR LF, so the rewriting keeps them).
    void floodIsCapturedCompletely() {
        linktest::SimProcess sim;
        QVERIFY(sim.ok());
        CMainFrame f;
        QVERIFY(f.OnCreate());
        SerialHookup serial(f, sim.path());
        QVERIFY(serial.ok());
        DialogScript dialogs;
        dialogs.password = "velmod";
        ScriptedMessages boxes;
        const std::string path = dir_->file("flood.txt");
        start(f, boxes, path);

        serial.link().Write("\r", 1);
        QTRY_COMPARE_WITH_TIMEOUT(int(f.session().accessMode()), int(AccessMode::Maintenance), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(AfterStartBanner(dir_->read("flood.txt")).find("maint>") != std::string::npos, 5000);

        constexpr uint64_t kBytes = 1 << 20;
        const std::string command = "flood " + std::to_string(kBytes);
        QCOMPARE(serial.link().Write((command + "\r").c_str(), int(command.size() + 1)), 1);
        std::string flood(kBytes, '\0');
        for (uint64_t i = 0; i < kBytes; ++i) flood[i] = pmxsim::FloodByte(i);
        const std::string expected = command + "\r\n" + TraceCapture::ConvertReceived(flood) + "\r\nmaint>";
        auto arrived = [&] {
            struct stat st{};
            return ::stat(path.c_str(), &st) == 0 && st.st_size > off_t(kBytes) &&
                   dir_->read("flood.txt").find(expected) != std::string::npos;
        };
        QTRY_VERIFY_WITH_TIMEOUT(arrived(), 60000);
        f.action(ID_CAPTURE_OFF)->trigger();
        const std::string bytes = dir_->read("flood.txt");
        const size_t at = bytes.find(command + "\r\n");
        QVERIFY(at != std::string::npos);
        QCOMPARE(bytes.compare(at, expected.size(), expected), 0);
        QCOMPARE(boxes.count(), size_t(2));  // the two confirmations, no failure
    }
};

QTEST_MAIN(CaptureTest)
#include "CaptureTest.moc"
