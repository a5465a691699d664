// Capture On / Capture Off and the end of a capture whose file failed. GUI thread; the
// received text reaches the trace file through the terminal hooks on the delivering thread.
#include "session/Session.h"

#include "platform/MessageService.h"

#include <ctime>

void Session::CaptureOn() {
    if (captureRunning_) return;
    SaveFileRequest req;
    req.defaultExt = "txt";
    req.initialName = "*.txt";
    req.filter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";
    req.overwritePrompt = true;
    const auto path = MessageService::get().saveFileName(req);
    if (path) StartCapture(*path);
}

bool Session::StartCapture(const std::string& path) {
    if (captureRunning_) return false;
    if (!trace_.Begin(path)) {
        ShowMessage("Failed to Open File", "", MsgIcon::Warning);
        return false;
    }
    captureRunning_ = 1;  // Capture On stays grey while the confirmation is up
    ShowMessage("Now Start to Save trace data.", "Confirm starting", MsgIcon::None, MsgButtons::Ok);
    // Events handled while the box was up may have ended this capture already.
    if (trace_.state() != TraceCapture::State::Starting) return false;
    if (!trace_.Confirm()) ShowMessage("file open failure in TraceSaveLabel", "", MsgIcon::Warning);
    updateState();
    face_.focusInput();
    return true;
}

void Session::CaptureOff() {
    if (!captureRunning_) return;
    const std::string path = trace_.End();
    ShowMessage("Stop Saving trace data.", "Confirm stopping", MsgIcon::None, MsgButtons::Ok);
    // No path: a failed write has ended the capture already, and its report is on its way.
    if (!path.empty() && !TraceCapture::WriteLabel(path, false, std::time(nullptr)))
        ShowMessage("file open failure in TraceSaveLabel", "", MsgIcon::Warning);
    captureRunning_ = 0;
    updateState();
    face_.focusInput();
}

void Session::StopCaptureIfRunning() {
    if (captureRunning_) CaptureOff();
}

void Session::EndCaptureOnExit() {
    if (!captureRunning_) return;
    const std::string path = trace_.End();
    if (!path.empty() && !TraceCapture::WriteLabel(path, false, std::time(nullptr)))
        ShowMessage("file open failure in TraceSaveLabel", "", MsgIcon::Warning);
    ShowMessage("Stop Saving trace data.", "Confirm stopping", MsgIcon::None, MsgButtons::Ok);
    captureRunning_ = 0;
}

void Session::SetTraceTimestamps(bool on) { trace_.SetTimestamps(on); }

void Session::OnTraceWriteFailed(const std::string& path) {
    if (captureRunning_) {
        captureRunning_ = 0;
        updateState();
    }
    ShowNotice(QStringLiteral("Capture stopped: cannot write to %1; it keeps the text written before.")
                   .arg(QString::fromLocal8Bit(path.c_str())));
    ShowMessage("file open failure in Save_Trace", "", MsgIcon::Warning);
}
