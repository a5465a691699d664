// The prompt matcher: prompts found across block boundaries, the awaiting-login
// flag, the password request, the cancel reply and the access codes.
#include "terminal/PromptMatcher.h"

#include <gtest/gtest.h>

#include <future>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

struct Recorder {
    int asks = 0;
    std::string replies;
    bool connected = true;

    PromptMatcher::Callbacks Callbacks() {
        PromptMatcher::Callbacks cb;
        cb.askPassword = [this] { ++asks; };
        cb.anyLinkConnected = [this] { return connected; };
        cb.sendReply = [this](const char* b, int n) { replies.append(b, static_cast<size_t>(n)); };
        return cb;
    }
};

} // namespace

TEST(PromptMatcher, BlocksAndTheirReactions) {
    struct Case {
        const char* name;
        std::vector<std::string> blocks;
        int asks;
        bool awaiting;
        std::string replies;
    } cases[] = {
        {"password split over two blocks asks once", {"PASS", "WORD:"}, 1, true, ""},
        {"a doubled first letter is not a new start", {"PPASSWORD:"}, 0, true, ""},
        {"banner and prompt in one read", {"Maintenance Utility...\r\nPASSWORD:"}, 1, true, ""},
        {"prompt then cancel in one block: no reply", {"PASSWORD:\r\nCanceled!"}, 1, true, ""},
        {"cancel while awaiting login replies once", {"\r\nCanceled!\r\n"}, 0, true, "\r"},
        {"cancel split across blocks", {"Cance", "led!"}, 0, true, "\r"},
        {"cancel after a command prompt is ignored", {"maint>", "Canceled!"}, 0, false, ""},
        {"monitor prompt ends the login stage", {"x\r\nmon>"}, 0, false, ""},
        {"banner starts the login stage again", {"mon>", "Utility..."}, 0, true, ""},
        {"prompt split three ways", {"ma", "in", "t>"}, 0, false, ""},
        {"case matters", {"password:", "MAINT>"}, 0, true, ""},
        {"two cancels in two blocks", {"Canceled!", "Canceled!"}, 0, true, "\r\r"},
        {"two cancels in one block reply once", {"Canceled!Canceled!"}, 0, true, "\r"},
        {"a prompt ends and a new one starts in one block",
         {"PASSWORD:velmod\r\nmaint>"}, 1, false, ""},
        {"a storm of prompts asks once", {Repeat("PASSWORD:", 1000)}, 1, true, ""},
        {"repeats over later blocks ask once", {"PASSWORD:\r\n", Repeat("PASSWORD: \r\n", 300), "PASS", "WORD:"}, 1, true, ""},
        {"the prompt after a refusal asks again", {"PASSWORD:", "\r\nAccess denied.\r\nPASSWORD:"}, 2, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        PromptMatcher m(r.Callbacks());
        for (const std::string& b : c.blocks) m.HandleBlock(b.c_str());
        EXPECT_EQ(r.asks, c.asks);
        EXPECT_EQ(m.AwaitingLogin(), c.awaiting);
        EXPECT_EQ(r.replies, c.replies);
    }
}

TEST(PromptMatcher, CountersCarryAcrossBlocksAndResetOnMismatch) {
    Recorder r;
    PromptMatcher m(r.Callbacks());
    m.HandleBlock("xPASS");
    EXPECT_EQ(m.Progress(1), 4);
    m.HandleBlock("mai");
    EXPECT_EQ(m.Progress(1), 0) << "the mismatch resets the password counter";
    EXPECT_EQ(m.Progress(2), 3);
    m.HandleBlock("nt>");
    EXPECT_EQ(m.Progress(2), 0) << "a completed prompt starts over";
    EXPECT_FALSE(m.AwaitingLogin());
    m.HandleBlock("Cancel");
    EXPECT_EQ(m.Progress(4), 0) << "the cancel text is not watched after a command prompt";
    EXPECT_EQ(m.Progress(-1), 0);
    EXPECT_EQ(m.Progress(5), 0);
}

TEST(PromptMatcher, NoReplyWithoutALinkAndNoRequestWhileLoading) {
    Recorder r;
    r.connected = false;
    PromptMatcher m(r.Callbacks());
    m.HandleBlock("Canceled!");
    EXPECT_EQ(r.replies, "");
    m.HandleBlock("PASSWORD:", /*loading=*/true);
    EXPECT_EQ(r.asks, 0);
    EXPECT_TRUE(m.AwaitingLogin());

    PromptMatcher bare;  // no callbacks wired yet
    bare.HandleBlock("PASSWORD:Canceled!");
    bare.HandleBlock(nullptr);
    EXPECT_TRUE(bare.AwaitingLogin());
}

TEST(PromptMatcher, TheTextEndsAtItsFirstNul) {
    Recorder r;
    PromptMatcher m(r.Callbacks());
    const char block[] = "PASS\0WORD:";
    m.HandleBlock(block);
    EXPECT_EQ(r.asks, 0);
    EXPECT_EQ(m.Progress(1), 4);
}

TEST(PromptMatcher, ThePasswordRequestRunsWithoutThePromptLock) {
    PromptMatcher m;
    PromptMatcher::Callbacks cb;
    int progressSeen = -1;
    // A request that waits for the user may see more text arrive meanwhile (another
    // thread touching the matcher); it must not find the matcher locked.
    cb.askPassword = [&] {
        auto other = std::async(std::launch::async, [&] { return m.Progress(1); });
        if (other.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
            progressSeen = other.get();
    };
    m.SetCallbacks(cb);
    m.HandleBlock("PASSWORD:");
    EXPECT_EQ(progressSeen, 0);

    // Text handled while the dialog is open (its nested event loop) opens no second one.
    PromptMatcher nested;
    int asks = 0;
    cb.askPassword = [&] {
        if (++asks == 1) nested.HandleBlock("maint>\r\nPASSWORD:");
    };
    nested.SetCallbacks(cb);
    nested.HandleBlock("PASSWORD:");
    EXPECT_EQ(asks, 1);
    EXPECT_TRUE(nested.AwaitingLogin()) << "the absorbed prompt still marks the login stage";
}

// A run of text handed over as one block of characters reacts exactly as the same
// text one byte at a time: prompts, requests, cancel replies and counters, whatever
// mix of prompt fragments, near misses and ordinary text it holds.
TEST(PromptMatcher, ARunReactsAsItsBytesOneByOne) {
    const std::vector<std::string> pieces = {"Canceled!", "Cancel", "CC", "PASSWORD:", "PASS", "maint>",
                                             "mon>", "mm", "tility...", "tt", "  ", "\r\n", "plain text "};
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::string text;
        for (int k = 0; k < 60; ++k) text += pieces[rng() % pieces.size()];
        Recorder run, bytes;
        PromptMatcher a(run.Callbacks()), b(bytes.Callbacks());
        a.HandleBlock(text, false, true);
        for (char c : text) b.HandleBlock(std::string_view(&c, 1), false, false);
        ASSERT_EQ(run.asks, bytes.asks) << text;
        ASSERT_EQ(run.replies, bytes.replies) << text;
        ASSERT_EQ(a.AwaitingLogin(), b.AwaitingLogin()) << text;
        for (int w = 0; w < 5; ++w) ASSERT_EQ(a.Progress(w), b.Progress(w)) << text;
    }
}

TEST(PromptMatcher, AccessCodes) {
    PromptMatcher m;
    EXPECT_EQ(m.Access(), AccessMode::None);
    struct Step {
        const char* typed;
        AccessMode after;
    } steps[] = {
        {"quarth", AccessMode::Monitor},     {"wrong", AccessMode::Monitor},
        {"velmod", AccessMode::Maintenance}, {"Quarth", AccessMode::Maintenance},
        {"quarth ", AccessMode::Maintenance}, {"quarth", AccessMode::Monitor},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.typed);
        EXPECT_EQ(m.ApplyPassword(s.typed), s.after);
        EXPECT_EQ(m.Access(), s.after);
    }
    m.ClearAccess();
    EXPECT_EQ(m.Access(), AccessMode::None);

    EXPECT_EQ(PromptMatcher::TrimPassword("  velmod\t\r\n"), "velmod");
    EXPECT_EQ(PromptMatcher::TrimPassword("a b"), "a b");
    EXPECT_EQ(PromptMatcher::TrimPassword(" \t "), "");
}

