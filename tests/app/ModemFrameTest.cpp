// Modem Connect, Disconnect and Configure through the real frame against the simulated
// modem: the progress texts in order, the established message and the wake-up, the
// busy and abandoned calls, the unavailable layer, the enable rules and the modem list.
#include "app/CMainFrame.h"
#include "session/ModemControl.h"
#include "platform/DialogRunner.h"
#include "links/CCallProgressWnd.h"
#include "links/CModemLink.h"
#include "res/resource.h"
#include "terminal/CTRQDiagView.h"
#include "tests/links/ModemTestSupport.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace modemtest;

class ModemFrameTest : public QObject {
    Q_OBJECT
    TempDir dir_;
    std::unique_ptr<ScopedChdir> cwd_;
    MemoryProfile profile_;
    std::string number_;                       // what the phone book "calls"
    int passwordDialogs_ = 0;
    bool realPhoneBook_ = false;
    std::function<int(QDialog&)> configDialog_;  // the Modem Configuration dialog's script

    static bool Trigger(CMainFrame& f, int id) {
        f.session().updateState();
        if (!f.action(id)->isEnabled()) return false;
        f.action(id)->trigger();
        return true;
    }
    static bool Enabled(CMainFrame& f, int id) {
        f.session().updateState();
        return f.action(id)->isEnabled();
    }
    static int IndexOf(const ScriptedMessages& boxes, const std::string& text) {
        const auto all = boxes.boxes();
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].text == text) return static_cast<int>(i);
        return -1;
    }

