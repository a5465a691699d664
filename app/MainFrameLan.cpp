// LAN Connect, Disconnect and Configure of the main frame, and the frame's side of
// the LAN worker's reports. All on the GUI thread.
#include "app/CMainFrame.h"

#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "links/CLanConfigDlg.h"
#include "links/CSocketThread.h"
#include "links/WinSockErrors.h"
#include "res/resource.h"
#include "terminal/TelnetEscape.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QStatusBar>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
const char* const kServerSection = "Server";
const char* const kHistoryKey = "History %c";
// How long a disconnect waits for the worker to finish before leaving it to end
// on its own (it can only be slower when it is inside a call into this window).
constexpr int kJoinMs = 2000;

} // namespace

// The socket window's owner: hands each report of one worker to the frame. A worker
// that has been ended may still have a report queued (it was waiting for the GUI
// thread while that thread was joining it); such a late report belongs to an old
// connection and must not touch the current one's state.
class CMainFrame::FrameSocketOwner : public SocketOwner {
public:
    FrameSocketOwner(CMainFrame* frame, unsigned generation) : frame_(frame), generation_(generation) {}
    void OnSwmConnected() override { if (current()) frame_->OnLanConnected(); }
    void OnSwmClosed() override { if (current()) frame_->OnLanClosed(); }
    bool ReceivesOnWorker() const override { return true; }
    // Worker thread. Announce first, then look: Stop sets the flag first, then looks,
    // so one of the two always sees the other.
    void OnSwmReceived(DataBlockPtr block) override {
        inStream_ = true;
        if (block && !stopping_) frame_->OnLanReceived(block->data(), block->length());
        inStream_ = false;
    }
    // GUI thread: no block is fed from here on; returns once none is being fed. A block
    // being fed may wait for this thread (the password request, a box): it is served.
    void Stop(CSocketThread* worker) {
        stopping_ = true;
        while (inStream_) {
            frame_->CancelPasswordRequest();
            if (worker) worker->WaitServing(1);
            else std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Urgent bytes are not shown; the block is freed here.
    void OnSwmUrgentData(DataBlockPtr) override {}
    void OnSwmError(int code) override { if (current()) frame_->OnLanError(code); }
    void OnConnectDone() override { if (current()) frame_->OnLanConnectDone(); }
    void OnSocketMessageBox(const char* text) override {
        ShowMessage(text, "", MsgIcon::Warning, MsgButtons::Ok);
    }

private:
    bool current() const { return frame_->lanGeneration_ == generation_; }
    CMainFrame* frame_;
    unsigned generation_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> inStream_{false};
};

void CMainFrame::registerLanCommands() {
    setEnableRule(ID_LAN_CONNECT, [this] { return !IsAnyLinkConnected() && !lanConnecting_; });
    // Also while connecting: it gives the attempt up.
    setEnableRule(ID_LAN_DISCONNECT, [this] {
        return (linkFlag(LinkKind::Lan) || lanConnecting_) && !linkFlag(LinkKind::Serial) && !linkFlag(LinkKind::Modem) &&
               !linkFlag(LinkKind::Isdn);
    });
    setEnableRule(ID_LAN_CONFIGURE, [this] { return !IsAnyLinkConnected() && !lanConnecting_; });
    connect(action(ID_LAN_CONNECT), &QAction::triggered, this, &CMainFrame::OnLanConnect);
    connect(action(ID_LAN_DISCONNECT), &QAction::triggered, this, &CMainFrame::OnLanDisconnect);
    connect(action(ID_LAN_CONFIGURE), &QAction::triggered, this, &CMainFrame::OnLanConfigure);
}

void CMainFrame::OnLanConnect() {
    if (IsAnyLinkConnected() || lanConnecting_) return;
    OnClearNew();
    const std::string destination = Profile::get().getString(kServerSection, kHistoryKey, "");
    if (destination.empty()) {
        ShowMessage("Destination IP Address is not exist!!", "", MsgIcon::Warning, MsgButtons::Ok);
        return;
    }

    EndLanWorker();
    PurgeRetiredLanWorkers();
    telnet().Reset();

    ++lanGeneration_;
    lanOwner_ = std::make_shared<FrameSocketOwner>(this, lanGeneration_);
    auto worker = std::make_shared<CSocketThread>(lanOwner_.get());
    lanThread_ = worker;
    if (!worker->Start()) {
        lanThread_.reset();
        ShowMessage("Cannot generate new thread!!", "", MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    CSocketThread* raw = worker.get();
    // Text from the send routine, the wake-up and the password line: 255 doubled.
    setLinkWriter(LinkKind::Lan, [raw](const char* text, int length) {
        const std::string escaped = DoubleIac(text, length);
        return raw->Write(escaped.data(), static_cast<int>(escaped.size()));
    });
    // The Telnet stream's replies are commands already: sent as they are.
    setLinkReplyWriter(LinkKind::Lan, [raw](const char* bytes, int length) {
        return raw->Write(bytes, length);
    });

    worker->Open();
    // The lookup and the connect run on the worker: the window stays usable meanwhile,
    // and LAN Disconnect gives the attempt up.
    lanConnecting_ = true;
    NoteConnectStarting();
    statusBar()->showMessage(QStringLiteral("Connecting to %1 ...").arg(QString::fromStdString(destination)));
    worker->ConnectAsync(destination);
    updateCommandUi();
}

void CMainFrame::OnLanConnectDone() {
    lanConnecting_ = false;
    // A failure's code stays on the status bar; the progress note goes.
    if (statusBar()->currentMessage().startsWith(QStringLiteral("Connecting to "))) statusBar()->clearMessage();
    if (!linkFlag(LinkKind::Lan) || linkFlag(LinkKind::Serial) || linkFlag(LinkKind::Modem) || linkFlag(LinkKind::Isdn)) {
        // A worker whose connect failed has nothing more to do; one connected while
        // another link came up is not kept either.
        EndLanWorker();
        updateCommandUi();
        return;
    }
    updateCommandUi();
    // A switch that stays silent after the connect is woken with one carriage return.
    ScheduleConnectWakeup(LinkKind::Lan);
    focusInputEdit();
}

void CMainFrame::OnLanDisconnect() {
    if (!linkFlag(LinkKind::Lan) && !lanConnecting_) return;
    if (ShowMessage("Are you sure to disconnect LAN connection ?", "LAN Disconnect Confirmation",
                    MsgIcon::Question, MsgButtons::YesNo) != IDYES)
        return;
    if (lanConnecting_ && !linkFlag(LinkKind::Lan)) {
        // Still trying: given up at once, without the connect's failure message.
        lanConnecting_ = false;
        if (lanThread_) lanThread_->CancelConnect();
        EndLanWorker();
        statusBar()->clearMessage();
        updateCommandUi();
        return;
    }
    lanConnecting_ = false;
    StopCaptureIfRunning();
    if (lanThread_) {
        // The close this asks for is the user's, not the switch's: nothing to tell.
        lanClosingByUser_ = true;
        lanThread_->Close();
        lanThread_->WaitServing(lanDisconnectWaitMs_);
        EndLanWorker();
        lanClosingByUser_ = false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(lanDisconnectWaitMs_));
    updateCommandUi();
}

void CMainFrame::OnLanConfigure() {
    CLanConfigDlg dlg(this);
    RunModal(dlg);
}

void CMainFrame::OnLanConnected() {
    linkFlag(LinkKind::Lan) = 1;
    NoteLinkConnected(LinkKind::Lan);
    updateCommandUi();
}

void CMainFrame::OnLanClosed() {
    const bool wasConnected = linkFlag(LinkKind::Lan) != 0;
    linkFlag(LinkKind::Lan) = 0;
    updateCommandUi();
    // Closed by the switch (or the network): told in the status bar, never a box.
    if (wasConnected && !lanClosingByUser_)
        OnLinkEnded(QStringLiteral("LAN connection closed by the switch."));
    // The peer closed: the worker is ended once it has returned from this report.
    const unsigned generation = lanGeneration_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == lanGeneration_ && lanThread_) EndLanWorker();
    });
}

void CMainFrame::OnLanReceived(const char* bytes, int length) {
    if (length <= 0) return;
    // The trace file gets the block with one write.
    trace().BeginBlock();
    telnet().Feed(bytes, length);
    trace().EndBlock();
}

void CMainFrame::OnLanError(int code) {
    // Not worth a box (the failures the user must act on have their own), but visible.
    if (code != 0) statusBar()->showMessage(QString::fromLatin1(WinSockErrorText(code).c_str()));
}

void CMainFrame::EndLanWorker() {
    lanConnecting_ = false;
    std::shared_ptr<CSocketThread> worker = std::move(lanThread_);
    if (worker) worker->CancelConnect();  // a worker still trying would hold the end up
    std::shared_ptr<FrameSocketOwner> owner = std::move(lanOwner_);
    lanThread_.reset();
    // Before the writers go: a block being decoded may still write a reply.
    if (owner) owner->Stop(worker.get());
    setLinkWriter(LinkKind::Lan, {});
    setLinkReplyWriter(LinkKind::Lan, {});
    if (!worker) return;
    worker->End();
    // The worker may be waiting for this thread (a report sent before it saw the end):
    // serve it while waiting, so that it ends now rather than after the time-out.
    QElapsedTimer waited;
    waited.start();
    while (!worker->wait(QDeadlineTimer(5))) {
        if (waited.elapsed() >= kJoinMs) {
            lanRetired_.push_back({owner, worker});
            break;
        }
        worker->WaitServing(5);
    }
    // From here on, whatever this worker still reports is about an old connection.
    ++lanGeneration_;
    // With the worker gone its socket is closed, whatever the close reported.
    linkFlag(LinkKind::Lan) = 0;
}

void CMainFrame::PurgeRetiredLanWorkers() {
    std::erase_if(lanRetired_, [](const RetiredLanWorker& r) { return r.thread->isFinished(); });
}
