// Command scripts: the commands of a script file, and the watch for the switch's
// command prompt at the end of what it has sent. Core; the frame runs the script.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace commandscript {

// Files larger than this are refused rather than read: a script is typed by hand.
constexpr std::size_t kMaxFileBytes = 256 * 1024;

// One command per line (CR LF or LF); a leading UTF-8 byte order mark, blank lines
// and lines whose first non-blank character is "#" are skipped; trailing blanks and
// NUL bytes are dropped.
std::vector<std::string> ParseCommands(std::string_view content);

// The first line (from 1) holding a control byte other than tab, CR and LF; 0 if none.
int FirstControlLine(std::string_view content);

enum class LoadResult { Loaded, CannotRead, ControlBytes };
// Reads and parses a script file. CannotRead: missing, unreadable or too large;
// ControlBytes: refused, with the first such line in badLine.
LoadResult LoadCommands(const std::string& path, std::vector<std::string>* commands, int* badLine = nullptr);

} // namespace commandscript

// The last few bytes the switch sent, enough to see whether they end with a command
// prompt ("maint>" or "mon>", trailing blanks allowed). Not locked: the owner locks.
class PromptTail {
public:
    void Feed(std::string_view text);
    bool AtPrompt() const;
    void Clear() { tail_.clear(); }

private:
    std::string tail_;
};
