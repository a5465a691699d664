// Entry point: the command line first, with no window system needed; then the
// application object does the start-up.
#include "app/CTRQDiagApp.h"
#include "app/CommandLine.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
QtMessageHandler g_toolkitHandler = nullptr;
QList<QPair<QtMsgType, QString>> g_heldMessages;

const char* Environment(const char* name) { return std::getenv(name); }

// While the window system starts, its complaints are held back: a failure to reach
// the display becomes one line and an exit status instead of an abort.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        QString why = text.section(QLatin1Char('\n'), 0, 0);
        for (const auto& held : g_heldMessages)
            if (held.second.contains(QLatin1String("could not connect"), Qt::CaseInsensitive))
                why = held.second;
        std::fprintf(stderr, "pmxdiag: cannot open the display: %s\n", why.toLocal8Bit().constData());
        std::fflush(stderr);
        ::_exit(kExitNoDisplay);
    }
    if (context.category && QByteArray(context.category).startsWith("qt.qpa")) {
        g_heldMessages.append({type, text});
        return;
    }
    if (g_toolkitHandler) g_toolkitHandler(type, context, text);
}
} // namespace

int main(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(std::vector<std::string>(argv, argv + argc));
    switch (line.action) {
    case CommandLine::Action::Help:
        std::fputs(UsageText(), stdout);
        return kExitOk;
    case CommandLine::Action::Version:
        std::printf("pmxdiag %s\n", PMX_VERSION);
        return kExitOk;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "pmxdiag: %s (see pmxdiag --help)\n", line.error.c_str());
        return kExitUsage;
    case CommandLine::Action::Run:
        break;
    }
    if (!DisplayExpected(line, Environment)) {
        std::fprintf(stderr, "pmxdiag: no display: neither DISPLAY nor WAYLAND_DISPLAY is set\n");
        return kExitNoDisplay;
    }

    g_toolkitHandler = qInstallMessageHandler(StartupMessages);
    CTRQDiagApp app(argc, argv);
    qInstallMessageHandler(g_toolkitHandler);
    for (const auto& held : g_heldMessages)
        if (held.first != QtDebugMsg) std::fprintf(stderr, "%s\n", held.second.toLocal8Bit().constData());
    g_heldMessages.clear();

    if (!app.InitInstance(line.file)) return app.shutdownRequested() ? kExitOk : kExitStartFailed;
    return app.exec();
}
