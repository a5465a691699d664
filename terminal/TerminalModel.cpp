// Layout of received text in screen lines, the scroll sizes and the overflow dump.
// Runs on the delivering thread, except metrics and ClearScreen (GUI thread).
#include "terminal/TerminalModel.h"

#include "platform/AppGlobals.h"
#include "terminal/CTRQDiagDoc.h"

#include <cstdio>

namespace {
constexpr char kCR = 13, kLF = 10, kTab = 9;
constexpr std::string_view kTabBlanks = "        ";
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
    st_.scroll = ComputeScrollSizesLocked();
}

void TerminalModel::SetClientSize(int width, int height) {
    std::lock_guard lock(drawingLock_);
    st_.clientWidth = width > 0 ? width : 0;
    st_.clientHeight = height > 0 ? height : 0;
    st_.visibleLines = st_.clientHeight / st_.lineHeight;
    st_.scroll = ComputeScrollSizesLocked();
}

void TerminalModel::ShowNewText(std::string_view newText) {
    if (hooks_.textArrived) hooks_.textArrived();

    bool repaint;
    {
        std::lock_guard lock(drawingLock_);
        workingCopy_.assign(newText);
        const bool trace = hooks_.capturing && hooks_.traceBlock && g_loading.load() == 0 &&
                           hooks_.capturing();

        // Only the characters after the last CR matter for the text position.
        lineBuffer_.clear();
        for (char c : workingCopy_) {
            switch (c) {
            case kCR:
                lineBuffer_.clear();
                st_.textY += st_.lineHeight;
                st_.textX = 0;
                ++st_.lineCount;
                break;
            case kTab:
                lineBuffer_.append(kTabBlanks);
                break;
            case kLF:
                break;
            default:
                lineBuffer_.push_back(c);
            }
        }
        if (!lineBuffer_.empty()) st_.textX += surface_.LineWidth(lineBuffer_);
        if (trace && !workingCopy_.empty()) hooks_.traceBlock(workingCopy_);
        repaint = !workingCopy_.empty();
    }
    if (repaint) surface_.RequestRepaint(false);

    if (hooks_.promptHandling) hooks_.promptHandling(newText);
}

ScrollSizes TerminalModel::ComputeScrollSizesLocked() const {
    const int width = kTerminalColumns * st_.charWidth;
    ScrollSizes s;
    s.totalWidth = width;
    s.totalHeight = (st_.lineCount + 1) * st_.lineHeight;
    s.pageWidth = width / 3;
    s.pageHeight = st_.clientHeight / 2;
    s.lineWidth = width / 30;
    s.lineHeight = st_.lineHeight;
    return s;
}

void TerminalModel::UpdateScrollSizes() {
    bool cleared = false;
    std::string failedPath;
    ScrollSizes sizes;
    {
        // The dump and the clearing happen under one hold of the drawing lock, so no
        // text delivered in between can be cleared without having been saved.
        std::lock_guard lock(drawingLock_);
        const unsigned height =
            static_cast<unsigned>(st_.lineCount) * static_cast<unsigned>(st_.lineHeight);
        if (height > dumpAbove_) {
            std::string path = OverflowDumpPath(std::time(nullptr));
            // Appended: a second dump within the same second must not overwrite the first.
            if (doc_.Store(path, true)) {
                ClearLocked();
                cleared = true;
            } else {
                // Keep the text rather than lose it; try again after as many lines more.
                dumpAbove_ = height + kOverflowHeight;
                failedPath = std::move(path);
            }
        }
        st_.visibleLines = st_.clientHeight / st_.lineHeight;
        st_.scroll = sizes = ComputeScrollSizesLocked();
    }
    if (!failedPath.empty()) surface_.DumpFailed(failedPath);
    if (cleared) surface_.RequestRepaint(true);
    surface_.SetScrollSizes(sizes);
}

void TerminalModel::ScrollToEnd() {
    int a;
    {
        std::lock_guard lock(drawingLock_);
        a = (st_.lineCount - st_.visibleLines + 1) * st_.lineHeight;
    }
    if (a <= 0) return;
    surface_.ScrollTo(a);
    surface_.RequestRepaint(false);
}

void TerminalModel::ClearLocked() {
    doc_.ClearText();
    st_.textX = st_.textY = st_.lineCount = 0;
    workingCopy_.clear();
    dumpAbove_ = kOverflowHeight;
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
        // Count the lines the way they are drawn, and leave the text position at the
        // end so that received text continues after the opened file.
        const std::string text = doc_.GetTranscript();
        int lines = 0;
        size_t lastCR = std::string::npos;
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == kCR) {
                ++lines;
                lastCR = i;
            }
        lineBuffer_.clear();
        for (size_t i = lastCR == std::string::npos ? 0 : lastCR + 1; i < text.size(); ++i) {
            if (text[i] == kTab) lineBuffer_.append(kTabBlanks);
            else if (text[i] != kLF) lineBuffer_.push_back(text[i]);
        }
        st_.lineCount = lines;
        st_.textY = lines * st_.lineHeight;
        st_.textX = lineBuffer_.empty() ? 0 : surface_.LineWidth(lineBuffer_);
        // An opened file is shown whole, not dumped: the next dump check counts from
        // its end.
        const unsigned height = static_cast<unsigned>(lines) * static_cast<unsigned>(st_.lineHeight);
        dumpAbove_ = height > kOverflowHeight ? height + kOverflowHeight : kOverflowHeight;
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
