// The session without a window, on a face that asks no one: each link kind reaches the
// switch simulator, logs in with the face's password, captures a command's answer to a
// trace file, disconnects, reconnects by Reconnect, and then loses its switch.
#include "session/HeadlessScreen.h"
#include "session/IsdnControl.h"
#include "session/LanControl.h"
#include "session/ModemControl.h"
#include "session/SerialControl.h"
#include "session/Session.h"

#include "links/CModemLink.h"
#include "platform/Profile.h"
#include "tests/links/ModemTestSupport.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"
#include "tests/session/SessionTestSupport.h"

#include <QTest>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

class SessionLinksTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestStartDir> start_;
    MemoryProfile profile_;

private slots:
    void initTestCase() {
        start_ = std::make_unique<TestStartDir>();
        Profile::install(&profile_);
        for (auto [k, v] : {std::pair{"CommPort", 0}, {"BaudRate", 115200}, {"DataBits", 8},
                            {"StopBits", 0}, {"Parity", 0}, {"Flow", 0}})
            profile_.writeInt("SerialPort", k, v);
        profile_.writeString("ISDN", "History %c", "0301234");
        ::setenv("PMX_ISDN_LIBRARY", PMX_ISDN_TEST_LIBRARY, 1);
        // Lock files in a folder of the test's own: the system's may be missing or read-only.
        ::setenv("PMX_LOCK_DIR", start_->dir().path().c_str(), 1);
    }
    void cleanupTestCase() { Profile::install(nullptr); }

    void everyLinkCarriesASession_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("lossNotice");
        QTest::newRow("serial") << int(LinkKind::Serial) << "Serial port stopped responding";
        QTest::newRow("modem") << int(LinkKind::Modem) << "Modem line dropped";
        QTest::newRow("lan") << int(LinkKind::Lan) << "LAN connection closed";
        QTest::newRow("isdn") << int(LinkKind::Isdn) << "ISDN call ended";
    }
    void everyLinkCarriesASession() {
        QFETCH(int, kind);
        QFETCH(QString, lossNotice);
        const LinkKind link = static_cast<LinkKind>(kind);
        const std::string name = QTest::currentDataTag();
        // The switch: the simulator on a pty (serial, as a modem) or on loopback TCP.
        std::unique_ptr<linktest::SimProcess> ptySim;
        std::unique_ptr<SimProcess> tcpSim;
        if (link == LinkKind::Serial || link == LinkKind::Modem) {
            ptySim = std::make_unique<linktest::SimProcess>(
                link == LinkKind::Modem ? std::vector<std::string>{"--modem", "--connect-delay", "200"}
                                        : std::vector<std::string>{});
            QVERIFY(ptySim->ok());
            if (link == LinkKind::Serial) profile_.writeString("Devices", "COM1", ptySim->path());
            else modemtest::OfferModems(profile_, {ptySim->path()});
        } else {
            tcpSim = std::make_unique<SimProcess>(PMXSIM_PATH, start_->dir().file("sim-" + name + ".log"));
            QVERIFY(tcpSim->port() > 0);
            const std::string destination = "127.0.0.1:" + std::to_string(tcpSim->port());
            profile_.writeString("Server", "History %c", destination);
            start_->dir().write("routes.txt", "0301234 " + destination + "\n");
            ::setenv("PMX_ISDN_ROUTES", start_->dir().file("routes.txt").c_str(), 1);
        }

        ScriptedMessages boxes;
        RecordingFace face;
        Session session(face);
        HeadlessScreen screen(session);
        auto transcript = [&] { return session.document().GetTranscript(); };
        auto atCommandPrompt = [&] {
            return transcript().find("maint>") != std::string::npos && session.accessMode() == AccessMode::Maintenance;
        };
        switch (link) {
        case LinkKind::Serial: session.serial().OnConnect(); break;
        case LinkKind::Modem: session.modem().OnConnect(); break;
        case LinkKind::Lan: session.lan().OnConnect(); break;
        case LinkKind::Isdn: session.isdn().OnConnect(); break;
        }
        QTRY_VERIFY_WITH_TIMEOUT(atCommandPrompt(), 15000);
        QCOMPARE(face.passwords, 1);
        QVERIFY(session.isLinkConnected(link));
        QVERIFY(session.linkText().contains(QStringLiteral(", up ")));
        if (link == LinkKind::Modem) QVERIFY(face.progress > 0);

        // A command's answer, captured as Capture On writes it.
        const std::string trace = start_->dir().file("trace-" + name + ".txt");
        QVERIFY(session.StartCapture(trace));
        QCOMPARE(session.capturePath(), trace);
        session.SendWithCarriageReturn("t d");
        QTRY_VERIFY_WITH_TIMEOUT(transcript().find("SYSTEM DATE") != std::string::npos, 10000);
        QTRY_VERIFY(transcript().rfind("maint>") > transcript().find("SYSTEM DATE"));
        session.CaptureOff();
        const std::string bytes = Slurp(trace);
        QVERIFY2(bytes.find("\tStart to Save Trace Data at  ") != std::string::npos, bytes.c_str());
        const size_t answer = bytes.find("SYSTEM DATE");
        QVERIFY2(answer != std::string::npos, bytes.c_str());
        QVERIFY(bytes.find("\tStop Saving Trace Data at  ", answer) != std::string::npos);
        QVERIFY(bytes.find('\n') == bytes.find("\r\n") + 1);  // CR LF line ends

        // The person's Disconnect (its question answered yes), then Reconnect of the same link.
        switch (link) {
        case LinkKind::Serial: session.serial().OnDisconnect(); break;
        case LinkKind::Modem: session.modem().OnDisconnect(); break;
        case LinkKind::Lan: session.lan().OnDisconnect(); break;
        case LinkKind::Isdn: session.isdn().OnDisconnect(); break;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!session.IsAnyLinkConnected(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(session.canReconnect(), 10000);
        session.Reconnect();
        // A switch on a pty may still be logged in: the log-out can be lost with the
        // terminal end's close. Every other link logs in again.
        QTRY_VERIFY_WITH_TIMEOUT(transcript().find("maint>") != std::string::npos, 15000);
        QVERIFY(session.isLinkConnected(link));
        if (link != LinkKind::Serial) QCOMPARE(face.passwords, 2);
        const bool leveled = session.accessMode() != AccessMode::None;

        // The switch goes away: the link is released by itself, told once as a notice.
        const int loggedOuts = face.loggedOuts;
        boxes.clear();
        if (ptySim) ptySim->Stop(SIGKILL);
        else tcpSim->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!session.IsAnyLinkConnected(), 5000);
        QVERIFY2(session.notice().startsWith(lossNotice), qPrintable(session.notice()));
        QCOMPARE(session.linkText(), QStringLiteral("Not connected"));
        QVERIFY(session.accessMode() == AccessMode::None);
        QCOMPARE(face.loggedOuts, loggedOuts + (leveled ? 1 : 0));
        QVERIFY2(boxes.count() == 0, boxes.count() ? boxes.boxes()[0].text.c_str() : "");
    }

    // A call whose modem reports "NO CARRIER" while its port stays open ends as a loss
    // of the link: hung up, told once without a box, Reconnect offered. The pty has no
    // carrier line: its absence must not end the call before that.
    void modemCallThatDropsEndsAsALoss() {
        linktest::SimProcess sim({"--modem", "--connect-delay", "200", "--carrier-loss", "2500"});
        QVERIFY(sim.ok());
        modemtest::OfferModems(profile_, {sim.path()});
        ScriptedMessages boxes;
        RecordingFace face;
        Session session(face);
        HeadlessScreen screen(session);
        session.modem().OnConnect();
        QCOMPARE(session.linkText(), QStringLiteral("Dialling 0221 555 0100..."));
        QTRY_VERIFY_WITH_TIMEOUT(session.linkText().contains(QStringLiteral(", up ")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!session.isLinkConnected(LinkKind::Modem), 10000);
        QCOMPARE(session.notice(), QStringLiteral("Modem: NO CARRIER; the call is over."));
        QVERIFY(!session.modemLink().IsOpen());
        QVERIFY(!boxes.sawText("Modem connection disconnected..."));
        QTRY_VERIFY(session.canReconnect());
    }
};

QTEST_GUILESS_MAIN(SessionLinksTest)
#include "SessionLinksTest.moc"
