// ISDN Connect, Disconnect and Configure through the real frame, the reference
// adapter and a loopback far end (a test peer, or the switch simulator).
#include "app/CMainFrame.h"
#include "session/IsdnControl.h"
#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "links/IsdnAdapter.h"
#include "links/IsdnLink.h"
#include "links/IsdnNumbers.h"
#include "links/IsdnTexts.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "tests/links/IsdnTestPeer.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

const std::string kIac = "\xff";
const std::string kDoTerminalType = "\xff\xfd\x18";
const std::string kSendTerminalType = "\xff\xfa\x18\x01\xff\xf0";
const std::string kWillEcho = "\xff\xfb\x01";
const std::string kWillSga = "\xff\xfb\x03";

std::string DialFailed(int code) {
    char text[96];
    std::snprintf(text, sizeof text, isdn::kDialFailedFormat, code);
    return text;
}

std::vector<std::string> Texts(const ScriptedMessages& boxes) {
    std::vector<std::string> t;
    for (const RecordedBox& b : boxes.boxes()) t.push_back(b.text);
    return t;
}

} // namespace

class IsdnFrameTest : public QObject {
    Q_OBJECT
    TempDir dir_;
    std::unique_ptr<ScopedChdir> cwd_;
    MemoryProfile profile_;

    // Modal dialogs: the phone book, the password and the ISDN dialog.
    int phoneBookResult_ = QDialog::Accepted;
    std::function<void()> duringPhoneBook_;
    std::atomic<int> phoneBooks_{0};
    std::atomic<int> passwords_{0};
    QString typed_;
    std::function<void()> duringPassword_;
    std::function<int(QDialog&)> isdnDialog_;

    bool trigger(CMainFrame& f, int id) {
        f.session().updateState();
        if (!f.action(id)->isEnabled()) return false;
        f.action(id)->trigger();
        return true;
    }
    void storeNumber(const std::string& n) { profile_.writeString(isdn::kSection, isdn::kNumberKey, n); }

    // Connects the frame to peer; the peer has accepted the call when it returns true.
    // The peer stays silent, so the connect's carriage return follows at once.
    bool connectTo(CMainFrame& f, LoopbackPeer& peer) {
        f.session().setConnectWakeupWaitMs(0);
        if (!trigger(f, ID_ISDN_CONNECT) || !f.session().isLinkConnected(LinkKind::Isdn) || !peer.accept()) return false;
        QTest::qWait(20);
        return true;
    }
    bool disconnect(CMainFrame& f, ScriptedMessages& boxes) {
        boxes.answer(IDYES);
        return trigger(f, ID_ISDN_DISCONNECT) && !f.session().isLinkConnected(LinkKind::Isdn) && !f.session().isdn().link();
    }

private slots:
    void initTestCase() {
        dir_.write("CmdConf.txt", kTwoCommandConf);
        cwd_ = std::make_unique<ScopedChdir>(dir_.path());
        Profile::install(&profile_);
        ::setenv(IsdnAdapter::kLibraryEnv, kAdapterPath, 1);
        SetModalHook([this](QDialog& d) {
            switch (ControlId(&d)) {
            case IDD_PHONEBOOK:
                ++phoneBooks_;
                if (duringPhoneBook_) duringPhoneBook_();
                return phoneBookResult_;
            case IDD_ENTER_PASSWORD:
                ++passwords_;
                if (duringPassword_) duringPassword_();
                if (typed_.isEmpty()) return int(QDialog::Rejected);
                FindControl<QLineEdit>(&d, IDC_PASSWORD_EDIT)->setText(typed_);
                d.accept();
                return d.result();
            case IDD_ISDN_CONFIG:
                return isdnDialog_ ? isdnDialog_(d) : int(QDialog::Rejected);
            default:
                return int(QDialog::Rejected);
            }
        });
    }
    void cleanupTestCase() {
        SetModalHook(nullptr);
        Profile::install(nullptr);
        ::unsetenv(IsdnAdapter::kLibraryEnv);
    }
    void init() {
        profile_.clear();
        phoneBookResult_ = QDialog::Accepted;
        duringPhoneBook_ = nullptr;
        duringPassword_ = nullptr;
        phoneBooks_ = 0;
        passwords_ = 0;
        typed_.clear();
        isdnDialog_ = nullptr;
        IsdnNumberList::instance().clear();
    }

