// The lines sent from the input box, most recent first, for recalling with Up and
// Down; kept in the settings section "InputHistory". GUI thread.
#pragma once

#include <string>
#include <vector>

class InputHistory {
public:
    static constexpr int kMaxLines = 100;
    static constexpr const char* kSection = "InputHistory";

    // A sent line becomes the most recent; an empty line, or the same line as the
    // most recent, adds nothing. Walking starts again from the newest.
    void Add(const std::string& line);

    // Up: the next older line, remembering what was being typed when the walk began.
    // At the oldest line it stays there. False when there is nothing older.
    bool Older(const std::string& typed, std::string* out);
    // Down: the next newer line; past the newest, the text that was being typed.
    // False when no walk is going on.
    bool Newer(std::string* out);
    void ResetWalk() { walk_ = -1; }

    const std::vector<std::string>& lines() const { return lines_; }

    // "Count" and "Line1".."LineN" (Line1 the most recent).
    void Load();
    void Save() const;

private:
    std::vector<std::string> lines_;
    int walk_ = -1;  // index of the shown line; -1: not walking
    std::string draft_;
};
