// Throughput of the serial link's read path: the simulator's flood through
// CSerialLink into a counting sink, at two line settings. Prints MB/s.
// A pty moves bytes at memory speed whatever baud rate is set, so the figures
// measure the read thread and the pty, not a line.
#include "platform/Profile.h"
#include "links/CSerialLink.h"
#include "links/SerialTexts.h"
#include "tests/links/LinkTestSupport.h"
#include "tools/pmxsim/FloodPattern.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// Counts flood bytes and checks each against the pattern, as a document would
// look at every byte.
class CountingSink : public ReceiveSink {
public:
    void AppendReceived(const char* text, int length) override {
        for (int i = 0; i < length; ++i) {
            if (started_ < 2) {  // skip the echoed command line up to its CR LF
                if (text[i] == '\n') ++started_;
                continue;
            }
            if (index_ < target_ && text[i] != pmxsim::FloodByte(index_)) ++errors_;
            if (index_ < target_) ++index_;
        }
        chunks_.fetch_add(1);
        got_.store(index_);
    }
    void Reset(uint64_t target) {
        target_ = target;
        index_ = 0;
        started_ = 1;
        errors_ = 0;
        got_.store(0);
        chunks_.store(0);
    }
    uint64_t got() const { return got_.load(); }
    uint64_t errors() const { return errors_; }
    uint64_t chunks() const { return chunks_.load(); }

private:
    uint64_t target_ = 0, index_ = 0, errors_ = 0;
    int started_ = 1;
    std::atomic<uint64_t> got_{0}, chunks_{0};
};

} // namespace

int main(int argc, char** argv) {
    const uint64_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50000000ull;
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
    for (const Setting& s : settings) {
        CountingSink sink;
        CSerialLink link;
        link.SetSettings(0, s.baud, 8, 0, 0, 0);
        link.SetReceiver(&sink);
        if (!link.Open()) {
            std::fprintf(stderr, "open failed\n");
            return 1;
        }
        link.Write("\r", 1);
        usleep(100000);
        link.Write("velmod\r", 7);
        usleep(100000);
        sink.Reset(bytes);
        const std::string cmd = "flood " + std::to_string(bytes) + "\r";
        const auto start = std::chrono::steady_clock::now();
        link.Write(cmd.c_str(), static_cast<int>(cmd.size()));
        while (sink.got() < bytes &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(120))
            usleep(1000);
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-12s %llu bytes in %.3f s: %.1f MB/s, %llu chunks (avg %.0f B), %llu pattern errors\n",
                    s.name, static_cast<unsigned long long>(sink.got()), secs, sink.got() / secs / 1e6,
                    static_cast<unsigned long long>(sink.chunks()),
                    sink.chunks() ? double(sink.got()) / sink.chunks() : 0.0,
                    static_cast<unsigned long long>(sink.errors()));
        link.Write("x\r", 2);
        usleep(100000);
        link.Close();
    }
    Profile::install(nullptr);
    return 0;
}