private slots:
    void initTestCase() {
        dir_.write("CmdConf.txt", kTwoCommandConf);
        cwd_ = std::make_unique<ScopedChdir>(dir_.path());
        Profile::install(&profile_);
        SetModalHook([this](QDialog& d) {
            switch (ControlId(&d)) {
            case IDD_PHONEBOOK: {
                if (realPhoneBook_) {  // Call on the row it opens with
                    d.accept();
                    return d.result();
                }
                auto* frame = qobject_cast<CMainFrame*>(d.parentWidget());
                if (number_.empty() || !frame) return int(QDialog::Rejected);
                frame->session().modemLink().SetDestination(number_.c_str());
                return int(QDialog::Accepted);
            }
            case IDD_ENTER_PASSWORD:
                ++passwordDialogs_;
                return int(QDialog::Rejected);
            case IDD_MODEM_CONFIG:
                return configDialog_ ? configDialog_(d) : int(QDialog::Rejected);
            default:
                return int(QDialog::Rejected);
            }
        });
    }
    void cleanupTestCase() {
        SetModalHook(nullptr);
        Profile::install(nullptr);
    }
    void init() {
        profile_.clear();
        SetTelephonyAvailable(true);
        passwordDialogs_ = 0;
        realPhoneBook_ = false;
        number_ = "0221 555 0100";
        configDialog_ = nullptr;
    }

    void successfulCallShowsProgressThenEstablishedAndWakesTheSwitch() {
        linktest::SimProcess sim = StartModem({"--answer-after", "2"});
        QVERIFY(sim.ok());
        OfferModems(profile_, {sim.path()});
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        QStringList texts;
        QList<QPoint> offsets;
        connect(frame.findChild<CCallProgressWnd*>(), &CCallProgressWnd::textSet, this, [&](const QString& t) {
            texts << t;
            offsets << frame.findChild<CCallProgressWnd*>()->pos() - frame.findChild<CTRQDiagView*>()->mapToGlobal(QPoint(0, 0));
        });
        QVERIFY(!Enabled(frame, ID_MODEM_DISCONNECT));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(Trigger(frame, ID_MODEM_CONNECT));
        QVERIFY2(!Enabled(frame, ID_MODEM_DISCONNECT), "grey until the call is placed");
        QVERIFY(!Enabled(frame, ID_MODEM_CONNECT));
        const std::string established = "Modem connection is established to (0221 555 0100) ...";
        QTRY_VERIFY_WITH_TIMEOUT(boxes.sawText(established), 10000);
        const qint64 toEstablished = clock.elapsed();
        qInfo("Modem Connect to the established message: %lld ms", static_cast<long long>(toEstablished));
        QTRY_VERIFY(!frame.findChild<CCallProgressWnd*>()->isVisible());
        const QStringList expected = {
            "Preparing modem connection...", "Initializing modem line...",
            "Preparing a call to destination...", "Dialing to destination...",
            "Waiting for the modem call to be connected...", "Ringback tone detected...",
            "Connected to destination...", "Opening modem line..."};
        QCOMPARE(texts, expected);
        for (const QPoint& p : offsets) QCOMPARE(p, QPoint(2, 2));
        QCOMPARE(boxes.boxes()[IndexOf(boxes, established)].title, std::string("Modem Connected"));

        // The switch sleeps through the first carriage return; the wake-up brings it.
        QVERIFY(frame.session().wakeupTimerActive());
        QTRY_COMPARE_WITH_TIMEOUT(passwordDialogs_, 1, 6000);
        const qint64 toPassword = clock.elapsed() - toEstablished;
        QVERIFY2(toPassword >= 1700, qPrintable(QString::number(toPassword)));
        QTRY_VERIFY(!frame.session().wakeupTimerActive());
        QTRY_VERIFY(!frame.session().modem().workerRunning());
        QVERIFY(Enabled(frame, ID_MODEM_DISCONNECT));

        boxes.clear();
        const char refused[] = "rxg 12";
        QCOMPARE(frame.session().SendToLink(refused, 6, true), 1);
        QVERIFY(boxes.sawText("This command cannot be executed on modem connection..."));
        QVERIFY(!frame.session().responseTimerActive());

        boxes.clear();
        QVERIFY(Trigger(frame, ID_MODEM_DISCONNECT));
        QCOMPARE(boxes.boxes()[0].text, std::string("Are you sure to disconnect modem connection ?"));
        QVERIFY(boxes.sawText("Modem connection disconnected..."));
        QVERIFY(!frame.session().isLinkConnected(LinkKind::Modem));
        QVERIFY(!frame.session().modemLink().IsOpen());
        QVERIFY(!Enabled(frame, ID_MODEM_DISCONNECT));
        QVERIFY(Enabled(frame, ID_MODEM_CONNECT));
    }

    void busyNumberEndsTheAttemptWhenTheModemReportsIt() {
        linktest::SimProcess sim = StartModem({"--busy", "4711"});
        QVERIFY(sim.ok());
        OfferModems(profile_, {sim.path()});
        number_ = "47-11";
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        QStringList texts;
        bool disconnectOfferedWhileDialling = false;
        connect(frame.findChild<CCallProgressWnd*>(), &CCallProgressWnd::textSet, this, [&](const QString& t) {
            texts << t;
            if (t == "Dialing to destination...") disconnectOfferedWhileDialling = Enabled(frame, ID_MODEM_DISCONNECT);
        });
        QVERIFY(Trigger(frame, ID_MODEM_CONNECT));
        QTRY_VERIFY_WITH_TIMEOUT(boxes.sawText("Failed to establish modem connection..."), 10000);
        QVERIFY(texts.contains("Destination busy..."));
        QVERIFY(disconnectOfferedWhileDialling);
        QTRY_VERIFY(!frame.session().modem().workerRunning());
        QVERIFY(!frame.session().isLinkConnected(LinkKind::Modem));
        QVERIFY(!frame.findChild<CCallProgressWnd*>()->isVisible());
        QVERIFY2(!Enabled(frame, ID_MODEM_DISCONNECT), "grey again after the hang-up");
        QVERIFY(Enabled(frame, ID_MODEM_CONNECT));
        QVERIFY(!frame.session().modemLink().IsOpen());
    }

    // What the engineer is told is what happens: ISDN Connect's go-ahead names the
    // ISDN number it dials, never the entry picked as the call; a modem call names the
    // modem's answer when it fails, and the link pane says it dials until it is up.
    void toldTheNumberDialledAndTheModemsAnswer() {
        dir_.write("PhoneNo.txt", "\r\n\"PhoneNo.txt\"\r\n\r\nDo NOT edit this file.\r\n\r\n{\r\n"
                                  "[Depot Relay][(040) 555 2719];\r\n}\r\n");
        realPhoneBook_ = true;
        profile_.writeString("ISDN", "History %c", "0301234");
        {
            ScriptedMessages boxes;
            CMainFrame frame;
            QVERIFY(frame.OnCreate());
            QVERIFY(Trigger(frame, ID_ISDN_CONNECT));
            QVERIFY(!boxes.boxes().empty());
            const std::string question = boxes.boxes()[0].text;
            QVERIFY2(question.rfind("Calling to ISDN 0301234 (the configured ISDN number)...", 0) == 0,
                     question.c_str());
            QVERIFY(question.find("'Depot Relay' ((040) 555 2719) is kept for the next Modem Connect.") !=
                    std::string::npos);
            QCOMPARE(frame.session().modemLink().GetDestination(), std::string("(040) 555 2719"));
        }
        realPhoneBook_ = false;

        const struct {
            const char* option;
            const char* answer;
        } calls[] = {{"--busy", "BUSY"}, {"--no-answer", "NO CARRIER"}, {"--delayed", "DELAYED"}};
        for (const auto& call : calls) {
            linktest::SimProcess sim = StartModem({call.option, "4711"});
            QVERIFY(sim.ok());
            OfferModems(profile_, {sim.path()});
            number_ = "47-11";
            ScriptedMessages boxes;
            CMainFrame frame;
            QVERIFY(frame.OnCreate());
            QVERIFY(Trigger(frame, ID_MODEM_CONNECT));
            QCOMPARE(frame.session().linkText(), QStringLiteral("Dialling 47-11..."));
            QTRY_VERIFY_WITH_TIMEOUT(boxes.sawText("Failed to establish modem connection..."), 10000);
            QCOMPARE(frame.session().statusMessage(), QStringLiteral("The modem answered %1.").arg(call.answer));
            QVERIFY(boxes.sawText("Modem connection disconnected..."));
            QCOMPARE(frame.session().linkText(), QStringLiteral("Not connected"));
            QTRY_VERIFY(!frame.session().modem().workerRunning());
        }
    }

    void disconnectDuringTheCallAttemptReportsNothingAfterwards() {
        linktest::SimProcess sim = StartModem({"--connect-delay", "3000"});
        QVERIFY(sim.ok());
        OfferModems(profile_, {sim.path()});
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        const int threads = linktest::ThreadCount();
        const int fds = linktest::FdCount();
        QVERIFY(Trigger(frame, ID_MODEM_CONNECT));
        QTRY_VERIFY_WITH_TIMEOUT(Enabled(frame, ID_MODEM_DISCONNECT), 5000);
        QVERIFY(Trigger(frame, ID_MODEM_DISCONNECT));
        QVERIFY2(!frame.session().modem().workerRunning(), "the worker is stopped, not left running");
        QVERIFY(!frame.session().isLinkConnected(LinkKind::Modem));
        const size_t shown = boxes.count();
        QTest::qWait(3500);  // past the moment the modem would have answered
        QCOMPARE(boxes.count(), shown);
        QVERIFY(!boxes.sawText("Failed to establish modem connection..."));
        QVERIFY(!frame.findChild<CCallProgressWnd*>()->isVisible());
        QVERIFY(!frame.session().modemLink().IsOpen());
        QCOMPARE(linktest::ThreadCount(), threads);
        QCOMPARE(linktest::FdCount(), fds);
        QVERIFY(!Enabled(frame, ID_MODEM_DISCONNECT));
    }

    void unavailableLayerFailsWithItsOwnMessageFirst() {
        OfferModems(profile_, {"/dev/pmx-none"});
        SetTelephonyAvailable(false);
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        QVERIFY(Trigger(frame, ID_MODEM_CONNECT));
        QTRY_VERIFY_WITH_TIMEOUT(boxes.sawText("Failed to establish modem connection..."), 5000);
        const int init = IndexOf(boxes, "Cannot initialize modem...");
        QVERIFY(init >= 0);
        QCOMPARE(boxes.boxes()[init].title, std::string("Modem Initialization Error"));
        QVERIFY(init < IndexOf(boxes, "Failed to establish modem connection..."));
        QTRY_VERIFY(!frame.session().modem().workerRunning());
        QVERIFY(!frame.session().isLinkConnected(LinkKind::Modem));

        boxes.clear();
        QVERIFY(Trigger(frame, ID_MODEM_CONFIGURE));
        QVERIFY(boxes.sawText("Cannot initialize modem..."));
    }

    void connectWithoutAModemOrWithQuitDoesNothing() {
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        QVERIFY(Trigger(frame, ID_MODEM_CONNECT));
        QCOMPARE(boxes.count(), size_t(1));
        QCOMPARE(boxes.boxes()[0].title, std::string("Modem Connection Warning"));
        OfferModems(profile_, {"/dev/pmx-none"});
        number_.clear();  // Quit
        QVERIFY(Trigger(frame, ID_MODEM_CONNECT));
        QCOMPARE(boxes.count(), size_t(1));
        QVERIFY(!frame.session().isLinkConnected(LinkKind::Modem));
        QVERIFY(!frame.session().modem().workerRunning());
    }

    void modemConfigurationListsStoresAndRefuses() {
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        int offered = -1;

        // No data modem: "Device" becomes -1 on opening; Configure has nothing to configure.
        OfferModems(profile_, {});
        profile_.writeInt("Modem", "Device", 7);
        configDialog_ = [&](QDialog& d) {
            offered = FindControl<QComboBox>(&d, IDC_MODEM_DEVICE)->count();
            FindControl<QPushButton>(&d, IDC_MODEM_CONFIGURE)->click();
            return int(QDialog::Rejected);
        };
        QVERIFY(Trigger(frame, ID_MODEM_CONFIGURE));
        QCOMPARE(offered, 0);
        QCOMPARE(profile_.getInt("Modem", "Device", 99), -1);
        QVERIFY(boxes.sawText("No Modem Available..."));

        // Seventeen modems: sixteen offered; OK stores the picked one's device ID.
        std::vector<std::string> paths;
        for (int i = 0; i < 17; ++i) paths.push_back("/dev/pmx-m" + std::to_string(i));
        OfferModems(profile_, paths);
        profile_.writeInt("Modem", "Device", 5);
        int selected = -1;
        configDialog_ = [&](QDialog& d) {
            auto* combo = FindControl<QComboBox>(&d, IDC_MODEM_DEVICE);
            offered = combo->count();
            selected = combo->currentIndex();
            combo->setCurrentIndex(9);
            d.accept();
            return d.result();
        };
        QVERIFY(Trigger(frame, ID_MODEM_CONFIGURE));
        QCOMPARE(offered, 16);
        QCOMPARE(selected, 5);
        QCOMPARE(profile_.getInt("Modem", "Device", 99), 9);

        // Typed text is no selection: Configure refuses, OK keeps the stored choice.
        boxes.clear();
        configDialog_ = [&](QDialog& d) {
            auto* combo = FindControl<QComboBox>(&d, IDC_MODEM_DEVICE);
            combo->setEditText("my modem");
            FindControl<QPushButton>(&d, IDC_MODEM_CONFIGURE)->click();
            d.accept();
            return d.result();
        };
        QVERIFY(Trigger(frame, ID_MODEM_CONFIGURE));
        QVERIFY(boxes.sawText("No Modem Available..."));
        QCOMPARE(profile_.getInt("Modem", "Device", 99), 9);
    }

    void twentyCallsLeaveNoThreadOrDescriptorBehind() {
        linktest::SimProcess sim = StartModem({"--connect-delay", "20"});
        QVERIFY(sim.ok());
        OfferModems(profile_, {sim.path()});
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        const int threads = linktest::ThreadCount();
        const int fds = linktest::FdCount();
        for (int i = 0; i < 20; ++i) {
            QVERIFY(Trigger(frame, ID_MODEM_CONNECT));
            QTRY_VERIFY_WITH_TIMEOUT(Enabled(frame, ID_MODEM_DISCONNECT) && !frame.session().modem().workerRunning(), 10000);
            QVERIFY(frame.session().modemLink().IsOpen());
            // The switch's prompt first: a reader still asking for the password dialog
            // would hold the disconnect up.
            QTRY_COMPARE_WITH_TIMEOUT(passwordDialogs_, i + 1, 5000);
            QVERIFY(Trigger(frame, ID_MODEM_DISCONNECT));
            QVERIFY(!frame.session().isLinkConnected(LinkKind::Modem));
        }
        QVERIFY(!boxes.sawText("Failed to establish modem connection..."));
        QCOMPARE(linktest::ThreadCount(), threads);
        QCOMPARE(linktest::FdCount(), fds);
    }
};

QTEST_MAIN(ModemFrameTest)
#include "ModemFrameTest.moc"
