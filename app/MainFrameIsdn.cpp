// ISDN Connect, Disconnect and Configure of the main frame, and the hand-over of the
// ISDN reader's blocks to the Telnet stream. Commands on the GUI thread; the consumer
// and the Telnet replies on the link's reader thread.
#include "app/CMainFrame.h"

#include "platform/DialogRunner.h"
#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "links/CIsdnConfigDlg.h"
#include "links/IsdnLink.h"
#include "links/IsdnNumbers.h"
#include "links/IsdnTexts.h"
#include "phonebook/CPhoneBookDlg.h"
#include "res/resource.h"
#include "terminal/CEnterPasswordDlg.h"
#include "terminal/TelnetEscape.h"

#include <QAction>
#include <QCoreApplication>

#include <chrono>
#include <thread>

void CMainFrame::IsdnLinkDeleter::operator()(CIsdnLink* link) const { delete link; }

void CMainFrame::registerIsdnCommands() {
    setEnableRule(ID_ISDN_CONNECT, [this] { return !IsAnyLinkConnected(); });
    setEnableRule(ID_ISDN_DISCONNECT, [this] {
        return linkFlag(LinkKind::Isdn) && !linkFlag(LinkKind::Serial) && !linkFlag(LinkKind::Modem) && !linkFlag(LinkKind::Lan);
    });
    setEnableRule(ID_ISDN_CONFIGURE, [this] { return !IsAnyLinkConnected(); });
    connect(action(ID_ISDN_CONNECT), &QAction::triggered, this, &CMainFrame::OnIsdnConnect);
    connect(action(ID_ISDN_DISCONNECT), &QAction::triggered, this, &CMainFrame::OnIsdnDisconnect);
    connect(action(ID_ISDN_CONFIGURE), &QAction::triggered, this, &CMainFrame::OnIsdnConfigure);
}

void CMainFrame::OnIsdnConnect() { IsdnConnect(true); }

void CMainFrame::IsdnConnect(bool askGoAhead) {
    if (IsAnyLinkConnected()) return;  // a trigger that bypassed the enable rule
    OnClearNew();
    const std::string number = ReadStoredIsdnNumber();
    // The phone book is only a go-ahead here: a number picked there is the modem's.
    if (askGoAhead && ShowPhoneBook(this, *modemLink_) != IDOK) return;
    if (number.empty()) {
        ShowMessage(isdn::kNoNumber);
        return;
    }

    CloseIsdnLink();  // whatever an earlier connect left behind
    isdnLink_.reset(new CIsdnLink());
    CIsdnLink* link = isdnLink_.get();
    isdnStopping_ = false;

    // Outgoing text is data for a Telnet peer: every 255 goes out doubled. The
    // prompt matcher's cancel reply comes this way from the reader thread, which
    // must not wait for a message box: its failure is posted.
    setLinkWriter(LinkKind::Isdn, [this, link](const char* text, int length) -> int {
        const std::string escaped = DoubleIac(text, length);
        const bool onGui = OnGuiThread();
        if (link->write(escaped.data(), static_cast<int>(escaped.size()), onGui)) return 1;
        if (!onGui) PostToGui([] { ShowMessage(isdn::kSendFailed); }, this);
        return 0;
    });
    // The stream's own replies are Telnet commands, sent as they are and quietly:
    // they are written on the reader thread.
    telnet().Reset();
    telnet().SetWriter([link](const char* bytes, int count) {
        return link->write(bytes, count, /*reportFailure=*/false) ? count : -1;
    });
    NoteConnectStarting();
    link->setConsumer([this](const unsigned char* bytes, int length) {
        // Announce first, then look: CloseIsdnLink sets the stop flag first, then
        // looks, so one of the two always sees the other.
        isdnReaderInStream_ = true;
        if (!isdnStopping_) {
            // The stream shows data a byte at a time; the trace file gets the block at once.
            trace().BeginBlock();
            telnet().Feed(bytes, static_cast<std::size_t>(length));
            trace().EndBlock();
        }
        isdnReaderInStream_ = false;
    });

    // The far end hung up: the call is released as ISDN Disconnect would, without
    // its question and boxes; the status bar says so once.
    const unsigned call = ++isdnCalls_;
    link->setCallEndedHandler([this, call] {
        PostToGui([this, call] {
            if (call != isdnCalls_ || !isdnLink_ || !linkFlag(LinkKind::Isdn)) return;
            CloseIsdnLink();
            linkFlag(LinkKind::Isdn) = 0;
            OnLinkEnded(QStringLiteral("ISDN call ended by the far end."));
        }, this);
    });

    if (!link->connect()) {
        CloseIsdnLink();
        ShowMessage(isdn::kConnectFailed, isdn::kConnectFailedTitle, MsgIcon::Error);
        updateCommandUi();
        return;
    }
    linkFlag(LinkKind::Isdn) = 1;
    NoteLinkConnected(LinkKind::Isdn);
    updateCommandUi();
    ShowMessage(isdn::kEstablished, isdn::kEstablishedTitle, MsgIcon::Information);
    ScheduleConnectWakeup(LinkKind::Isdn);
    focusInputEdit();
}

void CMainFrame::OnIsdnDisconnect() {
    if (!linkFlag(LinkKind::Isdn) || !isdnLink_) return;
    // Chosen from inside the Enter Password dialog that the reader is waiting for,
    // the close could never join the reader: the dialog has to be answered first.
    if (findChild<CEnterPasswordDlg*>()) return;
    if (ShowMessage(isdn::kConfirmDisconnect, isdn::kConfirmDisconnectTitle, MsgIcon::Question,
                    MsgButtons::YesNo) != IDYES)
        return;
    StopCaptureIfRunning();
    CloseIsdnLink();
    ShowMessage(isdn::kDisconnected);
    linkFlag(LinkKind::Isdn) = 0;
    updateCommandUi();
}

void CMainFrame::CloseIsdnLink() {
    if (!isdnLink_) return;
    isdnStopping_ = true;
    // A reader inside the stream may be waiting for this thread (the Enter Password
    // dialog): serve it until it has left, or joining it would never return.
    while (isdnReaderInStream_) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    isdnLink_->close();  // joins the reader
    setLinkWriter(LinkKind::Isdn, {});
    setReceiveSink(receiveSink());  // the frame's own writer for Telnet replies again
    isdnLink_.reset();
}

void CMainFrame::OnIsdnConfigure() {
    if (IsAnyLinkConnected()) return;
    CIsdnConfigDlg dlg(this);
    RunModal(dlg);
}
