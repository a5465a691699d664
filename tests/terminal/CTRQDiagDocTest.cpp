// The document's storing and File > Open loading. Runs on the test thread.
#include "platform/AppGlobals.h"
#include "terminal/CTRQDiagDoc.h"
#include "terminal/TerminalModel.h"
#include "tests/support/TempDir.h"
#include "tests/terminal/FakeSurface.h"

#include <gtest/gtest.h>

namespace {

struct LoadCase {
    const char* name;
    std::string file;
    std::string text;
    int lines;
};

TEST(DocumentOpen, EachLineEndsInOneCR) {
    const LoadCase cases[] = {
        {"CR LF lines", "one\r\ntwo\r\nthree\r\n", "one\rtwo\rthree\r", 3},
        {"LF lines, last unterminated", "one\ntwo\nthree", "one\rtwo\rthree\r", 3},
        {"empty lines kept", "a\n\nb\n", "a\r\rb\r", 3},
        {"empty file", "", "", 0},
        {"tabs and 8-bit kept", "x\ty\xe9\n", "x\ty\xe9\r", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("in.txt", c.file);
        CTRQDiagDoc doc;
        FakeSurface surface;
        TerminalModel model(doc, surface);
        doc.SetView(&model);
        doc.AppendReceived("old\r", 4);
        ASSERT_TRUE(doc.OpenDocument(dir.file("in.txt")));
        EXPECT_EQ(doc.GetTranscript(), c.text);
        EXPECT_EQ(doc.GetNewText(), c.text);
        EXPECT_EQ(model.Snapshot().lineCount, c.lines);
        EXPECT_EQ(g_loading.load(), 0);
    }
}

// A loaded file is not received text: no prompt reaction, no trace, even while
// capture is on; and it is shown whole, never dumped.
TEST(DocumentOpen, LoadedTextSkipsHooksAndDump) {
    TempDir dir;
    SetStartDirectory(dir.path());
    std::string file = "banner\r\nPASSWORD:\r\n";
    for (int i = 0; i < 2000; ++i) file += "line of an old session\r\n";
    dir.write("old.txt", file);

    CTRQDiagDoc doc;
    FakeSurface surface;
    TerminalModel model(doc, surface);
    model.SetMetrics(20, 8);
    doc.SetView(&model);
    int prompts = 0, traces = 0;
    int loadingSeen = -1;
    TerminalHooks h;
    h.capturing = [] { return true; };
    h.traceBlock = [&](std::string_view) { ++traces; };
    h.promptHandling = [&](std::string_view) { ++prompts; };
    h.textArrived = [&] { loadingSeen = g_loading.load(); };
    model.SetHooks(h);

    ASSERT_TRUE(doc.OpenDocument(dir.file("old.txt")));
    EXPECT_EQ(prompts, 0);
    EXPECT_EQ(traces, 0);
    EXPECT_EQ(loadingSeen, -1);
    EXPECT_EQ(model.Snapshot().lineCount, 2002);
    EXPECT_EQ(doc.GetTranscript().substr(0, 17), "banner\rPASSWORD:\r");
    EXPECT_EQ(surface.FailedDumps().size(), 0u);

    // Received text continues below the file, on a line of its own.
    doc.AppendReceived("mon>", 4);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(model.Snapshot().lineCount, 2002);
    EXPECT_EQ(model.Snapshot().textX, 4 * 8);
    SetStartDirectory("");
}

TEST(DocumentOpen, UnreadableFileKeepsOldText) {
    TempDir dir;
    CTRQDiagDoc doc;
    FakeSurface surface;
    TerminalModel model(doc, surface);
    doc.SetView(&model);
    doc.AppendReceived("kept\r", 5);
    EXPECT_FALSE(doc.OpenDocument(dir.file("missing.txt")));
    EXPECT_FALSE(doc.OpenDocument(dir.path()));  // a directory
    EXPECT_EQ(doc.GetTranscript(), "kept\r");
    EXPECT_EQ(model.Snapshot().lineCount, 1);
    EXPECT_EQ(g_loading.load(), 0);
}

TEST(DocumentStore, WritesTranscriptBytesExactly) {
    TempDir dir;
    CTRQDiagDoc doc;
    const std::string bytes = std::string("a\r\nb\tc\n\r\xff\x01", 10);
    doc.AppendReceived(bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_TRUE(doc.Store(dir.file("out.dat")));
    EXPECT_EQ(dir.read("out.dat"), bytes);
    ASSERT_TRUE(doc.Store(dir.file("out.dat")));  // replaces
    EXPECT_EQ(dir.read("out.dat"), bytes);
    ASSERT_TRUE(doc.Store(dir.file("out.dat"), true));
    EXPECT_EQ(dir.read("out.dat"), bytes + bytes);
    EXPECT_FALSE(doc.Store(dir.file("no/such/dir.dat")));
}

TEST(DocumentText, NewDocumentEmptiesTextAndScreen) {
    CTRQDiagDoc doc;
    FakeSurface surface;
    TerminalModel model(doc, surface);
    doc.SetView(&model);
    doc.AppendReceived("a\rb\r", 4);
    doc.OnNewDocument();
    EXPECT_EQ(doc.GetTranscript(), "");
    EXPECT_EQ(doc.GetNewText(), "");
    EXPECT_EQ(model.Snapshot().lineCount, 0);
    doc.SetText("x");
    EXPECT_EQ(doc.GetTranscript(), "x");
    EXPECT_EQ(doc.GetNewText(), "x");
}

} // namespace
