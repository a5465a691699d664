// Byte scripts through the Telnet machines: what is shown, what is answered, and how.
#include <gtest/gtest.h>

#include <random>

#include "terminal/PromptMatcher.h"
#include "terminal/TelnetEscape.h"
#include "tests/terminal/TelnetTestSupport.h"

using namespace Telnet;

namespace {

const std::string kTtypeReply = Bytes({kIac, kSb, kOptTerminalType, kTerminalTypeIs}) + "VT100" +
                                Bytes({kIac, kSe});

struct Script {
    const char* name;
    std::string input;
    std::string shown;
    std::string replies;
    std::vector<int> writeSizes;
};

std::vector<Script> GoldenScripts()
{
    const int I = kIac;
    return {
        {"plain text", "PASSWORD:", "PASSWORD:", "", {}},
        {"eight-bit data", Bytes({0x80, 0xe9, 0xfe}), Bytes({0x80, 0xe9, 0xfe}), "", {}},
        {"zero byte shows nothing", std::string("a\0b", 3), "ab", "", {}},
        {"escaped 255", Bytes({I, I}) + "x", Bytes({0xff}) + "x", "", {}},
        {"nop dm and others show nothing",
         "a" + Bytes({I, kNop}) + "b" + Bytes({I, kDm}) + "c" + Bytes({I, 249}) + "d" + Bytes({I, kSe}) + "e",
         "abcde", "", {}},
        {"command byte eats a plain byte", Bytes({I}) + "ab", "b", "", {}},
        {"do terminal type", Bytes({I, kDo, kOptTerminalType}),
         "", Bytes({I, kWill, kOptTerminalType}), {1, 1, 1}},
        {"terminal type send",
         Bytes({I, kDo, 24, I, kSb, 24, kTerminalTypeSend, I, kSe}) + "ok",
         "ok", Bytes({I, kWill, 24}) + kTtypeReply, {1, 1, 1, 11}},
        {"repeated do terminal type answered once",
         Bytes({I, kDo, 24, I, kDo, 24}), "", Bytes({I, kWill, 24}), {1, 1, 1}},
        {"dont terminal type withdraws", Bytes({I, kDo, 24, I, kDont, 24, I, kDont, 24}),
         "", Bytes({I, kWill, 24, I, kWont, 24}), {1, 1, 1, 1, 1, 1}},
        {"dont terminal type fresh unanswered", Bytes({I, kDont, 24}), "", "", {}},
        {"send without agreement still named", Bytes({I, kSb, 24, 1, I, kSe}), "", kTtypeReply, {11}},
        {"terminal type is ignored", Bytes({I, kSb, 24, kTerminalTypeIs}) + "X" + Bytes({I, kSe}), "", "", {}},
        {"second send byte not answered twice", Bytes({I, kSb, 24, 1, 1, I, kSe}), "", kTtypeReply, {11}},
        {"will echo then repeat then wont",
         Bytes({I, kWill, kOptEcho, I, kWill, kOptEcho, I, kWont, kOptEcho, I, kWont, kOptEcho}), "",
         Bytes({I, kDo, 1, I, kDont, 1}), {1, 1, 1, 1, 1, 1}},
        {"wont echo fresh unanswered", Bytes({I, kWont, kOptEcho}), "", "", {}},
        {"will suppress go-ahead every time",
         Bytes({I, kWill, 3, I, kWill, 3, I, kWont, 3}), "",
         Bytes({I, kDont, 3, I, kDont, 3}), {1, 1, 1, 1, 1, 1}},
        {"other will refused", Bytes({I, kWill, 5}), "", Bytes({I, kDont, 5}), {3}},
        {"other wont refused too", Bytes({I, kWont, 31}), "", Bytes({I, kDont, 31}), {3}},
        {"do echo refused", Bytes({I, kDo, kOptEcho}), "", Bytes({I, kWont, 1}), {3}},
        {"do suppress go-ahead refused", Bytes({I, kDo, 3}), "", Bytes({I, kWont, 3}), {3}},
        {"will terminal type refused", Bytes({I, kWill, 24}), "", Bytes({I, kDont, 24}), {3}},
        {"dont other refused", Bytes({I, kDont, 32}), "", Bytes({I, kWont, 32}), {3}},
        {"option 255", Bytes({I, kDo, 255}) + "z", "z", Bytes({I, kWont, 255}), {3}},
        {"transmit binary ignored",
         Bytes({I, kWill, 0, I, kWont, 0, I, kDo, 0, I, kDont, 0}) + "q", "q", "", {}},
        {"other subnegotiation ignored to its end",
         Bytes({I, kSb, 31, 0, 80, 0, 24}) + "text" + Bytes({I, kSe}) + "ok", "ok", "", {}},
        {"send byte of another option ignored", Bytes({I, kSb, 32, 1, I, kSe}), "", "", {}},
        {"iac inside subnegotiation keeps it open",
         Bytes({I, kSb, 99, I}) + "q" + Bytes({I, I}) + "r" + Bytes({I, kSe}) + "s", "s", "", {}},
        {"escaped 255 ends terminal type subnegotiation", Bytes({I, kSb, 24, I, I, 1, I, kSe}), "", "", {}},
        {"suboption restarts after each end",
         Bytes({I, kSb, 99, I, kSe, I, kSb, 24, 1, I, kSe}), "", kTtypeReply, {11}},
        {"se without sb is ignored", Bytes({I, kSe}) + "ab" + Bytes({I, kSe, I, kSe}) + "c", "abc", "", {}},
        {"data around negotiation",
         "ab" + Bytes({I, kWill, 1}) + "cd" + Bytes({I, kDo, 9}) + "ef", "abcdef",
         Bytes({I, kDo, 1, I, kWont, 9}), {1, 1, 1, 3}},
    };
}

}  // namespace

