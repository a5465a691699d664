// Serial Port Connect/Disconnect through the real frame, link, document and view,
// against a pty the test plays itself or the switch simulator as a child process.
#include "app/CMainFrame.h"
#include "session/SerialControl.h"
#include "platform/DialogRunner.h"
#include "platform/GuiThread.h"
#include "platform/Profile.h"
#include "links/CSerialLink.h"
#include "links/CommPort.h"
#include "links/SerialTexts.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/CTRQDiagView.h"
#include "tests/links/LinkTestSupport.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"
#include "tools/pmxsim/FloodPattern.h"

#include <QLabel>
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>

#include <atomic>
#include <thread>
#include <ctime>

using namespace serialtext;
using linktest::PtyPair;
using linktest::SimProcess;

namespace {

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

std::string Transcript(CMainFrame& f) { return f.session().document().GetTranscript(); }

bool Contains(const std::string& hay, const std::string& needle) {
    return hay.find(needle) != std::string::npos;
}

// What the peer receives within ms, with the GUI thread's queue running meanwhile
// (writes the read thread hands to the GUI thread go out from there).
std::string ReadPeer(PtyPair& peer, int ms) {
    std::string got;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QTest::qWait(10);
        got += peer.ReadFor(5);
    }
    return got;
}

// Runs what the read thread has queued for the GUI thread so far: calls run in order.
void RunQueuedGuiCalls() {
    auto reached = std::make_shared<bool>(false);
    PostToGui([reached] { *reached = true; });
    QTRY_VERIFY(*reached);
}

// Sends a typed line the way the input box does: the text, then a carriage return.
void TypeLine(CMainFrame& f, const std::string& line) {
    f.session().SendToLink(line.data(), int(line.size()), true);
    f.session().SendToLink("\r", 1, true);
}

} // namespace

class SerialConnectTest : public QObject {
    Q_OBJECT
    TempDir dir_;
    std::unique_ptr<ScopedChdir> cwd_;
    MemoryProfile profile_;
    std::atomic<int> dialogs_{0};
    QString typed_;  // the password the dialog gets; empty: it is cancelled

    void configure(const std::string& device, int flow = 0) {
        profile_.clear();
        profile_.writeString(kDevicesSection, "COM1", device);
        profile_.writeInt(kSection, kKeyPort, 0);
        profile_.writeInt(kSection, kKeyBaud, 115200);
        profile_.writeInt(kSection, kKeyDataBits, 8);
        profile_.writeInt(kSection, kKeyStopBits, 0);
        profile_.writeInt(kSection, kKeyParity, 0);
        profile_.writeInt(kSection, kKeyFlow, flow);
    }

    // Connect, check the success box, and take the carriage return off the peer.
    bool connectTo(CMainFrame& f, ScriptedMessages& boxes) {
        f.session().serial().OnConnect();
        return f.session().isLinkConnected(LinkKind::Serial) && boxes.sawText(kConnectedText);
    }

    bool waitForText(CMainFrame& f, const std::string& needle, int ms = 10000) {
        return QTest::qWaitFor([&] { return Contains(Transcript(f), needle); }, ms);
    }

    // Leaves the frame logged in with maintenance access at "maint>".
    bool logIn(CMainFrame& f) {
        typed_ = "velmod";
        return waitForText(f, "maint>") && f.session().accessMode() == AccessMode::Maintenance;
    }

private slots:
    void initTestCase() {
        dir_.write("CmdConf.txt", kTwoCommandConf);
        cwd_ = std::make_unique<ScopedChdir>(dir_.path());
        // Lock files in a folder of the test's own: the system's may be missing or read-only.
        ::setenv("PMX_LOCK_DIR", dir_.path().c_str(), 1);
        Profile::install(&profile_);
        SetModalHook([this](QDialog& d) {
            if (ControlId(&d) != IDD_ENTER_PASSWORD) return int(QDialog::Rejected);
            ++dialogs_;
            if (typed_.isEmpty()) return int(QDialog::Rejected);
            FindControl<QLineEdit>(&d, IDC_PASSWORD_EDIT)->setText(typed_);
            d.accept();
            return d.result();
        });
    }
    void cleanupTestCase() {
        SetModalHook(nullptr);
        Profile::install(nullptr);
    }
    void init() {
        dialogs_ = 0;
        typed_.clear();
    }

