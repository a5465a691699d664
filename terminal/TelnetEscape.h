// Outgoing text for a Telnet peer (the LAN and ISDN links): a data byte 255 must go out
// as IAC IAC, or the switch reads it as a command. Pure function, any thread.
#pragma once

#include <string>

// Copies the first length bytes of text (zero bytes included), doubling every 255.
// A null text or a length of 0 or less gives an empty string.
std::string DoubleIac(const char* text, int length);
