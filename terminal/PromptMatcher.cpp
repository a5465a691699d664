// Prompt and cancel matching over received blocks, on the delivering thread.
#include "terminal/PromptMatcher.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
const char* const kWatchedText[] = {PromptMatcher::kBanner, PromptMatcher::kPassword,
                                    PromptMatcher::kMaintPrompt, PromptMatcher::kMonPrompt,
                                    PromptMatcher::kCanceled};

// Advances a counter over one character. A mismatch resets it without trying the
// character again as a first one. True when the string completed (counter reset).
bool Step(int& counter, const char* watched, char c) {
    if (c == watched[counter]) {
        ++counter;
        if (watched[counter] == '\0') {
            counter = 0;
            return true;
        }
    } else if (counter != 0) {
        counter = 0;
    }
    return false;
}

// Whether c0 followed by c1 can leave a counter above 0: a string (the cancel text
// only where it is stepped) goes on with c1 after starting with c0, or c1 starts one.
// When neither, the pair changes nothing: c1 ends what c0 began, and a character that
// ends a string is not tried again as its first one.
bool PairMatters(char c0, char c1, bool withCancel) {
    const int strings = withCancel ? 5 : 4;
    for (int w = 0; w < strings; ++w) {
        if (kWatchedText[w][0] == c1) return true;
        if (kWatchedText[w][0] == c0 && kWatchedText[w][1] == c1) return true;
    }
    return false;
}

bool StartsOne(char c, bool withCancel) {
    const int strings = withCancel ? 5 : 4;
    for (int w = 0; w < strings; ++w)
        if (kWatchedText[w][0] == c) return true;
    return false;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define PMX_SCAN_AVX2 1
// The same judgement as the loop in NextCandidate, 32 places at once, on processors
// that have the wider registers. Returns where it stopped: a candidate, or the first
// place it could not judge (fewer than 33 bytes left).
__attribute__((target("avx2"))) size_t NextCandidateAvx2(const char* s, size_t i, size_t n, bool withCancel) {
    const __m256i cancelOn = withCancel ? _mm256_set1_epi8(-1) : _mm256_setzero_si256();
    const __m256i t = _mm256_set1_epi8('t'), p = _mm256_set1_epi8('P'), m = _mm256_set1_epi8('m');
    const __m256i c = _mm256_set1_epi8('C'), i2 = _mm256_set1_epi8('i'), a2 = _mm256_set1_epi8('A');
    const __m256i ma2 = _mm256_set1_epi8('a'), o2 = _mm256_set1_epi8('o');
    for (; i + 33 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i xt = _mm256_cmpeq_epi8(x, t), xp = _mm256_cmpeq_epi8(x, p), xm = _mm256_cmpeq_epi8(x, m);
        const __m256i xc = _mm256_and_si256(cancelOn, _mm256_cmpeq_epi8(x, c));
        const __m256i start = _mm256_or_si256(_mm256_or_si256(xt, xp), _mm256_or_si256(xm, xc));
        const unsigned starts = static_cast<unsigned>(_mm256_movemask_epi8(start));
        if (!starts) continue;
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 1));
        const __m256i ya = _mm256_cmpeq_epi8(y, ma2);
        const __m256i pair = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(xt, _mm256_cmpeq_epi8(y, i2)),
                            _mm256_and_si256(xp, _mm256_cmpeq_epi8(y, a2))),
            _mm256_or_si256(_mm256_and_si256(xm, _mm256_or_si256(ya, _mm256_cmpeq_epi8(y, o2))),
                            _mm256_and_si256(xc, ya)));
        const unsigned next = (starts >> 1) | (StartsOne(s[i + 32], withCancel) ? 0x80000000u : 0u);
        if (const unsigned bits = starts & (next | static_cast<unsigned>(_mm256_movemask_epi8(pair))))
            return i + static_cast<size_t>(std::countr_zero(bits));
    }
    return i;
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

