// Login through the real frame and view: the prompt found on a reader thread opens
// the Enter Password dialog on the GUI thread, and the password reaches the link.
#include "app/CMainFrame.h"
#include "platform/DialogRunner.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/CTRQDiagView.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <QDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <mutex>
#include <thread>

namespace {
struct Recorder {
    std::mutex m;
    std::string bytes;
    std::function<int(const char*, int)> writer() {
        return [this](const char* t, int n) { std::lock_guard l(m); bytes.append(t, n); return 1; };
    }
    std::string get() { std::lock_guard l(m); return bytes; }
};
} // namespace

class LoginTest : public QObject {
    Q_OBJECT
    TempDir dir_;
    std::unique_ptr<ScopedChdir> cwd_;
    std::atomic<int> dialogs_{0};
    QString typed_;

    void deliverFromThread(CMainFrame& frame, std::vector<std::string> blocks) {
        std::atomic<bool> done{false};
        std::thread reader([&] {
            for (const auto& b : blocks) frame.session().document().AppendReceived(b.data(), int(b.size()));
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
        reader.join();
    }

private slots:
    void initTestCase() {
        dir_.write("CmdConf.txt", kTwoCommandConf);
        cwd_ = std::make_unique<ScopedChdir>(dir_.path());
        SetModalHook([this](QDialog& d) {
            if (ControlId(&d) != IDD_ENTER_PASSWORD) return int(QDialog::Rejected);
            ++dialogs_;
            if (typed_.isEmpty()) return int(QDialog::Rejected);
            FindControl<QLineEdit>(&d, IDC_PASSWORD_EDIT)->setText(typed_);
            d.accept();
            return d.result();
        });
    }
    void cleanupTestCase() { SetModalHook(nullptr); }

    void passwordSplitOverTwoReadsAsksOnceAndGrantsAccess_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("access");
        QTest::newRow("maintenance") << "velmod" << int(AccessMode::Maintenance);
        QTest::newRow("monitor") << "  quarth " << int(AccessMode::Monitor);
        QTest::newRow("wrong") << "secret" << int(AccessMode::None);
    }
    void passwordSplitOverTwoReadsAsksOnceAndGrantsAccess() {
        QFETCH(QString, typed);
        QFETCH(int, access);
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        Recorder serial;
        frame.session().setLinkWriter(LinkKind::Serial, serial.writer());
        frame.session().setLinkConnected(LinkKind::Serial, true);
        QSignalSpy changed(&frame.session(), &Session::accessModeChanged);
        dialogs_ = 0;
        typed_ = typed;
        deliverFromThread(frame, {"Maintenance Utility...\r\nPASS", "WORD:"});
        QCOMPARE(dialogs_.load(), 1);
        QCOMPARE(int(frame.session().accessMode()), access);
        QCOMPARE(changed.count(), access == int(AccessMode::None) ? 0 : 1);
        QCOMPARE(serial.get(), typed.trimmed().toStdString() + "\r");
    }

    void cancelledDialogSendsNothing() {
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        Recorder serial;
        frame.session().setLinkWriter(LinkKind::Serial, serial.writer());
        frame.session().setLinkConnected(LinkKind::Serial, true);
        dialogs_ = 0;
        typed_.clear();
        deliverFromThread(frame, {"PASSWORD:"});
        QCOMPARE(dialogs_.load(), 1);
        QCOMPARE(serial.get(), std::string());
    }

    void canceledWhileAwaitingLoginSendsOneCarriageReturn() {
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        Recorder serial;
        frame.session().setLinkWriter(LinkKind::Serial, serial.writer());
        frame.session().setLinkConnected(LinkKind::Serial, true);
        deliverFromThread(frame, {"Cance", "led!\r\n"});
        QCOMPARE(serial.get(), std::string("\r"));
        deliverFromThread(frame, {"maint> ", "Canceled!"});
        QCOMPARE(serial.get(), std::string("\r"));  // no reply once at a command prompt
    }

    void openedFileWithThePromptDoesNothing() {
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        dir_.write("old.txt", "banner\nPASSWORD:\nCanceled!\n");
        dialogs_ = 0;
        QVERIFY(frame.OpenDocumentFile(dir_.file("old.txt")));
        QCOMPARE(dialogs_.load(), 0);
        QVERIFY(frame.windowTitle().startsWith("old.txt - PMX Remote Diagnostic Tool"));
    }
};

QTEST_MAIN(LoginTest)
#include "LoginTest.moc"
