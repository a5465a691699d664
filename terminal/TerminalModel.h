// The terminal view's drawing state without the window: lays received text out in
// screen lines, keeps the line count and scroll sizes, runs the overflow dump and
// calls the hooks of later work. ShowNewText, UpdateScrollSizes and ScrollToEnd run
// on the delivering thread; metrics, ClearScreen and the readers below on the GUI
// thread. The model keeps the text as drawn (TABs expanded, LF dropped, one entry
// per screen line), so that painting, selection and find never walk the transcript.
#pragma once

#include "terminal/ControlFilter.h"
#include "terminal/TerminalDisplay.h"
#include "terminal/TerminalHooks.h"
#include "terminal/TerminalSurface.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CTRQDiagDoc;

// The document is this many character widths wide.
inline constexpr int kTerminalColumns = 90;
// Lines taller than this (pixels) are dumped to a file and cleared.
inline constexpr unsigned kOverflowHeight = 32000;
// Text longer than this (bytes received, or bytes drawn) is dumped the same way, so
// that a stream without carriage returns is bounded too.
inline constexpr size_t kOverflowBytes = size_t{1} << 20;
// The line still being received when a dump is due (the prompt, usually) stays on
// screen and goes into the next dump, unless it is longer than this many bytes.
inline constexpr size_t kKeptLineBytes = 4096;
// Below this much free space in the start directory after a dump, the user is told once.
inline constexpr uint64_t kLowDumpSpaceBytes = uint64_t{1} << 30;
// While dumps keep failing the text is kept, up to this many times either bound;
// beyond it the screen is cleared as a dump would (the failure was reported).
inline constexpr unsigned kFailedDumpKeepFactor = 16;

// Walks text with the screen model (CR ends a line, LF ignored, TAB as eight
// blanks, other bytes as themselves) and hands each screen line numbered from
// first to last (inclusive) to draw; lines before first are only counted.
void ForEachScreenLine(std::string_view text, int first, int last,
                       const std::function<void(int index, std::string_view line)>& draw);

// Start directory + "T%02d%02d%02d.dat" with the local hour, minute and second of t.
std::string OverflowDumpPath(std::time_t t);

// One place where find matched: screen line, first column, length in columns.
struct TextMatch {
    int line = 0;
    int column = 0;
    int length = 0;
    bool operator==(const TextMatch&) const = default;
};

class TerminalModel : public TerminalDisplay {
public:
    TerminalModel(CTRQDiagDoc& doc, TerminalSurface& surface);

    // Set before any link delivers text (see TerminalHooks).
    void SetHooks(TerminalHooks hooks) { hooks_ = std::move(hooks); }

    // View > Hide Control Sequences: text arriving from now on is shown without its
    // escape sequences and control characters, backspace applied. The document (and
    // so the dumps) and the trace get the text as received either way. Any thread.
    void SetHideControls(bool on);
    bool HideControls() const { return hideControls_.load(); }

    // From the window's font, at its first display.
    void SetMetrics(int lineHeight, int charWidth);
    // From the window's client area, on every resize.
    void SetClientSize(int width, int height);
    // The overflow bounds (pixels of lines, bytes); kOverflowHeight and kOverflowBytes
    // unless changed. Smaller ones let a test or a fuzzer reach the dumps quickly.
    void SetOverflowLimits(uint64_t height, uint64_t bytes);

    void ShowNewText(std::string_view newText) override;
    void UpdateScrollSizes() override;
    void ScrollToEnd() override;
    void ClearScreen() override;
    void TextReplaced() override;

    struct State {
        int64_t textX = 0, textY = 0;
        int lineCount = 0;
        int visibleLines = 0;
        int clientWidth = 0, clientHeight = 0;
        int lineHeight = 20;
        int charWidth = 0;
        ScrollSizes scroll;
    };
    // The free space under which a dump warns (tests raise it).
    void SetLowSpaceBound(uint64_t bytes) { lowSpaceBound_.store(bytes); }

    // A consistent copy, taken under the drawing lock.
    State Snapshot() const;

    // What changed on screen since the last call: lines from fromLine on (-1: none),
    // or everything (erase) after a clear. The window asks once per repaint.
    struct Changes {
        int fromLine = -1;
        bool erase = false;
        uint64_t clears = 0;  // counts clears, so that a find knows its matches went
    };
    Changes TakeChanges();

    // Screen lines first..last (as drawn), each cut to at most maxColumns columns:
    // the cost depends on the window's size, not on the text's.
    std::vector<std::string> VisibleLines(int first, int last, size_t maxColumns) const;
    // The text from (line0, col0) up to, not including, (line1, col1), lines joined
    // by "\n"; columns beyond a line's end mean its end.
    std::string TextBetween(int line0, int col0, int line1, int col1) const;
    // Length in columns of one screen line (0 beyond the last).
    int LineLength(int line) const;
    // Every place where needle occurs in the text held since the last clear, ignoring
    // case (Latin-1), in order; at most maxMatches.
    std::vector<TextMatch> FindAll(std::string_view needle, size_t maxMatches = 100000) const;

private:
    ScrollSizes ComputeScrollSizesLocked() const;
    // Empties the document and the model; ResetLocked the model only.
    void ClearLocked();
    void ResetLocked();
    // rawBase: where the block starts in the received bytes, -1 when it is filtered text.
    void AppendDrawnLocked(std::string_view block, int64_t rawBase);
    void NoteLineStartLocked(std::string_view block, uint64_t base);
    // AppendDrawnLocked after the control filter, when it is on.
    void AppendShownLocked(std::string_view block);
    // Counts the lines of block that the coming dump is certain to take, without laying
    // them out; returns the rest of the block. RelayFromDocumentLocked lays them out
    // after all when that dump fails.
    std::string_view SkipDumpedLinesLocked(std::string_view block);
    void RelayFromDocumentLocked();
    std::string_view LineLocked(int line) const;

    CTRQDiagDoc& doc_;
    TerminalSurface& surface_;
    TerminalHooks hooks_;

    mutable std::mutex drawingLock_;
    std::string drawn_;                 // the text as drawn, screen lines back to back
    std::vector<size_t> lineStarts_{0};  // where each screen line begins in drawn_
    uint64_t receivedBytes_ = 0;        // bytes received since the last clear
    uint64_t lineStartByte_ = 0;        // where the line being received begins in them
    State st_;
    Changes changes_;
    uint64_t overflowHeight_ = kOverflowHeight;
    uint64_t overflowBytes_ = kOverflowBytes;
    uint64_t dumpAboveHeight_ = kOverflowHeight;  // raised when a dump could not be written
    uint64_t dumpAboveBytes_ = kOverflowBytes;
    bool dumpFailing_ = false;  // reported once per run of failed dumps
    bool skippedLines_ = false;  // lines counted but not laid out since the last clear
    uint64_t dumpedBytes_ = 0;  // written by the dumps of this run
    int dumps_ = 0;
    bool lowSpaceTold_ = false;
    std::atomic<uint64_t> lowSpaceBound_{kLowDumpSpaceBytes};
    std::atomic<bool> hideControls_{false};
    ControlFilter filter_;  // state kept across blocks (and dumps)
    std::string shown_;     // the filter's output for one block
};
