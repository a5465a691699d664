// Command line builder for the command bar, the input box list and the Commands menu.
#include "commands/BuildCommandLine.h"

#include "commands/TextTrim.h"

std::string BuildCommandLine(const CommandTable& table, int position, ArgumentPrompter& prompter,
                             bool* tooLong) {
    if (tooLong) *tooLong = false;
    if (position < 0) return {};
    const CommandEntry& e = table.entry(position);
    std::string line;
    switch (e.argCount) {
    case 0:
        line = e.commandText;
        break;
    case 1: {
        std::string value = TrimWhite(prompter.askOne(e.firstCaption));
        if (value.empty()) return {};
        line = e.commandText + " " + value;
        break;
    }
    case 2: {
        auto [a, b] = prompter.askTwo(e.firstCaption, e.secondCaption);
        std::string first = TrimWhite(a);
        std::string second = TrimWhite(b);
        if (first.empty() || second.empty()) return {};
        line = e.commandText + " " + first + " " + second;
        break;
    }
    default:
        return {};
    }
    if (line.size() > kMaxCommandLine) {
        if (tooLong) *tooLong = true;
        return {};
    }
    return line;
}
