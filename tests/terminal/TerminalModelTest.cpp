// Received text through the document into the line model: layout, hooks, scrolling
// and the overflow dump. Runs on the test thread, plus two feeder threads.
#include "platform/AppGlobals.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/TerminalModel.h"
#include "tests/support/TempDir.h"
#include "tests/terminal/FakeSurface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <random>
#include <thread>

#include <csignal>
#include <sys/resource.h>

namespace {

constexpr int kCW = FakeSurface::kCharWidth;

struct Terminal {
    CTRQDiagDoc doc;
    FakeSurface surface;
    TerminalModel model{doc, surface};
    explicit Terminal(int lineHeight = 20, int clientHeight = 100) {
        model.SetMetrics(lineHeight, kCW);
        model.SetClientSize(720, clientHeight);
        doc.SetView(&model);
    }
    void Feed(std::string_view s) { doc.AppendReceived(s.data(), static_cast<int>(s.size())); }
};

std::vector<std::string> ScreenLines(const std::string& text) {
    std::vector<std::string> lines;
    ForEachScreenLine(text, 0, 1 << 30,
                      [&](int, std::string_view l) { lines.emplace_back(l); });
    return lines;
}

struct LayoutCase {
    const char* name;
    std::vector<std::string> blocks;
    std::vector<std::string> screen;
    int lineCount;
    int textXChars;
};

TEST(TerminalLayout, BlocksBecomeScreenLines) {
    const LayoutCase cases[] = {
        {"block continues the line", {"abc", "def\r\n"}, {"abcdef", ""}, 1, 0},
        {"next block starts a new line", {"abc", "def\r\n", "gh"}, {"abcdef", "gh"}, 1, 2},
        {"LF alone moves nothing", {"ab", "\n", "cd"}, {"abcd"}, 0, 4},
        {"CR alone starts a line", {"ab", "\r", "cd"}, {"ab", "cd"}, 1, 2},
        {"TAB is eight blanks", {"a\tb"}, {"a        b"}, 0, 10},
        {"several lines in one block", {"1\r\n2\r\n3"}, {"1", "2", "3"}, 2, 1},
        {"8-bit bytes kept", {"\xe9\xff\r"}, {"\xe9\xff", ""}, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal t;
        for (const auto& b : c.blocks) t.Feed(b);
        EXPECT_EQ(ScreenLines(t.doc.GetTranscript()), c.screen);
        auto st = t.model.Snapshot();
        EXPECT_EQ(st.lineCount, c.lineCount);
        EXPECT_EQ(st.textY, c.lineCount * 20);
        EXPECT_EQ(st.textX, c.textXChars * kCW);
        EXPECT_EQ(t.doc.GetNewText(), c.blocks.back());
    }
}

// A NUL byte is dropped by itself: the lines after it reach the screen, the trace
// and the prompt matcher.
TEST(TerminalLayout, NulBytesDroppedRestKept) {
    Terminal t;
    std::string traced, prompted;
    TerminalHooks h;
    h.capturing = [] { return true; };
    h.traceBlock = [&](std::string_view b) { traced += b; };
    h.promptHandling = [&](std::string_view b) { prompted += b; };
    t.model.SetHooks(h);
    t.doc.AppendReceived("LI\0NE2\r\nLINE3\r\n\0\0LINE4", 22);
    EXPECT_EQ(t.doc.GetTranscript(), "LINE2\r\nLINE3\r\nLINE4");
    EXPECT_EQ(t.doc.GetNewText(), "LINE2\r\nLINE3\r\nLINE4");
    EXPECT_EQ(traced, t.doc.GetTranscript());
    EXPECT_EQ(prompted, t.doc.GetTranscript());
    const char unterminated[4] = {'x', 'y', 'z', 'w'};
    t.doc.AppendReceived(unterminated, 3);  // read buffers are not NUL-terminated
    t.doc.AppendReceived(nullptr, 10);
    t.doc.AppendReceived("q", -1);
    EXPECT_EQ(t.doc.GetTranscript(), "LINE2\r\nLINE3\r\nLINE4xyz");
    EXPECT_EQ(t.model.Snapshot().lineCount, 2);
    EXPECT_EQ(t.model.Snapshot().textX, 8 * kCW);
}

TEST(TerminalLayout, ScrollSizesAndScrollToEnd) {
    Terminal t(20, 100);  // five visible lines
    t.Feed("1\r2\r3\r");
    EXPECT_EQ(t.surface.scrolledTo.load(), -1);  // still fits
    auto s = t.surface.Sizes();
    EXPECT_EQ(s.totalWidth, 90 * kCW);
    EXPECT_EQ(s.totalHeight, 4 * 20);
    EXPECT_EQ(s.pageWidth, 90 * kCW / 3);
    EXPECT_EQ(s.pageHeight, 50);
    EXPECT_EQ(s.lineWidth, 90 * kCW / 30);
    EXPECT_EQ(s.lineHeight, 20);
    t.Feed("4\r5\r6\r7\r8\r9\r10\r");
    EXPECT_EQ(t.surface.scrolledTo.load(), (10 - 5 + 1) * 20);
    EXPECT_EQ(t.surface.Sizes().totalHeight, 11 * 20);
    t.model.ClearScreen();
    EXPECT_EQ(t.doc.GetTranscript(), "");
    EXPECT_EQ(t.model.Snapshot().lineCount, 0);
    EXPECT_EQ(t.surface.Sizes().totalHeight, 20);
}

TEST(TerminalLayout, ZeroLineHeightDoesNotDivideByZero) {
    Terminal t(0, 100);
    t.Feed("a\rb\r");
    EXPECT_GE(t.model.Snapshot().lineHeight, 1);
}

// Blocks from two threads land whole, each in one piece, and every CR is counted.
TEST(TerminalThreads, TwoDeliverersInterleaveByBlock) {
    Terminal t(1, 100);  // 1-pixel lines: no overflow dump during the run
    constexpr int kBlocks = 2000;
    auto feeder = [&](char c) {
        for (int i = 0; i < kBlocks; ++i) t.Feed(std::string(37, c) + "\r\n");
    };
    std::thread a(feeder, 'A'), b(feeder, 'B');
    a.join();
    b.join();
    const std::string text = t.doc.GetTranscript();
    ASSERT_EQ(text.size(), 2u * kBlocks * 39);
    for (size_t at = 0; at < text.size(); at += 39) {
        const char c = text[at];
        ASSERT_TRUE(c == 'A' || c == 'B');
        ASSERT_EQ(text.compare(at, 39, std::string(37, c) + "\r\n"), 0) << "torn at " << at;
    }
    EXPECT_EQ(t.model.Snapshot().lineCount, 2 * kBlocks);
}

struct HookLog {
    std::mutex m;
    std::vector<std::string> events;
    void Add(std::string e) {
        std::lock_guard lock(m);
        events.push_back(std::move(e));
    }
};

TerminalHooks LoggingHooks(HookLog& log, bool capture) {
    TerminalHooks h;
    h.textArrived = [&log] { log.Add("arrived"); };
    h.capturing = [capture] { return capture; };
    h.traceBlock = [&log](std::string_view p) { log.Add("trace:" + std::string(p)); };
    h.promptHandling = [&log](std::string_view s) { log.Add("prompt:" + std::string(s)); };
    return h;
}

TEST(TerminalHooks, TraceGetsEachBlockInOrder) {
    Terminal t;
    HookLog log;
    t.model.SetHooks(LoggingHooks(log, true));
    t.Feed("ab\tc\r\nde");
    t.Feed("f\r");
    t.Feed("\n");
    const std::vector<std::string> want = {
        "arrived", "trace:ab\tc\r\nde", "prompt:ab\tc\r\nde",
        "arrived", "trace:f\r", "prompt:f\r",
        "arrived", "trace:\n", "prompt:\n"};
    EXPECT_EQ(log.events, want);
}

TEST(TerminalHooks, NoTraceWhenNotCapturingOrLoading) {
    Terminal t;
    HookLog log;
    t.model.SetHooks(LoggingHooks(log, false));
    t.Feed("x\r");
    EXPECT_EQ(log.events, (std::vector<std::string>{"arrived", "prompt:x\r"}));

    HookLog log2;
    t.model.SetHooks(LoggingHooks(log2, true));
    g_loading.store(1);
    t.Feed("y\r");
    g_loading.store(0);
    EXPECT_EQ(log2.events, (std::vector<std::string>{"arrived", "prompt:y\r"}));
}

// Prompt handling takes the view's prompt lock: the drawing lock must be free then.
TEST(TerminalHooks, PromptHandlingRunsWithoutDrawingLock) {
    Terminal t;
    bool lockFree = false;
    TerminalHooks h;
    h.promptHandling = [&](std::string_view) {
        auto f = std::async(std::launch::async, [&] { return t.model.Snapshot().lineCount; });
        lockFree = f.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    };
    t.model.SetHooks(h);
    t.Feed("PASSWORD:");
    EXPECT_TRUE(lockFree);
}

std::vector<std::string> DumpFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string SwitchLine(int i) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%05d  TRUNK %03d\tIDLE   \xb0 status line of the switch\r\n", i,
                  i % 256);
    return buf;
}

