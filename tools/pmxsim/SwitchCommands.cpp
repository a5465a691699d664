// The switch's commands and their listings. Numbers in the listings are derived
// from the arguments so that different boards, stations and addresses answer
// differently, the same one the same way each time.
#include "tools/pmxsim/SwitchCommands.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <vector>

namespace pmxsim {

namespace {

constexpr int kBoards = 16;
constexpr unsigned long kMemoryTop = 0xFFFFFul;
constexpr unsigned long kMaxDump = 256;

std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// A small, stable mix of a number: the "measured" values of a board or station.
unsigned Mix(unsigned long x) {
    x ^= x >> 7;
    x *= 2654435761u;
    x ^= x >> 13;
    return static_cast<unsigned>(x & 0xFFFFFFFFu);
}

bool ParseNumber(const std::string& s, int base, unsigned long max, unsigned long* value) {
    if (s.empty()) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str(), &end, base);
    if (*end != '\0' || s[0] == '-' || v > max) return false;
    *value = v;
    return true;
}

bool ParseOnOff(const std::string& s, bool* on) {
    const std::string w = Lower(s);
    if (w == "on" || w == "1") *on = true;
    else if (w == "off" || w == "0") *on = false;
    else return false;
    return true;
}

const char* BoardType(int board) {
    static const char* const kTypes[] = {"MPB ", "DTIB", "SLIB", "COIB", "SLIB", "DTIB", "KRAU", "HDLC"};
    return kTypes[board % 8];
}

bool Equipped(int board) { return board < 12; }

std::string Stamp() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%d-%m-%Y   TIME  %H:%M:%S", &tm);
    return buf;
}

} // namespace

