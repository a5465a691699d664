// Throughput of the Telnet machines into the real document and line model with the
// prompt matcher hooked in (no window): MB/s of Feed over switch-like text with some
// negotiation, in 4096-byte blocks. Overflow dumps go to a temporary directory.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "terminal/CTRQDiagDoc.h"
#include "terminal/PromptMatcher.h"
#include "terminal/TelnetStream.h"
#include "terminal/TerminalModel.h"
#include "tests/support/TempDir.h"

namespace {
// A window that draws nothing: fixed-pitch widths, everything else ignored.
struct NullSurface : TerminalSurface {
    int LineWidth(std::string_view line) override { return static_cast<int>(line.size()) * 8; }
    void SetScrollSizes(const ScrollSizes&) override {}
    void ScrollTo(int) override {}
    void RequestRepaint(bool) override {}
    void DumpFailed(const std::string&) override {}
};

struct CountingSink : ReceiveSink {
    long blocks = 0;
    CTRQDiagDoc doc;
    NullSurface surface;
    TerminalModel model{doc, surface};
    PromptMatcher matcher;
    CountingSink()
    {
        model.SetMetrics(16, 8);
        model.SetClientSize(720, 480);
        TerminalHooks hooks;
        hooks.promptHandling = [this](std::string_view text) {
            matcher.HandleBlock(text, false, TelnetStream::DeliveringData());
        };
        model.SetHooks(std::move(hooks));
        doc.SetView(&model);
    }
    ~CountingSink() { doc.SetView(nullptr); }
    void AppendReceived(const char* text, int length) override
    {
        ++blocks;
        doc.AppendReceived(text, length);
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
    std::printf("%-28s %8.1f MB in %6.3f s: %8.1f MB/s (%ld data blocks, %ld writes)\n", name, mb, s,
                mb / s, sink.blocks, writes);
}
}  // namespace

int main()
{
    TempDir dir;
    ScopedChdir cwd(dir.path());
    Run("text only", MakeStream(32u << 20, 0), 4);
    Run("text with negotiation", MakeStream(32u << 20, 4), 4);
    Run("all IAC IAC", std::string(32u << 20, '\xff'), 4);
    return 0;
}
