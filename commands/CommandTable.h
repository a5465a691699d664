// The frame's table of maintenance commands: loaded once from "CmdConf.txt" while the
// main window is created (GUI thread), then read by position by the command bar,
// the input box list and the Commands menu.
#pragma once

#include "commands/CommandEntry.h"

#include <array>
#include <string>

class CommandTable {
public:
    static constexpr int kMaxEntries = 40;
    // The two built-in entries push file commands up by two, so only this many fit.
    static constexpr int kMaxFileCommands = kMaxEntries - 4;
    static constexpr int kTraceDisablePos = 2;
    static constexpr int kTraceSetupPos = 3;
    static constexpr const char* kFileName = "CmdConf.txt";

    enum class LoadResult { Ok, CannotOpen, InvalidData };

    CommandTable() = default;

    // Reads the start directory's "CmdConf.txt", parses it and inserts the built-in
    // entries. On failure the table is left empty (count 0).
    LoadResult Load();

    // Reads a whole regular file into text; false on any failure.
    static bool ReadFileText(const std::string& path, std::string& text);
    // Runs the parser over the file text. On success count() is the number of
    // completed commands (at most 40), with or without a closing "}".
    bool Parse(const std::string& text);
    // Moves file commands 3.. up by two, puts "t d" and "t p" at positions 2 and 3.
    // File commands beyond kMaxFileCommands are dropped and counted in droppedCommands().
    void InsertBuiltIns();

    int count() const { return count_; }
    // Commands of the file that could not be kept (more than kMaxFileCommands), after
    // InsertBuiltIns.
    int droppedCommands() const { return dropped_; }
    // The start-up warning when droppedCommands() is not 0; nothing otherwise.
    void ShowDroppedCommandsWarning() const;
    // Any position is safe: outside 0-39 this is an unset entry.
    const CommandEntry& entry(int position) const;

    void clear();

private:
    std::array<CommandEntry, kMaxEntries> entries_{};
    int count_ = 0;
    int dropped_ = 0;
    int beyond_ = 0;  // completed commands of the file past the 40 entries
};

// The error box for a failed load ("File Error" / "File Format Error"); nothing for Ok.
void ShowCommandTableError(CommandTable::LoadResult result);