SwitchCommands::Answer SwitchCommands::Run(const std::string& line, bool maintenance, std::string& out) {
    const std::vector<std::string> w = Words(line);
    if (w.empty()) return Answer::Done;
    std::string cmd = Lower(w[0]);
    size_t first = 1;
    if (w.size() > 1 && cmd.size() == 1) {
        cmd += ' ' + Lower(w[1]);
        first = 2;
    }
    const std::vector<std::string> args(w.begin() + static_cast<long>(std::min(first, w.size())), w.end());

    static const char* const kMaintenance[] = {"b c", "b s", "t s", "b l", "t a", "l v",
                                               "l c", "p s", "u s", "k c", "h s", "s w"};
    for (const char* m : kMaintenance) {
        if (cmd == m && !maintenance) {
            out += "?? Not allowed at monitor level\r\n";
            return Answer::Refused;
        }
    }
    if (cmd == "r a" && !maintenance) {
        out += "?? Not allowed at monitor level\r\n";
        return Answer::Refused;
    }

    // Argument helpers: each reports its own error and makes the command end.
    auto need = [&](size_t n) {
        if (args.size() >= n) return true;
        out += "?? Missing parameter\r\n";
        return false;
    };
    auto number = [&](size_t i, int base, unsigned long max, const char* what, unsigned long* v) {
        if (ParseNumber(args[i], base, max, v)) return true;
        out += Fmt("?? Invalid %s: %s\r\n", what, args[i].c_str());
        return false;
    };
    auto board = [&](size_t i, unsigned long* b) {
        if (!number(i, 10, 99, "board number", b)) return false;
        if (*b < kBoards && Equipped(static_cast<int>(*b))) return true;
        out += Fmt("?? Board %02lu not equipped\r\n", *b);
        return false;
    };

    unsigned long a = 0, b = 0;
    bool on = false;

    // Monitoring commands.
    if (cmd == "t b") {
        if (!need(1) || !board(0, &a)) return Answer::Done;
        boardTrace_ = static_cast<int>(a);
        out += Fmt("BOARD TRACE SET   BOARD %02lu (%s)\r\n", a, BoardType(static_cast<int>(a)));
        out += Fmt("  %s  B%02lu  MSG 0x%02X  LEN %u\r\n", Stamp().substr(19).c_str(), a, Mix(a) % 0x60 + 0x20,
                   Mix(a + 1) % 40 + 4);
    } else if (cmd == "t v") {
        if (!need(1) || !number(0, 10, 9999, "device number", &a)) return Answer::Done;
        deviceTrace_ = static_cast<int>(a);
        out += Fmt("DEVICE TRACE SET  DEVICE %04lu  (BOARD %02u PORT %02u)\r\n", a, Mix(a) % 12,
                   Mix(a + 7) % 24);
    } else if (cmd == "t d") {
        out += "TRACE DISABLE\r\n";
        out += boardTrace_ >= 0 ? Fmt("  BOARD TRACE   OFF (WAS BOARD %02d)\r\n", boardTrace_)
                                : std::string("  BOARD TRACE   OFF\r\n");
        out += deviceTrace_ >= 0 ? Fmt("  DEVICE TRACE  OFF (WAS DEVICE %04d)\r\n", deviceTrace_)
                                 : std::string("  DEVICE TRACE  OFF\r\n");
        out += "  SYSTEM DATE  " + Stamp() + "\r\n";
        boardTrace_ = deviceTrace_ = -1;
    } else if (cmd == "t p") {
        out += "TRACE SETUP\r\n";
        out += boardTrace_ >= 0 ? Fmt("  BOARD TRACE   ON   BOARD %02d (%s)\r\n", boardTrace_, BoardType(boardTrace_))
                                : std::string("  BOARD TRACE   OFF\r\n");
        out += deviceTrace_ >= 0 ? Fmt("  DEVICE TRACE  ON   DEVICE %04d\r\n", deviceTrace_)
                                 : std::string("  DEVICE TRACE  OFF\r\n");
        out += "  OUTPUT        MAINTENANCE PORT   BUFFER 4096\r\n";
    } else if (cmd == "d m") {
        if (!need(2) || !number(0, 16, kMemoryTop, "address", &a) || !number(1, 16, 0xFFFF, "length", &b))
            return Answer::Done;
        if (b == 0) b = 16;
        if (b > kMaxDump) b = kMaxDump;
        if (a + b > kMemoryTop + 1) b = kMemoryTop + 1 - a;
        for (unsigned long row = a & ~0xFul; row < a + b; row += 16) {
            std::string hex, text;
            for (unsigned long p = row; p < row + 16; ++p) {
                if (p < a || p >= a + b) {
                    hex += "   ";
                    text += ' ';
                    continue;
                }
                auto it = memory_.find(p);
                const unsigned v = it != memory_.end() ? it->second : Mix(p) & 0xFF;
                hex += Fmt(" %02X", v);
                text += (v >= 0x20 && v < 0x7F) ? static_cast<char>(v) : '.';
            }
            out += Fmt("%05lX %s  %s\r\n", row, hex.c_str(), text.c_str());
        }
    } else if (cmd == "m m") {
        if (!need(2) || !number(0, 16, kMemoryTop, "address", &a) || !number(1, 16, 0xFF, "data", &b))
            return Answer::Done;
        auto it = memory_.find(a);
        const unsigned old = it != memory_.end() ? it->second : Mix(a) & 0xFF;
        memory_[a] = static_cast<unsigned>(b);
        out += Fmt("MEMORY %05lX   OLD %02X   NEW %02lX\r\nMODIFIED\r\n", a, old, b);
    } else if (cmd == "s s" && args.empty()) {
        // Without a station: the whole system at a glance.
        out += "SYSTEM STATUS\r\n"
               "  CPU A  ACTIVE    LOAD 12%\r\n"
               "  CPU B  STANDBY   LOAD  3%\r\n"
               "  POWER  NORMAL    -48.1 V\r\n"
               "  CLOCK  LOCKED    SOURCE TRUNK 00\r\n";
    } else if (cmd == "s s") {
        if (!number(0, 10, 999, "station number", &a)) return Answer::Done;
        if (a < 200 || a > 455) {
            out += Fmt("?? Station %lu not assigned\r\n", a);
            return Answer::Done;
        }
        static const char* const kStates[] = {"IDLE", "IDLE", "BUSY", "RINGING", "IDLE", "OUT OF SVC"};
        static const char* const kTypes[] = {"DIGITAL", "ANALOG ", "DIGITAL", "ISDN BRI"};
        const unsigned m = Mix(a);
        out += Fmt("STATION %lu\r\n  TYPE %s   STATE %s\r\n  PORT %02lu-%02lu   COS %u   PICKUP GROUP %u\r\n", a,
                   kTypes[m % 4], kStates[(m >> 4) % 6], 2 + (a - 200) / 24, (a - 200) % 24, 1 + (m >> 8) % 8,
                   (m >> 12) % 10);
    } else if (cmd == "s c") {
        if (!need(1) || !number(0, 10, 999, "CO line number", &a)) return Answer::Done;
        if (a < 1 || a > 48) {
            out += Fmt("?? CO line %lu not assigned\r\n", a);
            return Answer::Done;
        }
        static const char* const kStates[] = {"IDLE", "SEIZED", "CONNECTED", "IDLE", "BLOCKED"};
        const unsigned m = Mix(a + 1000);
        out += Fmt("CO LINE %02lu   TRUNK GROUP %u   BOARD %02u PORT %02u\r\n  STATE %s   CALLS TODAY %u\r\n", a,
                   1 + m % 4, 3 + (static_cast<unsigned>(a) - 1) / 16, (static_cast<unsigned>(a) - 1) % 16,
                   kStates[(m >> 3) % 5], (m >> 8) % 300);
    } else if (cmd == "s k") {
        out += "KRAU STATUS\r\n  KRAU  STATE    CHANNELS  ERRORS\r\n";
        for (int k = 0; k < 4; ++k) {
            const bool up = krauOn_.count(k) ? krauOn_[k] : k != 3;
            out += Fmt("   %d    %-8s %2u/30     %u\r\n", k, up ? "ACTIVE" : "OFF", up ? Mix(k) % 31 : 0,
                       Mix(k + 40) % 5);
        }
    } else if (cmd == "s l") {
        if (!need(1) || !number(0, 10, 999, "logical station", &a)) return Answer::Done;
        const unsigned m = Mix(a + 500);
        out += Fmt("LOGICAL STATION %lu\r\n  PHYSICAL %u   HUNT GROUP %u   FORWARD %s\r\n", a, 200 + m % 256,
                   (m >> 8) % 6, (m >> 12) % 3 ? "NONE" : "BUSY/NO ANSWER");
    } else if (cmd == "p c") {
        out += "CHANNEL ASSIGNMENT\r\n  CH  BOARD  PORT  USE\r\n";
        for (unsigned c = 1; c <= 8; ++c) {
            const unsigned m = Mix(c);
            out += Fmt("  %02u   %02u    %02u   %s\r\n", c, 1 + m % 11, (m >> 4) % 24,
                       (m >> 9) % 3 ? "VOICE" : "DATA ");
        }
    } else if (cmd == "n d") {
        out += "NOLK DUMP\r\n";
        for (unsigned r = 0; r < 4; ++r)
            out += Fmt("  %02u: %04X %04X %04X %04X\r\n", r, Mix(r) & 0xFFFF, Mix(r + 10) & 0xFFFF,
                       Mix(r + 20) & 0xFFFF, Mix(r + 30) & 0xFFFF);
    }
    // Maintenance commands (access checked above).
    else if (cmd == "b c") {
        out += "BOARD CONFIGURATION\r\n  SLOT  TYPE  VERSION  STATE\r\n";
        for (int s = 0; s < kBoards; ++s)
            out += Equipped(s) ? Fmt("   %02d   %s  %u.%02u     IN SERVICE\r\n", s, BoardType(s), 3 + Mix(s) % 3,
                                     Mix(s + 3) % 40)
                               : Fmt("   %02d   ----  ----     EMPTY\r\n", s);
    } else if (cmd == "b s") {
        if (!need(1) || !board(0, &a)) return Answer::Done;
        const unsigned m = Mix(a + 77);
        out += Fmt("BOARD %02lu  %s\r\n  STATE %s   TEMP %u C   RESETS %u\r\n  PORTS IN USE %u/24\r\n", a,
                   BoardType(static_cast<int>(a)), m % 7 ? "IN SERVICE" : "DEGRADED", 31 + m % 15, (m >> 4) % 4,
                   (m >> 8) % 25);
    } else if (cmd == "t s") {
        out += "TIME SLOT ASSIGNMENT\r\n  TS  FROM         TO\r\n";
        for (unsigned t = 1; t <= 6; ++t) {
            const unsigned m = Mix(t + 300);
            out += Fmt("  %02u  BOARD %02u/%02u  BOARD %02u/%02u\r\n", t * 5 % 32, m % 12, (m >> 4) % 24,
                       (m >> 9) % 12, (m >> 13) % 24);
        }
    } else if (cmd == "b l") {
        if (!need(2) || !board(0, &a) || !number(1, 10, 99, "channel", &b)) return Answer::Done;
        if (b < 1 || b > 30) {
            out += Fmt("?? Channel %lu out of range 1-30\r\n", b);
            return Answer::Done;
        }
        out += Fmt("B CHANNEL LISTENING   BOARD %02lu CHANNEL %02lu\r\n  CONNECTED TO MONITOR TIME SLOT %u\r\n", a,
                   b, Mix(a * 31 + b) % 32);
    } else if (cmd == "t a") {
        out += "TRAFFIC ANALYSIS   LAST 60 MIN\r\n  GROUP   CALLS  ERLANG  BLOCKED\r\n";
        for (unsigned g = 1; g <= 4; ++g) {
            const unsigned m = Mix(g + 900 + static_cast<unsigned>(std::time(nullptr) / 60));
            out += Fmt("  TRK %u   %4u   %u.%02u   %u\r\n", g, 20 + m % 200, m % 9, (m >> 5) % 100, (m >> 11) % 3);
        }
    } else if (cmd == "l v") {
        out += "LOG DATA\r\n";
        if (logCleared_) {
            out += "  NO ENTRIES\r\n";
        } else {
            out += "  0001  MINOR  BOARD 03 PORT 07 LOOP FAULT\r\n"
                   "  0002  INFO   CPU B SWITCHOVER TEST PASSED\r\n"
                   "  0003  MAJOR  TRUNK 02 LOSS OF SIGNAL\r\n";
        }
        out += "END OF LOG\r\n";
    } else if (cmd == "l c") {
        out += logCleared_ ? "LOG DATA CLEARED (0 ENTRIES)\r\n" : "LOG DATA CLEARED (3 ENTRIES)\r\n";
        logCleared_ = true;
    } else if (cmd == "p s") {
        out += "POLN STATISTICS\r\n  LINK  FRAMES TX  FRAMES RX  CRC ERR\r\n";
        for (unsigned l = 0; l < 3; ++l)
            out += Fmt("   %u    %8u   %8u   %u\r\n", l, Mix(l + 60) % 900000, Mix(l + 61) % 900000,
                       Mix(l + 62) % 9);
    } else if (cmd == "u s") {
        if (!need(1) || !board(0, &a)) return Answer::Done;
        const unsigned m = Mix(a + 5);
        out += Fmt("SOFTWARE UPGRADE   BOARD %02lu (%s)\r\n  CURRENT %u.%02u   IMAGE %u.%02u\r\n", a,
                   BoardType(static_cast<int>(a)), 3 + m % 3, (m >> 3) % 40, 4 + m % 3, (m >> 3) % 40);
        out += "  LOADING .......... 100%\r\n  UPGRADE COMPLETE, BOARD RESTARTED\r\n";
    } else if (cmd == "k c") {
        if (!need(2) || !number(0, 10, 9, "KRAU number", &a)) return Answer::Done;
        if (a > 3) {
            out += Fmt("?? KRAU %lu not equipped\r\n", a);
            return Answer::Done;
        }
        if (!ParseOnOff(args[1], &on)) {
            out += Fmt("?? Invalid state: %s (ON or OFF)\r\n", args[1].c_str());
            return Answer::Done;
        }
        krauOn_[static_cast<int>(a)] = on;
        out += Fmt("KRAU %lu %s\r\n", a, on ? "SWITCHED ON" : "SWITCHED OFF");
    } else if (cmd == "h s") {
        if (!need(1) || !number(0, 10, 99, "link number", &a)) return Answer::Done;
        if (a > 7) {
            out += Fmt("?? HDLC link %lu not configured\r\n", a);
            return Answer::Done;
        }
        const unsigned m = Mix(a + 222);
        out += Fmt("HDLC LINK %lu   %s\r\n  FRAMES TX %u   RX %u   RETRANSMIT %u   ABORTS %u\r\n", a,
                   m % 5 ? "UP" : "DOWN", m % 50000, (m >> 3) % 50000, (m >> 7) % 20, (m >> 11) % 3);
    } else if (cmd == "s w") {
        if (!need(2) || !number(0, 10, 99, "switch number", &a)) return Answer::Done;
        if (a < 1 || a > 16) {
            out += Fmt("?? Service switch %lu out of range 1-16\r\n", a);
            return Answer::Done;
        }
        if (!ParseOnOff(args[1], &on)) {
            out += Fmt("?? Invalid state: %s (ON or OFF)\r\n", args[1].c_str());
            return Answer::Done;
        }
        const bool was = switchOn_.count(static_cast<int>(a)) ? switchOn_[static_cast<int>(a)] : false;
        switchOn_[static_cast<int>(a)] = on;
        out += Fmt("SERVICE SWITCH %02lu   %s -> %s\r\n", a, was ? "ON" : "OFF", on ? "ON" : "OFF");
    }
    // Older short forms kept for scripts.
    else if (cmd == "d a") {
        out += "ALARM LOG\r\n"
               "  0001  MINOR  LINE 03 OUT OF SERVICE\r\n"
               "  0002  INFO   CPU B SWITCHOVER TEST PASSED\r\n"
               "END OF ALARM LOG\r\n";
    } else if (cmd == "d c") {
        out += "CONFIGURATION\r\n"
               "  TRUNKS 2   LINES 2   CARDS 4\r\n"
               "  NUMBERING PLAN  3 DIGITS\r\n";
    } else if (cmd == "r a") {
        out += "ALARMS RESET\r\n";
    } else if (cmd == "help" || cmd == "?") {
        out += "t b N  board trace       t v N  device trace     t d  trace off   t p  trace setup\r\n"
               "d m A L  dump memory     m m A D  modify memory  s s N  station   s c N  CO line\r\n"
               "s k  KRAU status         s l N  logical station  p c  channels    n d  NOLK dump\r\n"
               "b c  board table *       b s N  board status *   t s  time slots *\r\n"
               "b l B C  listen *        t a  traffic *          l v / l c  log view/clear *\r\n"
               "p s  POLN statistics *   u s N  upgrade *        k c N ON|OFF  KRAU control *\r\n"
               "h s N  HDLC status *     s w N ON|OFF  service switch *\r\n"
               "flood N  N test bytes    x  log out              * maintenance access\r\n";
    } else {
        return Answer::Unknown;
    }
    return Answer::Done;
}

} // namespace pmxsim
