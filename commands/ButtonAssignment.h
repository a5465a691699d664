// Which table position each command-bar slot sends, kept in the settings section
// "FunctionBar" as "B1".."B40", and which slots each access mode shows. GUI thread.
#pragma once

#include "terminal/PromptMatcher.h"

#include <array>
#include <string>

class ButtonAssignment {
public:
    static constexpr int kSlots = 40;        // stored values
    static constexpr int kButtonSlots = 26;  // slots that have a button control
    static constexpr int kGroupSize = 12;    // Monitor 0-11, Maintenance 12-23
    static constexpr int kNone = -1;
    static constexpr const char* kSection = "FunctionBar";

    ButtonAssignment() { values_.fill(kNone); }

    // -1 for a slot outside 0-39.
    int at(int slot) const;
    void set(int slot, int position);
    const std::array<int, kSlots>& values() const { return values_; }

    // "B1" for slot 0 ... "B40" for slot 39.
    static std::string Key(int slot);

    // Reads "B1".."B40"; a missing key, or a value that cannot be a table position,
    // reads as -1.
    void Read();
    void Write() const;
    // Customize's OK: writes the forty values and marks them as the user's own, so
    // that Load uses them as they are even when "B40" holds no command.
    void SaveCustomized() const;
    // The fill's settings step: read; when "B40" holds no command and the values were
    // never saved by Customize (settings of older versions, or none), slots 0-25 get
    // the default rule (slot s sends position s while s < tableCount) and all forty
    // are written back and read again.
    void Load(int tableCount);
    // The marker SaveCustomized writes beside "B1".."B40"; older versions ignore it.
    static constexpr const char* kCustomizedKey = "Customized";

    // Slot s is shown under this access mode (slots 24 and up never are).
    static bool SlotVisible(int slot, AccessMode mode);

private:
    std::array<int, kSlots> values_;
};