// "T" + hour (00-23), minute, second as two digits each + ".dat".
bool IsDumpName(const std::string& n) {
    if (n.size() != 11 || n[0] != 'T' || n.substr(7) != ".dat") return false;
    int v[3];
    for (int i = 0; i < 3; ++i) {
        const char a = n[1 + 2 * i], b = n[2 + 2 * i];
        if (a < '0' || a > '9' || b < '0' || b > '9') return false;
        v[i] = (a - '0') * 10 + (b - '0');
    }
    return v[0] < 24 && v[1] < 60 && v[2] < 60;
}

TEST(TerminalOverflow, DumpNameFromLocalTime) {
    SetStartDirectory("/start");
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(OverflowDumpPath(13 * 3600 + 5 * 60 + 9), "/start/T130509.dat");
    EXPECT_EQ(OverflowDumpPath(0), "/start/T000000.dat");
    if (oldTz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
    SetStartDirectory("");
}

TEST(TerminalOverflow, DumpHoldsExactBytesAndClearsScreen) {
    TempDir dir;
    SetStartDirectory(dir.path());
    Terminal t(20, 100);
    std::string fed;
    // 32000 / 20 = 1600 lines fit; the 1601st line triggers the dump.
    for (int i = 0; i < 1600; ++i) {
        fed += SwitchLine(i);
        t.Feed(SwitchLine(i));
    }
    EXPECT_TRUE(DumpFiles(dir.path()).empty());
    fed += SwitchLine(1600);
    const int erasesBefore = t.surface.erasingRepaints.load();
    t.Feed(SwitchLine(1600));

    auto files = DumpFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(IsDumpName(files[0])) << files[0];
    EXPECT_EQ(dir.read(files[0]), fed);
    EXPECT_EQ(t.doc.GetTranscript(), "");
    auto st = t.model.Snapshot();
    EXPECT_EQ(st.lineCount, 0);
    EXPECT_EQ(st.textX, 0);
    EXPECT_EQ(st.textY, 0);
    EXPECT_GT(t.surface.erasingRepaints.load(), erasesBefore);
    EXPECT_TRUE(t.surface.FailedDumps().empty());

    t.Feed("after");
    EXPECT_EQ(t.doc.GetTranscript(), "after");
    SetStartDirectory("");
}

// The line still arriving at a dump (the prompt) stays on screen and opens the next
// dump; each dump is named with the running total, and low free space is told once.
TEST(TerminalOverflow, DumpKeepsTheCurrentLineAndReportsTotals) {
    TempDir dir;
    SetStartDirectory(dir.path());
    Terminal t(20, 100);
    t.model.SetLowSpaceBound(UINT64_MAX);
    std::string fed;
    for (int i = 0; i < 1600; ++i) fed += SwitchLine(i);
    t.Feed(fed);
    t.Feed(SwitchLine(1600) + "maint> ");
    fed += SwitchLine(1600);
    auto files = DumpFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(dir.read(files[0]), fed);
    EXPECT_EQ(t.doc.GetTranscript(), "maint> ");
    // The block the dump cut through is still the new text, whole.
    EXPECT_EQ(t.doc.GetNewText(), SwitchLine(1600) + "maint> ");
    EXPECT_EQ(t.model.VisibleLines(0, 5, 100), std::vector<std::string>{"maint> "});
    auto st = t.model.Snapshot();
    EXPECT_EQ(st.lineCount, 0);
    EXPECT_EQ(st.textX, 7 * kCW);

    // The answer continues the kept line; the next dump starts with it.
    std::string second = "maint> ";
    t.Feed("x\r");
    second += "x\r";
    for (int i = 0; i < 1600; ++i) {
        const std::string line = "\n" + SwitchLine(i).substr(0, 40) + "\r";
        t.Feed(line);
        second += line;
    }
    std::string dumped;
    for (const auto& f : DumpFiles(dir.path())) dumped += dir.read(f);
    EXPECT_EQ(dumped + t.doc.GetTranscript(), fed + second);
    EXPECT_EQ(t.doc.GetTranscript(), "");

    const auto reports = t.surface.WrittenDumps();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].bytes, fed.size());
    EXPECT_EQ(reports[1].totalBytes, dumped.size());
    EXPECT_EQ(reports[1].dumps, 2);
    EXPECT_TRUE(reports[0].lowSpace);
    EXPECT_FALSE(reports[1].lowSpace);
    EXPECT_GE(reports[0].freeBytes, 0);
    SetStartDirectory("");
}

