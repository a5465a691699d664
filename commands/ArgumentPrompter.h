// How the command line builder asks the user for a command's arguments. The Qt layer
// runs the argument dialogs; tests answer from a script. GUI thread.
#pragma once

#include <string>
#include <utility>

class ArgumentPrompter {
public:
    virtual ~ArgumentPrompter() = default;
    // The typed value, untrimmed; empty when the dialog was closed without OK.
    virtual std::string askOne(const std::string& caption) = 0;
    // Both typed values, untrimmed; both empty when the dialog was closed without OK.
    virtual std::pair<std::string, std::string> askTwo(const std::string& firstCaption,
                                                        const std::string& secondCaption) = 0;
};
