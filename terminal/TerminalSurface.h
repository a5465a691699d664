// What the terminal model needs from the window that shows it: the drawn width of
// a line and requests to repaint and scroll. Called from whichever thread delivers
// text, so an implementation only records the request and repaints on its own thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct ScrollSizes {
    int totalWidth = 0, totalHeight = 0;
    int pageWidth = 0, pageHeight = 0;
    int lineWidth = 0, lineHeight = 0;
};

class TerminalSurface {
public:
    virtual ~TerminalSurface() = default;
    // Pixel width of one screen line as drawn (TABs already expanded, no CR or LF).
    virtual int LineWidth(std::string_view line) = 0;
    virtual void SetScrollSizes(const ScrollSizes& sizes) = 0;
    // Scroll so that document y is the top of the window.
    virtual void ScrollTo(int y) = 0;
    // Something changed on screen; erase: the whole window must be cleared first.
    virtual void RequestRepaint(bool erase) = 0;
    // The overflow dump could not be written; the text was kept.
    virtual void DumpFailed(const std::string& path) = 0;
    // An overflow dump was written: what went where, and what the dumps of this run
    // hold on disk. lowSpace is set once when the start directory's free space
    // (freeBytes, -1 when unknown) falls under the warning bound.
    struct DumpReport {
        std::string path;
        uint64_t bytes = 0;
        uint64_t totalBytes = 0;
        int dumps = 0;
        int64_t freeBytes = -1;
        bool lowSpace = false;
    };
    virtual void DumpWritten(const DumpReport&) {}
};
