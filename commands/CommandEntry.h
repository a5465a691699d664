// One maintenance command as read from "CmdConf.txt": what is sent, what the user sees,
// and the captions of its arguments. Plain data, used on the GUI thread.
#pragma once

#include <string>

struct CommandEntry {
    std::string commandText;    // only letters, digits and blanks of the file, untrimmed
    std::string name;           // button / list label, trimmed
    int argCount = -1;          // -1 not set, 0, 1 or 2 arguments
    std::string firstCaption;   // as written, untrimmed
    std::string secondCaption;  // argCount 2 only

    bool isSet() const { return argCount >= 0; }
    void reset() { *this = CommandEntry(); }
};
