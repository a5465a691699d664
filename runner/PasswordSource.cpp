#include "runner/PasswordSource.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace runner {

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

PasswordResult Check(std::string text, const std::string& where) {
    size_t b = 0, e = text.size();
    while (b < e && Blank(text[b])) ++b;
    while (e > b && Blank(text[e - 1])) --e;
    text = text.substr(b, e - b);
    PasswordResult r;
    if (text.empty()) r.error = where + " holds no password";
    else if (text.size() > kMaxPasswordLength) r.error = where + ": the password is longer than 32 characters";
    else if (text.find('\0') != std::string::npos) r.error = where + ": the password holds a NUL byte";
    else r.password = text;
    return r;
}

} // namespace

PasswordResult LoadPassword(const std::string& file, const char* environmentValue) {
    if (file.empty()) {
        if (!environmentValue || !*environmentValue) return {};
        std::string value = environmentValue;
        return Check(value.substr(0, value.find('\n')), "PMX_PASSWORD");
    }
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return {std::nullopt, "cannot read the password file " + file + ": " + std::strerror(errno)};
    std::string line;
    char buf[256];
    bool eol = false;
    // Only the first line counts; a huge file is not read whole.
    while (!eol && line.size() < 4096) {
        const size_t n = std::fread(buf, 1, sizeof buf, f);
        if (n == 0) break;
        for (size_t i = 0; i < n && !eol; ++i) {
            if (buf[i] == '\n') eol = true;
            else line += buf[i];
        }
    }
    const bool failed = std::ferror(f);
    std::fclose(f);
    if (failed) return {std::nullopt, "cannot read the password file " + file};
    return Check(line, "the password file " + file);
}

} // namespace runner
