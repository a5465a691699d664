// Throughput of the serial link's read path alone: the simulator's flood through
// CSerialLink into a sink that checks every byte against the pattern, at two line
// settings, each round beside a plain reader of the same simulator's pty doing the
// same check (read in 64 KiB reads, as `cat` would). A pty moves bytes at memory speed
// whatever baud rate is set, so the figures measure the read thread and the pty, not a
// line. Goal: the link at least 0.9 of the plain reader, median over the rounds.
// Usage: bench_serial_flood [bytes, default 50000000] [rounds per setting, default 4]
#include "bench/BenchReport.h"
#include "bench/PlainPtyReader.h"
#include "platform/Profile.h"
#include "links/CSerialLink.h"
#include "links/SerialTexts.h"
#include "tests/links/LinkTestSupport.h"
#include "tools/pmxsim/FloodPattern.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

// Checks the flood against the pattern after the echoed command line (up to its LF),
// a block at a time, as a document looks at every byte.
class FloodCheck {
public:
    explicit FloodCheck(uint64_t target) : target_(target) {}
    void Feed(const char* text, size_t length) {
        if (!started_) {
            const char* lf = static_cast<const char*>(std::memchr(text, '\n', length));
            if (!lf) return;
            started_ = true;
            length -= static_cast<size_t>(lf + 1 - text);
            text = lf + 1;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length, target_ - index_));
        expected_.resize(std::max(expected_.size(), n));
        pmxsim::FloodFill(index_, expected_.data(), n);
        if (std::memcmp(text, expected_.data(), n) != 0)
            for (size_t i = 0; i < n; ++i) errors_ += text[i] != expected_[i];
        index_ += n;
    }
    uint64_t got() const { return index_; }
    uint64_t errors() const { return errors_; }

private:
    uint64_t target_, index_ = 0, errors_ = 0;
    bool started_ = false;
    std::vector<char> expected_;
};

class CheckingSink : public ReceiveSink {
public:
    explicit CheckingSink(uint64_t target) : check_(target), target_(target) {}
    void AppendReceived(const char* text, int length) override {
        if (!armed_.load()) return;  // the log-in's output
        check_.Feed(text, static_cast<size_t>(length));
        chunks_.fetch_add(1);
        got_.store(check_.got());
        if (check_.got() >= target_) {
            std::lock_guard lock(mutex_);
            done_ = true;
            doneAt_ = benchpty::Clock::now();
            doneChanged_.notify_all();
        }
    }
    // Waits until the whole flood has come, at most until; when it came.
    std::optional<benchpty::Clock::time_point> WaitDone(benchpty::Clock::time_point until) {
        std::unique_lock lock(mutex_);
        if (!doneChanged_.wait_until(lock, until, [&] { return done_; })) return std::nullopt;
        return doneAt_;
    }
    // From now on the text is the flood command's.
    void Arm() { armed_.store(true); }
    uint64_t got() const { return got_.load(); }
    uint64_t errors() const { return check_.errors(); }
    uint64_t chunks() const { return chunks_.load(); }

private:
    FloodCheck check_;
    const uint64_t target_;
    std::atomic<bool> armed_{false};
    std::mutex mutex_;
    std::condition_variable doneChanged_;
    bool done_ = false;
    benchpty::Clock::time_point doneAt_;
    std::atomic<uint64_t> got_{0}, chunks_{0};
};

struct Result {
    double secs = 0, cpu = 0;
    uint64_t got = 0, chunks = 0, errors = 0;
};

Result LinkRound(int baud, uint64_t bytes) {
    Result r;
    CheckingSink sink(bytes);
    CSerialLink link;
    link.SetSettings(0, baud, 8, 0, 0, 0);
    link.SetReceiver(&sink);
    if (!link.Open()) return r;
    // As long a log-in as the plain reader's, so both floods start after as much quiet.
    link.Write("\r", 1);
    usleep(200000);
    link.Write("velmod\r", 7);
    usleep(200000);
    sink.Arm();
    const std::string cmd = "flood " + std::to_string(bytes) + "\r";
    const auto start = benchpty::Clock::now();
    const double cpu = benchpty::CpuSeconds();
    link.Write(cmd.c_str(), static_cast<int>(cmd.size()));
    const auto done = sink.WaitDone(start + std::chrono::seconds(120));
    r.cpu = benchpty::CpuSeconds() - cpu;
    r.secs = done ? std::chrono::duration<double>(*done - start).count() : 0;
    r.got = sink.got();
    r.chunks = sink.chunks();
    r.errors = sink.errors();
    link.Write("x\r", 2);
    usleep(100000);
    link.Close();
    return r;
}

Result PlainRound(const std::string& path, uint64_t bytes) {
    Result r;
    const int fd = benchpty::OpenRaw(path);
    if (fd < 0) return r;
    benchpty::LogIn(fd);
    FloodCheck check(bytes);
    const double cpu = benchpty::CpuSeconds();
    r.secs = benchpty::ReadFlood(fd, bytes, std::string(), [&](const char* p, size_t n) {
        check.Feed(p, n);
        ++r.chunks;
    });
    r.cpu = benchpty::CpuSeconds() - cpu;
    r.got = check.got();
    r.errors = check.errors();
    benchpty::Say(fd, "x\r");
    benchpty::Drain(fd, 100);
    ::close(fd);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    const uint64_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50000000ull;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 4;
    MemoryProfile profile;
    Profile::install(&profile);
    linktest::SimProcess sim;
    if (!sim.ok()) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }
    profile.writeString(serialtext::kDevicesSection, "COM1", sim.path());

    struct Setting {
        const char* name;
        int baud;
    } settings[] = {{"9600 8N1", 9600}, {"115200 8N1", 115200}};
    std::printf("serial link alone, simulator flood of %llu bytes -> checking sink; plain reader on the same pty\n",
                static_cast<unsigned long long>(bytes));
    std::vector<double> ratios;
    for (const Setting& s : settings) {
        for (int round = 0; round < rounds; ++round) {
            // Which goes first alternates, so both see about the same load.
            Result link, plain;
            if (round % 2 == 0) plain = PlainRound(sim.path(), bytes);
            link = LinkRound(s.baud, bytes);
            if (round % 2 == 1) plain = PlainRound(sim.path(), bytes);
            if (link.got < bytes || plain.got < bytes || link.secs <= 0 || plain.secs <= 0) {
                std::fprintf(stderr, "%s: the flood did not all arrive (link %llu, plain %llu bytes)\n", s.name,
                             static_cast<unsigned long long>(link.got), static_cast<unsigned long long>(plain.got));
                return 1;
            }
            const double rate = bytes / link.secs / 1e6, plainRate = bytes / plain.secs / 1e6;
            std::printf("%-11s link %6.1f MB/s %5.0f B/chunk %4.2f CPU-s %llu errors | plain reader %6.1f MB/s %5.0f B/read "
                        "%4.2f CPU-s %llu errors | ratio %.2f\n",
                        s.name, rate, double(bytes) / double(link.chunks ? link.chunks : 1), link.cpu,
                        static_cast<unsigned long long>(link.errors), plainRate,
                        double(bytes) / double(plain.chunks ? plain.chunks : 1), plain.cpu,
                        static_cast<unsigned long long>(plain.errors), rate / plainRate);
            ratios.push_back(rate / plainRate);
        }
    }
    const double ratio = Median(ratios);
    std::printf("median ratio link / plain reader %.2f over %zu rounds  (goal >= 0.90)  %s\n", ratio, ratios.size(),
                Met(ratio >= 0.9));
    PrintLoadAverage();
    Profile::install(nullptr);
    return 0;
}