    // The phone book always comes first; its Quit ends the command, and the stored
    // number is judged as it was before the phone book opened.
    void phoneBookComesFirst_data() {
        QTest::addColumn<QString>("storedBefore");
        QTest::addColumn<QString>("storedDuring");
        QTest::addColumn<int>("phoneBook");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty, Call") << "" << "" << int(QDialog::Accepted) << isdn::kNoNumber;
        QTest::newRow("empty, Quit") << "" << "" << int(QDialog::Rejected) << "";
        QTest::newRow("stored, Quit") << "0301234" << "" << int(QDialog::Rejected) << "";
        QTest::newRow("empty, stored meanwhile") << "" << "0301234" << int(QDialog::Accepted)
                                                 << isdn::kNoNumber;
    }
    void phoneBookComesFirst() {
        QFETCH(QString, storedBefore);
        QFETCH(QString, storedDuring);
        QFETCH(int, phoneBook);
        QFETCH(QString, message);
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n");
        storeNumber(storedBefore.toStdString());
        phoneBookResult_ = phoneBook;
        duringPhoneBook_ = [&] {
            if (!storedDuring.isEmpty()) storeNumber(storedDuring.toStdString());
        };
        CMainFrame f;
        QVERIFY(f.OnCreate());
        f.session().document().AppendReceived("old text", 8);
        ScriptedMessages boxes;
        QVERIFY(trigger(f, ID_ISDN_CONNECT));
        QCOMPARE(phoneBooks_.load(), 1);
        QCOMPARE(f.session().document().GetTranscript(), std::string());  // Clear New came first
        QVERIFY(!f.session().isdn().link());
        QVERIFY(!f.session().isLinkConnected(LinkKind::Isdn));
        if (message.isEmpty()) {
            QCOMPARE(boxes.count(), size_t(0));
        } else {
            QCOMPARE(Texts(boxes), std::vector<std::string>{message.toStdString()});
        }
        QVERIFY(!peer.accept(100));  // nothing dialled
    }

