// Checks on what the engineer types into the phone book's entry and Speed Call
// dialogs: trimming, the characters the file layout reserves, and the characters a
// modem can dial. Plain functions, any thread.
#pragma once

#include <string>
#include <string_view>

#include "commands/TextTrim.h"  // TrimWhite: one trimming rule for every typed text

// The 29 characters a number may contain.
inline constexpr std::string_view kDialableChars = "1234567890ABCD*#!PpTt,Ww$-() ";
// Characters that would break the file's "[name][number];" records.
inline constexpr std::string_view kReservedChars = "{}[];";

bool HasReservedChar(std::string_view text);
// The offending characters of a number (trimmed first), each followed by a space;
// every byte of 128 or more shows as "<None ASCII> ". Empty: the number is dialable.
std::string NonDialableCharacters(std::string_view number);
