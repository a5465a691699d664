// Entry checks of the phone book dialogs.
#include "phonebook/DialCheck.h"

bool HasReservedChar(std::string_view text) {
    return text.find_first_of(kReservedChars) != std::string_view::npos;
}

std::string NonDialableCharacters(std::string_view number) {
    const std::string trimmed = TrimWhite(number);
    std::string bad;
    for (char c : trimmed) {
        if (static_cast<unsigned char>(c) >= 128) {
            bad += "<None ASCII> ";
        } else if (kDialableChars.find(c) == std::string_view::npos) {
            bad += c;
            bad += ' ';
        }
    }
    return bad;
}
