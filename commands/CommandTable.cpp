// Loader and parser of "CmdConf.txt" and the built-in trace entries. Runs on the GUI
// thread while the main window is created.
#include "commands/CommandTable.h"

#include "platform/AppGlobals.h"
#include "platform/MessageService.h"
#include "commands/TextTrim.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class ParseState { BeforeCommands, CommandText, Name, ArgCount, FirstCaption,
                        BetweenCaptions, SecondCaption, EndOfCommand };

// ASCII only: bytes from 128 up are dropped from command texts whatever the locale.
bool KeptInCommandText(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr size_t kReadBlock = 100;

} // namespace

const CommandEntry& CommandTable::entry(int position) const {
    static const CommandEntry unset;
    if (position < 0 || position >= kMaxEntries) return unset;
    return entries_[static_cast<size_t>(position)];
}

void CommandTable::clear() {
    for (CommandEntry& e : entries_) e.reset();
    count_ = 0;
    dropped_ = 0;
    beyond_ = 0;
}

bool CommandTable::ReadFileText(const std::string& path, std::string& text) {
    text.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    char block[kReadBlock];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        text.append(block, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok) text.clear();
    return ok;
}

bool CommandTable::Parse(const std::string& text) {
    clear();
    ParseState state = ParseState::BeforeCommands;
    int index = 0;
    // Commands past the table are parsed into a spare entry only to be counted, so the
    // user can be told how many were ignored.
    CommandEntry spare;
    auto finish = [&] {
        count_ = index < kMaxEntries ? index : kMaxEntries;
        beyond_ = index - count_;
        return true;
    };
    for (char c : text) {
        CommandEntry& e = index < kMaxEntries ? entries_[static_cast<size_t>(index)] : spare;
        switch (state) {
        case ParseState::BeforeCommands:
            if (c == '{') state = ParseState::CommandText;
            break;
        case ParseState::CommandText:
            if (c == '[') {
                state = ParseState::Name;
            } else if (c == '}') {
                return finish();
            } else if (KeptInCommandText(c)) {
                e.commandText += c;
            }
            break;
        case ParseState::Name:
            if (c == ']') {
                e.name = TrimWhite(e.name);
                state = ParseState::ArgCount;
            } else {
                e.name += c;
            }
            break;
        case ParseState::ArgCount:
            if (e.argCount < 0 && IsDigit(c)) {
                e.argCount = c - '0';
                if (e.argCount == 0) state = ParseState::EndOfCommand;
                else if (e.argCount > 2) {
                    // Past the table nothing is used: the commands kept stand.
                    if (index >= kMaxEntries) return finish();
                    clear();
                    return false;
                }
            } else if (e.argCount >= 0 && c == '[') {
                state = ParseState::FirstCaption;
            }
            break;
        case ParseState::FirstCaption:
            if (c == ']') state = e.argCount == 1 ? ParseState::EndOfCommand : ParseState::BetweenCaptions;
            else e.firstCaption += c;
            break;
        case ParseState::BetweenCaptions:
            if (c == '[') state = ParseState::SecondCaption;
            break;
        case ParseState::SecondCaption:
            if (c == ']') state = ParseState::EndOfCommand;
            else e.secondCaption += c;
            break;
        case ParseState::EndOfCommand:
            if (c == ';') {
                ++index;
                spare.reset();
                state = ParseState::CommandText;
            }
            break;
        }
    }
    // The text ended without the closing "}": keep the commands that were completed,
    // so the engineer still has them. A command cut off half-way is not usable.
    if (index < kMaxEntries) entries_[static_cast<size_t>(index)].reset();
    else spare.reset();
    return finish();
}

void CommandTable::InsertBuiltIns() {
    int fileCommands = count_;
    dropped_ = beyond_;
    if (fileCommands > kMaxFileCommands) {
        dropped_ += fileCommands - kMaxFileCommands;
        fileCommands = kMaxFileCommands;
    }
    for (int k = kMaxFileCommands - 1; k >= kTraceDisablePos; --k)
        entries_[static_cast<size_t>(k + 2)] = entries_[static_cast<size_t>(k)];
    // Positions past the shifted commands would otherwise keep file commands 39 and 40
    // out of order; nothing beyond the count may hold a stale command.
    for (int k = kMaxFileCommands + 2; k < kMaxEntries; ++k) entries_[static_cast<size_t>(k)].reset();

    CommandEntry& traceDisable = entries_[kTraceDisablePos];
    traceDisable = CommandEntry();
    traceDisable.commandText = "t d";
    traceDisable.name = "Trace Disable";
    traceDisable.argCount = 0;

    CommandEntry& traceSetup = entries_[kTraceSetupPos];
    traceSetup = CommandEntry();
    traceSetup.commandText = "t p";
    traceSetup.name = "Show Trace Setup Info";
    traceSetup.argCount = 0;

    count_ = fileCommands + 2;
}

CommandTable::LoadResult CommandTable::Load() {
    clear();
    std::string text;
    if (!ReadFileText(StartDirPath(kFileName), text)) return LoadResult::CannotOpen;
    if (!Parse(text)) return LoadResult::InvalidData;
    InsertBuiltIns();
    return LoadResult::Ok;
}

void ShowCommandTableError(CommandTable::LoadResult result) {
    // The box names only the file; the terminal that started us learns the folder too.
    const std::string path = StartDirPath(CommandTable::kFileName);
    if (result == CommandTable::LoadResult::CannotOpen)
        std::fprintf(stderr, "pmxdiag: cannot open '%s'\n", path.c_str());
    else if (result == CommandTable::LoadResult::InvalidData)
        std::fprintf(stderr, "pmxdiag: '%s' has invalid data\n", path.c_str());
    switch (result) {
    case CommandTable::LoadResult::Ok:
        break;
    case CommandTable::LoadResult::CannotOpen:
        ShowMessage("Cannot open 'CmdConf.txt' file.\n\nThe program will be terminated...",
                    "File Error", MsgIcon::Error);
        break;
    case CommandTable::LoadResult::InvalidData:
        ShowMessage("'CmdConf.txt' file has invalid data.\n\nThe program will be terminated...",
                    "File Format Error", MsgIcon::Error);
        break;
    }
}

void CommandTable::ShowDroppedCommandsWarning() const {
    if (dropped_ <= 0) return;
    const std::string text = "'CmdConf.txt' holds more than " + std::to_string(kMaxFileCommands) +
                             " commands: " + std::to_string(dropped_) +
                             (dropped_ == 1 ? " command was" : " commands were") +
                             " ignored.";
    ShowMessage(text, "File Format Warning", MsgIcon::Warning);
}