TEST(TelnetStream, TablesDefineEveryStateAndByte)
{
    TelnetHarness h;
    EXPECT_TRUE(h.stream.TablesComplete());
}

TEST(TelnetStream, GoldenScripts)
{
    for (const Script& s : GoldenScripts()) {
        SCOPED_TRACE(s.name);
        TelnetHarness h;
        h.Feed(s.input);
        EXPECT_EQ(h.sink.shown, s.shown);
        EXPECT_EQ(h.Replies(), s.replies);
        EXPECT_EQ(h.WriteSizes(), s.writeSizes);
        EXPECT_EQ(h.sink.badLengths, 0);
    }
}

// Blocks can end anywhere: the machines must carry their state from one Feed to the next.
TEST(TelnetStream, GoldenScriptsSplitAnywhere)
{
    for (const Script& s : GoldenScripts()) {
        for (std::size_t cut = 0; cut <= s.input.size(); ++cut) {
            SCOPED_TRACE(std::string(s.name) + " cut at " + std::to_string(cut));
            TelnetHarness h;
            h.Feed(s.input.substr(0, cut));
            h.Feed(s.input.substr(cut));
            EXPECT_EQ(h.sink.shown, s.shown);
            EXPECT_EQ(h.Replies(), s.replies);
        }
        TelnetHarness one;
        for (char c : s.input)
            one.Feed(std::string(1, c));
        EXPECT_EQ(one.sink.shown, s.shown) << s.name;
        EXPECT_EQ(one.Replies(), s.replies) << s.name;
    }
}

TEST(TelnetStream, DataRunsArriveWholeAndZeroBytesShowNothing)
{
    TelnetHarness h;
    h.Feed(std::string("ma\0int>", 7) + Bytes({kIac, kIac}) + "xy");
    // "ma", then "int>", the escaped 255 and "xy" as one run: the zero byte splits a
    // run and is dropped, an escaped 255 does not split it.
    EXPECT_EQ(h.sink.blocks, 2);
    EXPECT_EQ(h.sink.badLengths, 0);
    EXPECT_EQ(h.sink.shown, "maint>\xffxy");

    // Runs longer than a block, 255s and text mixed: every byte in order.
    TelnetHarness big;
    std::string in, shown;
    for (int i = 0; i < 3000; ++i) {
        in += Bytes({kIac, kIac}) + std::string(i % 7, 'a');
        shown += "\xff" + std::string(i % 7, 'a');
    }
    big.Feed(in + Bytes({kIac, kNop}) + "z");
    EXPECT_EQ(big.sink.shown, shown + "z");
    EXPECT_LT(big.sink.blocks, 10);
}

