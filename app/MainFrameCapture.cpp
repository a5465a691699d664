// Capture On / Capture Off of the main frame and the hand-over of received text to
// the trace file. Commands on the GUI thread; SaveTrace on the delivering thread.
#include "app/CMainFrame.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "commands/CInputBoxBar.h"
#include "res/resource.h"
#include "terminal/CTRQDiagView.h"

#include <QAction>
#include <QLineEdit>
#include <QStatusBar>

namespace {
const char* const kTraceSection = "Trace";
const char* const kTimestampsKey = "Timestamps";
const char* const kViewSection = "View";
const char* const kHideControlsKey = "HideControlSequences";
} // namespace

void CMainFrame::registerCaptureCommands() {
    setEnableRule(ID_CAPTURE_ON, [this] { return !m_captureRunning; });
    setEnableRule(ID_CAPTURE_OFF, [this] { return m_captureRunning != 0; });
    connect(action(ID_CAPTURE_ON), &QAction::triggered, this, &CMainFrame::OnCaptureOn);
    connect(action(ID_CAPTURE_OFF), &QAction::triggered, this, &CMainFrame::OnCaptureOff);
    // The failing write may run on a reader thread, which must not wait for the user.
    trace_.SetFailureHandler([this](const std::string& path) {
        PostToGui([this, path] { OnTraceWriteFailed(path); }, this);
    });

    trace_.SetTimestamps(Profile::get().getInt(kTraceSection, kTimestampsKey, 0) != 0);
    setEnableRule(ID_VIEW_TRACE_TIMESTAMPS, [] { return true; });
    setCheckRule(ID_VIEW_TRACE_TIMESTAMPS, [this] { return trace_.timestamps(); });
    connect(action(ID_VIEW_TRACE_TIMESTAMPS), &QAction::triggered, this, [this] {
        const bool on = !trace_.timestamps();
        trace_.SetTimestamps(on);
        Profile::get().writeInt(kTraceSection, kTimestampsKey, on ? 1 : 0);
        updateCommandUi();
    });

    // The screen only: the trace file and the dumps keep every byte either way.
    TerminalModel& screen = view_->Model();
    screen.SetHideControls(Profile::get().getInt(kViewSection, kHideControlsKey, 0) != 0);
    setEnableRule(ID_VIEW_HIDE_CONTROLS, [] { return true; });
    setCheckRule(ID_VIEW_HIDE_CONTROLS, [&screen] { return screen.HideControls(); });
    connect(action(ID_VIEW_HIDE_CONTROLS), &QAction::triggered, this, [this, &screen] {
        const bool on = !screen.HideControls();
        screen.SetHideControls(on);
        Profile::get().writeInt(kViewSection, kHideControlsKey, on ? 1 : 0);
        updateCommandUi();
    });
}

void CMainFrame::focusInputEdit() {
    if (inputBar_) inputBar_->edit()->setFocus();
}

void CMainFrame::OnCaptureOn() {
    if (m_captureRunning) return;
    SaveFileRequest req;
    req.defaultExt = "txt";
    req.initialName = "*.txt";
    req.filter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";
    req.overwritePrompt = true;
    const auto path = MessageService::get().saveFileName(req);
    if (!path) return;
    if (!trace_.Begin(*path)) {
        ShowMessage("Failed to Open File", "", MsgIcon::Warning);
        return;
    }
    m_captureRunning = 1;  // Capture On stays grey while the confirmation is up
    ShowMessage("Now Start to Save trace data.", "Confirm starting", MsgIcon::None, MsgButtons::Ok);
    // Events handled while the box was up may have ended this capture already.
    if (trace_.state() != TraceCapture::State::Starting) return;
    if (!trace_.Confirm()) ShowMessage("file open failure in TraceSaveLabel", "", MsgIcon::Warning);
    updateCommandUi();
    focusInputEdit();
}

void CMainFrame::OnCaptureOff() {
    if (!m_captureRunning) return;
    const std::string path = trace_.End();
    ShowMessage("Stop Saving trace data.", "Confirm stopping", MsgIcon::None, MsgButtons::Ok);
    // No path: a failed write has ended the capture already, and its report is on its way.
    if (!path.empty() && !TraceCapture::WriteLabel(path, false, std::time(nullptr)))
        ShowMessage("file open failure in TraceSaveLabel", "", MsgIcon::Warning);
    m_captureRunning = 0;
    updateCommandUi();
    focusInputEdit();
}

void CMainFrame::StopCaptureIfRunning() {
    if (m_captureRunning) OnCaptureOff();
}

void CMainFrame::SaveTrace(std::string_view text) {
    // A failure ends the capture and reaches OnTraceWriteFailed once.
    trace_.SaveReceived(text);
}

void CMainFrame::OnTraceWriteFailed(const std::string& path) {
    if (m_captureRunning) {
        m_captureRunning = 0;
        updateCommandUi();
    }
    ShowNotice(QStringLiteral("Capture stopped: cannot write to %1; it keeps the text written before.")
                   .arg(QString::fromLocal8Bit(path.c_str())));
    ShowMessage("file open failure in Save_Trace", "", MsgIcon::Warning);
}
