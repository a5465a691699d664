// The modem link's controller. Handlers on the GUI thread; the worker runs the dial
// and reaches the controller only through ModemBridge.
#include "session/ModemControl.h"

#include "session/LinkHost.h"
#include "session/SessionFace.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "links/CModemLink.h"
#include "links/ModemTexts.h"
#include "res/resource.h"
#include "session/SerialControl.h"
#include "terminal/ReceiveSink.h"

#include <QTimer>

#include <atomic>
#include <string>
#include <thread>

using namespace modemtext;

namespace {
// How often a connected call's carrier line is looked at.
constexpr int kCarrierPollMs = 500;
constexpr const char* kOutputTitle = "Modem Output";
} // namespace

// The call's text on its way to the session, watched for the modem's own report that
// the call is over: "NO CARRIER" as a line of its own. Read thread.
class CarrierWatch : public ReceiveSink {
public:
    CarrierWatch(LinkHost& host, ModemControl& control) : host_(host), control_(control) {}
    void StartCall(unsigned call) {
        call_ = call;
        line_.clear();
        atLineStart_ = true;
    }
    void AppendReceived(const char* text, int length) override {
        if (ReceiveSink* sink = host_.receiveSink()) sink->AppendReceived(text, length);
        static constexpr std::string_view kNoCarrier = "NO CARRIER";
        for (int i = 0; i < length; ++i) {
            const char c = text[i];
            if (c == '\r' || c == '\n') {
                if (atLineStart_ && line_ == kNoCarrier) {
                    const unsigned call = call_;
                    PostToGui([this, call] {
                        control_.EndCallAsLost(call, QStringLiteral("Modem: NO CARRIER; the call is over."));
                    }, &control_);
                }
                line_.clear();
                atLineStart_ = true;
            } else if (atLineStart_ && line_.size() < kNoCarrier.size() && c == kNoCarrier[line_.size()]) {
                line_ += c;
            } else {
                atLineStart_ = false;  // the rest of this line is the switch's
            }
        }
    }

private:
    LinkHost& host_;
    ModemControl& control_;
    unsigned call_ = 0;
    std::string line_;
    bool atLineStart_ = true;
};

// The controller's side of the modem link's messages, and the modem worker. Each call
// attempt reports through a lane of its own; once the user abandons it (Modem
// Disconnect while the call is being placed) the lane is closed: the worker's sent
// messages stop waiting and its queued ones are dropped, so it reports nothing afterwards.
class ModemBridge : public QObject, public ModemEvents {
public:
    explicit ModemBridge(ModemControl& control) : glue_(control) {}
    ~ModemBridge() override {
        Abandon();
        Join();
        glue_.link().SetEvents(nullptr);
    }

    void StartWorker() {
        Join();  // a previous worker that has reported
        lane_.OpenToGui();  // what the previous attempt left queued is dropped
        running_ = true;
        worker_ = std::thread([this] {
            const int ok = glue_.link().Connect(true);
            Send([this, ok] { glue_.OnModemResult(ok); });
            running_ = false;
            PostToGui([this] { JoinIfEnded(); }, &glue_);
        });
    }
    // The current attempt reports nothing more; a worker waiting on the GUI goes on.
    void Abandon() { lane_.Close(); }
    void Join() {
        if (worker_.joinable()) worker_.join();
        running_ = false;
    }
    void JoinIfEnded() {
        if (!running_ && worker_.joinable()) worker_.join();
    }
    bool running() const { return running_; }