// A stream whose data feeds a prompt matcher, as the frame wires them: one log of every
// reply and every prompt reaction, in order, and the bytes shown.
struct MatchedStream : ReceiveSink {
    std::string shown;
    std::string log;  // 'R' + reply, 'P' password asked, 'C' cancel reply
    PromptMatcher matcher;
    TelnetStream stream{[this](const char* p, int n) {
                            log += 'R' + std::string(p, static_cast<std::size_t>(n));
                            return n;
                        },
                        this};
    MatchedStream()
    {
        PromptMatcher::Callbacks cb;
        cb.askPassword = [this] { log += 'P'; };
        cb.anyLinkConnected = [] { return true; };
        cb.sendReply = [this](const char*, int) { log += 'C'; };
        matcher.SetCallbacks(std::move(cb));
    }
    void AppendReceived(const char* text, int length) override
    {
        shown.append(text, static_cast<std::size_t>(length));
        matcher.HandleBlock(std::string_view(text, static_cast<std::size_t>(length)), false,
                            TelnetStream::DeliveringData());
    }
};

// Runs must change nothing the receiver can tell: same bytes, replies, prompt reactions
// and matcher state as the stream fed one byte per call.
TEST(TelnetStream, DataRunsMatchByteAtATimeForAnySplit)
{
    const std::string pieces[] = {"PASSWORD:", "PASS", "Canceled!", "Cance", "maint>", "mon>",
                                  "tility...", "\r\n", std::string(1, '\0'), "xyz",
                                  Bytes({kIac, kIac}), Bytes({kIac, kDo, 24}),
                                  Bytes({kIac, kSb, 24, 1, kIac, kSe}), Bytes({kIac, kWill, 1}),
                                  Bytes({kIac, kWont, 1}), Bytes({kIac, kNop}), Bytes({kIac})};
    std::mt19937 rng(20240611);
    for (int round = 0; round < 400; ++round) {
        std::string in;
        const int count = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < count; ++i)
            in += pieces[rng() % std::size(pieces)];
        MatchedStream bytewise, split;
        for (char c : in)
            bytewise.stream.Feed(&c, 1);
        for (std::size_t at = 0; at < in.size();) {
            const std::size_t n = std::min<std::size_t>(in.size() - at, 1 + rng() % 64);
            split.stream.Feed(in.data() + at, static_cast<int>(n));
            at += n;
        }
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(split.shown, bytewise.shown);
        ASSERT_EQ(split.log, bytewise.log);
        ASSERT_EQ(split.matcher.AwaitingLogin(), bytewise.matcher.AwaitingLogin());
        for (int w = 0; w < 5; ++w)
            ASSERT_EQ(split.matcher.Progress(w), bytewise.matcher.Progress(w));
    }
}

// Every option value through each verb from a fresh stream: catches a misbuilt table row.
TEST(TelnetStream, EveryOptionAnsweredByItsRule)
{
    for (int option = 0; option < 256; ++option) {
        SCOPED_TRACE(option);
        const auto o = static_cast<unsigned char>(option);
        struct Case {
            unsigned char verb;
            std::string expected;
        };
        const Case cases[] = {
            {kWill, option == kOptEcho ? Bytes({kIac, kDo, o})
                    : option == kOptSuppressGoAhead ? Bytes({kIac, kDont, o})
                    : option == kOptTransmitBinary ? ""
                                                   : Bytes({kIac, kDont, o})},
            {kWont, option == kOptEcho || option == kOptSuppressGoAhead || option == kOptTransmitBinary
                        ? ""
                        : Bytes({kIac, kDont, o})},
            {kDo, option == kOptTerminalType ? Bytes({kIac, kWill, o})
                  : option == kOptTransmitBinary ? ""
                                                 : Bytes({kIac, kWont, o})},
            {kDont, option == kOptTerminalType || option == kOptTransmitBinary ? ""
                                                                              : Bytes({kIac, kWont, o})},
        };
        for (const Case& c : cases) {
            TelnetHarness h;
            h.Feed(Bytes({kIac, c.verb, o}) + "x");
            EXPECT_EQ(h.Replies(), c.expected) << "verb " << int(c.verb);
            EXPECT_EQ(h.sink.shown, "x") << "verb " << int(c.verb);
        }
    }
}

