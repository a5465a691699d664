// Turns a command table position into the line sent to the switch (without the
// carriage return), asking for arguments when the entry has them. GUI thread.
#pragma once

#include "commands/ArgumentPrompter.h"
#include "commands/CommandTable.h"

#include <string>

// The senders' line buffer: a longer line is refused rather than cut, since a
// shortened maintenance command could mean something else to the switch.
inline constexpr size_t kMaxCommandLine = 64;

// Empty for position -1, an unset entry, a closed dialog, an empty value, or a line
// longer than kMaxCommandLine.
std::string BuildCommandLine(const CommandTable& table, int position, ArgumentPrompter& prompter);
