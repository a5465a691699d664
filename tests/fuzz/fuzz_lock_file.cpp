// Lock file bytes through the PID reader: the result is a plausible PID or 0; a
// text (blanks, then digits) means its number whatever its length, and four bytes
// that are not digits, blanks and newlines only are read as the binary form.
#include "links/UucpLock.h"
#include "tests/fuzz/FuzzInput.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
    const int pid = UucpLock::ParseLockPid(bytes.data(), bytes.size());
    FUZZ_CHECK(pid >= 0);

    // The reference reading of a text: blanks, then digits, then anything.
    size_t i = bytes.find_first_not_of(' ');
    if (i == std::string::npos) i = bytes.size();
    size_t end = i;
    while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9') ++end;
    const std::string digits = bytes.substr(i, end - i);
    bool text = true, anyDigit = false;
    for (char c : bytes) {
        text = text && ((c >= '0' && c <= '9') || c == ' ' || c == '\n');
        anyDigit = anyDigit || (c >= '0' && c <= '9');
    }
    if (bytes.size() == 4 && !(text && anyDigit)) {
        int binary = 0;
        std::memcpy(&binary, bytes.data(), 4);
        FUZZ_CHECK(pid == (binary > 0 ? binary : 0));
    } else {
        // At most twelve digits are read.
        const long long value = digits.empty() ? 0 : std::stoll(digits.substr(0, 12));
        FUZZ_CHECK(pid == (value > 0 && value <= 0x7FFFFFFF ? value : 0));
    }
    return 0;
}