// IAC followed by each byte, then a plain byte: only the escape shows, only the verbs and
// SB take the following byte with them.
TEST(TelnetStream, EveryCommandByte)
{
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        TelnetHarness h;
        h.Feed(Bytes({kIac, b}) + "x");
        std::string expected = "x";
        if (b == kIac)
            expected = "\xffx";
        else if (b == kSb || b == kWill || b == kWont || b == kDo || b == kDont)
            expected = "";
        EXPECT_EQ(h.sink.shown, expected);
    }
}

TEST(TelnetStream, SendAnsweredBeforeSubnegotiationEnds)
{
    TelnetHarness h;
    h.Feed(Bytes({kIac, kSb, 24, 1}));
    EXPECT_EQ(h.Replies(), kTtypeReply);
    EXPECT_EQ(h.stream.inputState(), TelnetStream::InputState::Subnegotiation);
    h.Feed(Bytes({kIac, kSe}) + "A");
    EXPECT_EQ(h.sink.shown, "A");
    EXPECT_EQ(h.stream.suboptionState(), TelnetStream::SuboptionState::Start);
}

// ---- connections ------------------------------------------------------------------------

TEST(TelnetStream, SecondConnectionNegotiatesFreshly)
{
    const std::string offer = Bytes({kIac, kWill, kOptEcho, kIac, kDo, kOptTerminalType});
    const std::string answer = Bytes({kIac, kDo, kOptEcho, kIac, kWill, kOptTerminalType});
    TelnetHarness h;
    h.stream.Reset();
    h.Feed(offer);
    EXPECT_EQ(h.Replies(), answer);
    EXPECT_TRUE(h.stream.remoteEcho());
    EXPECT_TRUE(h.stream.terminalTypeAgreed());

    h.Clear();
    h.stream.Reset();
    EXPECT_FALSE(h.stream.remoteEcho());
    EXPECT_FALSE(h.stream.terminalTypeAgreed());
    h.Feed(offer);
    EXPECT_EQ(h.Replies(), answer);
}

TEST(TelnetStream, StreamCutInsideCommandDoesNotReachNextConnection)
{
    struct Cut {
        const char* name;
        std::string tail;
    };
    const Cut cuts[] = {
        {"lone iac", Bytes({kIac})},
        {"after verb", Bytes({kIac, kWill})},
        {"inside subnegotiation", Bytes({kIac, kSb, 31, 1, 2})},
        {"iac inside subnegotiation", Bytes({kIac, kSb, 24, kIac})},
        {"terminal type pending", Bytes({kIac, kSb, 24})},
    };
    for (const Cut& c : cuts) {
        SCOPED_TRACE(c.name);
        TelnetHarness h;
        h.Feed("old" + c.tail);
        h.Clear();
        h.stream.Reset();
        EXPECT_EQ(h.stream.inputState(), TelnetStream::InputState::Data);
        EXPECT_EQ(h.stream.suboptionState(), TelnetStream::SuboptionState::Start);
        h.Feed("banner" + Bytes({kIac, kSb, 24, 1, kIac, kSe}));
        EXPECT_EQ(h.sink.shown, "banner");
        EXPECT_EQ(h.Replies(), kTtypeReply);
    }
}

// ---- nested feeding ---------------------------------------------------------------------

namespace {
// A sink that acts at one byte, as a dialog's nested event loop would.
struct NestingSink : RecordingSink {
    char trigger = 0;
    std::function<void()> onTrigger;
    void AppendReceived(const char* text, int length) override
    {
        RecordingSink::AppendReceived(text, length);
        // After the block holding the trigger, as a run ends there at the latest.
        if (std::memchr(text, trigger, static_cast<std::size_t>(length)) && onTrigger) {
            auto f = std::move(onTrigger);
            onTrigger = nullptr;
            f();
        }
    }
};
}  // namespace

TEST(TelnetStream, FeedFromInsideTheSinkKeepsStreamOrder)
{
    NestingSink sink;
    std::string replies;
    TelnetStream stream([&](const char* p, int n) { replies.append(p, n); return n; }, &sink);
    sink.trigger = ':';
    // The nested block continues the command that the outer block ends with.
    sink.onTrigger = [&] { stream.Feed(Bytes({kNop, 'X', kIac, kWill, kOptEcho, 'Y'}).data(), 6); };
    const std::string first = "PASSWORD: " + Bytes({kIac});
    stream.Feed(first.data(), static_cast<int>(first.size()));
    stream.Feed("Z", 1);
    EXPECT_EQ(sink.shown, "PASSWORD: XYZ");
    EXPECT_EQ(replies, Bytes({kIac, kDo, kOptEcho}));
}

