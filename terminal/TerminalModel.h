// The terminal view's drawing state without the window: lays received text out in
// screen lines, keeps the line count and scroll sizes, runs the overflow dump and
// calls the hooks of later work. ShowNewText, UpdateScrollSizes and ScrollToEnd run
// on the delivering thread; metrics, ClearScreen and Snapshot on the GUI thread.
#pragma once

#include "terminal/TerminalDisplay.h"
#include "terminal/TerminalHooks.h"
#include "terminal/TerminalSurface.h"

#include <ctime>
#include <functional>
#include <mutex>
#include <string>

class CTRQDiagDoc;

// The document is this many character widths wide.
inline constexpr int kTerminalColumns = 90;
// Lines taller than this (pixels) are dumped to a file and cleared.
inline constexpr unsigned kOverflowHeight = 32000;

// Walks text with the screen model (CR ends a line, LF ignored, TAB as eight
// blanks, other bytes as themselves) and hands each screen line numbered from
// first to last (inclusive) to draw; lines before first are only counted.
void ForEachScreenLine(std::string_view text, int first, int last,
                       const std::function<void(int index, std::string_view line)>& draw);

// Start directory + "T%02d%02d%02d.dat" with the local hour, minute and second of t.
std::string OverflowDumpPath(std::time_t t);

class TerminalModel : public TerminalDisplay {
public:
    TerminalModel(CTRQDiagDoc& doc, TerminalSurface& surface);

    // Set before any link delivers text (see TerminalHooks).
    void SetHooks(TerminalHooks hooks) { hooks_ = std::move(hooks); }

    // From the window's font, at its first display.
    void SetMetrics(int lineHeight, int charWidth);
    // From the window's client area, on every resize.
    void SetClientSize(int width, int height);

    void ShowNewText(std::string_view newText) override;
    void UpdateScrollSizes() override;
    void ScrollToEnd() override;
    void ClearScreen() override;
    void TextReplaced() override;

    struct State {
        int textX = 0, textY = 0;
        int lineCount = 0;
        int visibleLines = 0;
        int clientWidth = 0, clientHeight = 0;
        int lineHeight = 20;
        int charWidth = 0;
        ScrollSizes scroll;
    };
    // A consistent copy, taken under the drawing lock.
    State Snapshot() const;

private:
    ScrollSizes ComputeScrollSizesLocked() const;
    void ClearLocked();

    CTRQDiagDoc& doc_;
    TerminalSurface& surface_;
    TerminalHooks hooks_;

    mutable std::mutex drawingLock_;
    std::string workingCopy_;
    std::string lineBuffer_;  // reused so that one-byte blocks do not allocate
    State st_;
    unsigned dumpAbove_ = kOverflowHeight;  // raised when a dump could not be written
};
