// The program's command line, read before any window system is touched, so that
// --help and --version work on a console without a display. Plain C++.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    std::string file;       // the optional document to open
    std::string platform;   // -platform's value, if given
    bool displayGiven = false;  // -display given
    std::string error;      // for Action::Error: what was wrong, one line
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The --help text (ends with a newline).
const char* UsageText();

// Whether a window system can be expected: the forced platform (-platform, else
// QT_QPA_PLATFORM, a list separated by ';') or else DISPLAY or WAYLAND_DISPLAY.
// environment: look-up of one variable, nullptr when unset.
bool DisplayExpected(const CommandLine& line, const char* (*environment)(const char*));

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitStartFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoDisplay = 3;
