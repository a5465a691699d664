// A million random and adversarial Telnet streams, cut into random blocks, against a plain
// reference decoder: same shown bytes, same replies, no heap use while feeding.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>

#include "tests/terminal/TelnetTestSupport.h"

using namespace Telnet;

// ---- heap use while feeding -------------------------------------------------------------
namespace {
thread_local bool g_counting = false;
thread_local long g_allocations = 0;
}  // namespace

void* operator new(std::size_t size)
{
    if (g_counting)
        ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// ---- reference decoder ------------------------------------------------------------------
// Written straight from the protocol rules, with no tables, over the whole stream at once.
struct Reference {
    std::string shown;
    long dataBytes = 0;
    std::string replies;
    long writes = 0;

    void Decode(const std::string& in)
    {
        enum { Text, AfterIac, Option, Sub, SubAfterIac } mode = Text;
        int sub = 0;  // 0: nothing yet, 1: terminal type named, 2: done
        bool echo = false, ttype = false;
        unsigned char verb = 0;
        auto subByte = [&](unsigned char b) {
            if (sub == 0)
                sub = b == 24 ? 1 : 2;
            else if (sub == 1) {
                if (b == 1) {
                    replies += Bytes({255, 250, 24, 0}) + "VT100" + Bytes({255, 240});
                    ++writes;
                }
                sub = 2;
            }
        };
        auto three = [&](int a, int b, int c, bool oneByOne) {
            replies += Bytes({a, b, c});
            writes += oneByOne ? 3 : 1;
        };
        for (unsigned char b : in) {
            switch (mode) {
            case Text:
                if (b == 255)
                    mode = AfterIac;
                else {
                    ++dataBytes;
                    if (b)
                        shown.push_back(static_cast<char>(b));
                }
                break;
            case AfterIac:
                mode = Text;
                if (b == 255) {
                    ++dataBytes;
                    shown.push_back('\xff');
                } else if (b == 250)
                    mode = Sub;
                else if (b >= 251) {
                    verb = b;
                    mode = Option;
                }
                break;
            case Option: {
                mode = Text;
                const bool positive = verb == 251 || verb == 253;
                if (verb == 251 || verb == 252) {  // the peer's own option
                    if (b == 0) {
                    } else if (b == 1) {
                        if (positive != echo) {
                            echo = positive;
                            three(255, echo ? 253 : 254, 1, true);
                        }
                    } else if (b == 3) {
                        if (positive)
                            three(255, 254, 3, true);
                    } else
                        three(255, 254, b, false);
                } else {  // asked of us
                    if (b == 0) {
                    } else if (b == 24) {
                        if (positive != ttype) {
                            ttype = positive;
                            three(255, ttype ? 251 : 252, 24, true);
                        }
                    } else
                        three(255, 252, b, false);
                }
                break;
            }
            case Sub:
                if (b == 255)
                    mode = SubAfterIac;
                else
                    subByte(b);
                break;
            case SubAfterIac:
                if (b == 240) {
                    mode = Text;
                    sub = 0;
                } else {
                    mode = Sub;
                    subByte(b);
                }
                break;
            }
        }
    }
};

// ---- stream generators ------------------------------------------------------------------
class Generator {
public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    int Below(int n) { return static_cast<int>(rng_() % static_cast<std::uint64_t>(n)); }
    unsigned char AnyByte() { return static_cast<unsigned char>(rng_()); }

    unsigned char Interesting()
    {
        static const unsigned char kPool[] = {255, 255, 255, 254, 253, 252, 251, 250, 242, 241,
                                              240, 0, 1, 3, 24, 13, 10, 'a'};
        return kPool[Below(static_cast<int>(sizeof kPool))];
    }

    void Make(std::string& out)
    {
        out.clear();
        const int kind = Below(1000);
        if (kind < 2)
            LongSubnegotiation(out);
        else if (kind < 300)
            Uniform(out, Below(48));
        else if (kind < 600)
            Biased(out, Below(48));
        else
            Tokens(out);
    }

private:
    void Uniform(std::string& out, int n)
    {
        for (int i = 0; i < n; ++i)
            out.push_back(static_cast<char>(AnyByte()));
    }
    void Biased(std::string& out, int n)
    {
        for (int i = 0; i < n; ++i)
            out.push_back(static_cast<char>(Below(3) ? Interesting() : AnyByte()));
    }
    void Put(std::string& out, std::initializer_list<int> bytes) { out += Bytes(bytes); }
    unsigned char Option()
    {
        static const unsigned char kOptions[] = {0, 1, 3, 24, 24, 1, 255, 31};
        return Below(4) ? kOptions[Below(8)] : AnyByte();
    }
    void Tokens(std::string& out)
    {
        const int count = 1 + Below(8);
        for (int t = 0; t < count; ++t) {
            switch (Below(10)) {
            case 0: Uniform(out, Below(8)); break;
            case 1: out += "maint> "; break;
            case 2: Put(out, {255, 255}); break;
            case 3: Put(out, {255, 251 + Below(4), Option()}); break;
            case 4: Put(out, {255, 250, 24, 1, 255, 240}); break;
            case 5:  // subnegotiation with escapes and stray commands inside, maybe unterminated
                Put(out, {255, 250, Option()});
                Biased(out, Below(12));
                if (Below(4))
                    Put(out, {255, 240});
                break;
            case 6: Put(out, {255, 240}); break;  // SE without SB
            case 7: Put(out, {255, Below(3) ? 241 : 242}); break;
            case 8: Put(out, {255, static_cast<int>(AnyByte())}); break;
            case 9: Put(out, {255}); break;  // lone IAC
            }
        }
        if (Below(3) == 0)
            Put(out, {255});
    }
    void LongSubnegotiation(std::string& out)
    {
        Put(out, {255, 250, Below(2) ? 24 : static_cast<int>(AnyByte())});
        const int n = 1000 + Below(30000);
        for (int i = 0; i < n; ++i) {
            const unsigned char b = AnyByte();
            out.push_back(static_cast<char>(b == 255 && Below(2) ? 'q' : b));
            if (b == 255)
                out.push_back('\xff');  // keep it open: an escaped 255
        }
        if (Below(2))
            Put(out, {255, 240});
        out += "after";
    }

    std::mt19937_64 rng_;
};

constexpr std::size_t kMaxStream = 100000;

}  // namespace

