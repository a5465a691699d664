// Serial Port Connect, Disconnect and Configure of the main frame, and the serial
// disconnect routine the close order uses. GUI thread, except the link's port-lost
// and write calls that arrive on its read thread (both are handed to the GUI thread).
#include "app/CMainFrame.h"

#include "platform/DialogRunner.h"
#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "links/CSerialConfigDlg.h"
#include "links/CSerialLink.h"
#include "links/SerialTexts.h"
#include "res/resource.h"
#include "terminal/CTRQDiagView.h"

#include <QAction>
#include <QStatusBar>

#include <cstring>

using namespace serialtext;

namespace {
// The status bar follows held output; output given up is told once, line by line.
void ReportOutputNotice(CMainFrame& frame, const OutputNotice& notice) {
    switch (notice.kind) {
    case OutputNotice::Kind::Held:
        frame.ShowNotice(QString::fromLatin1(kOutputHeldText));
        return;
    case OutputNotice::Kind::Released:
        frame.ClearNotice(QString::fromLatin1(kOutputHeldText));
        frame.ShowStatusMessage(QString::fromLatin1(kOutputReleasedText));
        return;
    case OutputNotice::Kind::NotSent: break;
    }
    std::string text = kNotSentText;
    std::string all;
    for (const std::string& part : notice.lines) all += part;
    std::string line;
    for (char c : all + '\r') {
        if (c != '\r' && c != '\n') {
            line += c;
        } else if (!line.empty()) {
            text += "\n" + line;
            line.clear();
        }
    }
    frame.ClearNotice(QString::fromLatin1(kOutputHeldText));
    frame.ShowStatusMessage(QString::fromLatin1(kNotSentText));
    ShowMessage(text.c_str(), kNotSentTitle, MsgIcon::Warning, MsgButtons::Ok);
}
} // namespace

void CMainFrame::registerSerialCommands() {
    setEnableRule(ID_SERIAL_CONNECT, [this] { return !IsAnyLinkConnected(); });
    setEnableRule(ID_SERIAL_DISCONNECT, [this] {
        return linkFlag(LinkKind::Serial) && !linkFlag(LinkKind::Modem) && !linkFlag(LinkKind::Lan) && !linkFlag(LinkKind::Isdn);
    });
    setEnableRule(ID_SERIAL_CONFIGURE, [this] { return !IsAnyLinkConnected(); });
    connect(action(ID_SERIAL_CONNECT), &QAction::triggered, this, &CMainFrame::OnSerialConnect);
    connect(action(ID_SERIAL_DISCONNECT), &QAction::triggered, this,
            &CMainFrame::OnSerialDisconnect);
    connect(action(ID_SERIAL_CONFIGURE), &QAction::triggered, this,
            &CMainFrame::OnSerialConfigure);

    setLinkWriter(LinkKind::Serial, [this](const char* text, int length) {
        if (OnGuiThread()) return serialLink_->Write(text, length);
        // The read thread's own replies (the cancel reply) would race a disconnect
        // on the GUI thread: they are written from there, in turn.
        const int session = serialSession_.load();
        PostToGui([this, session, bytes = std::string(text, length > 0 ? length : 0)] {
            if (linkFlag(LinkKind::Serial) && session == serialSession_.load())
                serialLink_->Write(bytes.data(), static_cast<int>(bytes.size()));
        }, this);
        return 1;
    });
    // A reader that asked for the password just before Close told it to end waits
    // for the GUI thread: release it while waiting for the reader.
    serialLink_->SetCloseWaitPump([this] { CancelPasswordRequest(); });
    closeSerialOnExit_ = [this] { SerialDisconnect(); };
}