// Dumps within one second share a name: the later one must not overwrite the earlier.
// Two deliverers while overflow dumps run: whatever one delivers while the other
// dumps and clears is either in the dump or still held, never dropped.
TEST(TerminalThreads, TwoDeliverersLoseNothingAcrossDumps) {
    TempDir dir;
    SetStartDirectory(dir.path());
    Terminal t(20, 100);
    constexpr int kBlocks = 40000;
    auto feeder = [&](char c) {
        for (int i = 0; i < kBlocks; ++i) t.Feed(std::string(37, c) + "\r\n");
    };
    std::thread a(feeder, 'A'), b(feeder, 'B');
    a.join();
    b.join();
    std::string held;
    for (const auto& f : DumpFiles(dir.path())) held += dir.read(f);
    held += t.doc.GetTranscript();
    EXPECT_EQ(held.size(), 2u * kBlocks * 39);
    EXPECT_EQ(std::count(held.begin(), held.end(), 'A'), 37 * kBlocks);
    SetStartDirectory("");
}

TEST(TerminalOverflow, RepeatedDumpsLoseNothing) {
    TempDir dir;
    SetStartDirectory(dir.path());
    Terminal t(20, 100);
    std::string fed;
    for (int i = 0; i < 3 * 1601 + 10; ++i) {
        fed += SwitchLine(i);
        t.Feed(SwitchLine(i));
    }
    std::string dumped;
    for (const auto& f : DumpFiles(dir.path())) dumped += dir.read(f);
    EXPECT_EQ(dumped + t.doc.GetTranscript(), fed);
    SetStartDirectory("");
}

