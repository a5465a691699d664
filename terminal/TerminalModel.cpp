// Layout of received text in screen lines, the scroll sizes and the overflow dump.
// Runs on the delivering thread, except metrics, ClearScreen and the readers (GUI
// thread). Every member below the drawing lock is guarded by it.
#include "terminal/TerminalModel.h"

#include "platform/AppGlobals.h"
#include "terminal/ByteScan.h"
#include "terminal/CTRQDiagDoc.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {
constexpr char kCR = 13, kLF = 10, kTab = 9;
constexpr std::string_view kTabBlanks = "        ";

int ClampToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

// Latin-1 lower case: A-Z and the accented capitals (except the multiplication sign).
unsigned char Fold(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    return c;
}
} // namespace

void ForEachScreenLine(std::string_view text, int first, int last,
                       const std::function<void(int, std::string_view)>& draw) {
    std::string line;
    int n = 0;
    for (char c : text) {
        if (c == kCR) {
            if (n >= first) draw(n, line);
            line.clear();
            if (++n > last) return;
            continue;
        }
        if (n < first || c == kLF) continue;
        if (c == kTab) line.append(kTabBlanks);
        else line.push_back(c);
    }
    if (n >= first) draw(n, line);
}

std::string OverflowDumpPath(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char name[32];
    std::snprintf(name, sizeof name, "T%02d%02d%02d.dat", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return StartDirPath(name);
}

TerminalModel::TerminalModel(CTRQDiagDoc& doc, TerminalSurface& surface)
    : doc_(doc), surface_(surface) {}

void TerminalModel::SetMetrics(int lineHeight, int charWidth) {
    std::lock_guard lock(drawingLock_);
    st_.lineHeight = lineHeight > 0 ? lineHeight : 1;  // visible lines divide by it
    st_.charWidth = charWidth > 0 ? charWidth : 0;
    st_.visibleLines = st_.clientHeight / st_.lineHeight;
    st_.textY = int64_t{st_.lineCount} * st_.lineHeight;
    st_.scroll = ComputeScrollSizesLocked();
}

void TerminalModel::SetClientSize(int width, int height) {
    std::lock_guard lock(drawingLock_);
    st_.clientWidth = width > 0 ? width : 0;
    st_.clientHeight = height > 0 ? height : 0;
    st_.visibleLines = st_.clientHeight / st_.lineHeight;
    st_.scroll = ComputeScrollSizesLocked();
}

// Appends a block to the drawn text in runs: ordinary bytes are copied a run at a
// time, found 64 bytes at a time, and only the part of the block on the last line is
// measured (a line's width is the sum of its characters'), so the cost is per block
// and per line, not per byte.
void TerminalModel::AppendDrawnLocked(std::string_view block, int64_t rawBase) {
    if (changes_.fromLine < 0 || st_.lineCount < changes_.fromLine)
        changes_.fromLine = st_.lineCount;
    const char* s = block.data();
    const size_t n = block.size();
    const size_t before = drawn_.size();
    bool newLine = false;
    size_t run = 0;  // where the bytes not yet copied begin
    auto special = [&](size_t j) {
        if (j > run) drawn_.append(s + run, j - run);
        run = j + 1;
        const uint64_t at = uint64_t(rawBase) + j;
        if (s[j] == kCR) {
            lineStarts_.push_back(drawn_.size());
            ++st_.lineCount;
            newLine = true;
            if (rawBase >= 0) lineStartByte_ = at + 1;
        } else if (s[j] == kLF) {
            // The LF of a CR LF still belongs to the line it ends.
            if (rawBase >= 0 && lineStartByte_ == at) lineStartByte_ = at + 1;
        } else {
            drawn_.append(kTabBlanks);
        }
    };
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        for (uint64_t m = MaskOf64(s + i, kCR, kLF, kTab); m; m &= m - 1)
            special(i + size_t(std::countr_zero(m)));
    for (; (i += FindFirstOf(s + i, n - i, kCR, kLF, kTab)) < n; ++i) special(i);
    if (n > run) drawn_.append(s + run, n - run);
    const size_t lastLine = lineStarts_.back();
    if (newLine) st_.textX = 0;
    st_.textX += surface_.LineWidth(std::string_view(drawn_).substr(std::max(lastLine, before)));
    st_.textY = int64_t{st_.lineCount} * st_.lineHeight;
}

// The filtered text no longer lines up with the received bytes: where the line being
// received starts is found in the block as it arrived.
void TerminalModel::NoteLineStartLocked(std::string_view block, uint64_t base) {
    size_t q = 0;
    const size_t cr = block.rfind(kCR);
    if (cr != std::string_view::npos) {
        q = cr + 1;
        lineStartByte_ = base + q;
    }
    // The LFs of a CR LF still belong to the line they end.
    while (q < block.size() && block[q] == kLF && lineStartByte_ == base + q) lineStartByte_ = base + ++q;
}

void TerminalModel::SetHideControls(bool on) {
    std::lock_guard lock(drawingLock_);
    hideControls_.store(on);
    filter_.Reset();
}

void TerminalModel::AppendShownLocked(std::string_view block) {
    const uint64_t base = receivedBytes_;
    receivedBytes_ += block.size();
    if (!hideControls_.load()) {
        AppendDrawnLocked(block, int64_t(base));
        return;
    }
    NoteLineStartLocked(block, base);
    shown_.clear();
    filter_.Feed(block, shown_);
    std::string_view rest = shown_;
    for (;;) {
        const size_t bs = rest.find('\b');
        AppendDrawnLocked(rest.substr(0, bs), -1);
        if (bs == std::string_view::npos) break;
        // Backspace takes back the last character of the current line.
        if (drawn_.size() > lineStarts_.back()) {
            drawn_.pop_back();
            st_.textX = surface_.LineWidth(std::string_view(drawn_).substr(lineStarts_.back()));
        }
        rest.remove_prefix(bs + 1);
    }
}

// Lines that the dump after this block takes before any frame can show them are
// counted, not laid out: during a flood most of each block is such lines, and they
// reach the dump file from the document either way. The dump is certain once the
// block's carriage returns alone carry the lines past the height bound; the rest of
// the block (the line being received) is laid out as usual. While dumps fail the
// text stays on screen, so nothing is skipped then.
std::string_view TerminalModel::SkipDumpedLinesLocked(std::string_view block) {
    if (hideControls_.load() || dumpFailing_ || block.size() < 64) return block;
    const void* lastCr = memrchr(block.data(), kCR, block.size());
    if (!lastCr) return block;
    const size_t upTo = size_t(static_cast<const char*>(lastCr) - block.data()) + 1;
    const uint64_t lineHeight = uint64_t(st_.lineHeight);
    if ((uint64_t(st_.lineCount) + upTo) * lineHeight <= dumpAboveHeight_) return block;
    uint64_t crs = 0;
    size_t i = 0;
    for (; i + 64 <= upTo; i += 64) crs += uint64_t(std::popcount(MaskOf64(block.data() + i, kCR)));
    crs += uint64_t(std::count(block.data() + i, block.data() + upTo, kCR));
    if ((uint64_t(st_.lineCount) + crs) * lineHeight <= dumpAboveHeight_ || crs > uint64_t(INT_MAX - st_.lineCount))
        return block;
    if (changes_.fromLine < 0 || st_.lineCount < changes_.fromLine) changes_.fromLine = st_.lineCount;
    lineStarts_.insert(lineStarts_.end(), crs, drawn_.size());
    st_.lineCount += static_cast<int>(crs);
    st_.textX = 0;
    st_.textY = int64_t{st_.lineCount} * st_.lineHeight;
    receivedBytes_ += upTo;
    lineStartByte_ = receivedBytes_;
    skippedLines_ = true;
    return block.substr(upTo);
}

void TerminalModel::ShowNewText(std::string_view newText) {
    if (hooks_.textArrived) hooks_.textArrived();

    {
        std::lock_guard lock(drawingLock_);
        const bool trace = hooks_.capturing && hooks_.traceBlock && g_loading.load() == 0 &&
                           hooks_.capturing();
        AppendShownLocked(SkipDumpedLinesLocked(newText));
        if (trace && !newText.empty()) hooks_.traceBlock(newText);
    }
    if (!newText.empty()) surface_.RequestRepaint(false);

    if (hooks_.promptHandling) hooks_.promptHandling(newText);
}

ScrollSizes TerminalModel::ComputeScrollSizesLocked() const {
    const int width = kTerminalColumns * st_.charWidth;
    ScrollSizes s;
    s.totalWidth = width;
    s.totalHeight = ClampToInt((int64_t{st_.lineCount} + 1) * st_.lineHeight);
    s.pageWidth = width / 3;
    s.pageHeight = st_.clientHeight / 2;
    s.lineWidth = width / 30;
    s.lineHeight = st_.lineHeight;
    return s;
}

void TerminalModel::SetOverflowLimits(uint64_t height, uint64_t bytes) {
    std::lock_guard lock(drawingLock_);
    overflowHeight_ = dumpAboveHeight_ = height ? height : 1;
    overflowBytes_ = dumpAboveBytes_ = bytes ? bytes : 1;
}

void TerminalModel::UpdateScrollSizes() {
    bool cleared = false;
    std::string failedPath;
    TerminalSurface::DumpReport written;
    ScrollSizes sizes;
    {
        // The dump and the clearing happen under one hold of the drawing lock, so no
        // text delivered in between can be cleared without having been saved.
        std::lock_guard lock(drawingLock_);
        const uint64_t height = uint64_t(st_.lineCount) * uint64_t(st_.lineHeight);
        const uint64_t bytes = std::max<uint64_t>(receivedBytes_, drawn_.size());
        if (height > dumpAboveHeight_ || bytes > dumpAboveBytes_) {
            std::string path = OverflowDumpPath(std::time(nullptr));
            // The line still being received stays: a dump must not take the prompt the
            // engineer is about to answer. Bytes another deliverer added meanwhile stay
            // in the document too; they are shown when their turn comes.
            // Never more than half the byte limit, so the screen stays bounded by it.
            // Measured as received and as drawn (a TAB is drawn as eight blanks).
            const uint64_t keepBound = std::min<uint64_t>(kKeptLineBytes, overflowBytes_ / 2);
            const bool keepLine = receivedBytes_ - lineStartByte_ <= keepBound &&
                                  drawn_.size() - lineStarts_.back() <= keepBound;
            const uint64_t upTo = keepLine ? lineStartByte_ : receivedBytes_;
            size_t n = 0;
            // Appended: a second dump within the same second must not overwrite the first.
            if (doc_.StoreAndClear(path, static_cast<size_t>(upTo), &n)) {
                const std::string line(keepLine ? LineLocked(st_.lineCount) : std::string_view());
                const uint64_t kept = receivedBytes_ - upTo;
                ResetLocked();  // the document removed what it wrote
                if (!line.empty()) {
                    drawn_ = line;
                    st_.textX = surface_.LineWidth(line);
                }
                receivedBytes_ = kept;
                // Nothing written is no sign that the disk is back.
                if (n > 0) dumpFailing_ = false;
                cleared = true;
                dumpedBytes_ += n;
                if (n > 0) written.path = std::move(path);
                written.bytes = n;
                written.totalBytes = dumpedBytes_;
                written.dumps = ++dumps_;
            } else {
                // The lines counted without layout are shown after all: laid out from the
                // document, which holds the text since the last dump.
                if (skippedLines_) RelayFromDocumentLocked();
                // Keep the text rather than lose it; try again after as much text more,
                // and at the latest at the keep limit, so that the limit below is met.
                dumpAboveHeight_ = std::min<uint64_t>(height + overflowHeight_,
                                                      overflowHeight_ * kFailedDumpKeepFactor);
                dumpAboveBytes_ = std::min<uint64_t>(bytes + overflowBytes_,
                                                     overflowBytes_ * kFailedDumpKeepFactor);
                if (!dumpFailing_) failedPath = std::move(path);
                dumpFailing_ = true;
                if (height > overflowHeight_ * kFailedDumpKeepFactor ||
                    bytes > overflowBytes_ * kFailedDumpKeepFactor) {
                    ClearLocked();  // memory stays bounded however long the disk fails
                    cleared = true;
                }
            }
        }
        st_.visibleLines = st_.clientHeight / st_.lineHeight;
        st_.scroll = sizes = ComputeScrollSizesLocked();
    }
    if (!failedPath.empty()) surface_.DumpFailed(failedPath);
    if (!written.path.empty()) {
        std::error_code ec;
        const auto space = std::filesystem::space(StartDirectory().empty() ? "." : StartDirectory(), ec);
        if (!ec) {
            written.freeBytes = static_cast<int64_t>(std::min<uintmax_t>(space.available, INT64_MAX));
            const bool low = space.available < lowSpaceBound_.load();
            std::lock_guard lock(drawingLock_);
            written.lowSpace = low && !lowSpaceTold_;
            // Told again only after the space has come back.
            lowSpaceTold_ = low;
        }
        surface_.DumpWritten(written);
    }
    if (cleared) surface_.RequestRepaint(true);
    surface_.SetScrollSizes(sizes);
}

void TerminalModel::ScrollToEnd() {
    int64_t a;
    {
        std::lock_guard lock(drawingLock_);
        a = (int64_t{st_.lineCount} - st_.visibleLines + 1) * st_.lineHeight;
    }
    if (a <= 0) return;
    surface_.ScrollTo(ClampToInt(a));
    surface_.RequestRepaint(false);
}

void TerminalModel::RelayFromDocumentLocked() {
    const std::string text = doc_.GetTranscript();
    drawn_.clear();
    lineStarts_.assign(1, 0);
    st_.lineCount = 0;
    st_.textX = 0;
    AppendDrawnLocked(text, -1);  // where the line being received starts is known already
    skippedLines_ = false;
    changes_.erase = true;
    changes_.fromLine = 0;
    ++changes_.clears;  // the lines a find matched have changed
}

void TerminalModel::ClearLocked() {
    doc_.ClearText();
    ResetLocked();
}

void TerminalModel::ResetLocked() {
    skippedLines_ = false;
    st_.textX = st_.textY = 0;
    st_.lineCount = 0;
    drawn_.clear();
    lineStarts_.assign(1, 0);
    receivedBytes_ = 0;
    lineStartByte_ = 0;
    dumpAboveHeight_ = overflowHeight_;
    dumpAboveBytes_ = overflowBytes_;
    changes_.erase = true;
    changes_.fromLine = 0;
    ++changes_.clears;
}

void TerminalModel::ClearScreen() {
    ScrollSizes sizes;
    {
        std::lock_guard lock(drawingLock_);
        ClearLocked();
        st_.scroll = sizes = ComputeScrollSizesLocked();
    }
    surface_.SetScrollSizes(sizes);
    surface_.ScrollTo(0);
    surface_.RequestRepaint(true);
}

void TerminalModel::TextReplaced() {
    ScrollSizes sizes;
    {
        std::lock_guard lock(drawingLock_);
        // Lay the opened text out the way received text is, leaving the text position
        // at its end so that received text continues after the opened file.
        const std::string text = doc_.GetTranscript();
        ResetLocked();
        filter_.Reset();
        AppendShownLocked(text);
        filter_.Reset();
        // An opened file is shown whole, not dumped: the next dump check counts from
        // its end.
        const uint64_t height = uint64_t(st_.lineCount) * uint64_t(st_.lineHeight);
        dumpAboveHeight_ = std::max<uint64_t>(overflowHeight_, height + overflowHeight_);
        dumpAboveBytes_ = std::max<uint64_t>(overflowBytes_, text.size() + overflowBytes_);
        st_.scroll = sizes = ComputeScrollSizesLocked();
    }
    surface_.SetScrollSizes(sizes);
    surface_.ScrollTo(0);
    surface_.RequestRepaint(true);
}

TerminalModel::State TerminalModel::Snapshot() const {
    std::lock_guard lock(drawingLock_);
    return st_;
}

TerminalModel::Changes TerminalModel::TakeChanges() {
    std::lock_guard lock(drawingLock_);
    Changes c = changes_;
    changes_.fromLine = -1;
    changes_.erase = false;
    return c;
}

std::string_view TerminalModel::LineLocked(int line) const {
    if (line < 0 || line >= static_cast<int>(lineStarts_.size())) return {};
    const size_t begin = lineStarts_[static_cast<size_t>(line)];
    const size_t end = static_cast<size_t>(line) + 1 < lineStarts_.size()
                           ? lineStarts_[static_cast<size_t>(line) + 1]
                           : drawn_.size();
    return std::string_view(drawn_).substr(begin, end - begin);
}

std::vector<std::string> TerminalModel::VisibleLines(int first, int last, size_t maxColumns) const {
    std::vector<std::string> lines;
    std::lock_guard lock(drawingLock_);
    first = std::max(first, 0);
    last = std::min(last, st_.lineCount);
    for (int n = first; n <= last; ++n) lines.emplace_back(LineLocked(n).substr(0, maxColumns));
    return lines;
}

int TerminalModel::LineLength(int line) const {
    std::lock_guard lock(drawingLock_);
    return static_cast<int>(LineLocked(line).size());
}

std::string TerminalModel::TextBetween(int line0, int col0, int line1, int col1) const {
    std::lock_guard lock(drawingLock_);
    std::string out;
    line0 = std::max(line0, 0);
    line1 = std::min(line1, st_.lineCount);
    for (int n = line0; n <= line1; ++n) {
        std::string_view l = LineLocked(n);
        const size_t from = n == line0 ? std::min(l.size(), size_t(std::max(col0, 0))) : 0;
        const size_t to = n == line1 ? std::min(l.size(), size_t(std::max(col1, 0))) : l.size();
        if (to > from) out.append(l.substr(from, to - from));
        if (n != line1) out.push_back('\n');
    }
    return out;
}

std::vector<TextMatch> TerminalModel::FindAll(std::string_view needle, size_t maxMatches) const {
    std::vector<TextMatch> found;
    if (needle.empty()) return found;
    std::string folded(needle);
    for (char& c : folded) c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
    auto same = [](char a, char b) {
        return Fold(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
    };
    std::lock_guard lock(drawingLock_);
    for (int n = 0; n <= st_.lineCount && found.size() < maxMatches; ++n) {
        const std::string_view l = LineLocked(n);
        auto it = l.begin();
        while (found.size() < maxMatches) {
            it = std::search(it, l.end(), folded.begin(), folded.end(), same);
            if (it == l.end()) break;
            found.push_back({n, static_cast<int>(it - l.begin()), static_cast<int>(folded.size())});
            it += static_cast<std::ptrdiff_t>(folded.size());
        }
    }
    return found;
}
