// A terminal surface for core tests: every character is 8 pixels wide, and the
// requests the model makes are recorded. Called from whichever thread delivers text.
#pragma once

#include "terminal/TerminalSurface.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class FakeSurface : public TerminalSurface {
public:
    static constexpr int kCharWidth = 8;

    int LineWidth(std::string_view line) override {
        return static_cast<int>(line.size()) * kCharWidth;
    }
    void SetScrollSizes(const ScrollSizes& s) override {
        std::lock_guard lock(m_);
        sizes = s;
    }
    void ScrollTo(int y) override { scrolledTo.store(y); }
    void RequestRepaint(bool erase) override {
        ++repaints;
        if (erase) ++erasingRepaints;
    }
    void DumpFailed(const std::string& path) override {
        std::lock_guard lock(m_);
        failedDumps.push_back(path);
    }

    void DumpWritten(const DumpReport& r) override {
        std::lock_guard lock(m_);
        writtenDumps.push_back(r);
    }
    std::vector<DumpReport> WrittenDumps() {
        std::lock_guard lock(m_);
        return writtenDumps;
    }

    ScrollSizes Sizes() {
        std::lock_guard lock(m_);
        return sizes;
    }
    std::vector<std::string> FailedDumps() {
        std::lock_guard lock(m_);
        return failedDumps;
    }

    std::atomic<int> scrolledTo{-1};
    std::atomic<int> repaints{0};
    std::atomic<int> erasingRepaints{0};

private:
    std::mutex m_;
    ScrollSizes sizes;
    std::vector<std::string> failedDumps;
    std::vector<DumpReport> writtenDumps;
};