    void PostShowProgress(int index) override { Post([this, index] { glue_.OnShowProgressMsg(index); }); }
    void PostHideProgress() override { Post([this] { glue_.OnHideProgressMsg(); }); }
    void PostUpdateProgress(int index) override { Post([this, index] { glue_.OnUpdateProgressMsg(index); }); }
    void PostDisconnectBlocked(int blocked) override {
        Post([this, blocked] { glue_.OnDisconnectBlockedMsg(blocked); });
    }
    void SendCallConnected(int flag) override { Send([this, flag] { glue_.OnCallConnectedMsg(flag); }); }
    void PostEstablished() override { Post([this] { glue_.OnModemEstablished(); }); }
    void SendCallLost() override { Send([this] { glue_.OnCallLost(); }); }
    void SendMessageBox(const char* text, const char* title, MsgIcon icon) override {
        std::string t(text), c(title);
        Send([t, c, icon] { ShowMessage(t, c, icon, MsgButtons::Ok); });
    }

private:
    // Only the worker's messages belong to an attempt; the GUI thread's own are never dropped.
    void Post(std::function<void()> fn) {
        if (OnGuiThread()) PostToGui(std::move(fn), &glue_);
        else lane_.Post(std::move(fn), &glue_);
    }
    void Send(std::function<void()> fn) {
        if (OnGuiThread()) fn();
        else lane_.Send(std::move(fn));
    }

    ModemControl& glue_;
    std::thread worker_;
    std::atomic<bool> running_{false};
    ThreadLane lane_;  // the current attempt's reports
};

ModemControl::ModemControl(LinkHost& host) : host_(host), link_(std::make_unique<CModemLink>()) {}

ModemControl::~ModemControl() = default;

void ModemControl::install() {
    bridge_ = std::make_shared<ModemBridge>(*this);
    link_->SetEvents(bridge_.get());
    watch_ = std::make_unique<CarrierWatch>(host_, *this);
    link_->SetReceiver(watch_.get());
    // Where the line has a carrier-detect signal, its fall ends the call.
    carrierClock_ = new QTimer(this);
    carrierClock_->setInterval(kCarrierPollMs);
    connect(carrierClock_, &QTimer::timeout, this, [this] {
        if (!link_->CarrierHeld())
            EndCallAsLost(call_.load(), QStringLiteral("Modem carrier lost; the call is over."));
    });
    // Output held by flow control is told as on the serial link.
    link_->SetOutputNotice([this](const OutputNotice& notice) {
        const unsigned call = call_.load();
        PostToGui([this, call, notice] {
            if (host_.isLinkConnected(LinkKind::Modem) && call == call_.load())
                ReportOutputNotice(host_, notice, kOutputTitle);
        }, this);
    });
    // A hang-up that meets the reader waiting for the password dialog releases it.
    link_->SetCloseWaitPump([this] { host_.CancelPasswordRequest(); });
    // The modem's port failed under an online call: the call is over. It is hung up
    // quietly and the user told once, in the status bar.
    link_->SetPortLostHandler([this](int) {
        const unsigned call = call_.load();
        PostToGui([this, call] { EndCallAsLost(call, QStringLiteral("Modem line dropped; the call is over.")); }, this);
    });
    host_.setLinkWriter(LinkKind::Modem, [this](const char* text, int length) {
        return link_->Write(text, length);
    });
}

bool ModemControl::disconnectBlocked() const {
    std::lock_guard lock(lock_);
    return disconnectBlocked_ != 0;
}

bool ModemControl::workerRunning() const { return bridge_ && bridge_->running(); }

bool ModemControl::dialling() const { return host_.isLinkConnected(LinkKind::Modem) && !established_; }

void ModemControl::EndCallAsLost(unsigned call, const QString& notice) {
    if (call != call_.load() || !host_.isLinkConnected(LinkKind::Modem) || !link_->CallConnected()) return;
    ++call_;  // whatever else saw this end reports nothing more
    carrierClock_->stop();
    established_ = false;
    HideProgress();
    bridge_->Abandon();
    link_->Hangup(false);
    bridge_->Join();
    host_.setLinkConnected(LinkKind::Modem, false);
    host_.OnLinkEnded(notice);
}

void ModemControl::Connect(bool pickNumber) {
    if (!link_ || host_.IsAnyLinkConnected()) return;
    if (CModemLink::ConfiguredDevice() == -1) {
        ShowMessage(kNotConfiguredText, kNotConfiguredTitle, MsgIcon::Warning);
        return;
    }
    // Without the phone book the link dials the number it dialled last.
    if (pickNumber && !host_.face().askPhoneBook(*link_)) return;
    host_.ClearScreen();
    watch_->StartCall(++call_);
    established_ = false;
    host_.setLinkConnected(LinkKind::Modem, true);
    OnDisconnectBlockedMsg(1);
    bridge_->StartWorker();
    host_.face().focusInput();
    host_.updateState();
}