    void connectClearsTheScreenAndSendsOneCarriageReturn() {
        PtyPair peer;
        QVERIFY(peer.ok());
        configure(peer.path());
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        QVERIFY(f.action(ID_SERIAL_CONNECT)->isEnabled());
        QVERIFY(f.action(ID_SERIAL_CONFIGURE)->isEnabled());
        QVERIFY(!f.action(ID_SERIAL_DISCONNECT)->isEnabled());
        f.session().document().SetText("left over from before\r");

        QVERIFY(connectTo(f, boxes));
        QCOMPARE(boxes.count(), size_t(1));
        QCOMPARE(boxes.boxes()[0].title, std::string(kConnectedTitle));
        QCOMPARE(int(boxes.boxes()[0].icon), int(MsgIcon::Information));
        QCOMPARE(Transcript(f), std::string());
        QCOMPARE(peer.ReadFor(300), std::string("\r"));
        QVERIFY(f.session().responseTimerActive());
        QVERIFY(!f.action(ID_SERIAL_CONNECT)->isEnabled());
        QVERIFY(!f.action(ID_SERIAL_CONFIGURE)->isEnabled());
        QVERIFY(f.action(ID_SERIAL_DISCONNECT)->isEnabled());
        f.session().setLinkConnected(LinkKind::Lan, true);  // the other links' flags grey Disconnect too
        f.session().updateState();
        QVERIFY(!f.action(ID_SERIAL_DISCONNECT)->isEnabled());
        f.session().setLinkConnected(LinkKind::Lan, false);

        // What the peer sends lands in the document.
        QVERIFY(peer.WriteAll("hello\r\n"));
        QVERIFY(waitForText(f, "hello"));

        // Before any prompt, Disconnect logs nothing out.
        boxes.clear();
        f.session().serial().OnDisconnect();
        QCOMPARE(boxes.count(), size_t(2));
        QCOMPARE(boxes.boxes()[0].text, std::string(kDisconnectQuestion));
        QCOMPARE(boxes.boxes()[1].text, std::string(kDisconnectedText));
        QCOMPARE(boxes.boxes()[1].title, std::string(kDisconnectedTitle));
        QVERIFY(!f.session().isLinkConnected(LinkKind::Serial));
        QCOMPARE(Transcript(f), std::string());
        QCOMPARE(peer.ReadFor(200), std::string());
        QVERIFY(!f.session().responseTimerActive());
        QVERIFY(f.action(ID_SERIAL_CONNECT)->isEnabled());
    }

