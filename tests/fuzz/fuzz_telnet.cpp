// The Telnet machine against a reference decoder written here from the protocol rules:
// the same shown text and the same replies whether a stream is fed whole, a byte at a
// time, in random blocks, or partly from inside the sink and the writer (as a nested
// event loop would); a reset from inside them ends that stream at once and leaves a
// machine that decodes the next stream afresh. Fed whole, each run of data bytes
// reaches the sink in one block; no block is empty or holds a NUL.
#include "terminal/TelnetStream.h"
#include "tests/fuzz/FuzzInput.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {
struct Decoded {
    std::string shown;
    std::string replies;
    std::vector<std::string> runs;  // the data cut at every command, NUL and escaped 255
};

Decoded Reference(const std::string& in) {
    Decoded d;
    enum { Text, Iac, WillWont, DoDont, Sub, SubIac } st = Text;
    enum { SubStart, SubType, SubEnd } sub = SubStart;
    unsigned char verb = 0;
    bool echo = false, ttype = false;
    auto reply = [&](unsigned char a, unsigned char b, unsigned char c) {
        d.replies += static_cast<char>(a);
        d.replies += static_cast<char>(b);
        d.replies += static_cast<char>(c);
    };
    bool inRun = false;  // the last byte read was shown data
    for (unsigned char b : in) {
        const bool wasInRun = std::exchange(inRun, false);
        switch (st) {
        case Text:
            if (b == 255) st = Iac;
            else if (b != 0) {
                d.shown += static_cast<char>(b);
                if (!wasInRun) d.runs.emplace_back();
                d.runs.back() += static_cast<char>(b);
                inRun = true;
            }
            break;
        case Iac:
            st = Text;
            if (b == 255) {
                d.shown += '\xff';
                d.runs.emplace_back("\xff");  // the finest cut: an escaped 255 on its own
            }
            else if (b == 250) st = Sub;
            else if (b == 251 || b == 252) { verb = b; st = WillWont; }
            else if (b == 253 || b == 254) { verb = b; st = DoDont; }
            break;
        case WillWont:
            st = Text;
            if (b == 1) {
                const bool want = verb == 251;
                if (want != echo) { echo = want; reply(255, echo ? 253 : 254, 1); }
            } else if (b == 3) {
                if (verb == 251) reply(255, 254, 3);
            } else if (b != 0) {
                reply(255, 254, b);
            }
            break;
        case DoDont:
            st = Text;
            if (b == 24) {
                const bool want = verb == 253;
                if (want != ttype) { ttype = want; reply(255, ttype ? 251 : 252, 24); }
            } else if (b != 0) {
                reply(255, 252, b);
            }
            break;
        case Sub:
        case SubIac:
            if (st == Sub && b == 255) { st = SubIac; break; }
            if (st == SubIac && b == 240) { st = Text; sub = SubStart; break; }
            st = Sub;
            if (sub == SubStart) sub = b == 24 ? SubType : SubEnd;
            else if (sub == SubType) {
                if (b == 1) d.replies += std::string("\xff\xfa\x18\x00VT100\xff\xf0", 11);
                sub = SubEnd;
            }
            break;
        }
    }
    return d;
}

// The machine's contact with its sink and writer: kept here, in one place. A hook
// runs at the hook-th call (of the sink or the writer, whichever comes).
struct Rig : ReceiveSink {
    TelnetStream stream{nullptr, nullptr};
    Decoded got;
    std::function<void()> hook;
    size_t hookAt = 0;
    size_t calls = 0;
    int depth = 0;
    Rig() {
        stream.SetSink(this);
        stream.SetWriter([this](const char* b, int n) {
            FUZZ_CHECK(n > 0 && !TelnetStream::DeliveringData());
            got.replies.append(b, static_cast<size_t>(n));
            Called();
            return n;
        });
        stream.Reset();
    }
    void AppendReceived(const char* text, int length) override {
        FUZZ_CHECK(length > 0 && !std::memchr(text, 0, static_cast<size_t>(length)));
        FUZZ_CHECK(TelnetStream::DeliveringData());
        got.shown.append(text, static_cast<size_t>(length));
        got.runs.emplace_back(text, static_cast<size_t>(length));
        Called();
    }
    void Called() {
        ++calls;
        if (hook && hookAt-- == 0) std::exchange(hook, nullptr)();
    }
    void Feed(const std::string& s) {
        ++depth;
        stream.Feed(s.data(), static_cast<int>(s.size()));
        if (--depth == 0) FUZZ_CHECK(!TelnetStream::DeliveringData());
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint32_t seed = in.Byte() | (in.Byte() << 8);
    const std::string text = in.Rest();
    const Decoded expected = Reference(text);

    Rig whole;
    whole.Feed(text);
    FUZZ_CHECK(whole.got.shown == expected.shown && whole.got.replies == expected.replies);
    // Runs may be joined across escaped 255s (in blocks of bounded size), never cut finer
    // than at each command, NUL or escaped 255.
    FUZZ_CHECK(whole.got.runs.size() <= expected.runs.size());

    Rig bytes;
    for (char c : text) bytes.Feed(std::string(1, c));
    FUZZ_CHECK(bytes.got.shown == expected.shown && bytes.got.replies == expected.replies);
    FUZZ_CHECK(bytes.got.runs.size() == expected.shown.size());

    SplitRng rng(seed);
    Rig blocks;
    for (size_t at = 0; at < text.size();) {
        const size_t n = 1 + rng.Below(text.size() - at);
        const std::string block = text.substr(at, n);
        at += n;
        // Every other block comes in from inside the sink or the writer, when one is
        // called; it is then run after the block in hand, so the order stays.
        if (rng.Below(2) && at < text.size()) {
            const size_t m = 1 + rng.Below(text.size() - at);
            const std::string inner = text.substr(at, m);
            at += m;
            bool fed = false;
            blocks.hook = [&, inner] {
                fed = true;
                blocks.Feed(inner);
            };
            blocks.hookAt = rng.Below(4);
            blocks.Feed(block);
            blocks.hook = nullptr;
            if (!fed) blocks.Feed(inner);
        } else {
            blocks.Feed(block);
        }
    }
    FUZZ_CHECK(blocks.got.shown == expected.shown && blocks.got.replies == expected.replies);

    // A reset from inside the sink or the writer (a disconnect in a nested loop) ends
    // the old stream there; a new connection then decodes as if the machine were new.
    Rig reset;
    size_t resetAt = 0;
    reset.hook = [&] {
        reset.stream.Reset();
        resetAt = reset.calls;
    };
    reset.hookAt = rng.Below(4);
    reset.Feed(text);
    FUZZ_CHECK(reset.hook || reset.calls == resetAt);
    reset.got = {};
    reset.hook = nullptr;
    reset.stream.Reset();
    reset.Feed(text);
    FUZZ_CHECK(reset.got.shown == expected.shown && reset.got.replies == expected.replies);
    return 0;
}
