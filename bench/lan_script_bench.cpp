// A command script over LAN against a switch that answers every command at once: the
// real frame logs in, runs a script of N lines and reports the time per line (each line
// waits for the prompt, so the time is the round trip of one command).
// Usage: bench_lan_script [lines, default 50]
#include "app/CMainFrame.h"
#include "session/LanControl.h"
#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "res/resource.h"
#include "tests/links/LoopbackPeer.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QStatusBar>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int lines = argc > 1 ? std::atoi(argv[1]) : 50;
    QApplication app(argc, argv);

    // Logs in on the first line, then answers each carriage return with a prompt.
    LoopbackPeer peer([](LoopbackPeer& p, int fd) {
        SendAll(fd, "\r\nPASSWORD:");
        std::string pending;
        char buf[4096];
        bool loggedIn = false;
        while (!p.stopping()) {
            pollfd pf{fd, POLLIN, 0};
            if (::poll(&pf, 1, 20) <= 0) continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            pending.append(buf, static_cast<size_t>(n));
            for (size_t cr; (cr = pending.find('\r')) != std::string::npos; pending.erase(0, cr + 1)) {
                if (!loggedIn && pending.compare(0, cr, "velmod") != 0) continue;
                loggedIn = true;
                SendAll(fd, "\r\nOK\r\nmaint>");
            }
        }
    });

    TestStartDir start;
    MemoryProfile profile;
    Profile::install(&profile);
    ScriptedMessages boxes;
    SetModalHook([](QDialog& d) {
        if (ControlId(&d) != IDD_ENTER_PASSWORD) return int(QDialog::Rejected);
        FindControl<QLineEdit>(&d, IDC_PASSWORD_EDIT)->setText(QStringLiteral("velmod"));
        d.accept();
        return d.result();
    });
    std::string script;
    for (int i = 0; i < lines; ++i) script += "d s " + std::to_string(i) + "\r\n";
    start.dir().write("script.txt", script);
    {
        CMainFrame frame;
        if (!frame.OnCreate()) return 1;
        frame.session().lan().setDisconnectWaitMs(0);
        Profile::get().writeString("Server", "History %c", peer.destination());
        frame.action(ID_LAN_CONNECT)->trigger();
        using Clock = std::chrono::steady_clock;
        auto until = Clock::now() + std::chrono::seconds(10);
        while (frame.session().accessMode() != AccessMode::Maintenance && Clock::now() < until)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (frame.session().accessMode() != AccessMode::Maintenance) {
            std::printf("no login\n");
            return 1;
        }
        const auto begin = Clock::now();
        if (!frame.session().RunScriptFile(start.dir().file("script.txt"))) return 1;
        until = begin + std::chrono::seconds(120);
        while (frame.session().scriptRunning() && Clock::now() < until)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const double secs = std::chrono::duration<double>(Clock::now() - begin).count();
        std::printf("script of %d lines over LAN: %.3f s, %.2f ms per line (%s)\n", lines, secs, 1000.0 * secs / lines,
                    frame.statusBar()->currentMessage().toLatin1().constData());
        for (const RecordedBox& b : boxes.boxes()) std::printf("box: %s\n", b.text.c_str());
    }
    SetModalHook(nullptr);
    Profile::install(nullptr);
    return 0;
}
