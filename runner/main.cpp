// pmxdiag-run: runs a command script against one switch without a display. The
// command line and every file are checked before anything is dialled, so that a
// usage or file error (exit 1) never leaves a call or a login behind.
#include "runner/HeadlessMessages.h"
#include "runner/HeadlessRun.h"
#include "runner/OverlayProfile.h"
#include "runner/PasswordSource.h"
#include "runner/RunOptions.h"

#include "commands/CommandScript.h"
#include "links/IsdnTexts.h"
#include "links/SerialTexts.h"
#include "phonebook/PhoneBook.h"
#include "platform/AppGlobals.h"
#include "platform/QtProfile.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

using namespace runner;

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signo) {
    const int saved = errno;
    const char c = static_cast<char>(signo);
    ssize_t r = ::write(g_signalPipe[1], &c, 1);
    (void)r;
    errno = saved;
}

// The phone book entry's number: the name as written, else the one entry whose name
// matches ignoring case.
std::optional<std::string> EntryNumber(const std::string& name, std::string* error) {
    std::ifstream in(kPhoneBookFile, std::ios::binary);
    if (!in) {
        *error = std::string("cannot read ") + kPhoneBookFile + " in the working folder";
        return std::nullopt;
    }
    std::string text;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) text.append(buf, static_cast<size_t>(in.gcount()));
    const std::vector<PhoneEntry> entries = ParsePhoneBookText(text);
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    const PhoneEntry* found = nullptr;
    int folded = 0;
    for (const PhoneEntry& e : entries) {
        if (e.name == name) return e.number;
        if (lower(e.name) == lower(name)) {
            found = &e;
            ++folded;
        }
    }
    if (folded == 1) return found->number;
    *error = folded > 1 ? "more than one phone book entry is named " + name + " (ignoring case)"
                        : "no phone book entry named " + name + " in " + kPhoneBookFile;
    return std::nullopt;
}

// The commands of standard input, read as a script file's.
bool StdinCommands(std::vector<std::string>* commands, std::string* error) {
    if (::isatty(0)) std::fputs("pmxdiag-run: reading the commands from standard input up to its end (Ctrl+D)\n", stderr);
    std::string content;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = "cannot read standard input";
            return false;
        }
        if (n == 0) break;
        content.append(buf, static_cast<size_t>(n));
        if (content.size() > commandscript::kMaxFileBytes) {
            *error = "standard input holds more than 256 KB of commands";
            return false;
        }
    }
    *commands = commandscript::ParseCommands(content);
    return true;
}

// The command line over the stored settings: what it names replaces them; what it leaves
// open comes from them only with --settings.
void ApplyToSettings(const RunOptions& o, OverlayProfile& profile) {
    switch (o.link) {
    case LinkChoice::Lan:
        if (!o.target.empty()) profile.set("Server", "History %c", o.target);
        break;
    case LinkChoice::Serial: {
        using namespace serialtext;
        if (!o.target.empty()) {
            profile.set(kSection, kKeyPort, 0);
            profile.set(kDevicesSection, "COM1", o.target);
        }
        if (o.line || !o.useSettings) {
            const LineSettings line = o.line.value_or(LineSettings{});
            profile.set(kSection, kKeyBaud, line.baudRate);
            profile.set(kSection, kKeyDataBits, line.dataBits);
            profile.set(kSection, kKeyParity, line.parity);
            profile.set(kSection, kKeyStopBits, line.stopBits);
            profile.set(kSection, kKeyFlow, line.flow);
        }
        break;
    }
    case LinkChoice::Isdn:
        if (!o.target.empty()) profile.set(isdn::kSection, isdn::kNumberKey, o.target);
        break;
    case LinkChoice::Modem:
    case LinkChoice::Entry:
    case LinkChoice::None: break;
    }
}

} // namespace

int main(int argc, char** argv) {
    const ParseResult parsed = ParseRunOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok()) {
        std::fprintf(stderr, "pmxdiag-run: %s\nTry 'pmxdiag-run --help'.\n", parsed.error.c_str());
        return kExitUsage;
    }
    RunOptions options = parsed.options;
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitDone;
    }
    if (options.version) {
        std::printf("pmxdiag-run %s\n", PMX_VERSION);
        return kExitDone;
    }
    HeadlessMessages messages(SwitchLabel(options));

    const PasswordResult password = LoadPassword(options.passwordFile, std::getenv("PMX_PASSWORD"));
    if (!password.error.empty()) {
        messages.say(password.error);
        return kExitUsage;
    }
    std::vector<std::string> commands;
    std::string error;
    if (!options.scriptFile.empty()) {
        int badLine = 0;
        const commandscript::LoadResult loaded = commandscript::LoadCommands(options.scriptFile, &commands, &badLine);
        if (loaded == commandscript::LoadResult::ControlBytes) {
            messages.say("the script file " + options.scriptFile + " is not a text of commands: line " +
                         std::to_string(badLine) + " holds control characters; nothing was sent");
            return kExitUsage;
        }
        if (loaded != commandscript::LoadResult::Loaded) {
            messages.say("cannot read the script file " + options.scriptFile +
                         " (missing, unreadable or larger than 256 KB)");
            return kExitUsage;
        }
    } else if (!StdinCommands(&commands, &error)) {
        messages.say(error);
        return kExitUsage;
    }
    if (options.link == LinkChoice::Entry) {
        const std::optional<std::string> number = EntryNumber(options.target, &error);
        if (!number) {
            messages.say(error);
            return kExitUsage;
        }
        options.link = LinkChoice::Modem;
        options.target = *number;
    }

    // A write to a closed standard output fails instead of ending the run.
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
        std::signal(SIGHUP, OnSignal);
    }

    QCoreApplication app(argc, argv);
    QtProfile stored;
    OverlayProfile profile(stored);
    ApplyToSettings(options, profile);
    Profile::install(&profile);
    MessageService::install(&messages);
    char cwd[4096];
    SetStartDirectory(::getcwd(cwd, sizeof cwd) ? cwd : ".");

    int code = kExitDone;
    {
        HeadlessRun run(options, messages, password.password, std::move(commands));
        QObject::connect(&run, &HeadlessRun::finished, &app, [&app](int exitCode) { app.exit(exitCode); });
        int signo = 0;
        QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
            char c = 0;
            if (::read(g_signalPipe[0], &c, 1) == 1 && signo == 0) {
                signo = c;
                run.interrupt(QStringLiteral("stopped by signal %1").arg(signo));
            }
        });
        QMetaObject::invokeMethod(&run, &HeadlessRun::start, Qt::QueuedConnection);
        code = app.exec();
        if (signo != 0) code = 128 + signo;  // the shell's convention for a run ended by a signal
    }
    MessageService::install(nullptr);
    Profile::install(nullptr);
    return code;
}
