// The serial port link's controller. GUI thread, except the link's port-lost, output
// and write calls that arrive on its read thread (all are handed to the GUI thread).
#include "session/SerialControl.h"

#include "session/LinkHost.h"
#include "session/SessionFace.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "links/CSerialLink.h"
#include "links/PortIo.h"
#include "links/SerialTexts.h"
#include "res/resource.h"


#include <cstring>

using namespace serialtext;

void ReportOutputNotice(LinkHost& host, const OutputNotice& notice, const char* title) {
    switch (notice.kind) {
    case OutputNotice::Kind::Held:
        host.ShowNotice(QString::fromLatin1(kOutputHeldText));
        return;
    case OutputNotice::Kind::Released:
        host.ClearNotice(QString::fromLatin1(kOutputHeldText));
        host.ShowStatusMessage(QString::fromLatin1(kOutputReleasedText));
        return;
    case OutputNotice::Kind::NotSent: break;
    }
    const std::string text = NotSentText(kNotSentText, notice.lines);
    host.ClearNotice(QString::fromLatin1(kOutputHeldText));
    host.ShowStatusMessage(QString::fromLatin1(kNotSentText));
    ShowMessage(text.c_str(), title, MsgIcon::Warning, MsgButtons::Ok);
}

SerialControl::SerialControl(LinkHost& host) : host_(host), link_(std::make_unique<CSerialLink>()) {}

SerialControl::~SerialControl() = default;

void SerialControl::install() {
    host_.setLinkWriter(LinkKind::Serial, [this](const char* text, int length) {
        if (OnGuiThread()) return link_->Write(text, length);
        // The read thread's own replies (the cancel reply) would race a disconnect
        // on the GUI thread: they are written from there, in turn.
        const int session = session_.load();
        PostToGui([this, session, bytes = std::string(text, length > 0 ? length : 0)] {
            if (host_.isLinkConnected(LinkKind::Serial) && session == session_.load())
                link_->Write(bytes.data(), static_cast<int>(bytes.size()));
        }, this);
        return 1;
    });
    // A reader that asked for the password just before Close told it to end waits
    // for the GUI thread: release it while waiting for the reader.
    link_->SetCloseWaitPump([this] { host_.CancelPasswordRequest(); });
}

void SerialControl::OnConnect() {
    if (!link_ || host_.IsAnyLinkConnected()) return;
    if (!CSerialLink::IsConfigured()) {
        ShowMessage(kNotConfiguredText, kNotConfiguredTitle, MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    host_.ClearScreen();
    // The stored settings are the ones in use, however they were last changed.
    link_->LoadSettings();
    link_->SetReceiver(host_.receiveSink());
    const int session = ++session_;
    link_->SetPortLostHandler([this, session](int) {
        PostToGui([this, session] {
            if (!host_.isLinkConnected(LinkKind::Serial) || session != session_.load()) return;
            // Nothing more can come or go on this port: it is released at once, so
            // the menus offer Connect again, and the user is told once.
            host_.setLinkConnected(LinkKind::Serial, false);
            ++session_;
            link_->Connect(false);
            host_.OnLinkEnded(QString::fromLatin1(kPortLostText));
        }, this);
    });
    link_->SetOutputNotice([this, session](const OutputNotice& notice) {
        PostToGui([this, session, notice] {
            if (host_.isLinkConnected(LinkKind::Serial) && session == session_.load())
                ReportOutputNotice(host_, notice, kNotSentTitle);
        }, this);
    });
    if (link_->Connect(true)) {
        host_.setLinkConnected(LinkKind::Serial, true);
        host_.NoteLinkConnected(LinkKind::Serial);
        host_.updateState();
        ShowMessage(kConnectedText, kConnectedTitle, MsgIcon::Information, MsgButtons::Ok);
        if (const std::string note = link_->LastOpenNote(); !note.empty())
            host_.ShowNotice(QString::fromLocal8Bit(("Serial port " + note).c_str()));
        host_.SendToLink("\r", 1, true);
        host_.face().focusInput();
        return;
    }
    host_.setLinkConnected(LinkKind::Serial, false);
    host_.updateState();
    // The box's text is fixed; the status bar says what went wrong on this machine.
    int port = 0, baud = 0, bits = 0, stop = 0, parity = 0;
    unsigned char flow = 0;
    link_->GetSettings(&port, &baud, &bits, &stop, &parity, &flow);
    const QString where = QStringLiteral("COM%1 (%2)").arg(port + 1).arg(
        QString::fromLocal8Bit(CSerialLink::DevicePath(port).c_str()));
    QString why;
    if (link_->LastOpenError() == SerialOpenError::SettingsRefused)
        why = QString::fromStdString(link_->LastRefusal());
    else
        why = QString::fromLocal8Bit(std::strerror(link_->LastOpenErrno()));
    if (link_->LastOpenError() == SerialOpenError::PortUnavailable && !link_->LastRefusal().empty())
        host_.ShowStatusMessage(where + QStringLiteral(" is ") + QString::fromLocal8Bit(link_->LastRefusal().c_str()));
    else
        host_.ShowStatusMessage(where + QStringLiteral(": ") +
                                 (why.isEmpty() ? QStringLiteral("settings refused") : why));
    ShowMessage(kConnectFailedText, kConnectFailedTitle, MsgIcon::Error, MsgButtons::Ok);
}

void SerialControl::OnDisconnect() {
    if (!host_.isLinkConnected(LinkKind::Serial)) return;
    if (ShowMessage(kDisconnectQuestion, kDisconnectQuestionTitle, MsgIcon::Question,
                    MsgButtons::YesNo) != IDYES)
        return;
    if (!host_.isLinkConnected(LinkKind::Serial)) return;  // ended while the question was up
    host_.StopCaptureIfRunning();
    Disconnect();
    host_.ClearScreen();
}

void SerialControl::Disconnect() {
    if (!link_ || (!host_.isLinkConnected(LinkKind::Serial) && !link_->IsOpen())) return;
    // Log out only from a command prompt; at the login stage there is nothing to end.
    if (host_.isLinkConnected(LinkKind::Serial) && !host_.awaitingLogin()) host_.SendToLink("x\r", 2, false);
    // Cleared before the port closes, so that a request the reader left for the GUI
    // thread finds no link and a late port-lost note is dropped.
    host_.setLinkConnected(LinkKind::Serial, false);
    ++session_;
    link_->Connect(false);
    // A warning about an answer that can no longer come would be wrong now.
    host_.StopResponseTimer();
    host_.StopWakeupTimer();
    host_.updateState();
    ShowMessage(kDisconnectedText, kDisconnectedTitle, MsgIcon::Information, MsgButtons::Ok);
}
