// The session's send routine and its two timers, with recording link writers.
#include "tests/session/SessionTestSupport.h"
#include "res/resource.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <QTest>
#include <QTimer>

#include <string>
#include <thread>
#include <vector>

namespace {
struct Recorder {
    std::vector<std::string> writes;
    std::function<int(const char*, int)> writer() {
        return [this](const char* t, int n) { writes.emplace_back(t, n); return 1; };
    }
};
} // namespace

class ConnectionManagerTest : public QObject {
    Q_OBJECT
    TempDir dir_;
    std::unique_ptr<ScopedChdir> cwd_;
private slots:
    void initTestCase() {
        dir_.write("CmdConf.txt", kTwoCommandConf);
        cwd_ = std::make_unique<ScopedChdir>(dir_.path());
    }

    void recoveryConfirmations_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("question");
        QTest::newRow("station") << "rxo 12" << "Are you sure to execute 'Station Recovery' command ?";
        QTest::newRow("co") << "r e" << "Are you sure to execute 'CO Recovery' command ?";
        QTest::newRow("short") << "ro" << "";
        QTest::newRow("other") << "sto" << "";
    }
    void recoveryConfirmations() {
        QFETCH(QString, text);
        QFETCH(QString, question);
        const std::string t = text.toStdString();
        for (int answer : {IDCANCEL, IDOK}) {
            BareSession frame;
        Recorder serial;
            frame.session().setLinkWriter(LinkKind::Serial, serial.writer());
            frame.session().setLinkConnected(LinkKind::Serial, true);
            ScriptedMessages boxes;
            boxes.answer(answer);
            QCOMPARE(frame.session().SendToLink(t.data(), int(t.size()), true), 1);
            if (question.isEmpty()) {
                QCOMPARE(boxes.count(), size_t(0));
                QCOMPARE(serial.writes.size(), size_t(1));
                break;
            }
            QCOMPARE(boxes.count(), size_t(1));
            QCOMPARE(boxes.boxes()[0].text, question.toStdString());
            QCOMPARE(boxes.boxes()[0].title, std::string("Warning"));
            QVERIFY(boxes.boxes()[0].buttons == MsgButtons::OkCancel);
            const bool sent = answer == IDOK;
            QCOMPARE(serial.writes.size(), size_t(sent ? 1 : 0));
            QCOMPARE(frame.session().responseTimerActive(), sent);
        }
    }

    void modemRefusesThirdCharacterG() {
        BareSession frame;
        Recorder modem, serial;
        frame.session().setLinkWriter(LinkKind::Modem, modem.writer());
        frame.session().setLinkWriter(LinkKind::Serial, serial.writer());
        ScriptedMessages boxes;
        frame.session().setLinkConnected(LinkKind::Modem, true);
        frame.session().SendToLink("rxg", 3, true);
        QVERIFY(modem.writes.empty());
        QVERIFY(boxes.sawText("This command cannot be executed on modem connection..."));
        QVERIFY(!frame.session().responseTimerActive());
        frame.session().setLinkConnected(LinkKind::Modem, false);
        frame.session().setLinkConnected(LinkKind::Serial, true);
        frame.session().SendToLink("rxg", 3, true);
        QCOMPARE(serial.writes, std::vector<std::string>{"rxg"});
    }

    void lanAndIsdnNeverStartTheResponseTimer() {
        for (LinkKind kind : {LinkKind::Lan, LinkKind::Isdn}) {
            BareSession frame;
        Recorder link;
            frame.session().setLinkWriter(kind, link.writer());
            frame.session().setLinkConnected(kind, true);
            frame.session().SendToLink("t d", 3, true);
            QCOMPARE(link.writes, std::vector<std::string>{"t d"});
            QVERIFY(!frame.session().responseTimerActive());
        }
    }

    // A refused password answered at once with a bare prompt is asked for again once
    // the text settles; after Esc there, the password typed in the input box grants
    // the level the dialog would have.
    void loginAsksAgainAndTheInputBoxLogsInToo() {
        BareSession frame;
        Recorder serial;
        Session& s = frame.session();
        s.setLinkWriter(LinkKind::Serial, serial.writer());
        s.setLinkConnected(LinkKind::Serial, true);
        const TerminalHooks hooks = s.terminalHooks();
        frame.face.password = "wrong";
        hooks.promptHandling("PASSWORD:");
        QCOMPARE(frame.face.passwords, 1);
        hooks.promptHandling("\r\nPASSWORD:");
        QCOMPARE(frame.face.passwords, 1);
        frame.face.password = std::nullopt;
        QTRY_COMPARE(frame.face.passwords, 2);
        QCOMPARE(s.accessMode(), AccessMode::None);
        serial.writes.clear();
        s.SendTypedLine("velmod");
        QCOMPARE(s.accessMode(), AccessMode::Maintenance);
        QCOMPARE(serial.writes, (std::vector<std::string>{"velmod\r"}));
        s.StopResponseTimer();
        s.setLinkConnected(LinkKind::Serial, false);
    }

    void nothingConnectedDropsEverything() {
        BareSession frame;
        Recorder serial;
        frame.session().setLinkWriter(LinkKind::Serial, serial.writer());
        QCOMPARE(frame.session().SendToLink("t d", 3, true), 1);
        frame.session().SendLine("velmod");
        QVERIFY(serial.writes.empty());
        QVERIFY(!frame.session().responseTimerActive());
    }

    void sendLineWritesTextAndCarriageReturnInOneWrite() {
        BareSession frame;
        Recorder lan, serial;
        frame.session().setLinkWriter(LinkKind::Serial, serial.writer());
        frame.session().setLinkWriter(LinkKind::Lan, lan.writer());
        frame.session().setLinkConnected(LinkKind::Lan, true);
        frame.session().SendLine("rxo");  // no confirmation on this path
        // One write: a return sent apart would wait for the switch's acknowledgement.
        QCOMPARE(lan.writes, (std::vector<std::string>{"rxo\r"}));
        QVERIFY(serial.writes.empty());
    }

    void silenceAfterASendWarns() {
        BareSession frame;
        Recorder serial;
        frame.session().setLinkWriter(LinkKind::Serial, serial.writer());
        frame.session().setLinkConnected(LinkKind::Serial, true);
        ScriptedMessages boxes;
        frame.session().SendToLink("t d", 3, true);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.count() == 1, 5000);
        QCOMPARE(boxes.boxes()[0].text, std::string("No response from PMX..."));
        QCOMPARE(boxes.boxes()[0].title, std::string("Connection Warning"));
        QVERIFY(!frame.session().responseTimerActive());
    }

    void textFromAReaderThreadStopsBothTimers() {
        BareSession frame;
        Recorder modem;
        frame.session().setLinkWriter(LinkKind::Modem, modem.writer());
        frame.session().setLinkConnected(LinkKind::Modem, true);
        ScriptedMessages boxes;
        frame.session().StartWakeupTimer();
        frame.session().SendToLink("t d", 3, true);
        std::thread reader([&] { frame.session().StopTimersOnArrival(); });
        reader.join();
        QTRY_VERIFY(!frame.session().responseTimerActive() && !frame.session().wakeupTimerActive());
        QTest::qWait(3600);
        QCOMPARE(boxes.count(), size_t(0));
        QCOMPARE(modem.writes, std::vector<std::string>{"t d"});
    }

    void wakeupRepeatsCarriageReturnUntilAnswered() {
        BareSession frame;
        Recorder modem;
        frame.session().setLinkWriter(LinkKind::Modem, modem.writer());
        frame.session().setLinkConnected(LinkKind::Modem, true);
        frame.session().StartWakeupTimer();
        QTRY_VERIFY_WITH_TIMEOUT(modem.writes.size() >= 2, 6000);
        for (const auto& w : modem.writes) QCOMPARE(w, std::string("\r"));
        frame.session().StopTimersOnArrival();
        const size_t n = modem.writes.size();
        QTest::qWait(2000);
        QCOMPARE(modem.writes.size(), n);
    }
};

QTEST_GUILESS_MAIN(ConnectionManagerTest)
#include "ConnectionManagerTest.moc"
