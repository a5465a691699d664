// Doubling of the IAC byte in text sent to a Telnet peer.
#include "terminal/TelnetEscape.h"

#include "terminal/TelnetStream.h"

std::string DoubleIac(const char* text, int length)
{
    std::string out;
    if (!text || length <= 0)
        return out;
    out.reserve(static_cast<std::size_t>(length) + 8);
    for (int i = 0; i < length; ++i) {
        out.push_back(text[i]);
        if (static_cast<unsigned char>(text[i]) == Telnet::kIac)
            out.push_back(text[i]);
    }
    return out;
}