// After an answer a bare repeat of the prompt is absorbed only within a fixed window
// (repeats do not stretch it); an absorbed prompt that the text then settles on asks
// again, one dialog at a time; text after it (the switch went on) asks nothing.
TEST(PromptMatcher, RepeatsAfterAnAnswerAreAbsorbedBriefly) {
    using namespace std::chrono_literals;
    PromptMatcher::Clock::time_point now{};
    Recorder r;
    int absorbed = 0;
    PromptMatcher::Callbacks cb = r.Callbacks();
    cb.promptAbsorbed = [&] { ++absorbed; };
    PromptMatcher m(cb);
    m.SetClock([&] { return now; });

    // A refused password answered with a bare prompt at once: asked again once settled.
    m.HandleBlock("PASSWORD:");
    now += 100ms;
    m.HandleBlock("\r\nPASSWORD:");
    EXPECT_EQ(r.asks, 1);
    EXPECT_EQ(absorbed, 1);
    now += 500ms;
    EXPECT_GT(m.AskIfSettled(), 0) << "not quiet long enough yet";
    EXPECT_EQ(r.asks, 1);
    now += PromptMatcher::kSettle;
    EXPECT_EQ(m.AskIfSettled(), 0);
    EXPECT_EQ(r.asks, 2);
    EXPECT_EQ(m.AskIfSettled(), 0);
    EXPECT_EQ(r.asks, 2) << "one dialog for the settled prompt";

    // Repeats keep coming: the window still ends where it began.
    now += 500ms;
    m.HandleBlock("\r\nPASSWORD: ");
    now += 1000ms;
    m.HandleBlock("\r\nPASSWORD: ");
    EXPECT_EQ(r.asks, 2);
    now += 600ms;  // 2.1 s after the answer
    m.HandleBlock("\r\nPASSWORD:");
    EXPECT_EQ(r.asks, 3);

    // The switch went on after the absorbed repeat: it was answered, nothing to ask.
    now += 100ms;
    m.HandleBlock("\r\nPASSWORD:");
    m.HandleBlock("\r\nmaint>");
    now += PromptMatcher::kSettle * 2;
    EXPECT_EQ(m.AskIfSettled(), 0);
    EXPECT_EQ(r.asks, 3);
    EXPECT_FALSE(m.AwaitingLogin());
}
