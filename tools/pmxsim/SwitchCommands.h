// The switch's command interpreter: the monitoring and maintenance commands with
// listings that follow their arguments and a little remembered state (traces set,
// the log, KRAU and service switches). Plain text in, the answer out. Single-threaded.
#pragma once

#include <map>
#include <string>

namespace pmxsim {

class SwitchCommands {
public:
    enum class Answer { Done, Refused, Unknown };

    // Runs one command line (already trimmed, without its carriage return) and
    // appends the switch's answer, CR LF line ends, to out. Maintenance commands
    // are refused without maintenance access.
    Answer Run(const std::string& line, bool maintenance, std::string& out);

private:
    int boardTrace_ = -1;
    int deviceTrace_ = -1;
    bool logCleared_ = false;
    std::map<int, bool> krauOn_;
    std::map<int, bool> switchOn_;
    std::map<unsigned long, unsigned> memory_;  // bytes written with "m m"
};

} // namespace pmxsim
