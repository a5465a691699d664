#include "runner/HeadlessMessages.h"

#include "res/resource.h"

#include <cerrno>
#include <unistd.h>

namespace runner {

std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool blank = c == '\r' || c == '\n' || c == '\t' || c == ' ';
        if (blank) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

HeadlessMessages::HeadlessMessages(std::string label, int fd) : label_(std::move(label)), fd_(fd) {}

int HeadlessMessages::messageBox(const std::string& text, const std::string& title, MsgIcon icon,
                                 MsgButtons buttons) {
    // The title adds nothing when it is the program's name.
    const std::string t = OneLine(title);
    const std::string line = t.empty() || t == kAppTitle ? OneLine(text) : t + ": " + OneLine(text);
    bool kept = false;
    if (icon == MsgIcon::Error || icon == MsgIcon::Warning) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (holding_) {
            held_.push_back(line);
            kept = true;
        }
    }
    if (!kept) say(line);
    switch (buttons) {
    case MsgButtons::Ok:
    case MsgButtons::OkCancel: return IDOK;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel: return IDYES;
    case MsgButtons::RetryCancel: return IDCANCEL;
    }
    return IDCANCEL;
}

std::optional<std::string> HeadlessMessages::saveFileName(const SaveFileRequest&) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (traceFile_.empty()) return std::nullopt;
    return traceFile_;
}

void HeadlessMessages::setTraceFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    traceFile_ = path;
}

void HeadlessMessages::hold(bool on) {
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = on;
        if (!on) lines.swap(held_);
    }
    for (const std::string& line : lines) say(line);
}

std::string HeadlessMessages::takeHeld() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string joined;
    for (const std::string& line : held_) joined += (joined.empty() ? "" : "; ") + line;
    held_.clear();
    return joined;
}

void HeadlessMessages::say(const std::string& text) {
    const std::string line = "pmxdiag-run: " + label_ + ": " + text + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    // One write per line, so lines of parallel jobs sharing a terminal do not mix.
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

} // namespace runner