// While no prompt is under way, the first place from `from` on where stepping the
// counters could matter: a byte that starts a string and, with the byte after it,
// can leave a counter above 0 (the last byte of the text always counts, its follower
// is not here yet). Every byte before it leaves all counters at 0. Sixteen places are
// judged at once: a flood of text passes here at memory speed, however often its
// bytes happen to start a string.
size_t NextCandidate(std::string_view text, size_t from, bool withCancel) {
    using M = PromptMatcher;
    const char* s = text.data();
    const size_t n = text.size();
    size_t i = from;
#if defined(PMX_SCAN_AVX2)
    if (HaveAvx2()) {
        i = NextCandidateAvx2(s, i, n, withCancel);
        if (i + 33 <= n) return i;
    }
#endif
#if defined(__SSE2__)
    // The strings' first bytes and the second bytes that may follow them; the two
    // prompts starting with 'm' share a first byte, the cancel text's second is 'a'.
    static_assert(M::kBanner[0] == 't' && M::kBanner[1] == 'i' && M::kPassword[0] == 'P' &&
                  M::kPassword[1] == 'A' && M::kMaintPrompt[0] == 'm' && M::kMaintPrompt[1] == 'a' &&
                  M::kMonPrompt[0] == 'm' && M::kMonPrompt[1] == 'o' && M::kCanceled[0] == 'C' &&
                  M::kCanceled[1] == 'a');
    const __m128i cancelOn = withCancel ? _mm_set1_epi8(-1) : _mm_setzero_si128();
    const __m128i t = _mm_set1_epi8('t'), p = _mm_set1_epi8('P'), m = _mm_set1_epi8('m'), c = _mm_set1_epi8('C');
    const __m128i i2 = _mm_set1_epi8('i'), a2 = _mm_set1_epi8('A'), ma2 = _mm_set1_epi8('a'), o2 = _mm_set1_epi8('o');
    for (; i + 17 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i xt = _mm_cmpeq_epi8(x, t), xp = _mm_cmpeq_epi8(x, p), xm = _mm_cmpeq_epi8(x, m);
        const __m128i xc = _mm_and_si128(cancelOn, _mm_cmpeq_epi8(x, c));
        const __m128i start = _mm_or_si128(_mm_or_si128(xt, xp), _mm_or_si128(xm, xc));
        const unsigned starts = static_cast<unsigned>(_mm_movemask_epi8(start));
        if (!starts) continue;
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
        const __m128i ya = _mm_cmpeq_epi8(y, ma2);
        const __m128i pair = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(xt, _mm_cmpeq_epi8(y, i2)), _mm_and_si128(xp, _mm_cmpeq_epi8(y, a2))),
            _mm_or_si128(_mm_and_si128(xm, _mm_or_si128(ya, _mm_cmpeq_epi8(y, o2))), _mm_and_si128(xc, ya)));
        // A start byte right after a start byte: the byte after this run of 16 is y's last.
        const unsigned next = (starts >> 1) | (StartsOne(s[i + 16], withCancel) ? 0x8000u : 0u);
        if (const unsigned bits = starts & (next | static_cast<unsigned>(_mm_movemask_epi8(pair))))
            return i + static_cast<size_t>(std::countr_zero(bits));
    }
#endif
    for (; i < n; ++i)
        if (StartsOne(s[i], withCancel) && (i + 1 == n || PairMatters(s[i], s[i + 1], withCancel))) return i;
    return n;
}
} // namespace

void PromptMatcher::SetCallbacks(Callbacks callbacks) {
    auto next = std::make_shared<const Callbacks>(std::move(callbacks));
    std::lock_guard<std::mutex> lock(lock_);
    callbacks_ = std::move(next);
}

int PromptMatcher::Progress(int which) const {
    if (which < 0 || which >= kWatched) return 0;
    std::lock_guard<std::mutex> lock(lock_);
    return progress_[which];
}

void PromptMatcher::HandleBlock(const char* text, bool loading) {
    if (!text) return;
    HandleBlock(std::string_view(text, std::strlen(text)), loading, false);
}

