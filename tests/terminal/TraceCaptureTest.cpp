// Trace files: banners byte for byte, the received-text rewriting, and the file
// surviving deletion and concurrent writers.
#include "terminal/TraceCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <cstdlib>
#include <regex>
#include <thread>

namespace {
std::time_t fixedTime() {  // 2026-12-06 15:07:09 local time
    std::tm t{};
    t.tm_year = 126; t.tm_mon = 11; t.tm_mday = 6; t.tm_hour = 15; t.tm_min = 7; t.tm_sec = 9;
    t.tm_isdst = -1;
    return std::mktime(&t);
}
const std::string kRule(75, '=');
} // namespace

TEST(TraceCapture, BannersByteForByte) {
    EXPECT_EQ(TraceCapture::FormatTime(fixedTime()), "03:07:09PM, December 06, 2026");
    EXPECT_EQ(TraceCapture::Banner(true, fixedTime()),
              "\r\n\r\n" + kRule + "\r\n\tStart to Save Trace Data at  03:07:09PM, December 06, 2026\r\n" +
                  kRule + "\r\nmaint> ");
    EXPECT_EQ(TraceCapture::Banner(false, fixedTime()),
              "\r\n\r\n" + kRule + "\r\n\tStop Saving Trace Data at  03:07:09PM, December 06, 2026\r\n" +
                  kRule + "\r\n");
}

TEST(TraceCapture, ReceivedTextRewriting) {
    EXPECT_EQ(TraceCapture::ConvertReceived("a\tb\r\n"), "a        b\r\n");
    EXPECT_EQ(TraceCapture::ConvertReceived("one\r\ntwo\r\n"), "one\r\ntwo\r\n");
    EXPECT_EQ(TraceCapture::ConvertReceived("\n\n"), "");
    EXPECT_EQ(TraceCapture::ConvertReceived("\xE9\x7F"), "\xE9\x7F");
}

TEST(TraceCapture, StartThenStopHoldsOnlyTheBanners) {
    TempDir dir;
    TraceCapture tc;
    dir.write("t.txt", "old contents");
    ASSERT_TRUE(tc.Begin(dir.file("t.txt")));
    EXPECT_EQ(dir.read("t.txt"), "") << "an existing file is emptied";
    ASSERT_TRUE(tc.Confirm());
    const std::string path = tc.End();
    ASSERT_TRUE(TraceCapture::WriteLabel(path, false, std::time(nullptr)));
    const std::string bytes = dir.read("t.txt");
    const std::string startEnd = kRule + "\r\nmaint> ";
    const size_t stop = bytes.find("\r\n\r\n" + kRule + "\r\n\tStop Saving Trace Data at  ");
    ASSERT_NE(stop, std::string::npos);
    EXPECT_EQ(bytes.substr(stop - startEnd.size(), startEnd.size()), startEnd);
    EXPECT_FALSE(tc.capturing());
    EXPECT_TRUE(tc.SaveReceived("after\r")) << "writes after the end are ignored";
    EXPECT_EQ(dir.read("t.txt"), bytes);
}

TEST(TraceCapture, TextDuringTheConfirmationFollowsTheStartBanner) {
    TempDir dir;
    TraceCapture tc;
    ASSERT_TRUE(tc.Begin(dir.file("t.txt")));
    tc.SaveReceived("early\r\n");
    EXPECT_EQ(dir.read("t.txt"), "");
    tc.Confirm();
    tc.SaveReceived("late\r\n");
    const std::string bytes = dir.read("t.txt");
    EXPECT_NE(bytes.find("maint> early\r\nlate\r\n"), std::string::npos) << bytes;
}

TEST(TraceCapture, DeletedFileIsCreatedAgainAndFailuresAreReported) {
    TempDir dir;
    TraceCapture tc;
    ASSERT_TRUE(tc.Begin(dir.file("t.txt")));
    tc.Confirm();
    std::remove(dir.file("t.txt").c_str());
    EXPECT_TRUE(tc.SaveReceived("x\r"));
    EXPECT_EQ(dir.read("t.txt"), "x\r\n");
    EXPECT_FALSE(tc.Begin(dir.file("missing/t.txt")));
    TraceCapture gone;
    ASSERT_TRUE(gone.Begin(dir.file("sub.txt")));
    gone.Confirm();
    std::remove(dir.file("sub.txt").c_str());
    ASSERT_EQ(::mkdir(dir.file("sub.txt").c_str(), 0700), 0);  // a directory cannot be appended to
    EXPECT_FALSE(gone.SaveReceived("lost\r"));
    EXPECT_FALSE(gone.capturing()) << "a failed write ends the capture";
}