    void dialsTheNumberStoredAfterThePhoneBook() {
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n0309999 127.0.0.1:" +
                          std::to_string(ClosedPort()) + "\n");
        storeNumber("0309999");
        duringPhoneBook_ = [&] { storeNumber("0301234"); };
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        QVERIFY(connectTo(f, peer));
        ScriptedMessages after;
        QVERIFY(disconnect(f, after));
    }

    // A failed dial: the adapter's code, then the connect failure; nothing stays up.
    void dialFailures_data() {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("library");
        QTest::addColumn<int>("code");
        QTest::newRow("unknown number") << "0300000 127.0.0.1:1" << kAdapterPath
                                        << int(ISDN_ERR_UNKNOWN_NUMBER);
        QTest::newRow("refused") << QString("0301234 127.0.0.1:%1").arg(ClosedPort()) << kAdapterPath
                                 << int(ISDN_ERR_REFUSED);
        QTest::newRow("no adapter") << "0301234 127.0.0.1:1" << dir_.file("libnone.so").c_str()
                                    << int(IsdnAdapter::kErrLibraryMissing);
        QTest::newRow("adapter lacks a function") << "0301234 127.0.0.1:1" << kLackingAdapterPath
                                                  << int(IsdnAdapter::kErrFunctionMissing);
    }
    void dialFailures() {
        QFETCH(QString, route);
        QFETCH(QString, library);
        QFETCH(int, code);
        RoutesFile routes(route.toStdString() + "\n");
        ::setenv(IsdnAdapter::kLibraryEnv, library.toLocal8Bit().constData(), 1);
        storeNumber("0301234");
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        QVERIFY(trigger(f, ID_ISDN_CONNECT));
        ::setenv(IsdnAdapter::kLibraryEnv, kAdapterPath, 1);
        QCOMPARE(Texts(boxes), (std::vector<std::string>{DialFailed(code), isdn::kConnectFailed}));
        QCOMPARE(boxes.boxes()[1].title, std::string(isdn::kConnectFailedTitle));
        QCOMPARE(boxes.boxes()[1].icon, MsgIcon::Error);
        QVERIFY(!f.session().isLinkConnected(LinkKind::Isdn));
        QVERIFY(!f.session().isdn().link());
        QVERIFY(f.action(ID_ISDN_CONNECT)->isEnabled());
        QVERIFY(!f.action(ID_ISDN_DISCONNECT)->isEnabled());
        QVERIFY(!f.session().hasLinkWriter(LinkKind::Isdn));
    }

    // Connected: one carriage return reaches the switch, the menus follow the link,
    // and outgoing text is escaped while the stream's replies are not.
    void connectSendsOneReturnAndNegotiatesLikeLan() {
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n");
        storeNumber("0301234");
        CMainFrame f;
        QVERIFY(f.OnCreate());
        // What an earlier connection left in the stream is forgotten at connect.
        f.session().telnet().Feed(reinterpret_cast<const unsigned char*>("\xff\xfb\x01\xff"), 4);
        ScriptedMessages boxes;
        QVERIFY(connectTo(f, peer));
        QVERIFY(!f.session().telnet().remoteEcho());
        QCOMPARE(Texts(boxes), std::vector<std::string>{isdn::kEstablished});
        QCOMPARE(boxes.boxes()[0].title, std::string(isdn::kEstablishedTitle));
        QCOMPARE(boxes.boxes()[0].icon, MsgIcon::Information);
        QCOMPARE(peer.receive(1), std::string("\r"));
        QCOMPARE(peer.receive(1, 200), std::string());
        QVERIFY(!f.session().responseTimerActive());
        QVERIFY(!f.action(ID_ISDN_CONNECT)->isEnabled());
        QVERIFY(!f.action(ID_ISDN_CONFIGURE)->isEnabled());
        QVERIFY(f.action(ID_ISDN_DISCONNECT)->isEnabled());
        f.session().setLinkConnected(LinkKind::Lan, true);  // two links up: no disconnect of either is offered
        f.session().updateState();
        QVERIFY(!f.action(ID_ISDN_DISCONNECT)->isEnabled());
        f.session().setLinkConnected(LinkKind::Lan, false);

        QVERIFY(peer.send(kDoTerminalType + kSendTerminalType + kWillEcho + kWillSga +
                          "hello" + kIac + kIac + "\xff\xfa\x05\x01\xff\xf0!"));
        const std::string replies("\xff\xfb\x18"                 // WILL TERMINAL-TYPE
                                  "\xff\xfa\x18\x00VT100\xff\xf0"  // IS VT100
                                  "\xff\xfd\x01"                 // DO ECHO
                                  "\xff\xfe\x03", 20);           // DONT SUPPRESS-GO-AHEAD
        QCOMPARE(peer.receive(20), replies);
        QTRY_COMPARE(f.session().document().GetTranscript(), std::string("hello\xff!"));

        const std::string line = "a\xff" "b";
        QCOMPARE(f.session().SendToLink(line.data(), int(line.size()), true), 1);
        QCOMPARE(peer.receive(4), std::string("a\xff\xff" "b"));
        QVERIFY(disconnect(f, boxes));
    }

    void passwordPromptOpensTheDialogAndTheAnswerGoesOut() {
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n");
        storeNumber("0301234");
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        QVERIFY(connectTo(f, peer));
        QCOMPARE(peer.receive(1), std::string("\r"));
        typed_ = "velmod";
        QVERIFY(peer.send("Remote Maintenance Utility...\r\nPASS"));
        QTest::qWait(30);
        QVERIFY(peer.send("WORD:"));
        QTRY_COMPARE(passwords_.load(), 1);
        QCOMPARE(peer.receive(7), std::string("velmod\r"));
        QCOMPARE(int(f.session().accessMode()), int(AccessMode::Maintenance));
        QVERIFY(disconnect(f, boxes));
    }

    // Disconnect asks first, stops the capture before the link, and says so after.
    void disconnectAsksStopsCaptureAndHangsUp() {
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n");
        storeNumber("0301234");
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        QVERIFY(connectTo(f, peer));
        boxes.answerSave(dir_.file("trace.txt"));
        QVERIFY(trigger(f, ID_CAPTURE_ON));
        QVERIFY(f.session().captureRunning());
        boxes.clear();

        boxes.answer(IDNO);
        QVERIFY(trigger(f, ID_ISDN_DISCONNECT));
        QCOMPARE(Texts(boxes), std::vector<std::string>{isdn::kConfirmDisconnect});
        QCOMPARE(boxes.boxes()[0].title, std::string(isdn::kConfirmDisconnectTitle));
        QCOMPARE(boxes.boxes()[0].icon, MsgIcon::Question);
        QCOMPARE(boxes.boxes()[0].buttons, MsgButtons::YesNo);
        QVERIFY(f.session().isLinkConnected(LinkKind::Isdn) && f.session().captureRunning());
        QCOMPARE(peer.receive(1), std::string("\r"));

        boxes.clear();
        QVERIFY(disconnect(f, boxes));
        QCOMPARE(Texts(boxes), (std::vector<std::string>{isdn::kConfirmDisconnect,
                                                         "Stop Saving trace data.",
                                                         isdn::kDisconnected}));
        QVERIFY(!f.session().captureRunning());
        QVERIFY(peer.sawHangUp());
        QVERIFY(!f.session().hasLinkWriter(LinkKind::Isdn));
        QVERIFY(f.action(ID_ISDN_CONNECT)->isEnabled());
    }

    void fiftyCyclesLeaveNothingBehind() {
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n");
        storeNumber("0301234");
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        int threads = 0, fds = 0;
        for (int i = 0; i < 50; ++i) {
            QVERIFY(connectTo(f, peer));
            QVERIFY(peer.send("tick\r\n"));
            QCOMPARE(peer.receive(1), std::string("\r"));
            QVERIFY(disconnect(f, boxes));
            QVERIFY(peer.sawHangUp());
            peer.hangUp();
            if (i == 0) {
                threads = ThreadCount();
                fds = FdCount();
            }
        }
        QCOMPARE(ThreadCount(), threads);
        QCOMPARE(FdCount(), fds);
    }

    // The reader may be waiting for the password dialog when the close begins: the
    // close serves it instead of waiting forever.
    void disconnectWhileTheReaderWaitsForThePassword() {
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n");
        storeNumber("0301234");
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        QVERIFY(connectTo(f, peer));
        QVERIFY(peer.send("PASSWORD:"));
        // No events run here: the reader reaches its request and waits for them.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        typed_ = "quarth";
        QVERIFY(disconnect(f, boxes));
        QCOMPARE(passwords_.load(), 1);
        QVERIFY(peer.sawHangUp());
    }

    // Disconnect chosen from inside that dialog cannot close the link under it.
    void disconnectFromInsideThePasswordDialogIsRefused() {
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n");
        storeNumber("0301234");
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        QVERIFY(connectTo(f, peer));
        boxes.clear();
        bool stillUp = false;
        duringPassword_ = [&] {
            f.action(ID_ISDN_DISCONNECT)->trigger();
            stillUp = f.session().isLinkConnected(LinkKind::Isdn) && f.session().isdn().link();
        };
        QVERIFY(peer.send("PASSWORD:"));
        QTRY_COMPARE(passwords_.load(), 1);
        QVERIFY(stillUp);
        QCOMPARE(boxes.count(), size_t(0));
        duringPassword_ = nullptr;
        QVERIFY(disconnect(f, boxes));
    }

    void writeFailureIsReportedAndTheHangUpEndsTheCall() {
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n");
        storeNumber("0301234");
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        QVERIFY(connectTo(f, peer));
        peer.hangUp();
        boxes.clear();
        const std::string text(4096, 'x');
        // The write that fails is told; the far end's hang-up, which the reader sees
        // (sometimes first), ends the call. Either way no write is lost silently.
        for (int i = 0; i < 200 && !boxes.sawText(isdn::kSendFailed) && f.session().isLinkConnected(LinkKind::Isdn); ++i) {
            f.session().SendToLink(text.data(), int(text.size()), false);
            QTest::qWait(5);
        }
        QVERIFY(boxes.sawText(isdn::kSendFailed) || !f.session().isLinkConnected(LinkKind::Isdn));
        QTRY_VERIFY(!f.session().isLinkConnected(LinkKind::Isdn));
        f.session().updateState();
        QVERIFY(f.action(ID_ISDN_CONNECT)->isEnabled());
    }

    void closingTheFrameWhileConnectedEndsTheCall() {
        LoopbackPeer peer;
        RoutesFile routes("0301234 " + peer.endpoint() + "\n");
        storeNumber("0301234");
        ScriptedMessages boxes;
        {
            CMainFrame f;
            QVERIFY(f.OnCreate());
            QVERIFY(connectTo(f, peer));
            QVERIFY(peer.send(std::string(5000, 'y')));
        }
        QVERIFY(peer.sawHangUp());
    }

    // The simulator behind the adapter: negotiation, greeting and login, as over LAN.
    void loginThroughTheSimulator() {
        SimProcess sim(PMXSIM_PATH, dir_.file("sim.log"));
        QVERIFY(sim.port() > 0);
        RoutesFile routes("0301234 127.0.0.1:" + std::to_string(sim.port()) + "\n");
        storeNumber("0301234");
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        typed_ = "velmod";
        QVERIFY(trigger(f, ID_ISDN_CONNECT));
        QVERIFY(f.session().isLinkConnected(LinkKind::Isdn));
        QTRY_VERIFY_WITH_TIMEOUT(f.session().document().GetTranscript().find("maint>") != std::string::npos, 5000);
        QCOMPARE(passwords_.load(), 1);
        QVERIFY(f.session().telnet().remoteEcho());
        QVERIFY(f.session().telnet().terminalTypeAgreed());
        const std::string cmd = "s s\r";
        f.session().SendToLink(cmd.data(), int(cmd.size()), true);
        QTRY_VERIFY_WITH_TIMEOUT(f.session().document().GetTranscript().find("SYSTEM STATUS") != std::string::npos, 5000);
        QVERIFY(disconnect(f, boxes));
        QCOMPARE(sim.stop(), 0);
        QVERIFY2(sim.log().find("terminal type \"VT100\", echo accepted, suppress-go-ahead refused") !=
                     std::string::npos, sim.log().c_str());
    }

    // The ISDN dialog: the stored number joins the run's list; a pick stores at
    // once (Cancel keeps it); OK stores what is typed; an empty text is refused.
    void configureDialog_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("pick");   // picked from the list, "" for none
        QTest::addColumn<QString>("typed");  // typed afterwards, "-" for nothing
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("refused");
        QTest::newRow("pick, Cancel") << "0302" << "0301" << "-" << false << "0301" << false;
        QTest::newRow("typed, Cancel") << "0302" << "" << "0999" << false << "0302" << false;
        QTest::newRow("typed as is, OK") << "0302" << "" << " 03 55 " << true << " 03 55 " << false;
        QTest::newRow("empty, OK") << "0302" << "" << "" << true << "0302" << true;
        QTest::newRow("nothing stored, OK") << "" << "" << "-" << true << "" << true;
    }
    void configureDialog() {
        QFETCH(QString, stored);
        QFETCH(QString, pick);
        QFETCH(QString, typed);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        QFETCH(bool, refused);
        IsdnNumberList::instance().addIfMissing("0301");
        IsdnNumberList::instance().addIfMissing("0303");
        storeNumber(stored.toStdString());
        QStringList shownItems;
        QString shownText;
        isdnDialog_ = [&](QDialog& d) {
            auto* combo = FindControl<QComboBox>(&d, IDC_ISDN_NUMBER);
            for (int i = 0; i < combo->count(); ++i) shownItems << combo->itemText(i);
            shownText = combo->currentText();
            if (!pick.isEmpty()) combo->setCurrentIndex(combo->findText(pick));
            if (typed != "-") combo->setEditText(typed);
            if (ok) d.accept();
            else d.reject();
            return d.result();
        };
        CMainFrame f;
        QVERIFY(f.OnCreate());
        ScriptedMessages boxes;
        QVERIFY(trigger(f, ID_ISDN_CONFIGURE));
        QStringList expectedItems{"0301", "0303"};
        if (!stored.isEmpty()) expectedItems << stored;
        expectedItems.sort();
        QCOMPARE(shownItems, expectedItems);
        QCOMPARE(shownText, stored);
        QCOMPARE(QString::fromStdString(ReadStoredIsdnNumber()), expected);
        if (refused) {
            QCOMPARE(Texts(boxes), std::vector<std::string>{isdn::kEnterNumber});
            QCOMPARE(boxes.boxes()[0].title, std::string(isdn::kEnterNumberTitle));
        } else {
            QCOMPARE(boxes.count(), size_t(0));
        }
        // Stored numbers join the list the next time the dialog opens.
        shownItems.clear();
        isdnDialog_ = [&](QDialog& d) {
            auto* combo = FindControl<QComboBox>(&d, IDC_ISDN_NUMBER);
            for (int i = 0; i < combo->count(); ++i) shownItems << combo->itemText(i);
            return int(QDialog::Rejected);
        };
        QVERIFY(trigger(f, ID_ISDN_CONFIGURE));
        QVERIFY(expected.isEmpty() || shownItems.contains(expected));
        QVERIFY(std::is_sorted(shownItems.begin(), shownItems.end()));

        f.session().setLinkConnected(LinkKind::Serial, true);  // no configuring while any link is up
        f.session().updateState();
        QVERIFY(!f.action(ID_ISDN_CONFIGURE)->isEnabled());
        QVERIFY(!f.action(ID_ISDN_CONNECT)->isEnabled());
        f.session().setLinkConnected(LinkKind::Serial, false);
    }
};

QTEST_MAIN(IsdnFrameTest)
#include "IsdnFrameTest.moc"
