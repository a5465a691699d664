// Command-bar assignment: settings round trip, the default rule and the group per access mode.
#include "commands/ButtonAssignment.h"

#include "platform/Profile.h"
#include "commands/CommandTable.h"

int ButtonAssignment::at(int slot) const {
    return slot >= 0 && slot < kSlots ? values_[static_cast<size_t>(slot)] : kNone;
}

void ButtonAssignment::set(int slot, int position) {
    if (slot < 0 || slot >= kSlots) return;
    // Only table positions are kept; anything else means "no command".
    values_[static_cast<size_t>(slot)] =
        position >= 0 && position < CommandTable::kMaxEntries ? position : kNone;
}

std::string ButtonAssignment::Key(int slot) { return "B" + std::to_string(slot + 1); }

void ButtonAssignment::Read() {
    for (int s = 0; s < kSlots; ++s) set(s, Profile::get().getInt(kSection, Key(s), kNone));
}

void ButtonAssignment::Write() const {
    for (int s = 0; s < kSlots; ++s) Profile::get().writeInt(kSection, Key(s), at(s));
}

void ButtonAssignment::SaveCustomized() const {
    Write();
    Profile::get().writeInt(kSection, kCustomizedKey, 1);
}

void ButtonAssignment::Load(int tableCount) {
    Read();
    // Older versions took a command in "B40" as the sign of a saved assignment; the
    // last slot has no button, so that sign was almost never there. The marker is
    // the sign now; without either the buttons follow the table, so a new command
    // file is picked up as it is.
    if (at(kSlots - 1) != kNone || Profile::get().getInt(kSection, kCustomizedKey, 0) == 1) return;
    for (int s = 0; s < kButtonSlots; ++s) set(s, s < tableCount ? s : kNone);
    Write();
    Read();
}

bool ButtonAssignment::SlotVisible(int slot, AccessMode mode) {
    switch (mode) {
    case AccessMode::Maintenance: return slot >= kGroupSize && slot < 2 * kGroupSize;
    case AccessMode::Monitor: return slot >= 0 && slot < kGroupSize;
    case AccessMode::None: break;
    }
    return false;
}