TEST(TelnetStream, ResetFromInsideTheSinkDropsTheOldConnectionsRest)
{
    NestingSink sink;
    std::string replies;
    TelnetStream stream([&](const char* p, int n) { replies.append(p, n); return n; }, &sink);
    sink.trigger = '!';
    sink.onTrigger = [&] { stream.Reset(); };
    const std::string old = "bye!" + Bytes({kIac, kWill, kOptEcho}) + "tail";
    stream.Feed(old.data(), static_cast<int>(old.size()));
    EXPECT_EQ(sink.shown, "bye!");
    EXPECT_EQ(stream.inputState(), TelnetStream::InputState::Data);
    const std::string fresh = Bytes({kIac, kWill, kOptEcho}) + "new";
    stream.Feed(fresh.data(), static_cast<int>(fresh.size()));
    EXPECT_EQ(sink.shown, "bye!new");
    EXPECT_EQ(replies, Bytes({kIac, kDo, kOptEcho}));
}

TEST(TelnetStream, ResetFromInsideTheWriterKeepsTheFreshState)
{
    RecordingSink sink;
    TelnetStream* self = nullptr;
    TelnetStream stream([&](const char*, int n) { self->Reset(); return n; }, &sink);
    self = &stream;
    stream.Feed(Bytes({kIac, kSb, 24, 1}).data(), 4);
    EXPECT_EQ(stream.inputState(), TelnetStream::InputState::Data);
    EXPECT_EQ(stream.suboptionState(), TelnetStream::SuboptionState::Start);

    // A reset during a three-byte reply: nothing more of that reply reaches the writer.
    std::string written;
    TelnetStream one([&](const char* p, int n) {
        written.append(p, static_cast<std::size_t>(n));
        self->Reset();
        return n;
    }, &sink);
    self = &one;
    one.Feed(Bytes({kIac, kWill, kOptEcho}).data(), 3);
    EXPECT_EQ(written, Bytes({kIac}));
    EXPECT_FALSE(one.remoteEcho());
}

TEST(TelnetStream, MissingSinkOrWriterOrBytesIsHarmless)
{
    TelnetStream stream(nullptr, nullptr);
    const std::string in = "a" + Bytes({kIac, kDo, 24, kIac, kSb, 24, 1, kIac, kSe, kIac, kWill, 1});
    stream.Feed(in.data(), static_cast<int>(in.size()));
    stream.Feed(static_cast<const char*>(nullptr), 5);
    stream.Feed("x", -3);
    EXPECT_TRUE(stream.terminalTypeAgreed());

    TelnetHarness h;
    h.stream.Feed("abc", 0);
    h.stream.Feed("abc", -1);
    EXPECT_EQ(h.sink.blocks, 0);
}

// ---- outgoing text ----------------------------------------------------------------------

TEST(DoubleIac, DoublesEvery255AndNothingElse)
{
    struct Case {
        const char* name;
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"plain", "x\r", "x\r"},
        {"single", Bytes({255}), Bytes({255, 255})},
        {"run", "a" + Bytes({255, 255}) + "b", "a" + Bytes({255, 255, 255, 255}) + "b"},
        {"zero kept", std::string("a\0", 2) + Bytes({255}), std::string("a\0", 2) + Bytes({255, 255})},
        {"near values", Bytes({254, 240, 250}), Bytes({254, 240, 250})},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DoubleIac(c.in.data(), static_cast<int>(c.in.size())), c.out) << c.name;
    EXPECT_EQ(DoubleIac(nullptr, 4), "");
    EXPECT_EQ(DoubleIac("abc", -1), "");
    EXPECT_EQ(DoubleIac("abc", 2), "ab");
}

// What the program sends, once doubled, is what a Telnet peer reads back as data.
TEST(DoubleIac, PeerReadsTheOriginalText)
{
    std::string text;
    for (int b = 1; b < 256; ++b)
        text.push_back(static_cast<char>(b));
    text += Bytes({255, 255, 255});
    const std::string wire = DoubleIac(text.data(), static_cast<int>(text.size()));
    TelnetHarness h;
    h.Feed(wire);
    EXPECT_EQ(h.sink.shown, text);
    EXPECT_EQ(h.Replies(), "");
}
