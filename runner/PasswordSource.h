// Where the headless runner's password comes from: the first line of --password-file,
// else PMX_PASSWORD. Never the command line, which every user can read in the process list.
#pragma once

#include <optional>
#include <string>

namespace runner {

// The Enter Password dialog's field takes this many characters.
constexpr std::size_t kMaxPasswordLength = 32;

struct PasswordResult {
    std::optional<std::string> password;  // nothing: none given (the switch may not ask)
    std::string error;                    // the file cannot be read or holds no usable password
};

// Trimmed of leading and trailing white space, as the dialog trims what is typed.
// environmentValue: PMX_PASSWORD's value or null; empty counts as not set.
PasswordResult LoadPassword(const std::string& file, const char* environmentValue);

} // namespace runner
