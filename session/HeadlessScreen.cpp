#include "session/HeadlessScreen.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "session/Session.h"

namespace {
// A fixed-pitch cell of the view's usual size: the overflow bounds come out the same.
constexpr int kCellWidth = 8;
constexpr int kLineHeight = 16;
} // namespace

HeadlessScreen::HeadlessScreen(Session& session, std::function<void(std::string_view)> echo)
    : session_(session), model_(session.document(), *this) {
    TerminalHooks hooks = session.terminalHooks();
    if (echo) {
        hooks.promptHandling = [echo = std::move(echo), next = std::move(hooks.promptHandling)](std::string_view text) {
            echo(text);
            if (next) next(text);
        };
    }
    model_.SetHooks(std::move(hooks));
    model_.SetMetrics(kLineHeight, kCellWidth);
    model_.SetClientSize(kTerminalColumns * kCellWidth, 25 * kLineHeight);
    session.document().SetView(&model_);
}

HeadlessScreen::~HeadlessScreen() { session_.document().SetView(nullptr); }

int HeadlessScreen::LineWidth(std::string_view line) { return static_cast<int>(line.size()) * kCellWidth; }

void HeadlessScreen::DumpFailed(const std::string& path) {
    // Posted: a read thread must never wait for the GUI thread.
    const std::string text = "Unable to save the terminal text to " + path + ".";
    PostToGui([text] { ShowMessage(text, std::string(), MsgIcon::Error, MsgButtons::Ok); }, &session_);
}
