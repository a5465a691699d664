#include "runner/RunOptions.h"

#include <cctype>
#include <cstdlib>
#include <utility>
#include <sstream>

namespace {
bool ToInt(const std::string& s, int lo, int hi, int* out) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    const int v = std::atoi(s.c_str());
    if (v < lo || v > hi) return false;
    *out = v;
    return true;
}
} // namespace

bool ParseSerialLine(const std::string& text, SerialLine* line) {
    std::vector<std::string> f;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) f.push_back(part);
    if (f.size() != 5) return false;
    SerialLine l;
    if (!ToInt(f[0], 50, 4000000, &l.baud) || !ToInt(f[1], 5, 8, &l.dataBits)) return false;
    const std::string parities = "NOEMS";  // the stored order: none, odd, even, mark, space
    if (f[2].size() != 1 || parities.find(static_cast<char>(std::toupper(f[2][0]))) == std::string::npos)
        return false;
    l.parity = static_cast<int>(parities.find(static_cast<char>(std::toupper(f[2][0]))));
    if (f[3] == "1") l.stopBits = 0;
    else if (f[3] == "1.5") l.stopBits = 1;
    else if (f[3] == "2") l.stopBits = 2;
    else return false;
    // The stored flow is a mask: DTR/DSR 1, RTS/CTS 2, XON/XOFF 4.
    const std::pair<const char*, int> flows[] = {{"none", 0}, {"dtr", 1}, {"rts", 2}, {"xon", 4}};
    l.flow = -1;
    for (const auto& [name, mask] : flows)
        if (f[4] == name) l.flow = mask;
    if (l.flow < 0) return false;
    *line = l;
    return true;
}

std::optional<RunOptions> ParseRunOptions(const std::vector<std::string>& args, std::string* error) {
    RunOptions o;
    auto fail = [&](const std::string& why) {
        *error = why;
        return std::optional<RunOptions>();
    };
    auto setLink = [&](RunOptions::Link link, const std::string& target) {
        if (o.link != RunOptions::Link::None) return false;
        o.link = link;
        o.target = target;
        return true;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") o.help = true;
        else if (a == "--version") o.version = true;
        else if (a == "--settings") o.settings = true;
        else if (a == "--timestamps") o.timestamps = true;
        else if (a == "--quiet") o.quiet = true;
        else if (a == "--isdn") {
            if (!setLink(RunOptions::Link::Isdn, "")) return fail("only one link may be given");
        } else if (a == "--lan" || a == "--serial" || a == "--modem" || a == "--entry") {
            const RunOptions::Link link = a == "--lan" ? RunOptions::Link::Lan
                                          : a == "--serial" ? RunOptions::Link::Serial
                                          : a == "--modem" ? RunOptions::Link::Modem
                                                           : RunOptions::Link::Entry;
            // With --settings, LAN and serial may take their destination from the stored settings.
            std::string target;
            if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) target = args[++i];
            if (target.empty() && link != RunOptions::Link::Lan && link != RunOptions::Link::Serial)
                return fail(a + " needs a value");
            if (!setLink(link, target)) return fail("only one link may be given");
        } else if (a == "--line") {
            if (!value(&o.line)) return fail("--line needs a value");
            SerialLine l;
            if (!ParseSerialLine(o.line, &l)) return fail("--line must be BAUD,DATABITS,PARITY,STOPBITS,FLOW");
        } else if (a == "--password-file") {
            if (!value(&o.passwordFile)) return fail("--password-file needs a file");
        } else if (a == "--script") {
            if (!value(&o.script)) return fail("--script needs a file");
        } else if (a == "--trace") {
            if (!value(&o.trace)) return fail("--trace needs a file");
        } else if (a == "--prompt-timeout") {
            if (!value(&v) || !ToInt(v, 1, 86400, &o.promptTimeoutS)) return fail("--prompt-timeout needs seconds (1-86400)");
        } else if (a == "--password") {
            return fail("a password is never an argument (it would show in the process list): "
                        "use --password-file or PMX_PASSWORD");
        } else {
            return fail("unknown argument: " + a);
        }
    }
    if (o.help || o.version) return o;
    if (o.link == RunOptions::Link::None) return fail("no link given (--lan, --serial, --modem, --entry or --isdn)");
    if (o.target.empty() && !o.settings &&
        (o.link == RunOptions::Link::Lan || o.link == RunOptions::Link::Serial))
        return fail("--lan and --serial need a value unless --settings is given");
    if (!o.line.empty() && o.link != RunOptions::Link::Serial) return fail("--line is for --serial");
    return o;
}

std::string RunUsage() {
    return "Usage: pmxdiag-run LINK [options]\n"
           "Runs commands on one switch without a display, as File > Run Script does.\n"
           "\n"
           "LINK (one of):\n"
           "  --lan HOST[:PORT]        Telnet over LAN (port 23 unless given)\n"
           "  --serial DEVICE          serial port, with --line BAUD,DATABITS,PARITY,STOPBITS,FLOW\n"
           "                           (default 9600,8,N,1,none; parity N/O/E/M/S; flow none/xon/rts/dtr)\n"
           "  --modem NUMBER           dial NUMBER with the configured modem\n"
           "  --entry NAME             dial the phone book entry NAME of PhoneNo.txt\n"
           "  --isdn                   call the configured ISDN number\n"
           "  --settings               use the stored settings of the link kind given\n"
           "                           (--lan and --serial may then omit their value)\n"
           "\n"
           "Options:\n"
           "  --password-file FILE     the password (first line); or PMX_PASSWORD in the environment\n"
           "  --script FILE            the commands, one a line (# comments); default: standard input\n"
           "  --prompt-timeout SECONDS how long to wait for the prompt after each line (30)\n"
           "  --trace FILE             write the trace file as Capture On does\n"
           "  --timestamps             start each trace line with its time\n"
           "  --quiet                  do not copy the received text to standard output\n"
           "  --help, --version\n"
           "\n"
           "Progress and errors go to standard error, one line each, naming the switch.\n"
           "Exit codes: 0 done; 1 usage or file error; 2 connect failed; 3 login refused;\n"
           "4 prompt time-out; 5 link lost.\n";
}
