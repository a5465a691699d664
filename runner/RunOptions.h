// The command line of pmxdiag-run: which switch, how to log in, what to send and where
// the trace goes. Plain C++.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The exit codes, also listed by --help.
enum RunExit : int { kDone = 0, kUsageOrFile = 1, kConnectFailed = 2, kLoginRefused = 3,
                     kPromptTimeout = 4, kLinkLost = 5 };

struct RunOptions {
    enum class Link { None, Lan, Serial, Modem, Entry, Isdn };
    Link link = Link::None;
    std::string target;       // HOST[:PORT], DEVICE, NUMBER or entry NAME
    std::string line;         // --line BAUD,DATABITS,PARITY,STOPBITS,FLOW
    bool settings = false;    // the stored settings of the link kind
    std::string passwordFile;
    std::string script;       // empty: commands from standard input
    int promptTimeoutS = 30;
    std::string trace;
    bool timestamps = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Parses argv; nothing, with the reason in *error, when it is not a valid command line.
std::optional<RunOptions> ParseRunOptions(const std::vector<std::string>& args, std::string* error);

// What --help prints.
std::string RunUsage();

// A serial line "BAUD,DATABITS,PARITY,STOPBITS,FLOW" (parity N/E/O/M/S, stop bits 1/1.5/2,
// flow none/xon/rts/dtr) as the stored settings' values; false when it is not one.
struct SerialLine { int baud = 9600, dataBits = 8, parity = 0, stopBits = 0, flow = 0; };
bool ParseSerialLine(const std::string& text, SerialLine* line);
