// Reconnect, command scripts, input history and the LAN wake-up carriage return,
// through the real frame against the switch simulator and loopback peers.
#include "app/CMainFrame.h"
#include "session/LanControl.h"
#include "commands/CInputBoxBar.h"
#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "tests/links/LinkTestSupport.h"
#include "tests/links/LoopbackPeer.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QDialog>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>

#include <sys/socket.h>

namespace {

struct Fixture {
    TestStartDir start;
    MemoryProfile profile;
    ScriptedMessages boxes;
    CMainFrame frame;
    explicit Fixture() {
        Profile::install(&profile);
        SetModalHook([](QDialog& d) {
            if (ControlId(&d) != IDD_ENTER_PASSWORD) return int(QDialog::Rejected);
            FindControl<QLineEdit>(&d, IDC_PASSWORD_EDIT)->setText(QStringLiteral("velmod"));
            d.accept();
            return d.result();
        });
        frame.OnCreate();
        frame.session().lan().setDisconnectWaitMs(0);
        frame.session().setConnectWakeupWaitMs(150);
    }
    ~Fixture() {
        SetModalHook(nullptr);
        Profile::install(nullptr);
    }
    bool trigger(int id) {
        frame.session().updateState();
        if (!frame.action(id)->isEnabled()) return false;
        frame.action(id)->trigger();
        return true;
    }
    std::string transcript() { return frame.session().document().GetTranscript(); }
    bool loggedIn() { return frame.session().accessMode() == AccessMode::Maintenance; }
    void typeLine(const char* line) {
        frame.findChild<CInputBoxBar*>()->edit()->setText(QString::fromLatin1(line));
        frame.findChild<CInputBoxBar*>()->enterButton()->click();
    }
    std::string script(const std::string& text) {
        start.dir().write("script.txt", text);
        return start.dir().file("script.txt");
    }
};

// A switch that greets at once, takes any password and then stays silent.
void SilentAfterLogin(LoopbackPeer& p, int fd) {
    SendAll(fd, "\r\nPASSWORD:");
    for (char c = 0; c != '\r' && !p.stopping();) {
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, 20) > 0 && ::recv(fd, &c, 1, 0) <= 0) return;
    }
    SendAll(fd, "\r\nmaint>");
    p.Collect(fd);
}

} // namespace

class SessionFeaturesTest : public QObject {
    Q_OBJECT
private slots:
    void reconnectRunsTheLastLinksConnectAgain() {
        linktest::SimProcess serialSim;
        QVERIFY(serialSim.ok());
        SimProcess tcpSim(PMXSIM_PATH, TempDir().file("sim.log"));
        QVERIFY(tcpSim.port() > 0);
        Fixture f;
        Profile& p = f.profile;
        p.writeString("Devices", "COM1", serialSim.path());
        for (auto [k, v] : {std::pair{"CommPort", 0}, {"BaudRate", 115200}, {"DataBits", 8},
                            {"StopBits", 0}, {"Parity", 0}, {"Flow", 0}})
            p.writeInt("SerialPort", k, v);
        p.writeString("Server", "History %c", "127.0.0.1:" + std::to_string(tcpSim.port()));
        QVERIFY(!f.trigger(ID_CONNECTION_RECONNECT));  // nothing has connected yet

        QVERIFY(f.trigger(ID_SERIAL_CONNECT));
        QTRY_VERIFY_WITH_TIMEOUT(f.loggedIn(), 10000);
        QVERIFY(!f.trigger(ID_CONNECTION_RECONNECT));  // grey while connected
        f.boxes.answer(IDYES);
        QVERIFY(f.trigger(ID_SERIAL_DISCONNECT));
        QVERIFY(f.trigger(ID_CONNECTION_RECONNECT));
        QVERIFY(f.frame.session().isLinkConnected(LinkKind::Serial));
        QTRY_VERIFY_WITH_TIMEOUT(f.transcript().find("maint>") != std::string::npos, 10000);
        f.boxes.answer(IDYES);
        QVERIFY(f.trigger(ID_SERIAL_DISCONNECT));

        // The LAN is now the last link: Reconnect reaches it, not the serial port.
        QVERIFY(f.trigger(ID_LAN_CONNECT));
        QTRY_VERIFY(f.frame.session().isLinkConnected(LinkKind::Lan));  // the connect runs in the background
        QTRY_VERIFY_WITH_TIMEOUT(f.transcript().find("maint>") != std::string::npos, 10000);
        f.boxes.answer(IDYES);
        QVERIFY(f.trigger(ID_LAN_DISCONNECT));
        QVERIFY(f.trigger(ID_CONNECTION_RECONNECT));
        QTRY_VERIFY(f.frame.session().isLinkConnected(LinkKind::Lan));
        QVERIFY(!f.frame.session().isLinkConnected(LinkKind::Serial));
        QTRY_VERIFY_WITH_TIMEOUT(f.transcript().find("maint>") != std::string::npos, 10000);
    }

