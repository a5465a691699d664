// The prompt matcher over text cut into blocks at random: the prompts found, the
// password requests and the awaiting-login flag do not depend on where the cuts are.
#include "terminal/PromptMatcher.h"
#include "tests/fuzz/FuzzInput.h"

#include <algorithm>

namespace {
struct Outcome {
    int asks = 0;
    bool awaiting = true;
    int progress[4] = {};
    bool operator==(const Outcome& o) const {
        return asks == o.asks && awaiting == o.awaiting && std::equal(progress, progress + 4, o.progress);
    }
};

Outcome Run(const std::string& text, SplitRng* rng) {
    Outcome out;
    PromptMatcher::Callbacks cb;
    cb.askPassword = [&] { ++out.asks; };
    cb.anyLinkConnected = [] { return true; };
    cb.sendReply = [](const char*, int) {};
    PromptMatcher m(cb);
    size_t at = 0;
    while (at < text.size()) {
        const size_t n = rng ? 1 + rng->Below(std::min<size_t>(text.size() - at, 40)) : text.size() - at;
        m.HandleBlock(text.substr(at, n).c_str());
        at += n;
    }
    out.awaiting = m.AwaitingLogin();
    for (int w = 0; w < 4; ++w) out.progress[w] = m.Progress(w);
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint32_t seed = in.Byte() | (in.Byte() << 8);
    std::string text = in.Rest();
    // A block ends at its first NUL, so a NUL would make the cuts matter.
    std::replace(text.begin(), text.end(), '\0', ' ');
    const Outcome whole = Run(text, nullptr);
    SplitRng rng(seed);
    FUZZ_CHECK(Run(text, &rng) == whole);
    Outcome single;
    {
        PromptMatcher::Callbacks cb;
        cb.askPassword = [&] { ++single.asks; };
        PromptMatcher m(cb);
        for (char c : text) m.HandleBlock(std::string(1, c).c_str());
        single.awaiting = m.AwaitingLogin();
        for (int w = 0; w < 4; ++w) single.progress[w] = m.Progress(w);
    }
    FUZZ_CHECK(single == whole);
    FUZZ_CHECK(whole.asks <= static_cast<int>(text.size() / 9));
    return 0;
}
