// The document and its line model fed a stream cut into blocks three ways (link-sized,
// random, a byte at a time): memory stays bounded (the text since the last overflow
// dump, the screen height and the current line), and the dumps followed by what is
// still held give back every byte received but the NULs, wherever the cuts fall.
// When dumps cannot be written the failure is told once and the text kept, up to the
// larger bound. Small bounds and a folder in memory keep each run short.
#include "platform/AppGlobals.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/TerminalModel.h"
#include "tests/fuzz/FuzzInput.h"
#include "tests/support/TempDir.h"
#include "tests/terminal/FakeSurface.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {
// The bounds the harness gives the model: a few lines, a few hundred bytes. A stream passes the
// bound a few times when dumps work (each dump is a file), and the keep limit when
// they fail (no file is written then).
constexpr uint64_t kHeight = 400;
constexpr uint64_t kBytes = 256;
constexpr size_t kMaxStream = 4 * kBytes;
constexpr size_t kMaxFailingStream = 2 * kBytes * kFailedDumpKeepFactor;

TempDir& Dir() {
    // In memory where the machine has it: the dumps are real files, without a disk.
    static TempDir dir(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "");
    return dir;
}

// Takes the dump files written since the last call, in the order written (one dump
// at most per block: each block runs one dump check).
std::string TakeDumps() {
    std::string out;
    for (const auto& e : std::filesystem::directory_iterator(Dir().path())) {
        std::ifstream f(e.path(), std::ios::binary);
        out.append(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        f.close();
        std::filesystem::remove(e.path());
    }
    return out;
}

std::vector<std::string> LaidOut(const std::string& text) {
    std::vector<std::string> lines;
    ForEachScreenLine(text, 0, 1 << 30, [&](int, std::string_view l) { lines.emplace_back(l); });
    return lines;
}

enum class Cut { Link, Random, Byte };

void Run(const std::string& stream, int lineHeight, bool dumpsFail, Cut cut, uint32_t seed) {
    SetStartDirectory(dumpsFail ? Dir().file("not-a-dir/below") : Dir().path());
    if (dumpsFail) Dir().write("not-a-dir", "");
    CTRQDiagDoc doc;
    FakeSurface surface;
    TerminalModel model(doc, surface);
    model.SetMetrics(lineHeight, FakeSurface::kCharWidth);
    model.SetClientSize(720, 400);
    model.SetOverflowLimits(kHeight, kBytes);
    doc.SetView(&model);

    const uint64_t heightBound = kHeight * (dumpsFail ? kFailedDumpKeepFactor : 1);
    const size_t byteBound = kBytes * (dumpsFail ? kFailedDumpKeepFactor : 1);
    int clears = 0;
    SplitRng rng(seed);
    std::string dumped;
    bool lost = false;  // a failing dump gave text up at the larger bound
    size_t step = 0;
    for (size_t at = 0; at < stream.size(); ++step) {
        size_t n = cut == Cut::Byte ? 1 : cut == Cut::Link ? 512 : 1 + rng.Below(rng.Below(2) ? 1000 : 100);
        n = std::min(n, stream.size() - at);
        doc.AppendReceived(stream.data() + at, static_cast<int>(n));
        std::string block;
        std::copy_if(stream.begin() + at, stream.begin() + at + n, std::back_inserter(block), [](char c) { return c; });
        at += n;

        const TerminalModel::State st = model.Snapshot();
        FUZZ_CHECK(uint64_t(st.lineCount) * uint64_t(st.lineHeight) <= heightBound);
        FUZZ_CHECK(size_t(model.LineLength(st.lineCount)) <= byteBound);
        // The folder is read only after a clear (a dump empties the screen).
        const bool cleared = surface.erasingRepaints.load() != clears;
        clears = surface.erasingRepaints.load();
        // The block stays the new text when a dump cuts through it; only the clear at
        // the keep limit of failing dumps empties it.
        if (!dumpsFail || !cleared) FUZZ_CHECK(doc.GetNewText() == block);
        const std::string dump = dumpsFail || !cleared ? std::string() : TakeDumps();
        if (!dump.empty()) {
            dumped += dump;
            // Only the line still being received stays (at most half the byte limit).
            FUZZ_CHECK(st.lineCount == 0 && doc.GetTranscript().size() <= kBytes / 2);
        }
        if (dumpsFail && surface.erasingRepaints.load() > 0) lost = true;
        if (n > 1000 || step % 64 == 0) FUZZ_CHECK(doc.GetTranscript().size() <= byteBound);
    }

    std::string expected;
    std::copy_if(stream.begin(), stream.end(), std::back_inserter(expected), [](char c) { return c != 0; });
    const std::string held = doc.GetTranscript();
    FUZZ_CHECK(held.size() <= byteBound);
    if (!dumpsFail) FUZZ_CHECK(dumped + held == expected);
    if (dumpsFail && !lost) FUZZ_CHECK(held == expected);
    if (dumpsFail) FUZZ_CHECK(surface.FailedDumps().size() <= 1);
    // The model shows exactly the text it holds.
    const int lines = model.Snapshot().lineCount;
    FUZZ_CHECK(model.VisibleLines(0, lines, SIZE_MAX) == LaidOut(held));
    doc.SetView(nullptr);
    if (dumpsFail) std::filesystem::remove(Dir().file("not-a-dir"));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int lineHeight = 1 + static_cast<int>(in.Byte());
    const unsigned mode = in.Byte();
    const uint32_t seed = in.Byte() | (in.Byte() << 8);
    const unsigned r = in.Byte();
    const std::string piece = in.Rest();
    if (piece.empty()) return 0;
    const bool dumpsFail = (mode & 1) != 0;
    // A short input stands for a long stream: the piece repeated, so that both
    // bounds are reached without long inputs.
    const size_t most = dumpsFail ? kMaxFailingStream : kMaxStream;
    const size_t reps = std::max<size_t>(1, std::min<size_t>(1 + r * r / 64, most / piece.size()));
    std::string stream;
    stream.reserve(piece.size() * reps);
    for (size_t i = 0; i < reps; ++i) stream += piece;

    Run(stream, lineHeight, dumpsFail, (mode & 2) ? Cut::Random : Cut::Link, seed);
    if (stream.size() <= 64) Run(stream, lineHeight, dumpsFail, Cut::Byte, seed);
    return 0;
}
