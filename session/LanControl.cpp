// The LAN link's controller. All on the GUI thread, except the received blocks.
#include "session/LanControl.h"

#include "session/LinkHost.h"
#include "session/SessionFace.h"

#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "links/CSocketThread.h"
#include "links/WinSockErrors.h"
#include "res/resource.h"
#include "terminal/TelnetEscape.h"
#include "terminal/TelnetStream.h"
#include "terminal/TraceCapture.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
const char* const kServerSection = "Server";
const char* const kHistoryKey = "History %c";
// How long a disconnect waits for the worker to finish before leaving it to end
// on its own (it can only be slower when it is inside a call into the session).
constexpr int kJoinMs = 2000;

} // namespace

// The socket window's owner: hands each report of one worker to the session. A worker
// that has been ended may still have a report queued (it was waiting for the GUI
// thread while that thread was joining it); such a late report belongs to an old
// connection and must not touch the current one's state.
class LanControl::FrameSocketOwner : public SocketOwner {
public:
    FrameSocketOwner(LanControl* link, LinkHost& host, unsigned generation) : link_(link), host_(host), generation_(generation) {}
    void OnSwmConnected() override { if (current()) link_->OnConnected(); }
    void OnSwmClosed() override { if (current()) link_->OnClosed(); }
    bool ReceivesOnWorker() const override { return true; }
    // Worker thread. Announce first, then look: Stop sets the flag first, then looks,
    // so one of the two always sees the other.
    void OnSwmReceived(DataBlockPtr block) override {
        inStream_ = true;
        if (block && !stopping_) link_->OnReceived(block->data(), block->length());
        inStream_ = false;
    }
    // GUI thread: no block is fed from here on; returns once none is being fed. A block
    // being fed may wait for this thread (the password request, a box): it is served.
    void Stop(CSocketThread* worker) {
        stopping_ = true;
        while (inStream_) {
            host_.CancelPasswordRequest();
            if (worker) worker->WaitServing(1);
            else std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Urgent bytes are not shown; the block is freed here.
    void OnSwmUrgentData(DataBlockPtr) override {}
    void OnSwmError(int code) override { if (current()) link_->OnError(code); }
    void OnConnectDone() override { if (current()) link_->OnConnectDone(); }
    void OnSocketMessageBox(const char* text) override {
        ShowMessage(text, "", MsgIcon::Warning, MsgButtons::Ok);
    }

private:
    bool current() const { return link_->generation_ == generation_; }
    LanControl* link_;
    LinkHost& host_;
    unsigned generation_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> inStream_{false};
};

LanControl::LanControl(LinkHost& host) : host_(host) {}

LanControl::~LanControl() = default;

void LanControl::OnConnect() {
    if (host_.IsAnyLinkConnected() || connecting_) return;
    host_.ClearScreen();
    const std::string destination = Profile::get().getString(kServerSection, kHistoryKey, "");
    if (destination.empty()) {
        ShowMessage("Destination IP Address is not exist!!", "", MsgIcon::Warning, MsgButtons::Ok);
        return;
    }

    EndWorker();
    PurgeRetiredWorkers();
    host_.telnet().Reset();

    ++generation_;
    owner_ = std::make_shared<FrameSocketOwner>(this, host_, generation_);
    auto worker = std::make_shared<CSocketThread>(owner_.get());
    thread_ = worker;
    if (!worker->Start()) {
        thread_.reset();
        ShowMessage("Cannot generate new thread!!", "", MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    // Text from the send routine, the wake-up and the password line: 255 doubled. The
    // writers share the worker: one called from its own decoding never outlives it.
    host_.setLinkWriter(LinkKind::Lan, [worker](const char* text, int length) {
        const std::string escaped = DoubleIac(text, length);
        return worker->Write(escaped.data(), static_cast<int>(escaped.size()));
    });
    // The Telnet stream's replies are commands already: sent as they are.
    host_.setLinkReplyWriter(LinkKind::Lan, [worker](const char* bytes, int length) {
        return worker->Write(bytes, length);
    });

    worker->Open();
    // The lookup and the connect run on the worker: the window stays usable meanwhile,
    // and LAN Disconnect gives the attempt up.
    connecting_ = true;
    host_.NoteConnectStarting();
    host_.ShowStatusMessage(QStringLiteral("Connecting to %1 ...").arg(QString::fromStdString(destination)));
    worker->ConnectAsync(destination);
    host_.updateState();
}

void LanControl::OnConnectDone() {
    connecting_ = false;
    // A failure's code stays on the status bar; the progress note goes.
    if (host_.statusMessage().startsWith(QStringLiteral("Connecting to "))) host_.ClearStatusMessage();
    if (!host_.isLinkConnected(LinkKind::Lan) || host_.isLinkConnected(LinkKind::Serial) ||
        host_.isLinkConnected(LinkKind::Modem) || host_.isLinkConnected(LinkKind::Isdn)) {
        // A worker whose connect failed has nothing more to do; one connected while
        // another link came up is not kept either.
        EndWorker();
        host_.updateState();
        return;
    }
    host_.updateState();
    // A switch that stays silent after the connect is woken with one carriage return.
    host_.ScheduleConnectWakeup(LinkKind::Lan);
    host_.face().focusInput();
}

void LanControl::OnDisconnect() {
    if (!host_.isLinkConnected(LinkKind::Lan) && !connecting_) return;
    if (ShowMessage("Are you sure to disconnect LAN connection ?", "LAN Disconnect Confirmation",
                    MsgIcon::Question, MsgButtons::YesNo) != IDYES)
        return;
    if (connecting_ && !host_.isLinkConnected(LinkKind::Lan)) {
        // Still trying: given up at once, without the connect's failure message.
        connecting_ = false;
        if (thread_) thread_->CancelConnect();
        EndWorker();
        host_.ClearStatusMessage();
        host_.updateState();
        return;
    }
    connecting_ = false;
    host_.StopCaptureIfRunning();
    if (thread_) {
        // The close this asks for is the user's, not the switch's: nothing to tell.
        closingByUser_ = true;
        thread_->Close();
        thread_->WaitServing(disconnectWaitMs_);
        EndWorker();
        closingByUser_ = false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(disconnectWaitMs_));
    host_.updateState();
}

void LanControl::OnConnected() {
    host_.setLinkConnected(LinkKind::Lan, true);
    host_.NoteLinkConnected(LinkKind::Lan);
    host_.updateState();
}

void LanControl::OnClosed() {
    const bool wasConnected = host_.isLinkConnected(LinkKind::Lan);
    host_.setLinkConnected(LinkKind::Lan, false);
    host_.updateState();
    // Closed by the switch (or the network): told in the status bar, never a box.
    if (wasConnected && !closingByUser_)
        host_.OnLinkEnded(QStringLiteral("LAN connection closed by the switch."));
    // The peer closed: the worker is ended once it has returned from this report.
    const unsigned generation = generation_;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == generation_ && thread_) EndWorker();
    });
}

void LanControl::OnReceived(const char* bytes, int length) {
    if (length <= 0) return;
    // The trace file gets the block with one write.
    host_.trace().BeginBlock();
    host_.telnet().Feed(bytes, length);
    host_.trace().EndBlock();
}

void LanControl::OnError(int code) {
    // Not worth a box (the failures the user must act on have their own), but visible.
    if (code != 0) host_.ShowStatusMessage(QString::fromLatin1(WinSockErrorText(code).c_str()));
}

void LanControl::EndWorker() {
    connecting_ = false;
    std::shared_ptr<CSocketThread> worker = std::move(thread_);
    if (worker) worker->CancelConnect();  // a worker still trying would hold the end up
    std::shared_ptr<FrameSocketOwner> owner = std::move(owner_);
    thread_.reset();
    // Before the writers go: a block being decoded may still write a reply.
    if (owner) owner->Stop(worker.get());
    host_.setLinkWriter(LinkKind::Lan, {});
    host_.setLinkReplyWriter(LinkKind::Lan, {});
    if (!worker) return;
    worker->End();
    // The worker may be waiting for this thread (a report sent before it saw the end):
    // serve it while waiting, so that it ends now rather than after the time-out.
    QElapsedTimer waited;
    waited.start();
    while (!worker->wait(QDeadlineTimer(5))) {
        if (waited.elapsed() >= kJoinMs) {
            retired_.push_back({owner, worker});
            break;
        }
        worker->WaitServing(5);
    }
    // From here on, whatever this worker still reports is about an old connection.
    ++generation_;
    // With the worker gone its socket is closed, whatever the close reported.
    host_.setLinkConnected(LinkKind::Lan, false);
}

void LanControl::PurgeRetiredWorkers() {
    std::erase_if(retired_, [](const RetiredWorker& r) { return r.thread->isFinished(); });
}