// A file size limit stands in for a full disk: writes past it fail with EFBIG.
TEST(TraceCapture, AFullDiskEndsTheCaptureOnceKeepingWhatWasWritten) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    for (bool inBlocks : {false, true}) {
        SCOPED_TRACE(inBlocks ? "blocks" : "pieces");
        TempDir dir;
        TraceCapture tc;
        std::vector<std::string> reports;
        tc.SetFailureHandler([&](const std::string& path) { reports.push_back(path); });
        ASSERT_TRUE(tc.Begin(dir.file("t.txt")));
        ASSERT_TRUE(tc.Confirm());
        ASSERT_TRUE(tc.SaveReceived("kept\r"));
        const std::string before = dir.read("t.txt");
        rlimit full = saved;
        full.rlim_cur = before.size() + 16;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
        for (int i = 0; i < 50; ++i) {
            if (inBlocks) tc.BeginBlock();
            tc.SaveReceived(std::string(100, 'x') + "\r");
            if (inBlocks) tc.EndBlock();
        }
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_EQ(reports, std::vector<std::string>{dir.file("t.txt")});
        EXPECT_FALSE(tc.capturing());
        const std::string after = dir.read("t.txt");
        EXPECT_EQ(after.substr(0, before.size()), before);
        EXPECT_LE(after.size(), before.size() + 16);
        EXPECT_TRUE(tc.SaveReceived("later\r"));
        EXPECT_EQ(dir.read("t.txt"), after) << "nothing written after the capture ended";
    }
}

TEST(TraceCapture, WriterAndStopperOnTwoThreadsNeverInterleave) {
    TempDir dir;
    TraceCapture tc;
    ASSERT_TRUE(tc.Begin(dir.file("t.txt")));
    tc.Confirm();
    std::thread reader([&] {
        for (int i = 0; i < 2000; ++i) tc.SaveReceived("0123456789\r");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const std::string path = tc.End();
    TraceCapture::WriteLabel(path, false, std::time(nullptr));
    reader.join();
    const std::string bytes = dir.read("t.txt");
    const size_t stop = bytes.find("Stop Saving");
    ASSERT_NE(stop, std::string::npos);
    EXPECT_EQ(bytes.find("0123456789", stop), std::string::npos) << "no text after the stop banner";
    // Everything between the start and stop banners is whole lines.
    const size_t begin = bytes.find("maint> ") + 7;
    const size_t end = bytes.rfind("\r\n\r\n" + kRule, stop);
    const std::string region = bytes.substr(begin, end - begin);
    ASSERT_EQ(region.size() % 12, 0u);
    for (size_t i = 0; i < region.size(); i += 12) ASSERT_EQ(region.substr(i, 12), "0123456789\r\n");
}

TEST(TraceCapture, ABlockOfSingleBytesIsWrittenOnceAtItsEnd) {
    TempDir dir;
    TraceCapture tc;
    ASSERT_TRUE(tc.Begin(dir.file("t.txt")));
    tc.Confirm();
    const std::string before = dir.read("t.txt");
    tc.BeginBlock();
    for (char c : std::string("ab\tc\r\n")) tc.SaveReceived(std::string(1, c));
    EXPECT_EQ(dir.read("t.txt"), before) << "nothing written inside the block";
    tc.EndBlock();
    EXPECT_EQ(dir.read("t.txt"), before + "ab        c\r\n");
    // Capture ended in the middle of a block: its text still precedes the end.
    tc.BeginBlock();
    tc.SaveReceived("tail");
    tc.End();
    tc.EndBlock();
    EXPECT_EQ(dir.read("t.txt"), before + "ab        c\r\ntail");
}

TEST(TraceCapture, TimestampsAreOffByDefaultAndStampEveryLineWhenOn) {
    const auto when = std::chrono::system_clock::from_time_t(fixedTime()) + std::chrono::milliseconds(42);
    EXPECT_EQ(TraceCapture::Stamp(when), "[15:07:09.042] ");

    TempDir dir;
    TraceCapture plain;
    EXPECT_FALSE(plain.timestamps());
    ASSERT_TRUE(plain.Begin(dir.file("plain.txt")));
    plain.Confirm();
    plain.SaveReceived("x\r\n\r\nmaint>");
    EXPECT_EQ(dir.read("plain.txt").substr(dir.read("plain.txt").find("maint> ")), "maint> x\r\n\r\nmaint>");

    // The line the start banner leaves open is not stamped; every later one is,
    // empty lines included, and a line split over two pieces only once.
    TraceCapture stamped;
    stamped.SetTimestamps(true);
    ASSERT_TRUE(stamped.Begin(dir.file("t.txt")));
    stamped.Confirm();
    stamped.SaveReceived("x\r\n\r\nSYS");
    stamped.SaveReceived("TEM\tOK\r\nmaint>");
    const std::string bytes = dir.read("t.txt");
    const std::string body = bytes.substr(bytes.find("maint> ") + 7);
    const std::string s = "\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] ";
    EXPECT_TRUE(std::regex_match(body, std::regex("x\r\n" + s + "\r\n" + s + "SYSTEM        OK\r\n" + s + "maint>")))
        << body;
}
