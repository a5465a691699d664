// The peer the serial benchmarks measure the program against: a plain reader of the
// simulator's flood on a raw pty, doing the least a terminal must do with what it
// reads (count the line ends, append the text to the current second's dump file every
// 2000 lines, that file kept open while its second lasts), as `cat > file` would.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace benchpty {

using Clock = std::chrono::steady_clock;

// CPU seconds this process has used, all its threads.
inline double CpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// CPU seconds the calling thread has used.
inline double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Appends text to <dir>/T<hhmmss>.dat of the current second, the file kept open
// while that second lasts.
class SecondDump {
public:
    explicit SecondDump(std::string dir) : dir_(std::move(dir)) {}
    ~SecondDump() {
        if (file_) std::fclose(file_);
    }
    void Append(const std::string& text) {
        const std::time_t now = std::time(nullptr);
        if (!file_ || now != second_) {
            if (file_) std::fclose(file_);
            std::tm tm{};
            localtime_r(&now, &tm);
            char name[32];
            std::snprintf(name, sizeof name, "/T%02d%02d%02d.dat", tm.tm_hour, tm.tm_min, tm.tm_sec);
            file_ = std::fopen((dir_ + name).c_str(), "ab");
            second_ = now;
        }
        if (file_) {
            std::fwrite(text.data(), 1, text.size(), file_);
            std::fflush(file_);
        }
    }

private:
    std::string dir_;
    std::FILE* file_ = nullptr;
    std::time_t second_ = 0;
};

// Opens the pty at path raw (as `cat` finds a terminal set up by stty raw); -1 on failure.
inline int OpenRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

inline bool Say(int fd, const std::string& s) { return ::write(fd, s.data(), s.size()) == ssize_t(s.size()); }

// Reads and drops what arrives until the line has been quiet for ms.
inline void Drain(int fd, int ms) {
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, ms) > 0 && ::read(fd, buf, sizeof buf) > 0) {}
}

// Logs in on the simulator at fd (a CR, then the password).
inline void LogIn(int fd) {
    Say(fd, "\r");
    Drain(fd, 200);
    Say(fd, "velmod\r");
    Drain(fd, 200);
}

// Asks for a flood of n bytes and reads it with the least work, handing each read to
// check. Without a dump directory the text is only checked. Seconds from the command
// to the last byte, 0 when it did not all come within 10 s of quiet; firstByte, when
// given, gets the seconds to the first.
template <class Check>
double ReadFlood(int fd, uint64_t n, const std::string& dumpDir, Check&& check, double* firstByte = nullptr) {
    const std::string command = "flood " + std::to_string(n) + "\r";
    const uint64_t want = n + command.size() + 1;  // the echo and its CR LF
    std::vector<char> buf(65536);
    std::string transcript;
    SecondDump dump(dumpDir);
    uint64_t got = 0, lines = 0;
    const auto start = Clock::now();
    Say(fd, command);
    pollfd p{fd, POLLIN, 0};
    while (got < want && ::poll(&p, 1, 10000) > 0) {
        const ssize_t r = ::read(fd, buf.data(), buf.size());
        if (r <= 0) break;
        if (got == 0 && firstByte) *firstByte = std::chrono::duration<double>(Clock::now() - start).count();
        got += static_cast<uint64_t>(r);
        check(buf.data(), static_cast<size_t>(r));
        if (dumpDir.empty()) continue;
        for (const char* q = buf.data(); (q = static_cast<const char*>(
                                              std::memchr(q, '\r', static_cast<size_t>(buf.data() + r - q))));
             ++q)
            ++lines;
        transcript.append(buf.data(), static_cast<size_t>(r));
        if (lines >= 2000) {
            dump.Append(transcript);
            transcript.clear();
            lines = 0;
        }
    }
    if (!dumpDir.empty()) dump.Append(transcript);
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    return got >= want ? secs : 0;
}

} // namespace benchpty
