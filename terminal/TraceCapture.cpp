// Trace capture file writing; core. Each write opens the file for appending and closes
// it again, so the file on disk is complete after every write and a file deleted
// during capture is created again.
#include "terminal/TraceCapture.h"

#include "terminal/ByteScan.h"

#include <cstdio>
#include <utility>
#include <locale.h>

namespace {
const std::string kLineBreak = "\r\n";
const std::string kRule(75, '=');
} // namespace

std::string TraceCapture::FormatTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    // Month names and AM/PM in the C locale, whatever locale the toolkit has set.
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    char buf[64];
    size_t n = strftime_l(buf, sizeof buf, "%I:%M:%S%p, %B %d, %Y", &local, cLocale);
    return std::string(buf, n);
}

std::string TraceCapture::Banner(bool start, std::time_t when) {
    std::string s = kLineBreak + kLineBreak + kRule + kLineBreak + "\t";
    s += start ? "Start to Save Trace Data at  " : "Stop Saving Trace Data at  ";
    s += FormatTime(when);
    s += kLineBreak + kRule + kLineBreak;
    if (start) s += "maint> ";
    return s;
}

std::string TraceCapture::ConvertReceived(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    // Ordinary bytes are copied a run at a time.
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        const size_t run = FindFirstOf(p, static_cast<size_t>(end - p), '\r', '\t', '\n');
        out.append(p, run);
        p += run;
        if (p == end) break;
        if (*p == '\r') out += kLineBreak;
        else if (*p == '\t') out.append(8, ' ');
        ++p;
    }
    return out;
}

std::string TraceCapture::Stamp(std::chrono::system_clock::time_point when) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&secs, &local);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, "[%02d:%02d:%02d.%03d] ", local.tm_hour, local.tm_min,
                                local.tm_sec, static_cast<int>(((ms % 1000) + 1000) % 1000));
    return std::string(buf, static_cast<size_t>(n));
}

std::string TraceCapture::convertLocked(std::string_view text) {
    if (!timestamps_) return ConvertReceived(text);
    const std::string stamp = Stamp(std::chrono::system_clock::now());
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char c : text) {
        if (c == '\n') continue;
        // A line is stamped when its first byte arrives, so an empty line gets one too.
        if (atLineStart_) out += stamp;
        atLineStart_ = c == '\r';
        if (c == '\r') out += kLineBreak;
        else if (c == '\t') out.append(8, ' ');
        else out += c;
    }
    return out;
}

void TraceCapture::SetTimestamps(bool on) {
    std::lock_guard lock(mutex_);
    timestamps_ = on;
}

bool TraceCapture::timestamps() const {
    std::lock_guard lock(mutex_);
    return timestamps_;
}

bool TraceCapture::append(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (std::fclose(f) == 0) && ok;
}

bool TraceCapture::Begin(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fclose(f);
    std::lock_guard lock(mutex_);
    path_ = path;
    pending_.clear();
    atLineStart_ = false;
    state_ = State::Starting;
    return true;
}

bool TraceCapture::Confirm() {
    std::lock_guard lock(mutex_);
    if (state_ != State::Starting) return false;
    const bool ok = append(path_, Banner(true, std::time(nullptr)) + pending_);
    pending_.clear();
    state_ = State::On;
    return ok;
}

bool TraceCapture::flushBlockLocked() {
    if (blockText_.empty()) return true;
    const bool ok = append(path_, blockText_);
    blockText_.clear();
    return ok;
}

void TraceCapture::BeginBlock() {
    std::lock_guard lock(mutex_);
    ++blockDepth_;
}

void TraceCapture::EndBlock() {
    std::string failed;
    {
        std::lock_guard lock(mutex_);
        if (blockDepth_ > 0 && --blockDepth_ == 0 && state_ == State::On && !flushBlockLocked())
            failed = stopOnFailureLocked();
    }
    reportFailure(failed);
}

void TraceCapture::SetFailureHandler(std::function<void(const std::string& path)> handler) {
    std::lock_guard lock(mutex_);
    onFailure_ = std::move(handler);
}

std::string TraceCapture::stopOnFailureLocked() {
    // Going on would lose pieces here and there and report each: the file is left
    // with what it holds, whole up to the failed write.
    std::string p = std::move(path_);
    path_.clear();
    state_ = State::Off;
    pending_.clear();
    blockText_.clear();
    return p;
}

void TraceCapture::reportFailure(const std::string& path) {
    if (path.empty()) return;
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lock(mutex_);
        handler = onFailure_;
    }
    if (handler) handler(path);
}

std::string TraceCapture::End() {
    std::lock_guard lock(mutex_);
    // Text of a block still being delivered belongs before the stop banner.
    if (state_ == State::On) flushBlockLocked();
    blockText_.clear();
    std::string p = path_;
    if (state_ == State::Starting && !pending_.empty()) append(path_, pending_);
    state_ = State::Off;
    path_.clear();
    pending_.clear();
    return p;
}

bool TraceCapture::WriteLabel(const std::string& path, bool start, std::time_t when) {
    return append(path, Banner(start, when));
}

bool TraceCapture::SaveReceived(std::string_view text) {
    std::string failed;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::Off) return true;
        std::string bytes = convertLocked(text);
        if (bytes.empty()) return true;
        if (state_ == State::Starting) {
            pending_ += bytes;
            return true;
        }
        if (blockDepth_ > 0) {
            blockText_ += bytes;
            return true;
        }
        if (append(path_, bytes)) return true;
        failed = stopOnFailureLocked();
    }
    reportFailure(failed);
    return false;
}

TraceCapture::State TraceCapture::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::string TraceCapture::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}
