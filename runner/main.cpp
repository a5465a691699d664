// pmxdiag-run: one switch, one set of commands, no display. See --help.
#include "commands/CommandScript.h"
#include "links/SerialTexts.h"
#include "phonebook/PhoneBook.h"
#include "platform/AppGlobals.h"
#include "platform/QtProfile.h"
#include "runner/Runner.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace {
int Usage(const std::string& why) {
    std::fprintf(stderr, "pmxdiag-run: %s\nTry 'pmxdiag-run --help'.\n", why.c_str());
    return kUsageOrFile;
}

bool ReadFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text->assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}
} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const std::optional<RunOptions> parsed = ParseRunOptions(args, &error);
    if (!parsed) return Usage(error);
    const RunOptions& o = *parsed;
    if (o.help) {
        std::fputs(RunUsage().c_str(), stdout);
        return kDone;
    }
    if (o.version) {
        std::printf("pmxdiag-run %s\n", PMX_VERSION);
        return kDone;
    }

    // The password: the file's first line, or the environment; never an argument.
    std::string password;
    if (!o.passwordFile.empty()) {
        if (!ReadFile(o.passwordFile, &password)) return Usage("cannot read the password file " + o.passwordFile);
        password = password.substr(0, password.find_first_of("\r\n"));
    } else if (const char* env = std::getenv("PMX_PASSWORD")) {
        password = env;
    }
    if (password.empty()) return Usage("no password: give --password-file FILE or set PMX_PASSWORD");

    // The commands, read before connecting: a file error costs no call.
    std::vector<std::string> commands;
    if (!o.script.empty()) {
        int badLine = 0;
        const commandscript::LoadResult loaded = commandscript::LoadCommands(o.script, &commands, &badLine);
        if (loaded == commandscript::LoadResult::ControlBytes)
            return Usage("the script file " + o.script + " is not a text of commands: line " + std::to_string(badLine) +
                         " holds control characters; nothing was sent");
        if (loaded != commandscript::LoadResult::Loaded)
            return Usage("cannot read the script file " + o.script + " (missing, unreadable or larger than 256 KB)");
    } else {
        std::ostringstream in;
        in << std::cin.rdbuf();
        commands = commandscript::ParseCommands(in.str());
    }
    if (commands.empty()) return Usage("no commands to send");

    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("TRQ PC Applications"));
    app.setApplicationName(QStringLiteral("PMXDiag"));
    // The working folder, as for the window: overflow dumps and the phone book live there.
    std::error_code ec;
    SetStartDirectory(std::filesystem::current_path(ec).string());
    QtProfile stored;
    OverlayProfile profile(stored);
    Profile::install(&profile);

    std::string name = o.target;
    std::string number;
    switch (o.link) {
    case RunOptions::Link::Lan:
        if (!o.target.empty()) profile.writeString("Server", "History %c", o.target);
        name = profile.getString("Server", "History %c", "");
        break;
    case RunOptions::Link::Serial: {
        using namespace serialtext;
        SerialLine line;
        const bool ownLine = !o.line.empty() || !o.settings;
        if (!o.line.empty()) ParseSerialLine(o.line, &line);
        if (!o.target.empty()) {
            profile.writeInt(kSection, kKeyPort, 0);
            profile.writeString(kDevicesSection, "COM1", o.target);
        }
        if (ownLine) {
            profile.writeInt(kSection, kKeyBaud, line.baud);
            profile.writeInt(kSection, kKeyDataBits, line.dataBits);
            profile.writeInt(kSection, kKeyParity, line.parity);
            profile.writeInt(kSection, kKeyStopBits, line.stopBits);
            profile.writeInt(kSection, kKeyFlow, line.flow);
        }
        if (name.empty()) name = "serial";
        break;
    }
    case RunOptions::Link::Modem: number = o.target; break;
    case RunOptions::Link::Entry: {
        std::string text;
        if (!ReadFile(StartDirectory() + "/PhoneNo.txt", &text)) return Usage("cannot read PhoneNo.txt");
        for (const PhoneEntry& e : ParsePhoneBookText(text))
            if (e.name == o.target) number = e.number;
        if (number.empty()) return Usage("no phone book entry named " + o.target);
        break;
    }
    case RunOptions::Link::Isdn: name = "ISDN " + profile.getString("ISDN", "History %c", ""); break;
    case RunOptions::Link::None: break;
    }

    int code;
    {
        HeadlessRun run(o, password, std::move(commands), name, number);
        code = run.Run();
    }
    Profile::install(nullptr);
    return code;
}
