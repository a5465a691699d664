// The LAN destination as the user stores it: a dotted IPv4 address or a host name,
// optionally followed by ":port". Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

inline constexpr std::uint16_t kTelnetPort = 23;

struct LanDestination {
    std::string host;
    std::uint16_t port = kTelnetPort;
};

// Splits "host:port" when the part after the last colon is a port number 1-65535;
// any other text is taken whole as the host, on port 23.
LanDestination ParseLanDestination(const std::string& text);
// The address in network byte order when text is a dotted IPv4 address (the forms
// a.b.c.d, a.b.c, a.b and a, as the classic address parser accepts them); no lookup.
std::optional<std::uint32_t> ParseDottedIPv4(const std::string& text);