void PromptMatcher::HandleBlock(std::string_view text, bool loading, bool eachCharacter) {
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    if (text.empty()) return;
    std::unique_lock<std::mutex> lock(lock_);
    const std::shared_ptr<const Callbacks> cb = callbacks_;
    // Whether a link is connected is asked at most once per reaction, not per character.
    int connected = -1;
    auto linkConnected = [&] {
        if (connected < 0) connected = cb->anyLinkConnected && cb->anyLinkConnected() ? 1 : 0;
        return connected == 1;
    };
    bool completedAny = false;
    bool absorbed = false;
    if (promptPending_) lastText_ = Now();
    // The whole block is examined even after a prompt completes: a banner and its
    // password prompt often arrive in one read, and stopping at the banner would
    // never ask for the password.
    for (size_t i = 0; i < text.size(); ++i) {
        if (!absorbRepeats_ && PromptsIdle()) {
            const bool cancelStepped = eachCharacter && awaitingLogin_.load() == 1 && linkConnected();
            if (!cancelStepped || progress_[kCancelIndex] == 0) {
                i = NextCandidate(text, i, cancelStepped);
                if (i == text.size()) break;
            }
        }
        int completed = -1;
        for (int w = 0; w < kCancelIndex; ++w) {
            if (Step(progress_[w], kWatchedText[w], text[i])) {
                completed = w;
                break;  // later strings are not advanced for this character
            }
        }
        NoteCharacter(text[i]);
        if (completed >= 0) {
            completedAny = true;
            if (completed <= 1) awaitingLogin_.store(1);
            else awaitingLogin_.store(0);
            if (completed == 1 && cb->askPassword && TakePasswordRequest(loading)) {
                asking_ = true;
                lock.unlock();  // the request may wait for the user
                cb->askPassword();
                lock.lock();
                asking_ = false;
                absorbRepeats_ = true;
                lastAnswer_ = Now();
                connected = -1;
            } else if (completed == 1 && promptPending_ && !absorbed) {
                absorbed = true;
                lastText_ = Now();
            }
            continue;
        }
        // A one-byte block without a completed prompt gets its own cancel check.
        if (eachCharacter && awaitingLogin_.load() == 1 && linkConnected() &&
            Step(progress_[kCancelIndex], kCanceled, text[i]) && cb->sendReply) {
            lock.unlock();
            cb->sendReply("\r", 1);
            lock.lock();
            connected = -1;
        }
    }
    if (absorbed && promptPending_ && cb->promptAbsorbed) {
        lock.unlock();
        cb->promptAbsorbed();
        lock.lock();
    }
    if (eachCharacter || completedAny || awaitingLogin_.load() != 1) return;
    if (!linkConnected()) return;
    bool cancel = false;
    for (size_t i = 0; i < text.size() && !cancel; ++i) {
        if (progress_[kCancelIndex] == 0 && (i = text.find(kCanceled[0], i)) == std::string_view::npos) break;
        cancel = Step(progress_[kCancelIndex], kCanceled, text[i]);
    }
    lock.unlock();
    if (cancel && cb->sendReply) cb->sendReply("\r", 1);
}

bool PromptMatcher::PromptsIdle() const {
    for (int w = 0; w < kCancelIndex; ++w)
        if (progress_[w] != 0) return false;
    return true;
}

void PromptMatcher::NoteCharacter(char c) {
    if (!absorbRepeats_ || progress_[1] > 0) return;
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    // The prompt's last character leaves the counter at 0 as well.
    if (!blank && c != kPassword[std::strlen(kPassword) - 1]) {
        absorbRepeats_ = false;
        promptPending_ = false;  // the switch went on: the absorbed prompt was answered
    }
}

int PromptMatcher::AskIfSettled() {
    std::unique_lock<std::mutex> lock(lock_);
    if (!promptPending_ || asking_) return 0;
    const auto quiet = Now() - lastText_;
    if (quiet < kSettle)
        return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(kSettle - quiet).count());
    const std::shared_ptr<const Callbacks> cb = callbacks_;
    promptPending_ = false;
    if (!cb->askPassword) return 0;
    asking_ = true;
    lock.unlock();
    cb->askPassword();
    lock.lock();
    asking_ = false;
    absorbRepeats_ = true;
    lastAnswer_ = Now();
    return 0;
}

void PromptMatcher::SetClock(std::function<Clock::time_point()> now) {
    std::lock_guard<std::mutex> lock(lock_);
    now_ = std::move(now);
}

bool PromptMatcher::TakePasswordRequest(bool loading) {
    if (loading) return false;
    // One dialog at a time: a prompt completed while one is open (text handled in
    // its nested event loop) is already being answered.
    if (asking_) return false;
    // Within the window a bare repeat is taken for one sent before the answer; should
    // the text end on it, AskIfSettled asks after all. The window is never renewed.
    if (absorbRepeats_ && Now() - lastAnswer_ < kRepeatWindow) {
        promptPending_ = true;
        return false;
    }
    absorbRepeats_ = false;
    promptPending_ = false;
    return true;
}

AccessMode PromptMatcher::ApplyPassword(const std::string& password) {
    if (password == kMonitorCode) access_.store(AccessMode::Monitor);
    else if (password == kMaintenanceCode) access_.store(AccessMode::Maintenance);
    return access_.load();
}

std::string PromptMatcher::TrimPassword(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}
