// Watches the switch's output for its login and command prompts and the cancel text,
// keeps the awaiting-login flag and the access mode. HandleBlock runs on the thread
// that delivered the text; the access calls run on the GUI thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <memory>
#include <string>
#include <string_view>

enum class AccessMode { None, Monitor, Maintenance };

class PromptMatcher {
public:
    static constexpr const char* kBanner = "tility...";
    static constexpr const char* kPassword = "PASSWORD:";
    static constexpr const char* kMaintPrompt = "maint>";
    static constexpr const char* kMonPrompt = "mon>";
    static constexpr const char* kCanceled = "Canceled!";
    static constexpr const char* kMonitorCode = "quarth";
    static constexpr const char* kMaintenanceCode = "velmod";
    static constexpr const char* kEmptyPasswordText = "Empty field is not allowed...";
    static constexpr const char* kEmptyPasswordTitle = "Input Error";

    struct Callbacks {
        // The password prompt came (not while a file loads); may block until answered.
        // Never called again while a request runs, nor for repeats of the prompt that
        // arrive right after the answer with nothing but white space between them.
        std::function<void()> askPassword;
        // Whether any link is connected, for the cancel reply.
        std::function<bool()> anyLinkConnected;
        // Writes bytes straight to the connected link (no confirmation, no timer).
        std::function<void(const char* bytes, int length)> sendReply;
        // A repeat of the prompt was absorbed: AskIfSettled is to be run once the text
        // has had time to settle. On the delivering thread, without the prompt lock.
        std::function<void()> promptAbsorbed;
    };
    using Clock = std::chrono::steady_clock;

    PromptMatcher() = default;
    explicit PromptMatcher(Callbacks callbacks)
        : callbacks_(std::make_shared<const Callbacks>(std::move(callbacks))) {}
    void SetCallbacks(Callbacks callbacks);

    // One received block; text ends at its first NUL. loading: a file is being
    // opened (no password request then).
    void HandleBlock(const char* text, bool loading = false);
    // The same for a block of text.size() bytes. eachCharacter: the block stands for
    // that many one-byte blocks (a Telnet stream's data), handled in one pass.
    void HandleBlock(std::string_view text, bool loading, bool eachCharacter);

    bool AwaitingLogin() const { return awaitingLogin_.load() != 0; }
    AccessMode Access() const { return access_.load(); }
    // The access an entered password grants, applied; other texts leave it as it was.
    AccessMode ApplyPassword(const std::string& password);
    // The log-out paths (typed "x", Log Out).
    void ClearAccess() { access_.store(AccessMode::None); }

    // Leading and trailing white space removed, as the password dialog takes it.
    static std::string TrimPassword(const std::string& text);

    // Progress through a watched string, by the order above (0-3 prompts, 4 cancel).
    int Progress(int which) const;

    // How long after an answer a bare repeat of the prompt is taken for one the switch
    // sent before the answer reached it. Repeats do not make it longer.
    static constexpr std::chrono::milliseconds kRepeatWindow{2000};
    // How long the text must stay quiet after an absorbed prompt before it is taken
    // as the switch asking again (a refused password answered with a bare prompt).
    static constexpr std::chrono::milliseconds kSettle{1000};

    // An absorbed prompt still ends the text: once it has been quiet for kSettle the
    // password is asked for (the request runs on the calling thread). Returns how many
    // ms are still to wait, or 0 when nothing is left to do.
    int AskIfSettled();
    // The clock the windows are measured on (tests step their own).
    void SetClock(std::function<Clock::time_point()> now);

private:
    enum { kWatched = 5, kCancelIndex = 4 };
    Clock::time_point Now() const { return now_ ? now_() : Clock::now(); }
    // A password prompt that completed: true when it is to be asked for.
    bool TakePasswordRequest(bool loading);
    // No prompt is under way (the counters of the prompts at 0).
    bool PromptsIdle() const;
    // Ends the absorbing of repeats at text other than white space or the prompt.
    void NoteCharacter(char c);
    // Replaced whole, never changed in place: a block takes a reference, not a copy.
    std::shared_ptr<const Callbacks> callbacks_ = std::make_shared<const Callbacks>();
    mutable std::mutex lock_;  // the prompt lock
    std::array<int, kWatched> progress_{};
    // Prompt storms: a switch that repeats "PASSWORD:" must not queue a dialog per copy.
    bool asking_ = false;          // a request is running (it may nest on the GUI thread)
    bool absorbRepeats_ = false;   // since the answer only white space and prompts came
    Clock::time_point lastAnswer_{};
    bool promptPending_ = false;   // an absorbed prompt, with only white space after it
    Clock::time_point lastText_{}; // when text last came while one is pending
    std::function<Clock::time_point()> now_;
    std::atomic<int> awaitingLogin_{1};
    std::atomic<AccessMode> access_{AccessMode::None};
};
