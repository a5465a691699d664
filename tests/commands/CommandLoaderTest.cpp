// Loading "CmdConf.txt" from the start directory: the file must be a readable regular
// file, read in full; failures give the program's error boxes. Also the shipped sample.
#include "platform/AppGlobals.h"
#include "commands/CommandTable.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* kCannotOpen = "Cannot open 'CmdConf.txt' file.\n\nThe program will be terminated...";
const char* kInvalid = "'CmdConf.txt' file has invalid data.\n\nThe program will be terminated...";

class CommandLoader : public ::testing::Test {
protected:
    void SetUp() override { SetStartDirectory(dir.path()); }
    void TearDown() override { SetStartDirectory(""); }
    TempDir dir;
};

// Padding outside the braces moves the closing brace to the file's last byte.
std::string FileOfSize(size_t size) {
    std::string body = "{a[A]0;b[B]0;c[C]0;}";
    std::string text = std::string(size - body.size(), 'x') + body;
    return text;
}

} // namespace

TEST_F(CommandLoader, MissingFileCannotOpen) {
    CommandTable t;
    EXPECT_EQ(t.Load(), CommandTable::LoadResult::CannotOpen);
    EXPECT_EQ(t.count(), 0);
}

TEST_F(CommandLoader, DirectoryNamedLikeTheFileCannotOpen) {
    std::filesystem::create_directory(dir.file("CmdConf.txt"));
    CommandTable t;
    EXPECT_EQ(t.Load(), CommandTable::LoadResult::CannotOpen);
}

TEST_F(CommandLoader, UnreadableFileCannotOpen) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
    dir.write("CmdConf.txt", "{a[A]0;}");
    chmod(dir.file("CmdConf.txt").c_str(), 0);
    CommandTable t;
    EXPECT_EQ(t.Load(), CommandTable::LoadResult::CannotOpen);
}

TEST_F(CommandLoader, InvalidDigitAndTableLeftEmpty) {
    dir.write("CmdConf.txt", "{a[A]0;b[B]7;}");
    CommandTable t;
    EXPECT_EQ(t.Load(), CommandTable::LoadResult::InvalidData);
    EXPECT_EQ(t.count(), 0);
    EXPECT_FALSE(t.entry(0).isSet());
}

TEST_F(CommandLoader, WholeFileIsReadWhateverItsSize) {
    // Block boundaries: exact multiples of the read block, one either side, and large.
    for (size_t size : {20u, 99u, 100u, 101u, 200u, 300u, 4096u, 100000u}) {
        SCOPED_TRACE(size);
        dir.write("CmdConf.txt", FileOfSize(size));
        CommandTable t;
        ASSERT_EQ(t.Load(), CommandTable::LoadResult::Ok);
        EXPECT_EQ(t.count(), 5);
        EXPECT_EQ(t.entry(4).name, "C");
    }
}

TEST_F(CommandLoader, ReadKeepsEveryByte) {
    std::string bytes;
    for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(i % 256);
    dir.write("CmdConf.txt", bytes);
    std::string text;
    ASSERT_TRUE(CommandTable::ReadFileText(StartDirPath("CmdConf.txt"), text));
    EXPECT_EQ(text, bytes);
}

TEST_F(CommandLoader, ErrorBoxes) {
    ScriptedMessages boxes;
    ShowCommandTableError(CommandTable::LoadResult::Ok);
    EXPECT_EQ(boxes.count(), 0u);
    ShowCommandTableError(CommandTable::LoadResult::CannotOpen);
    ShowCommandTableError(CommandTable::LoadResult::InvalidData);
    auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, kCannotOpen);
    EXPECT_EQ(shown[0].title, "File Error");
    EXPECT_EQ(shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(shown[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(shown[1].text, kInvalid);
    EXPECT_EQ(shown[1].title, "File Format Error");
    EXPECT_EQ(shown[1].icon, MsgIcon::Error);
}

TEST(SampleCommandFile, NamesLandAtTheMenuPositions) {
    const std::vector<std::string> menu = {
        "Set Board Trace", "Set Device Trace", "Trace Disable", "Show Trace Setup Info",
        "Dump Memory", "Modify Memory", "Station Status", "CO Status", "KRAU Status",
        "Logical STA Status", "Print Channel Assign", "NOLK Dump", "Board Configuration Table",
        "View Board Status", "Time Slot Assignment", "B Channel Listeming", "Traffic Analysis",
        "Log Data View", "Log Data Clear", "POLN Statistics", "Software Upgrade", "KRAU Control",
        "Display HDLC Status", "Set Service Switch"};
    std::ifstream in(std::string(PMX_SAMPLES_DIR) + "/CmdConf.txt", std::ios::binary);
    ASSERT_TRUE(in) << "sample file missing";
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CommandTable t;
    ASSERT_TRUE(t.Parse(text));
    EXPECT_EQ(t.count(), 22);
    t.InsertBuiltIns();
    ASSERT_EQ(t.count(), 24);
    for (int pos = 0; pos < 24; ++pos) {
        const CommandEntry& e = t.entry(pos);
        EXPECT_EQ(e.name, menu[static_cast<size_t>(pos)]) << pos;
        EXPECT_TRUE(e.isSet()) << pos;
        // Leaves room for two 8-character arguments within the senders' 64 characters,
        // and never starts a recovery command by accident.
        EXPECT_LE(e.commandText.size(), 46u) << pos;
        EXPECT_NE(e.commandText.substr(0, 1), "r") << pos;
        EXPECT_EQ(e.commandText.find_first_of(" ") == 0, false) << "no leading blank at " << pos;
    }
    EXPECT_EQ(t.entry(2).commandText, "t d");
    EXPECT_EQ(t.entry(3).commandText, "t p");
}
