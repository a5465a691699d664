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

void CMainFrame::registerSerialCommands() {
    setEnableRule(ID_SERIAL_CONNECT, [this] { return !IsAnyLinkConnected(); });
    setEnableRule(ID_SERIAL_DISCONNECT, [this] {
        return m_serialConnected && !m_modemConnected && !m_lanConnected && !m_isdnConnected;
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
            if (m_serialConnected && session == serialSession_.load())
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
            if (!m_serialConnected || session != serialSession_.load()) return;
            // Nothing more can come or go on this port: it is released at once, so
            // the menus offer Connect again, and the user is told once.
            m_serialConnected = 0;
            ++serialSession_;
            serialLink_->Connect(false);
            OnLinkEnded(QString::fromLatin1(kPortLostText));
        }, this);
    });
    if (serialLink_->Connect(true)) {
        m_serialConnected = 1;
        updateCommandUi();
        ShowMessage(kConnectedText, kConnectedTitle, MsgIcon::Information, MsgButtons::Ok);
        SendToLink("\r", 1, true);
        focusInputEdit();
        return;
    }
    m_serialConnected = 0;
    updateCommandUi();
    // The box's text is fixed; the status bar says what went wrong on this machine.
    int port = 0, baud = 0, bits = 0, stop = 0, parity = 0;
    unsigned char flow = 0;
    serialLink_->GetSettings(&port, &baud, &bits, &stop, &parity, &flow);
    QString why;
    if (serialLink_->LastOpenError() == SerialOpenError::SettingsRefused)
        why = QString::fromStdString(serialLink_->LastRefusal());
    else
        why = QString::fromLocal8Bit(std::strerror(serialLink_->LastOpenErrno()));
    statusBar()->showMessage(QStringLiteral("COM%1 (%2): %3")
                                 .arg(port + 1)
                                 .arg(QString::fromLocal8Bit(CSerialLink::DevicePath(port).c_str()),
                                      why.isEmpty() ? QStringLiteral("settings refused") : why));
    ShowMessage(kConnectFailedText, kConnectFailedTitle, MsgIcon::Error, MsgButtons::Ok);
}

void CMainFrame::OnSerialDisconnect() {
    if (!m_serialConnected) return;
    if (ShowMessage(kDisconnectQuestion, kDisconnectQuestionTitle, MsgIcon::Question,
                    MsgButtons::YesNo) != IDYES)
        return;
    if (!m_serialConnected) return;  // ended while the question was up
    StopCaptureIfRunning();
    SerialDisconnect();
    OnClearNew();
}

void CMainFrame::SerialDisconnect() {
    if (!serialLink_ || (!m_serialConnected && !serialLink_->IsOpen())) return;
    // Log out only from a command prompt; at the login stage there is nothing to end.
    if (m_serialConnected && !view_->Matcher().AwaitingLogin()) SendToLink("x\r", 2, false);
    // Cleared before the port closes, so that a request the reader left for the GUI
    // thread finds no link and a late port-lost note is dropped.
    m_serialConnected = 0;
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
