#include "runner/RunOptions.h"

#include <cerrno>
#include <cstdlib>

namespace runner {

namespace {

std::optional<long> Number(const std::string& text, long min, long max) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return std::nullopt;
    return v;
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(sep, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

const char* LinkOption(LinkChoice link) {
    switch (link) {
    case LinkChoice::Lan: return "--lan";
    case LinkChoice::Serial: return "--serial";
    case LinkChoice::Modem: return "--modem";
    case LinkChoice::Entry: return "--entry";
    case LinkChoice::Isdn: return "--isdn";
    case LinkChoice::None: break;
    }
    return "";
}

} // namespace

std::optional<LineSettings> ParseLineSettings(const std::string& text) {
    const std::vector<std::string> f = Split(text, ',');
    if (f.size() != 5) return std::nullopt;
    LineSettings s;
    const auto baud = Number(f[0], 1, 4000000);
    if (!baud) return std::nullopt;
    s.baudRate = static_cast<int>(*baud);
    const auto bits = Number(f[1], 5, 8);
    if (!bits) return std::nullopt;
    s.dataBits = static_cast<int>(*bits);
    static const std::string kParities = "noems";  // none, odd, even, mark, space
    const std::string parity = Lower(f[2]);
    if (parity.size() != 1 || kParities.find(parity[0]) == std::string::npos) return std::nullopt;
    s.parity = static_cast<int>(kParities.find(parity[0]));
    if (f[3] == "1") s.stopBits = 0;
    else if (f[3] == "1.5") s.stopBits = 1;
    else if (f[3] == "2") s.stopBits = 2;
    else return std::nullopt;
    s.flow = 0;
    for (const std::string& part : Split(Lower(f[4]), '+')) {
        if (part == "none" && f[4].size() == 4) continue;
        if (part == "dtrdsr") s.flow |= 1;
        else if (part == "rtscts") s.flow |= 2;
        else if (part == "xonxoff") s.flow |= 4;
        else return std::nullopt;
    }
    return s;
}

ParseResult ParseRunOptions(const std::vector<std::string>& args) {
    ParseResult result;
    RunOptions& o = result.options;
    std::string error;
    auto fail = [&](const std::string& text) {
        if (error.empty()) error = text;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;  // --opt=VALUE
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        // The option's value: inline, else the next argument.
        auto value = [&](std::string* out) {
            if (inlineValue) {
                *out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                fail(arg + " needs a value");
                return false;
            }
            *out = args[++i];
            return true;
        };
        // A value that --settings may stand in for: absent when the next argument is an option.
        auto optionalValue = [&](std::string* out) {
            if (inlineValue) *out = *inlineValue;
            else if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') *out = args[++i];
        };
        auto flag = [&]() {
            if (inlineValue) fail(arg + " takes no value");
        };
        auto pickLink = [&](LinkChoice link) {
            if (o.link != LinkChoice::None && o.link != link)
                fail(std::string("choose one link: ") + LinkOption(o.link) + " and " + arg + " given");
            o.link = link;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            flag();
            o.help = true;
        } else if (arg == "--version" || arg == "-V") {
            flag();
            o.version = true;
        } else if (arg == "--lan") {
            pickLink(LinkChoice::Lan);
            optionalValue(&o.target);
        } else if (arg == "--serial") {
            pickLink(LinkChoice::Serial);
            optionalValue(&o.target);
        } else if (arg == "--modem") {
            pickLink(LinkChoice::Modem);
            if (value(&o.target) && o.target.empty()) fail("--modem needs a number");
        } else if (arg == "--entry") {
            pickLink(LinkChoice::Entry);
            if (value(&o.target) && o.target.empty()) fail("--entry needs a phone book entry's name");
        } else if (arg == "--isdn") {
            pickLink(LinkChoice::Isdn);
            optionalValue(&o.target);
        } else if (arg == "--line") {
            if (!value(&v)) continue;
            o.line = ParseLineSettings(v);
            if (!o.line) fail("--line " + v + ": expected BAUD,DATABITS,PARITY,STOPBITS,FLOW, e.g. 9600,8,N,1,none");
        } else if (arg == "--settings") {
            flag();
            o.useSettings = true;
        } else if (arg == "--password" || arg == "-p") {
            fail("a password is never an argument (the process list shows it): use --password-file FILE or PMX_PASSWORD");
        } else if (arg == "--password-file") {
            if (value(&o.passwordFile) && o.passwordFile.empty()) fail("--password-file needs a file");
        } else if (arg == "--script") {
            if (value(&o.scriptFile) && o.scriptFile.empty()) fail("--script needs a file");
        } else if (arg == "--trace") {
            if (value(&o.traceFile) && o.traceFile.empty()) fail("--trace needs a file");
        } else if (arg == "--prompt-timeout" || arg == "--connect-timeout") {
            if (!value(&v)) continue;
            const auto seconds = Number(v, 1, 86400);
            if (!seconds) fail(arg + " " + v + ": expected whole seconds from 1 to 86400");
            else (arg == "--prompt-timeout" ? o.promptTimeoutSeconds : o.connectTimeoutSeconds) = static_cast<int>(*seconds);
        } else if (arg == "--timestamps") {
            flag();
            o.timestamps = true;
        } else if (arg == "--quiet" || arg == "-q") {
            flag();
            o.quiet = true;
        } else if (arg == "--name") {
            value(&o.name);
        } else {
            fail(arg.rfind("-", 0) == 0 ? "unknown option " + arg : "unexpected argument " + arg);
        }
    }
    if (o.help || o.version) return result;  // asked for the text: nothing else matters
    if (error.empty()) {
        if (o.link == LinkChoice::None)
            fail("choose a link: --lan HOST[:PORT], --serial DEVICE, --modem NUMBER, --entry NAME or --isdn");
        else if (o.target.empty() && !o.useSettings && (o.link == LinkChoice::Lan || o.link == LinkChoice::Serial))
            fail(std::string(LinkOption(o.link)) + (o.link == LinkChoice::Lan ? " needs HOST[:PORT]" : " needs a DEVICE") +
                 " or --settings");
        else if (o.line && o.link != LinkChoice::Serial)
            fail("--line is for --serial only");
    }
    result.error = error;
    return result;
}

std::string SwitchLabel(const RunOptions& o) {
    if (!o.name.empty()) return o.name;
    switch (o.link) {
    case LinkChoice::Lan: return o.target.empty() ? "LAN" : o.target;
    case LinkChoice::Serial: return o.target.empty() ? "serial" : o.target;
    case LinkChoice::Modem: return "modem " + o.target;
    case LinkChoice::Entry: return o.target;
    case LinkChoice::Isdn: return o.target.empty() ? "ISDN" : "ISDN " + o.target;
    case LinkChoice::None: break;
    }
    return "pmxdiag-run";
}

std::string UsageText() {
    return
        "Usage: pmxdiag-run LINK [options]\n"
        "Runs a command script against one switch without a window.\n"
        "\n"
        "LINK (one of):\n"
        "  --lan HOST[:PORT]          Telnet to HOST (port 23 unless given)\n"
        "  --serial DEVICE            the serial port DEVICE, e.g. /dev/ttyUSB0\n"
        "    --line BAUD,DATABITS,PARITY,STOPBITS,FLOW\n"
        "                             line settings, e.g. 9600,8,N,1,none (the default);\n"
        "                             PARITY N O E M S, STOPBITS 1 1.5 2,\n"
        "                             FLOW none, rtscts, xonxoff, dtrdsr (joined with +)\n"
        "  --modem NUMBER             dial NUMBER with the configured modem\n"
        "  --entry NAME               dial the phone book entry NAME (PhoneNo.txt)\n"
        "  --isdn [NUMBER]            dial NUMBER, else the configured ISDN number, through\n"
        "                             the ISDN adapter\n"
        "  --settings                 use the stored settings of that link kind for what\n"
        "                             the command line leaves open (--lan and --serial\n"
        "                             then need no value); the modem and the ISDN adapter\n"
        "                             always come from the stored settings\n"
        "\n"
        "Options:\n"
        "  --password-file FILE       the password is the file's first line; without it,\n"
        "                             the environment variable PMX_PASSWORD (a password\n"
        "                             is never an argument)\n"
        "  --script FILE              the commands, one per line, as File > Run Script reads\n"
        "                             them; without it, lines come from standard input\n"
        "  --prompt-timeout SECONDS   give up when the switch shows no prompt for this long\n"
        "                             (default 30)\n"
        "  --connect-timeout SECONDS  give up when the link is not up within this time\n"
        "                             (default 60)\n"
        "  --trace FILE               write the trace as Capture On does\n"
        "  --timestamps               start each trace line with the time it arrived\n"
        "  --quiet, -q                do not copy the switch's text to standard output\n"
        "  --name LABEL               name the switch so in progress and error lines\n"
        "  --help, -h                 this text\n"
        "  --version, -V              the version\n"
        "\n"
        "Each line goes out when the switch shows its prompt (maint> or mon>). Progress and\n"
        "errors go to standard error, one line each, naming the switch. The working folder is\n"
        "the current directory (PhoneNo.txt, overflow dumps); no CmdConf.txt is needed.\n"
        "\n"
        "Exit codes:\n"
        "  0  done\n"
        "  1  usage or file error\n"
        "  2  connect failed\n"
        "  3  login refused (or no password when the switch asked for one)\n"
        "  4  prompt time-out\n"
        "  5  link lost\n";
}

} // namespace runner
