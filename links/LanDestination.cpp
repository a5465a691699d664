// Parsing of the stored LAN destination.
#include "links/LanDestination.h"

#include <arpa/inet.h>
#include <netinet/in.h>

LanDestination ParseLanDestination(const std::string& text) {
    LanDestination d;
    d.host = text;
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return d;
    const std::string digits = text.substr(colon + 1);
    if (digits.size() > 5) return d;
    unsigned long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return d;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value == 0 || value > 65535) return d;
    // A second colon in the host part would be an IPv6 literal, which this link cannot reach.
    const std::string host = text.substr(0, colon);
    if (host.find(':') != std::string::npos) return d;
    d.host = host;
    d.port = static_cast<std::uint16_t>(value);
    return d;
}

std::optional<std::uint32_t> ParseDottedIPv4(const std::string& text) {
    if (text.empty() || text.find('\0') != std::string::npos) return std::nullopt;
    // inet_aton, unlike inet_addr, also accepts 255.255.255.255.
    in_addr a{};
    if (inet_aton(text.c_str(), &a) == 0) return std::nullopt;
    return a.s_addr;
}