void ModemControl::OnDisconnect() {
    if (ShowMessage(kDisconnectQuestion, kDisconnectQuestionTitle, MsgIcon::Question,
                    MsgButtons::YesNo) != IDYES)
        return;
    host_.StopCaptureIfRunning();
    DisconnectRoutine();
    host_.ClearScreen();
}

void ModemControl::DisconnectRoutine() {
    HideProgress();
    if (!link_) return;
    host_.StopWakeupTimer();
    host_.StopResponseTimer();
    // A call still being placed is abandoned first, so that nothing it would still
    // report (a failure box, a second hang-up) reaches the user after this.
    bridge_->Abandon();
    carrierClock_->stop();
    ++call_;
    established_ = false;
    if (!link_->Connect(false)) {
        host_.setLinkConnected(LinkKind::Modem, true);
        ShowMessage(kDisconnectFailedText, kDisconnectFailedTitle, MsgIcon::Error);
        host_.updateState();
        return;
    }
    bridge_->Join();
    host_.setLinkConnected(LinkKind::Modem, false);
    host_.updateState();
}

void ModemControl::OnModemResult(int connected) {
    if (connected) {
        host_.setLinkConnected(LinkKind::Modem, true);
    } else {
        host_.setLinkConnected(LinkKind::Modem, false);
        established_ = false;
        // The boxes' texts are fixed; the status bar says what the modem answered.
        const std::string result = link_ ? link_->CallResult() : std::string();
        if (!result.empty())
            host_.ShowStatusMessage(QStringLiteral("The modem answered %1.").arg(QString::fromLatin1(result.c_str())));
        host_.updateState();
        ShowMessage(kConnectFailedText, kConnectFailedTitle, MsgIcon::Error);
        if (link_) link_->Connect(false);
    }
    host_.updateState();
}

void ModemControl::OnCallConnectedMsg(int flag) {
    if (link_) link_->SetCallConnected(flag);
}

void ModemControl::OnModemEstablished() {
    if (!link_) return;
    const std::string number = link_->GetDestination();
    const std::string format = kEstablishedText;
    const size_t at = format.find("%s");
    const std::string text = format.substr(0, at) + number + format.substr(at + 2);
    established_ = true;
    host_.NoteLinkConnected(LinkKind::Modem);
    carrierClock_->start();
    host_.updateState();
    ShowMessage(text, kEstablishedTitle, MsgIcon::Information);
    // The switch may be asleep: a carriage return now and every 1770 ms until it answers.
    host_.StartWakeupTimer();
    host_.WriteToConnectedLink("\r", 1);
}

void ModemControl::OnCallLost() {
    HideProgress();
    if (!link_) return;
    carrierClock_->stop();
    host_.StopWakeupTimer();
    host_.StopResponseTimer();
    if (link_->CallConnected()) link_->Hangup(true);
    else link_->SetDialWait(0);
    host_.updateState();
}

void ModemControl::OnDisconnectBlockedMsg(int blocked) {
    {
        std::lock_guard lock(lock_);
        disconnectBlocked_ = blocked;
    }
    host_.updateState();
}

namespace {
QString ProgressText(int index) {
    if (index < 1 || index > 13) return QString();
    return QString::fromLatin1(kProgressTexts[index]);
}
} // namespace

void ModemControl::OnShowProgressMsg(int index) { ShowProgress(ProgressText(index)); }

void ModemControl::OnHideProgressMsg() { HideProgress(); }

void ModemControl::OnUpdateProgressMsg(int index) {
    if (index >= 1 && index <= 13) UpdateProgress(ProgressText(index));
}

void ModemControl::ShowProgress(const QString& text) { host_.face().showCallProgress(text); }
void ModemControl::UpdateProgress(const QString& text) { host_.face().updateCallProgress(text); }
void ModemControl::HideProgress() { host_.face().hideCallProgress(); }
