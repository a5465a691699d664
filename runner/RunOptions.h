// The command line of pmxdiag-run, the headless runner: which link and switch, how to
// log in, what to send, where the trace goes. Plain C++ so it is tested without Qt.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace runner {

// The exit codes scripts and GNU parallel's job log rely on.
enum ExitCode : int {
    kExitDone = 0,
    kExitUsage = 1,          // bad command line, unreadable password, script or trace file
    kExitConnectFailed = 2,
    kExitLoginRefused = 3,
    kExitPromptTimeout = 4,
    kExitLinkLost = 5,
};

enum class LinkChoice { None, Lan, Serial, Modem, Entry, Isdn };

// --line BAUD,DATABITS,PARITY,STOPBITS,FLOW in the stored settings' encoding
// (section SerialPort): parity 0 none .. 4 space, stop bits 0 = 1, 1 = 1.5, 2 = 2,
// flow a sum of 1 DTR/DSR, 2 RTS/CTS, 4 XON/XOFF.
struct LineSettings {
    int baudRate = 9600;
    int dataBits = 8;
    int parity = 0;
    int stopBits = 0;
    int flow = 0;
    bool operator==(const LineSettings&) const = default;
};

struct RunOptions {
    LinkChoice link = LinkChoice::None;
    std::string target;                // host[:port], device, number or entry name; empty: from the settings
    std::optional<LineSettings> line;  // serial only
    bool useSettings = false;          // fill what the command line leaves open from the stored settings
    std::string passwordFile;          // empty: PMX_PASSWORD
    std::string scriptFile;            // empty: commands from standard input
    int promptTimeoutSeconds = 30;     // as File > Run Script
    int connectTimeoutSeconds = 60;
    std::string traceFile;
    bool timestamps = false;
    bool quiet = false;
    std::string name;                  // how progress and error lines name the switch
    bool help = false;
    bool version = false;
};

struct ParseResult {
    RunOptions options;
    std::string error;  // empty when the command line is usable
    bool ok() const { return error.empty(); }
};

// args without the program name.
ParseResult ParseRunOptions(const std::vector<std::string>& args);
std::optional<LineSettings> ParseLineSettings(const std::string& text);

// The switch as progress and error lines name it: --name, else the link and its target.
std::string SwitchLabel(const RunOptions& options);

// --help's text.
std::string UsageText();

} // namespace runner