void CMainFrame::OnSerialConnect() {
    if (!serialLink_ || IsAnyLinkConnected()) return;
    if (!CSerialLink::IsConfigured()) {
        ShowMessage(kNotConfiguredText, kNotConfiguredTitle, MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    OnClearNew();
    // The stored settings are the ones in use, however they were last changed.
    serialLink_->LoadSettings();
    serialLink_->SetReceiver(receiveSink());
    const int session = ++serialSession_;
    serialLink_->SetPortLostHandler([this, session](int) {
        PostToGui([this, session] {
            if (!linkFlag(LinkKind::Serial) || session != serialSession_.load()) return;
            // Nothing more can come or go on this port: it is released at once, so
            // the menus offer Connect again, and the user is told once.
            linkFlag(LinkKind::Serial) = 0;
            ++serialSession_;
            serialLink_->Connect(false);
            OnLinkEnded(QString::fromLatin1(kPortLostText));
        }, this);
    });
    serialLink_->SetOutputNotice([this, session](const OutputNotice& notice) {
        PostToGui([this, session, notice] {
            if (linkFlag(LinkKind::Serial) && session == serialSession_.load()) ReportOutputNotice(*this, notice);
        }, this);
    });
    if (serialLink_->Connect(true)) {
        linkFlag(LinkKind::Serial) = 1;
        NoteLinkConnected(LinkKind::Serial);
        updateCommandUi();
        ShowMessage(kConnectedText, kConnectedTitle, MsgIcon::Information, MsgButtons::Ok);
        SendToLink("\r", 1, true);
        focusInputEdit();
        return;
    }
    linkFlag(LinkKind::Serial) = 0;
    updateCommandUi();
    // The box's text is fixed; the status bar says what went wrong on this machine.
    int port = 0, baud = 0, bits = 0, stop = 0, parity = 0;
    unsigned char flow = 0;
    serialLink_->GetSettings(&port, &baud, &bits, &stop, &parity, &flow);
    const QString where = QStringLiteral("COM%1 (%2)").arg(port + 1).arg(
        QString::fromLocal8Bit(CSerialLink::DevicePath(port).c_str()));
    QString why;
    if (serialLink_->LastOpenError() == SerialOpenError::SettingsRefused)
        why = QString::fromStdString(serialLink_->LastRefusal());
    else
        why = QString::fromLocal8Bit(std::strerror(serialLink_->LastOpenErrno()));
    if (serialLink_->LastOpenError() == SerialOpenError::PortUnavailable && !serialLink_->LastRefusal().empty())
        statusBar()->showMessage(where + QStringLiteral(" is ") + QString::fromLocal8Bit(serialLink_->LastRefusal().c_str()));
    else
        statusBar()->showMessage(where + QStringLiteral(": ") +
                                 (why.isEmpty() ? QStringLiteral("settings refused") : why));
    ShowMessage(kConnectFailedText, kConnectFailedTitle, MsgIcon::Error, MsgButtons::Ok);
}

void CMainFrame::OnSerialDisconnect() {
    if (!linkFlag(LinkKind::Serial)) return;
    if (ShowMessage(kDisconnectQuestion, kDisconnectQuestionTitle, MsgIcon::Question,
                    MsgButtons::YesNo) != IDYES)
        return;
    if (!linkFlag(LinkKind::Serial)) return;  // ended while the question was up
    StopCaptureIfRunning();
    SerialDisconnect();
    OnClearNew();
}

void CMainFrame::SerialDisconnect() {
    if (!serialLink_ || (!linkFlag(LinkKind::Serial) && !serialLink_->IsOpen())) return;
    // Log out only from a command prompt; at the login stage there is nothing to end.
    if (linkFlag(LinkKind::Serial) && !view_->Matcher().AwaitingLogin()) SendToLink("x\r", 2, false);
    // Cleared before the port closes, so that a request the reader left for the GUI
    // thread finds no link and a late port-lost note is dropped.
    linkFlag(LinkKind::Serial) = 0;
    ++serialSession_;
    serialLink_->Connect(false);
    // A warning about an answer that can no longer come would be wrong now.
    StopResponseTimer();
    StopWakeupTimer();
    updateCommandUi();
    ShowMessage(kDisconnectedText, kDisconnectedTitle, MsgIcon::Information, MsgButtons::Ok);
}

void CMainFrame::OnSerialConfigure() {
    if (!serialLink_ || IsAnyLinkConnected()) return;
    serialLink_->LoadSettings();
    CSerialConfigDlg dlg(serialLink_.get(), this);
    RunModal(dlg);
}