    void connectFailures_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("cleared");
        QTest::addColumn<QString>("status");  // part of the status bar's reason
        QTest::newRow("not configured") << "none" << kNotConfiguredText << false << "";
        QTest::newRow("port only") << "port only" << kConnectFailedText << true << "";
        QTest::newRow("held elsewhere") << "held" << kConnectFailedText << true << "is in use by PID";
        QTest::newRow("no such device") << "missing" << kConnectFailedText << true << "No such";
        QTest::newRow("DTR/DSR flow") << "dtr" << kConnectFailedText << true << "DTR/DSR";
    }
    void connectFailures() {
        QFETCH(QString, setup);
        QFETCH(QString, box);
        QFETCH(bool, cleared);
        QFETCH(QString, status);
        PtyPair peer;
        QVERIFY(peer.ok());
        std::unique_ptr<CommPort> holder;
        profile_.clear();
        if (setup == "port only") {
            profile_.writeString(kDevicesSection, "COM1", peer.path());
            profile_.writeInt(kSection, kKeyPort, 0);
        } else if (setup == "held") {
            configure(peer.path());
            holder = CreateCommPort();
            QCOMPARE(holder->Open(peer.path()), 0);
        } else if (setup == "missing") {
            configure(dir_.file("no-such-tty"));
        } else if (setup == "dtr") {
            configure(peer.path(), CSerialLink::kFlowDtrDsr);
        }
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        f.session().document().SetText("kept\r");
        f.session().serial().OnConnect();
        QCOMPARE(boxes.count(), size_t(1));
        QCOMPARE(QString::fromStdString(boxes.boxes()[0].text), box);
        if (setup == "none") {
            QCOMPARE(boxes.boxes()[0].title, std::string(kNotConfiguredTitle));
            QCOMPARE(int(boxes.boxes()[0].icon), int(MsgIcon::Warning));
        } else {
            QCOMPARE(boxes.boxes()[0].title, std::string(kConnectFailedTitle));
            QCOMPARE(int(boxes.boxes()[0].icon), int(MsgIcon::Error));
        }
        QCOMPARE(Transcript(f).empty(), cleared);
        QVERIFY(!f.session().isLinkConnected(LinkKind::Serial));
        QVERIFY(f.action(ID_SERIAL_CONNECT)->isEnabled());
        QVERIFY2(f.statusBar()->currentMessage().contains(status), qPrintable(f.statusBar()->currentMessage()));
        QCOMPARE(peer.ReadFor(100), std::string());  // nothing was sent
        if (holder) {
            // Once the other program lets go, the same frame connects.
            holder->Close();
            boxes.clear();
            QVERIFY(connectTo(f, boxes));
            f.session().serial().Disconnect();
        }
    }

    void recoveryCommandCancelledSendsNothing() {
        PtyPair peer;
        QVERIFY(peer.ok());
        configure(peer.path());
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        QVERIFY(connectTo(f, boxes));
        QCOMPARE(peer.ReadFor(200), std::string("\r"));
        boxes.answer(IDCANCEL);
        TypeLine(f, "r o 1");
        QCOMPARE(peer.ReadFor(200), std::string("\r"));  // only the line's own return
        boxes.answer(IDOK);
        TypeLine(f, "r o 1");
        QCOMPARE(peer.ReadFor(200), std::string("r o 1\r"));
        f.session().serial().Disconnect();
    }

    void cancelReplyFromTheReadThreadReachesThePeer() {
        PtyPair peer;
        QVERIFY(peer.ok());
        configure(peer.path());
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        QVERIFY(connectTo(f, boxes));
        QCOMPARE(peer.ReadFor(200), std::string("\r"));
        QVERIFY(peer.WriteAll("\r\nCanceled!\r\n"));
        const std::string got = ReadPeer(peer, 500);
        QVERIFY2(got == "\r", QByteArray::fromStdString(got).toHex().constData());
        f.session().serial().Disconnect();
    }

    void silenceAfterASendWarnsOnce() {
        PtyPair peer;
        QVERIFY(peer.ok());
        configure(peer.path());
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(connectTo(f, boxes));
        QVERIFY(QTest::qWaitFor([&] { return boxes.sawText("No response from PMX..."); }, 6000));
        QVERIFY2(clock.elapsed() >= 3150,  // a coarse timer may fire 5% early
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(boxes.boxes().back().title, std::string("Connection Warning"));
        QVERIFY(f.session().isLinkConnected(LinkKind::Serial));  // the link stays up
        f.session().serial().Disconnect();
    }

    void disconnectLogsOutOnlyFromACommandPrompt_data() {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("sent");
        QTest::newRow("maint>") << "Maintenance level access granted.\r\nmaint>" << "x\r";
        QTest::newRow("mon>") << "\r\nmon>" << "x\r";
        QTest::newRow("PASSWORD:") << "maint>\r\nLogged out.\r\nPASSWORD:" << "";
        QTest::newRow("banner") << "mon>\r\n Maintenance Utility..." << "";
    }
    void disconnectLogsOutOnlyFromACommandPrompt() {
        QFETCH(QString, shown);
        QFETCH(QString, sent);
        PtyPair peer;
        QVERIFY(peer.ok());
        configure(peer.path());
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        QVERIFY(connectTo(f, boxes));
        QCOMPARE(peer.ReadFor(200), std::string("\r"));
        QVERIFY(peer.WriteAll(shown.toStdString()));
        const std::string last = shown.toStdString().substr(shown.size() - 4);
        QVERIFY(waitForText(f, last));
        // The matcher runs on the read thread right after the store.
        const bool atCommandPrompt = !sent.isEmpty();
        QVERIFY(QTest::qWaitFor(
            [&] { return f.session().awaitingLogin() != atCommandPrompt; }, 2000));
        boxes.clear();
        f.session().serial().OnDisconnect();
        // The port is closed by now: what it sent reached the peer before the close.
        const std::string got = peer.ReadFor(300);
        QVERIFY2(got == sent.toStdString(), QByteArray::fromStdString(got).toHex().constData());
        QCOMPARE(boxes.boxes().back().text, std::string(kDisconnectedText));
        QCOMPARE(Transcript(f), std::string());
        auto other = CreateCommPort();
        QCOMPARE(other->Open(peer.path()), 0);  // released
    }

    void disconnectWhileTheReaderWaitsForThePasswordDialog() {
        PtyPair peer;
        QVERIFY(peer.ok());
        configure(peer.path());
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        QVERIFY(connectTo(f, boxes));
        QCOMPARE(peer.ReadFor(200), std::string("\r"));
        QVERIFY(peer.WriteAll("PASSWORD:"));
        // The GUI thread is busy (no events here): the read thread finds the prompt,
        // which it stores before it asks for the dialog and waits.
        QVERIFY(WaitUntil([&] { return Contains(Transcript(f), "PASSWORD:"); }));
        QElapsedTimer clock;
        clock.start();
        f.session().serial().Disconnect();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        RunQueuedGuiCalls();
        QCOMPARE(dialogs_.load(), 0);  // no password dialog for a closed link
        QVERIFY(!f.session().isLinkConnected(LinkKind::Serial));
        QCOMPARE(peer.ReadFor(100), std::string());
    }

    void closingTheWindowClosesThePortFirst() {
        PtyPair peer;
        QVERIFY(peer.ok());
        configure(peer.path());
        ScriptedMessages boxes;
        auto f = std::make_unique<CMainFrame>();
        QVERIFY(f->OnCreate());
        QVERIFY(connectTo(*f, boxes));
        QCOMPARE(peer.ReadFor(200), std::string("\r"));
        QVERIFY(peer.WriteAll("\r\nmaint>"));
        QVERIFY(waitForText(*f, "maint>"));
        RunQueuedGuiCalls();
        boxes.answerSave(dir_.file("trace.txt"));
        f->session().CaptureOn();
        QVERIFY(f->session().captureRunning());
        boxes.clear();
        f->show();
        QVERIFY(f->close());
        std::vector<std::string> texts;
        for (const auto& b : boxes.boxes()) texts.push_back(b.text);
        // No question; the port's box comes before the capture's.
        const std::vector<std::string> expected = {kDisconnectedText, "Stop Saving trace data."};
        QCOMPARE(texts, expected);
        QCOMPARE(peer.ReadFor(300), std::string("x\r"));
        auto other = CreateCommPort();
        QCOMPARE(other->Open(peer.path()), 0);
        other->Close();
        f.reset();
    }

    void destroyingTheFrameWhileConnectedReleasesThePort() {
        PtyPair peer;
        QVERIFY(peer.ok());
        configure(peer.path());
        ScriptedMessages boxes;
        const int threads = linktest::ThreadCount();
        {
            CMainFrame f;
            QVERIFY(f.OnCreate());
            QVERIFY(connectTo(f, boxes));
            QVERIFY(peer.WriteAll(std::string(20000, 'z')));
        }
        QCOMPARE(linktest::ThreadCount(), threads);
        auto other = CreateCommPort();
        QCOMPARE(other->Open(peer.path()), 0);
    }

    void logInFloodAndLogOutWithTheSimulator() {
        SimProcess sim;
        QVERIFY(sim.ok());
        configure(sim.path());
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        QVERIFY(connectTo(f, boxes));
        QVERIFY(logIn(f));
        QCOMPARE(dialogs_.load(), 1);
        // The simulator only grants access when "velmod\r" reached it.
        QVERIFY(Contains(Transcript(f), "Maintenance level access granted."));
        QTRY_VERIFY(!f.session().awaitingLogin());  // "maint>" may come in a later read

        const uint64_t n = 100000;
        f.session().ClearScreen();
        TypeLine(f, "flood " + std::to_string(n));
        QVERIFY(QTest::qWaitFor([&] {
            const std::string t = Transcript(f);
            return t.size() > n && Contains(t.substr(t.size() - 10), "maint>");
        }, 20000));
        const std::string t = Transcript(f);
        const size_t start = t.find("00000000 ");
        QVERIFY(start != std::string::npos);
        QVERIFY(t.size() >= start + n);
        size_t bad = n;
        for (uint64_t i = 0; i < n && bad == n; ++i)
            if (t[start + i] != pmxsim::FloodByte(i)) bad = i;
        QCOMPARE(bad, size_t(n));
        QCOMPARE(t.substr(start + n), std::string("\r\nmaint>"));
        QCOMPARE(dialogs_.load(), 1);

        boxes.clear();
        f.session().serial().OnDisconnect();
        QCOMPARE(boxes.boxes().back().text, std::string(kDisconnectedText));
        QVERIFY(!f.session().isLinkConnected(LinkKind::Serial));
        QCOMPARE(Transcript(f), std::string());
        // The level ended with the session: nothing offers it at the next connection.
        QCOMPARE(int(f.session().accessMode()), int(AccessMode::None));
    }

    void peerGoneReleasesThePortAndLeavesTheProgramIdle() {
        const int threads = linktest::ThreadCount();
        auto sim = std::make_unique<SimProcess>();
        QVERIFY(sim->ok());
        configure(sim->path());
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        QVERIFY(connectTo(f, boxes));
        QVERIFY(waitForText(f, "PASSWORD:"));
        boxes.clear();
        sim.reset();  // killed
        // The port is released at once and the loss told in the status bar, no box.
        QVERIFY(QTest::qWaitFor([&] { return int(f.session().isLinkConnected(LinkKind::Serial)) == 0; }, 5000));
        QCOMPARE(f.statusBar()->currentMessage(), QString::fromLatin1(kPortLostText));
        QCOMPARE(f.findChild<QLabel*>(QStringLiteral("linkPane"))->text(), QStringLiteral("Not connected"));
        QCOMPARE(boxes.count(), size_t(0));
        QVERIFY(f.action(ID_SERIAL_CONNECT)->isEnabled());
        QVERIFY(!f.action(ID_SERIAL_DISCONNECT)->isEnabled());
        const double cpu0 = ProcessCpuSeconds();
        QTest::qWait(1000);
        const double cpu = ProcessCpuSeconds() - cpu0;
        QVERIFY2(cpu < 0.3, qPrintable(QString("CPU seconds while idle: %1").arg(cpu)));
        QCOMPARE(linktest::ThreadCount(), threads);
    }

    void manyCyclesLeaveNoThreadsOrDescriptorsBehind() {
        SimProcess sim;
        QVERIFY(sim.ok());
        ScriptedMessages boxes;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        // Empty when the cycle went as it should, else what went wrong.
        auto cycle = [&](int i) -> QString {
            const int kind = i % 3;
            std::unique_ptr<SimProcess> own;
            if (kind == 2) {
                // A flood needs a logged-in switch of its own.
                own = std::make_unique<SimProcess>();
                if (!own->ok()) return "simulator";
                configure(own->path());
                typed_ = "velmod";
            } else {
                configure(sim.path());
                typed_.clear();
            }
            boxes.clear();
            f.session().serial().OnConnect();
            if (!f.session().isLinkConnected(LinkKind::Serial)) return "connect";
            if (kind == 1) {
                // The password prompt follows the banner at once: disconnect in between.
                if (!waitForText(f, "tility")) return "banner";
            } else if (kind == 2) {
                if (!logIn(f)) return "login: " + QString::fromStdString(Transcript(f));
                TypeLine(f, "flood 5000000");
                // Every flood line runs through the alphabet.
                if (!waitForText(f, "NOPQRSTU")) return "flood";
            }
            f.session().serial().OnDisconnect();
            if (f.session().isLinkConnected(LinkKind::Serial) || !boxes.sawText(kDisconnectedText)) return "disconnect";
            return QString();
        };
        QCOMPARE(cycle(0), QString());
        QCOMPARE(cycle(2), QString());
        const int threads = linktest::ThreadCount();
        const int fds = linktest::FdCount();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 50; ++i) QCOMPARE(cycle(i), QString());
        QCOMPARE(linktest::ThreadCount(), threads);
        QCOMPARE(linktest::FdCount(), fds);
        qInfo("50 cycles in %lld ms", static_cast<long long>(clock.elapsed()));
    }
};

QTEST_MAIN(SerialConnectTest)
#include "SerialConnectTest.moc"
