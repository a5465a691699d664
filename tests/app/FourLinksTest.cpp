// End to end through the real frame: the switch goes away behind each of the four links
// in turn, and the panes, menus and status bar follow. (A whole session per link kind,
// without the window, is in tests/session.)
#include "app/CMainFrame.h"
#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "commands/CommandTable.h"
#include "links/ModemTexts.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "tests/links/ModemTestSupport.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <fstream>

class FourLinksTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestStartDir> start_;
    MemoryProfile profile_;
    std::string speedNumber_;

    // The phone book is worked as a user would: Speed Call, the number, OK.
    int answer(QDialog& d) {
        switch (ControlId(&d)) {
        case IDD_ENTER_PASSWORD:
            FindControl<QLineEdit>(&d, IDC_PASSWORD_EDIT)->setText(QStringLiteral("velmod"));
            d.accept();
            return d.result();
        case IDD_PHONEBOOK:
            FindControl<QPushButton>(&d, IDC_SPEED_CALL)->click();
            return d.result();
        case IDD_SPEED_CALL:
            FindControl<QLineEdit>(&d, IDC_SPEED_NUMBER)->setText(QString::fromStdString(speedNumber_));
            d.accept();
            return d.result();
        default:
            d.reject();
            return d.result();
        }
    }

    static bool trigger(CMainFrame& f, int id) {
        f.session().updateState();
        if (!f.action(id)->isEnabled()) return false;
        f.action(id)->trigger();
        return true;
    }

    static std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private slots:
    void initTestCase() {
        start_ = std::make_unique<TestStartDir>(slurp(PMX_SAMPLES_DIR "/CmdConf.txt"));
        Profile::install(&profile_);
        SetModalHook([this](QDialog& d) { return answer(d); });
    }
    void cleanupTestCase() {
        SetModalHook(nullptr);
        Profile::install(nullptr);
    }

    // The switch goes away behind each link in turn: the link is released by itself,
    // the panes and the menus follow, the access level ends, one notice and no box.
    void everyLinkLossIsToldOnce() {
        Profile& p = profile_;
        for (auto [k, v] : {std::pair{"CommPort", 0}, {"BaudRate", 115200}, {"DataBits", 8},
                            {"StopBits", 0}, {"Parity", 0}, {"Flow", 0}})
            p.writeInt("SerialPort", k, v);
        ::setenv("PMX_ISDN_LIBRARY", PMX_ISDN_TEST_LIBRARY, 1);
        p.writeString("ISDN", "History %c", "0301234");
        speedNumber_ = "0221 555 0100";
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        frame.show();
        const struct { const char* name; int connect; const char* notice; } links[] = {
            {"serial", ID_SERIAL_CONNECT, "Serial port stopped responding"},
            {"modem", ID_MODEM_CONNECT, "Modem line dropped"},
            {"lan", ID_LAN_CONNECT, "LAN connection closed"},
            {"isdn", ID_ISDN_CONNECT, "ISDN call ended"},
        };
        for (const auto& link : links) {
            // Each link gets a switch of its own, to be killed.
            std::unique_ptr<linktest::SimProcess> ptySim;
            std::unique_ptr<SimProcess> tcpSim;
            const std::string kind = link.name;
            if (kind == "serial") {
                ptySim = std::make_unique<linktest::SimProcess>();
                p.writeString("Devices", "COM1", ptySim->path());
            } else if (kind == "modem") {
                ptySim = std::make_unique<linktest::SimProcess>(
                    std::vector<std::string>{"--modem", "--connect-delay", "200"});
                modemtest::OfferModems(p, {ptySim->path()});
            } else {
                tcpSim = std::make_unique<SimProcess>(PMXSIM_PATH, start_->dir().file("loss-" + kind + ".log"));
                const std::string destination = "127.0.0.1:" + std::to_string(tcpSim->port());
                p.writeString("Server", "History %c", destination);
                start_->dir().write("routes.txt", "0301234 " + destination + "\n");
                ::setenv("PMX_ISDN_ROUTES", start_->dir().file("routes.txt").c_str(), 1);
            }
            QVERIFY2(trigger(frame, link.connect), link.name);
            QTRY_VERIFY_WITH_TIMEOUT(frame.session().document().GetTranscript().find("maint>") != std::string::npos,
                                     15000);
            QCOMPARE(frame.findChild<QLabel*>(QStringLiteral("accessPane"))->text(),
                     QStringLiteral("Access: maintenance"));
            QVERIFY2(frame.findChild<QLabel*>(QStringLiteral("linkPane"))->text().contains(", up "), link.name);
            boxes.clear();
            if (ptySim) ptySim->Stop(SIGKILL);
            else tcpSim->stop();
            QTRY_VERIFY2_WITH_TIMEOUT(!frame.session().IsAnyLinkConnected(), link.name, 5000);
            QCOMPARE(frame.findChild<QLabel*>(QStringLiteral("linkPane"))->text(), QStringLiteral("Not connected"));
            QVERIFY2(frame.session().notice().startsWith(QLatin1String(link.notice)), qPrintable(frame.session().notice()));
            QCOMPARE(frame.statusBar()->currentMessage(), frame.session().notice());
            frame.statusBar()->showMessage(QStringLiteral("a menu prompt"));
            frame.statusBar()->clearMessage();  // the notice stands after it
            QCOMPARE(frame.statusBar()->currentMessage(), frame.session().notice());
            QVERIFY(frame.session().accessMode() == AccessMode::None);
            QVERIFY(!frame.action(ID_CMD_LOG_OUT)->isEnabled());
            QVERIFY(frame.action(link.connect)->isEnabled());
            QTest::qWait(200);  // nothing more comes of it
            QVERIFY2(boxes.count() == 0, boxes.count() ? boxes.boxes()[0].text.c_str() : "");
        }
    }
};

QTEST_MAIN(FourLinksTest)
#include "FourLinksTest.moc"
