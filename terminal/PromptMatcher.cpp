// Prompt and cancel matching over received blocks, on the delivering thread.
#include "terminal/PromptMatcher.h"

#include "terminal/ByteScan.h"

#include <cstring>

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

// While no prompt is under way, a byte that cannot start one leaves every counter
// at 0, so a run of such bytes is passed over at once. The cancel text counts only
// where it is stepped character by character.
size_t NextStartByte(std::string_view text, size_t from, bool withCancel) {
    const char* s = text.data() + from;
    const size_t n = text.size() - from;
    using M = PromptMatcher;
    if (withCancel)
        return from + FindFirstOf(s, n, M::kBanner[0], M::kPassword[0], M::kMaintPrompt[0],
                                  M::kMonPrompt[0], M::kCanceled[0]);
    return from + FindFirstOf(s, n, M::kBanner[0], M::kPassword[0], M::kMaintPrompt[0], M::kMonPrompt[0]);
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
                for (;;) {
                    i = NextStartByte(text, i, cancelStepped);
                    if (i + 1 >= text.size() || PairMatters(text[i], text[i + 1], cancelStepped)) break;
                    i += 2;
                }
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