// A stream without any CR is bounded in bytes too: it is dumped like too many lines,
// byte for byte, and the screen goes on.
TEST(TerminalOverflow, LongLineWithoutCRIsDumpedExactly) {
    TempDir dir;
    SetStartDirectory(dir.path());
    Terminal t(20, 100);
    std::string fed, block;
    for (int i = 0; i < 4096; ++i) block.push_back(static_cast<char>(i % 7 == 0 ? '\t' : i % 7 == 1 ? '\n' : 'a' + i % 26));
    size_t most = 0;
    for (int i = 0; fed.size() < 3 * kOverflowBytes + 1000; ++i) {
        t.Feed(block);
        fed += block;
        most = std::max(most, t.doc.GetTranscript().size());
    }
    EXPECT_LE(most, kOverflowBytes + block.size());
    std::string dumped;
    for (const auto& f : DumpFiles(dir.path())) dumped += dir.read(f);
    EXPECT_EQ(dumped + t.doc.GetTranscript(), fed);
    const auto st = t.model.Snapshot();
    EXPECT_EQ(st.lineCount, 0);
    EXPECT_LE(st.textX, int64_t(kOverflowBytes + block.size()) * 8 * kCW);
    EXPECT_TRUE(t.surface.FailedDumps().empty());
    SetStartDirectory("");
}

// A dump file removed between two dumps of the same second is made anew: the later
// dump is not written into the removed file.
TEST(TerminalOverflow, RemovedDumpFileIsMadeAnew) {
    TempDir dir;
    SetStartDirectory(dir.path());
    Terminal t(20, 100);
    int next = 0;
    auto feedUntilDump = [&] {
        std::string fed;
        const size_t files = DumpFiles(dir.path()).size();
        for (; DumpFiles(dir.path()).size() == files && fed.size() < 4 * kOverflowBytes; ++next) {
            fed += SwitchLine(next);
            t.Feed(SwitchLine(next));
        }
        return fed;
    };
    feedUntilDump();
    for (const auto& f : DumpFiles(dir.path())) std::filesystem::remove(dir.file(f));
    const std::string before = t.doc.GetTranscript();
    const std::string fed = feedUntilDump();
    std::string dumped;
    for (const auto& f : DumpFiles(dir.path())) dumped += dir.read(f);
    EXPECT_EQ(dumped + t.doc.GetTranscript(), before + fed);
    SetStartDirectory("");
}

// Failing dumps keep the text, are told once per run of failures, and leave no empty
// or partial dump file behind (a write cut short by a file size limit, as on a full disk).
// A flood's block past the bound is counted rather than laid out, as its dump takes
// it; when that dump fails, the screen still shows every line of it.
TEST(TerminalOverflow, ABlockPastTheBoundIsShownWhenItsDumpFails) {
    TempDir dir;
    SetStartDirectory(dir.file("missing"));
    Terminal t(20, 100);
    std::string block;
    for (int i = 0; i < 2500; ++i) block += SwitchLine(i);
    block += "maint> ";
    t.Feed(block);
    std::vector<std::string> expected;
    ForEachScreenLine(block, 0, 1 << 30, [&](int, std::string_view l) { expected.emplace_back(l); });
    EXPECT_EQ(t.model.VisibleLines(0, 1 << 30, 1000), expected);
    EXPECT_EQ(t.model.Snapshot().lineCount, 2500);
    EXPECT_EQ(t.surface.FailedDumps().size(), 1u);
    SetStartDirectory("");
}

