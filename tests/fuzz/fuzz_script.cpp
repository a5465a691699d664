// Script file bytes through the control check and the parser: a file that passes
// yields only commands free of control bytes, none blank, none a comment, no byte
// order mark; the count never exceeds the lines.
#include "commands/CommandScript.h"
#include "tests/fuzz/FuzzInput.h"

#include <algorithm>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const int bad = commandscript::FirstControlLine(content);
    const auto lines = static_cast<size_t>(std::count(content.begin(), content.end(), '\n')) + 1;
    FUZZ_CHECK(bad >= 0 && static_cast<size_t>(bad) <= lines);
    const std::vector<std::string> commands = commandscript::ParseCommands(content);
    FUZZ_CHECK(commands.size() <= lines);
    for (const std::string& c : commands) {
        FUZZ_CHECK(!c.empty() && c.back() != ' ' && c.back() != '\t' && c.back() != '\r');
        const size_t first = c.find_first_not_of(" \t");
        FUZZ_CHECK(first != std::string::npos && c[first] != '#');
        FUZZ_CHECK(c.find('\n') == std::string::npos && c.find('\0') == std::string::npos);
        if (bad == 0) {
            for (char ch : c) {
                const auto u = static_cast<unsigned char>(ch);
                FUZZ_CHECK(u >= 0x20 || ch == '\t' || ch == '\r');
            }
        }
    }
    // A leading byte order mark changes nothing.
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (content.substr(0, 3) == kBom && content.substr(3, 3) != kBom)
        FUZZ_CHECK(commands == commandscript::ParseCommands(content.substr(3)));
    return 0;
}
