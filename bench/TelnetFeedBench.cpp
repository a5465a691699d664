// Throughput of the Telnet machines: MB/s of Feed over switch-like text with some
// negotiation, in 4096-byte blocks, into a sink that only counts. Prints figures.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "terminal/ReceiveSink.h"
#include "terminal/TelnetStream.h"

namespace {
struct CountingSink : ReceiveSink {
    long blocks = 0;
    unsigned long sum = 0;
    void AppendReceived(const char* text, int) override
    {
        ++blocks;
        sum += static_cast<unsigned char>(text[0]);
    }
};

std::string MakeStream(std::size_t size, int negotiationEvery)
{
    std::mt19937 rng(7);
    const std::string line = "CARD 12 SLOT 3 STATUS IN SERVICE   ALARM NONE\r\n";
    std::string s;
    s.reserve(size + 64);
    while (s.size() < size) {
        s += line;
        if (negotiationEvery && rng() % negotiationEvery == 0)
            s += "\xff\xfb\x01\xff\xfd\x18\xff\xfa\x18\x01\xff\xf0\xff\xff";
    }
    s.resize(size);
    return s;
}

void Run(const char* name, const std::string& data, int rounds)
{
    CountingSink sink;
    long writes = 0;
    TelnetStream stream([&](const char*, int n) { ++writes; return n; }, &sink);
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r) {
        stream.Reset();
        for (std::size_t at = 0; at < data.size(); at += 4096) {
            const std::size_t n = std::min<std::size_t>(4096, data.size() - at);
            stream.Feed(reinterpret_cast<const unsigned char*>(data.data() + at), n);
        }
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double mb = static_cast<double>(data.size()) * rounds / 1e6;
    std::printf("%-28s %8.1f MB in %6.3f s: %8.1f MB/s (%ld data bytes, %ld writes)\n", name, mb, s,
                mb / s, sink.blocks, writes);
}
}  // namespace

int main()
{
    Run("text only", MakeStream(32u << 20, 0), 4);
    Run("text with negotiation", MakeStream(32u << 20, 4), 4);
    Run("all IAC IAC", std::string(32u << 20, '\xff'), 4);
    return 0;
}