TEST(TelnetFuzz, MillionStreamsMatchReference)
{
    constexpr long kStreams = 1000000;
    constexpr std::uint64_t kSeed = 0x5eed7e1e;
    Generator gen(kSeed);

    RecordingSink sink;
    std::string replies;
    long writes = 0;
    sink.shown.reserve(kMaxStream);
    replies.reserve(4 * kMaxStream);
    TelnetStream stream(
        [&](const char* p, int n) {
            replies.append(p, static_cast<std::size_t>(n));
            ++writes;
            return n;
        },
        &sink);

    std::string in;
    in.reserve(kMaxStream);
    Reference ref;
    ref.shown.reserve(kMaxStream);
    ref.replies.reserve(4 * kMaxStream);
    long totalBytes = 0, longest = 0, allocations = 0;
    const auto start = std::chrono::steady_clock::now();

    for (long s = 0; s < kStreams; ++s) {
        gen.Make(in);
        ASSERT_LE(in.size(), kMaxStream);
        totalBytes += static_cast<long>(in.size());
        longest = std::max(longest, static_cast<long>(in.size()));

        sink.shown.clear();
        sink.blocks = 0;
        replies.clear();
        writes = 0;
        stream.Reset();

        // Random blocks, often ending on an IAC so commands straddle block ends.
        const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
        std::size_t begin = 0;
        g_counting = true;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const bool end = i + 1 == in.size() || (bytes[i] == 255 && gen.Below(2)) || gen.Below(16) == 0;
            if (end) {
                stream.Feed(bytes + begin, i + 1 - begin);
                begin = i + 1;
            }
        }
        g_counting = false;
        allocations += g_allocations;
        g_allocations = 0;

        ref.shown.clear();
        ref.dataBytes = 0;
        ref.replies.clear();
        ref.writes = 0;
        ref.Decode(in);

        const bool same = sink.shown == ref.shown && sink.blocks <= ref.dataBytes &&
                          replies == ref.replies && writes == ref.writes && sink.badLengths == 0;
        if (!same) {
            std::string hex;
            for (std::size_t i = 0; i < std::min<std::size_t>(in.size(), 200); ++i) {
                char b[4];
                std::snprintf(b, sizeof b, "%02x ", bytes[i]);
                hex += b;
            }
            FAIL() << "stream " << s << " (" << in.size() << " bytes): " << hex << "\nshown "
                   << sink.shown.size() << " vs " << ref.shown.size() << ", blocks " << sink.blocks
                   << " vs " << ref.dataBytes << ", replies " << replies.size() << " vs "
                   << ref.replies.size() << ", writes " << writes << " vs " << ref.writes;
        }
    }
    EXPECT_EQ(allocations, 0) << "the machines allocated while feeding";

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ fuzz     ] %ld streams, %ld bytes (longest %ld), %.2f s\n", kStreams,
                totalBytes, longest, seconds);
}