TEST(TerminalOverflow, FailedDumpsKeepTextAndAreToldOnce) {
    TempDir dir;
    SetStartDirectory(dir.file("missing"));
    Terminal t(20, 100);
    std::string fed;
    int next = 0;
    auto feedLines = [&](int n) {
        for (int end = next + n; next < end; ++next) {
            fed += SwitchLine(next);
            t.Feed(SwitchLine(next));
        }
    };
    feedLines(3300);  // two dump attempts fail
    EXPECT_EQ(t.doc.GetTranscript(), fed);
    EXPECT_EQ(t.model.Snapshot().lineCount, 3300);
    ASSERT_EQ(t.surface.FailedDumps().size(), 1u);
    EXPECT_EQ(t.surface.FailedDumps()[0].rfind(dir.file("missing/T"), 0), 0u);

    std::filesystem::create_directory(dir.file("missing"));
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    feedLines(1700);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(DumpFiles(dir.file("missing")).empty());
    EXPECT_EQ(t.doc.GetTranscript(), fed);
    EXPECT_EQ(t.surface.FailedDumps().size(), 1u);

    // Once a dump can be written it takes everything kept; a later failure is new.
    feedLines(1600);
    std::string dumped;
    for (const auto& f : DumpFiles(dir.file("missing"))) dumped += dir.read("missing/" + f);
    EXPECT_FALSE(dumped.empty());
    EXPECT_EQ(dumped + t.doc.GetTranscript(), fed);
    std::filesystem::rename(dir.file("missing"), dir.file("moved"));
    feedLines(1700);
    EXPECT_EQ(t.surface.FailedDumps().size(), 2u);
    SetStartDirectory("");
}

} // namespace

// View > Hide Control Sequences: the screen is the same however the stream is cut
// into blocks; the document and the trace keep every byte.
TEST(TerminalControls, HiddenSequencesGiveOneScreenWhateverTheSplit) {
    const std::string stream =
        "\x1b[?2004h\x1b]0;eng@console: ~\x07\x1b[01;32meng@console\x1b[00m:\x1b[01;34m~\x1b[00m$ ls\r\n"
        "abc\b\bXY\tZ\x1b(B\x1b" "7 done\x07\r\n"
        "\x1b]8;;http://127.0.0.1/\x1b\\link\x1b]8;;\x1b\\ caf\xc3\xa9\x1b[1K\x1b\x1b[m!\r\n"
        "\x1b[31";
    const std::vector<std::string> screen = {"eng@console:~$ ls", "aXY        Z done", "link caf\xc3\xa9!", ""};

    std::mt19937 random(21);
    for (int round = 0; round < 300; ++round) {
        Terminal t;
        std::string traced;
        TerminalHooks h;
        h.capturing = [] { return true; };
        h.traceBlock = [&](std::string_view b) { traced += b; };
        t.model.SetHooks(h);
        t.model.SetHideControls(true);
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min<size_t>(stream.size() - at, 1 + random() % (round % 3 == 0 ? 3 : 40));
            t.Feed(std::string_view(stream).substr(at, n));
            at += n;
        }
        ASSERT_EQ(t.model.VisibleLines(0, 100, 200), screen) << "round " << round;
        ASSERT_EQ(t.model.Snapshot().textX, 0);
        ASSERT_EQ(traced, stream);
        ASSERT_EQ(t.doc.GetTranscript(), stream);
        // The sequence left open at the end does not reach into text after a new start.
        t.model.SetHideControls(true);
        t.Feed("m");
        ASSERT_EQ(t.model.VisibleLines(3, 3, 200), std::vector<std::string>{"m"});
    }

    // Off (the default), the screen keeps every byte.
    Terminal raw;
    raw.Feed(stream);
    EXPECT_FALSE(raw.model.HideControls());
    EXPECT_EQ(raw.model.VisibleLines(0, 0, 200)[0].substr(0, 8), "\x1b[?2004h");

    // A string that never ends hides a bounded amount of text only.
    Terminal open;
    open.model.SetHideControls(true);
    open.Feed("\x1b]" + std::string(ControlFilter::kMaxStringBytes, 'x') + "shown");
    EXPECT_EQ(open.model.VisibleLines(0, 0, 200)[0], "shown");
}
