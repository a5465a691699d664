// The terminal's layout without a window: the session document's display for a face
// that draws nothing. Received text is laid out as under the view (and dumped to the
// working folder when it overflows, so that any stream stays in bounded memory), and the
// session's hooks (timers, trace, login, scripts) run on it. Texts pass through to an
// optional echo on the delivering thread.
#pragma once

#include "terminal/TerminalModel.h"
#include "terminal/TerminalSurface.h"

#include <functional>
#include <string_view>

class Session;

class HeadlessScreen : private TerminalSurface {
public:
    // Attaches itself to the session's document; echo, when given, gets each block first.
    explicit HeadlessScreen(Session& session, std::function<void(std::string_view)> echo = {});
    ~HeadlessScreen() override;
    HeadlessScreen(const HeadlessScreen&) = delete;
    HeadlessScreen& operator=(const HeadlessScreen&) = delete;

private:
    int LineWidth(std::string_view line) override;
    void SetScrollSizes(const ScrollSizes&) override {}
    void ScrollTo(int) override {}
    void RequestRepaint(bool) override {}
    void DumpFailed(const std::string& path) override;

    Session& session_;
    TerminalModel model_;
};
