// Stored LAN destinations through the parser: a port split off is 1-65535 from at most
// five digits after the last colon, and the host and ":port" give the text back; any
// other text is the host whole, on port 23. The dotted reading agrees with itself.
#include "links/LanDestination.h"
#include "tests/fuzz/FuzzInput.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size < 300 ? size : 300);
    const LanDestination d = ParseLanDestination(text);
    if (d.host == text) {
        FUZZ_CHECK(d.port == kTelnetPort);
    } else {
        FUZZ_CHECK(d.port >= 1);
        FUZZ_CHECK(!d.host.empty() && d.host.find(':') == std::string::npos);
        const std::string rest = text.substr(d.host.size() + 1);
        FUZZ_CHECK(text.compare(0, d.host.size() + 1, d.host + ":") == 0);
        FUZZ_CHECK(rest.size() <= 5 && std::stoul(rest) == d.port);
    }
    const auto a = ParseDottedIPv4(d.host);
    if (a) FUZZ_CHECK(ParseDottedIPv4(d.host) == a);
    if (d.host.find('\0') != std::string::npos) FUZZ_CHECK(!a);
    return 0;
}
