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
// longer than kMaxCommandLine; tooLong, when given, tells the last case apart so that
// the sender can refuse it aloud instead of sending a bare carriage return.
std::string BuildCommandLine(const CommandTable& table, int position, ArgumentPrompter& prompter,
                             bool* tooLong = nullptr);

// The refusal of a line longer than kMaxCommandLine ("Input Error", error icon).
inline constexpr const char* kCommandLineTooLongText =
    "The command line is longer than 64 characters and was not sent.";
