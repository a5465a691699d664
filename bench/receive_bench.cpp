// Throughput of received text through the document and the line model, without
// painting, and the peak memory after a long run. Prints figures; not a test.
// Usage: receive_bench [block MB (100)] [byte-at-a-time MB (20)]
#include "platform/AppGlobals.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/TerminalModel.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A window stand-in: fixed-pitch widths, every request dropped.
class NullSurface : public TerminalSurface {
public:
    int LineWidth(std::string_view line) override { return static_cast<int>(line.size()) * 8; }
    void SetScrollSizes(const ScrollSizes&) override {}
    void ScrollTo(int) override {}
    void RequestRepaint(bool) override {}
    void DumpFailed(const std::string& path) override {
        std::fprintf(stderr, "dump failed: %s\n", path.c_str());
    }
};

// About 1 MB of switch output: status lines of ~70 characters ending in CR LF.
std::string SwitchText() {
    std::string text;
    char line[128];
    for (int i = 0; text.size() < (1u << 20); ++i) {
        std::snprintf(line, sizeof line,
                      "%05d TRUNK %03d\tSTATE IDLE   LINK %02d  ALARMS 0  ERR %04d  OK\r\n",
                      i, i % 512, i % 64, (i * 7) % 10000);
        text += line;
    }
    return text;
}

long PeakKiB() {
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmHWM:") {
            long kib = 0;
            in >> kib;
            return kib;
        }
        in.ignore(1 << 12, '\n');
    }
    return -1;
}

void RemoveDumps(const std::string& dir) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        std::filesystem::remove(e.path(), ec);
}

// Feeds totalBytes of text in blocks of blockSize; returns MB/s.
double Run(CTRQDiagDoc& doc, const std::string& text, size_t totalBytes, size_t blockSize,
           const std::string& dumpDir) {
    const auto start = std::chrono::steady_clock::now();
    size_t fed = 0, pos = 0, sinceCleanup = 0;
    while (fed < totalBytes) {
        const size_t n = std::min(blockSize, text.size() - pos);
        doc.AppendReceived(text.data() + pos, static_cast<int>(n));
        pos = (pos + n) % text.size();
        fed += n;
        sinceCleanup += n;
        if (sinceCleanup >= (16u << 20)) {  // keep the disk use of the dumps small
            RemoveDumps(dumpDir);
            sinceCleanup = 0;
        }
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return static_cast<double>(fed) / (1024.0 * 1024.0) / secs;
}

} // namespace

int main(int argc, char** argv) {
    const size_t blockMB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const size_t byteMB = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 20;

    std::string tmpl = (std::filesystem::temp_directory_path() / "pmxbench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    SetStartDirectory(tmpl);

    const std::string text = SwitchText();
    CTRQDiagDoc doc;
    NullSurface surface;
    TerminalModel model(doc, surface);
    model.SetMetrics(16, 8);
    model.SetClientSize(720, 480);
    doc.SetView(&model);

    const long before = PeakKiB();
    const double blocks = Run(doc, text, blockMB << 20, 4096, tmpl);
    const long afterBlocks = PeakKiB();
    const double bytes = Run(doc, text, byteMB << 20, 1, tmpl);
    const long afterBytes = PeakKiB();

    std::printf("4096-byte blocks:   %8.1f MB/s  (%zu MB)\n", blocks, blockMB);
    std::printf("one byte at a time: %8.1f MB/s  (%zu MB)\n", bytes, byteMB);
    std::printf("peak memory (VmHWM): %ld KiB at start, %ld KiB after %zu MB in blocks, "
                "%ld KiB after %zu MB more byte by byte\n",
                before, afterBlocks, blockMB, afterBytes, byteMB);

    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    return 0;
}
