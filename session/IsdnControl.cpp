// The ISDN link's controller. Commands on the GUI thread; the consumer and the Telnet
// replies on the link's reader thread.
#include "session/IsdnControl.h"

#include "session/LinkHost.h"
#include "session/SessionFace.h"
#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "links/IsdnLink.h"
#include "links/IsdnNumbers.h"
#include "links/IsdnTexts.h"
#include "res/resource.h"
#include "terminal/TelnetEscape.h"
#include "terminal/TelnetStream.h"
#include "terminal/TraceCapture.h"

#include <QCoreApplication>

#include <chrono>
#include <thread>

IsdnControl::IsdnControl(LinkHost& host) : host_(host) {}

IsdnControl::~IsdnControl() = default;

void IsdnControl::Connect(bool askGoAhead) {
    if (host_.IsAnyLinkConnected()) return;  // a trigger that bypassed the enable rule
    host_.ClearScreen();
    const std::string number = ReadStoredIsdnNumber();
    // The phone book is only a go-ahead here: a number picked there is the modem's.
    if (askGoAhead && !host_.face().askIsdnGoAhead(host_.modemLink(), number)) return;
    if (number.empty()) {
        ShowMessage(isdn::kNoNumber);
        return;
    }

    Close();  // whatever an earlier connect left behind
    link_ = std::make_shared<CIsdnLink>();
    CIsdnLink* link = link_.get();
    stopping_ = false;

    // Outgoing text is data for a Telnet peer: every 255 goes out doubled. The
    // prompt matcher's cancel reply comes this way from the reader thread, which
    // must not wait for a message box: its failure is posted.
    host_.setLinkWriter(LinkKind::Isdn, [this, link = link_](const char* text, int length) -> int {
        const std::string escaped = DoubleIac(text, length);
        const bool onGui = OnGuiThread();
        if (link->write(escaped.data(), static_cast<int>(escaped.size()), onGui)) return 1;
        if (!onGui) PostToGui([] { ShowMessage(isdn::kSendFailed); }, this);
        return 0;
    });
    // The stream's own replies are Telnet commands, sent as they are and quietly:
    // they are written on the reader thread.
    host_.telnet().Reset();
    host_.telnet().SetWriter([link](const char* bytes, int count) {
        return link->write(bytes, count, /*reportFailure=*/false) ? count : -1;
    });
    host_.NoteConnectStarting();
    link->setConsumer([this](const unsigned char* bytes, int length) {
        // Announce first, then look: Close sets the stop flag first, then
        // looks, so one of the two always sees the other.
        readerInStream_ = true;
        if (!stopping_) {
            // The stream shows data a byte at a time; the trace file gets the block at once.
            host_.trace().BeginBlock();
            host_.telnet().Feed(bytes, static_cast<std::size_t>(length));
            host_.trace().EndBlock();
        }
        readerInStream_ = false;
    });

    // The far end hung up: the call is released as ISDN Disconnect would, without
    // its question and boxes; the status bar says so once.
    const unsigned call = ++calls_;
    link->setCallEndedHandler([this, call] {
        PostToGui([this, call] {
            if (call != calls_ || !link_ || !host_.isLinkConnected(LinkKind::Isdn)) return;
            Close();
            host_.setLinkConnected(LinkKind::Isdn, false);
            host_.OnLinkEnded(QStringLiteral("ISDN call ended by the far end."));
        }, this);
    });

    if (!link->connect()) {
        Close();
        ShowMessage(isdn::kConnectFailed, isdn::kConnectFailedTitle, MsgIcon::Error);
        host_.updateState();
        return;
    }
    host_.setLinkConnected(LinkKind::Isdn, true);
    host_.NoteLinkConnected(LinkKind::Isdn);
    host_.updateState();
    ShowMessage(isdn::kEstablished, isdn::kEstablishedTitle, MsgIcon::Information);
    host_.ScheduleConnectWakeup(LinkKind::Isdn);
    host_.face().focusInput();
}

void IsdnControl::OnDisconnect() {
    if (!host_.isLinkConnected(LinkKind::Isdn) || !link_) return;
    // Chosen from inside the Enter Password dialog that the reader is waiting for,
    // the close could never join the reader: the dialog has to be answered first.
    if (host_.passwordDialogOpen()) return;
    if (ShowMessage(isdn::kConfirmDisconnect, isdn::kConfirmDisconnectTitle, MsgIcon::Question,
                    MsgButtons::YesNo) != IDYES)
        return;
    host_.StopCaptureIfRunning();
    Close();
    ShowMessage(isdn::kDisconnected);
    host_.setLinkConnected(LinkKind::Isdn, false);
    host_.updateState();
}

void IsdnControl::Close() {
    if (!link_) return;
    stopping_ = true;
    // A reader inside the stream may be waiting for this thread (the Enter Password
    // dialog): serve it until it has left, or joining it would never return.
    while (readerInStream_) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    link_->close();  // joins the reader
    host_.setLinkWriter(LinkKind::Isdn, {});
    host_.setReceiveSink(host_.receiveSink());  // the session's own writer for Telnet replies again
    link_.reset();
}