    void scriptSendsEachCommandAtThePromptWithCaptureOn() {
        TempDir logs;
        SimProcess sim(PMXSIM_PATH, logs.file("sim.log"));
        QVERIFY(sim.port() > 0);
        Fixture f;
        f.profile.writeString("Server", "History %c", "127.0.0.1:" + std::to_string(sim.port()));
        QVERIFY(f.trigger(ID_LAN_CONNECT));
        QVERIFY(!f.trigger(ID_FILE_RUN_SCRIPT));  // not before login
        // Before login a typed line may be a password: it is sent, never remembered.
        f.typeLine("quarth");
        QTRY_VERIFY_WITH_TIMEOUT(f.loggedIn(), 10000);
        f.typeLine("t p");
        QCOMPARE(f.frame.findChild<CInputBoxBar*>()->history().lines(), std::vector<std::string>{"t p"});

        f.boxes.answerSave(logs.file("trace.txt"));
        QVERIFY(f.trigger(ID_CAPTURE_ON));
        QTRY_VERIFY(f.transcript().find("TRACE SETUP") != std::string::npos);
        QVERIFY(f.frame.session().RunScriptFile(f.script("# three commands\nt d\n\n  # s s is next\ns s\r\nd a\n")));
        QVERIFY(!f.trigger(ID_FILE_RUN_SCRIPT));
        QTRY_VERIFY_WITH_TIMEOUT(!f.frame.session().scriptRunning(), 10000);
        QCOMPARE(f.frame.statusBar()->currentMessage(), QStringLiteral("Script done: 3 commands sent."));
        const std::string t = f.transcript();
        const size_t date = t.find("SYSTEM DATE"), status = t.find("SYSTEM STATUS"), alarms = t.find("ALARM LOG");
        QVERIFY2(date != std::string::npos && date < status && status < alarms, t.c_str());
        QVERIFY(t.rfind("maint>") > alarms);
        QVERIFY(f.trigger(ID_CAPTURE_OFF));
        QVERIFY(logs.read("trace.txt").find("ALARM LOG") != std::string::npos);
        QCOMPARE(f.boxes.count(), size_t(2));  // the capture's two confirmations only
    }

    void scriptStopsOnTimeOutAndOnDisconnect() {
        LoopbackPeer peer(SilentAfterLogin);
        Fixture f;
        f.frame.session().setScriptTimeoutMs(300);
        f.profile.writeString("Server", "History %c", peer.destination());
        QVERIFY(f.trigger(ID_LAN_CONNECT));
        QTRY_VERIFY_WITH_TIMEOUT(f.loggedIn(), 5000);
        peer.clearReceived();

        // The prompt is showing: the first command goes at once, the second never.
        QVERIFY(f.frame.session().RunScriptFile(f.script("t d\nt p\n")));
        QTRY_VERIFY_WITH_TIMEOUT(!f.frame.session().scriptRunning(), 5000);
        QCOMPARE(f.boxes.count(), size_t(1));
        QCOMPARE(QString::fromStdString(f.boxes.boxes()[0].text),
                 QStringLiteral("Script stopped: no prompt from the switch within 1 s after line 1."));
        QCOMPARE(peer.received(), std::string("t d\r"));

        // A disconnect ends a script quietly.
        f.frame.session().setScriptTimeoutMs(30000);
        SendAll(peer.connection(), "\r\nmaint>");
        QTRY_VERIFY(f.transcript().size() > 0 && f.transcript().back() == '>');
        QVERIFY(f.frame.session().RunScriptFile(f.script("t d\nt p\n")));
        QVERIFY(f.frame.session().scriptRunning());
        ::shutdown(peer.connection(), SHUT_RDWR);
        QTRY_VERIFY_WITH_TIMEOUT(!f.frame.session().scriptRunning(), 5000);
        QCOMPARE(f.boxes.count(), size_t(1));
    }

    void wakeupReturnOnlyForASilentSwitch() {
        LoopbackPeer greeting([](LoopbackPeer& p, int fd) {
            SendAll(fd, "PMX\r\n");
            p.Collect(fd);
        });
        LoopbackPeer silent;
        for (LoopbackPeer* peer : {&greeting, &silent}) {
            Fixture f;
            f.profile.writeString("Server", "History %c", peer->destination());
            QVERIFY(f.trigger(ID_LAN_CONNECT));
            QTest::qWait(600);
            QCOMPARE(peer->received(), std::string(peer == &silent ? "\r" : ""));
            f.boxes.answer(IDYES);
            QVERIFY(f.trigger(ID_LAN_DISCONNECT));
        }
    }
};

QTEST_MAIN(SessionFeaturesTest)
#include "SessionFeaturesTest.moc"
