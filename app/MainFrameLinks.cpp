// The session's commands on the window: each link's Connect, Disconnect and Configure
// with their enable rules and Configure dialogs, Capture, Reconnect and scripts. All
// on the GUI thread.
#include "app/CMainFrame.h"

#include "links/CIsdnConfigDlg.h"
#include "links/CLanConfigDlg.h"
#include "links/CLineConfigDlg.h"
#include "links/CModemConfigDlg.h"
#include "links/CModemLink.h"
#include "links/CSerialConfigDlg.h"
#include "links/CSerialLink.h"
#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "res/resource.h"
#include "session/IsdnControl.h"
#include "session/LanControl.h"
#include "session/ModemControl.h"
#include "session/SerialControl.h"

#include <QAction>

namespace {
const char* const kTraceSection = "Trace";
const char* const kTimestampsKey = "Timestamps";
} // namespace

void CMainFrame::registerLinkCommands() {
    Session& s = *session_;
    // A link's Disconnect is offered only while it is the one link up.
    auto onlyUp = [&s](LinkKind kind) {
        for (LinkKind k : {LinkKind::Serial, LinkKind::Modem, LinkKind::Lan, LinkKind::Isdn})
            if (s.isLinkConnected(k) != (k == kind)) return false;
        return true;
    };
    auto noLink = [&s] { return !s.IsAnyLinkConnected(); };

    setEnableRule(ID_LAN_CONNECT, [&s] { return !s.IsAnyLinkConnected() && !s.lan().connecting(); });
    // Also while connecting: it gives the attempt up.
    setEnableRule(ID_LAN_DISCONNECT, [&s] {
        return (s.isLinkConnected(LinkKind::Lan) || s.lan().connecting()) && !s.isLinkConnected(LinkKind::Serial) &&
               !s.isLinkConnected(LinkKind::Modem) && !s.isLinkConnected(LinkKind::Isdn);
    });
    setEnableRule(ID_LAN_CONFIGURE, [&s] { return !s.IsAnyLinkConnected() && !s.lan().connecting(); });
    connect(action(ID_LAN_CONNECT), &QAction::triggered, &s.lan(), &LanControl::OnConnect);
    connect(action(ID_LAN_DISCONNECT), &QAction::triggered, &s.lan(), &LanControl::OnDisconnect);
    connect(action(ID_LAN_CONFIGURE), &QAction::triggered, this, &CMainFrame::OnLanConfigure);

    setEnableRule(ID_ISDN_CONNECT, noLink);
    setEnableRule(ID_ISDN_DISCONNECT, [onlyUp] { return onlyUp(LinkKind::Isdn); });
    setEnableRule(ID_ISDN_CONFIGURE, noLink);
    connect(action(ID_ISDN_CONNECT), &QAction::triggered, &s.isdn(), &IsdnControl::OnConnect);
    connect(action(ID_ISDN_DISCONNECT), &QAction::triggered, &s.isdn(), &IsdnControl::OnDisconnect);
    connect(action(ID_ISDN_CONFIGURE), &QAction::triggered, this, &CMainFrame::OnIsdnConfigure);

    setEnableRule(ID_MODEM_CONNECT, noLink);
    setEnableRule(ID_MODEM_CONFIGURE, noLink);
    setEnableRule(ID_MODEM_DISCONNECT, [&s, onlyUp] { return onlyUp(LinkKind::Modem) && !s.modem().disconnectBlocked(); });
    connect(action(ID_MODEM_CONNECT), &QAction::triggered, &s.modem(), &ModemControl::OnConnect);
    connect(action(ID_MODEM_DISCONNECT), &QAction::triggered, &s.modem(), &ModemControl::OnDisconnect);
    connect(action(ID_MODEM_CONFIGURE), &QAction::triggered, this, &CMainFrame::OnModemConfigure);
    SetLineConfigHook([](TelephonyModem& modem, void* owner) {
        CLineConfigDlg dlg(modem, static_cast<QWidget*>(owner));
        if (RunModal(dlg) != QDialog::Accepted) return false;
        modem = dlg.modem();
        return true;
    });

    setEnableRule(ID_SERIAL_CONNECT, noLink);
    setEnableRule(ID_SERIAL_DISCONNECT, [onlyUp] { return onlyUp(LinkKind::Serial); });
    setEnableRule(ID_SERIAL_CONFIGURE, noLink);
    connect(action(ID_SERIAL_CONNECT), &QAction::triggered, &s.serial(), &SerialControl::OnConnect);
    connect(action(ID_SERIAL_DISCONNECT), &QAction::triggered, &s.serial(), &SerialControl::OnDisconnect);
    connect(action(ID_SERIAL_CONFIGURE), &QAction::triggered, this, &CMainFrame::OnSerialConfigure);
}

void CMainFrame::OnSerialConfigure() {
    CSerialLink* link = session_->serial().link();
    if (!link || session_->IsAnyLinkConnected()) return;
    link->LoadSettings();
    CSerialConfigDlg dlg(link, this);
    RunModal(dlg);
}

void CMainFrame::OnModemConfigure() {
    if (session_->IsAnyLinkConnected()) return;
    session_->modemLink().ConfigureModem([this](const std::vector<ModemEntry>& entries) {
        CModemConfigDlg dlg(entries, this);
        RunModal(dlg);
    });
}

void CMainFrame::OnLanConfigure() {
    CLanConfigDlg dlg(this);
    RunModal(dlg);
}

void CMainFrame::OnIsdnConfigure() {
    if (session_->IsAnyLinkConnected()) return;
    CIsdnConfigDlg dlg(this);
    RunModal(dlg);
}

void CMainFrame::registerCaptureCommands() {
    Session& s = *session_;
    setEnableRule(ID_CAPTURE_ON, [&s] { return !s.captureRunning(); });
    setEnableRule(ID_CAPTURE_OFF, [&s] { return s.captureRunning(); });
    connect(action(ID_CAPTURE_ON), &QAction::triggered, &s, &Session::CaptureOn);
    connect(action(ID_CAPTURE_OFF), &QAction::triggered, &s, &Session::CaptureOff);

    s.SetTraceTimestamps(Profile::get().getInt(kTraceSection, kTimestampsKey, 0) != 0);
    setEnableRule(ID_VIEW_TRACE_TIMESTAMPS, [] { return true; });
    setCheckRule(ID_VIEW_TRACE_TIMESTAMPS, [&s] { return s.trace().timestamps(); });
    connect(action(ID_VIEW_TRACE_TIMESTAMPS), &QAction::triggered, this, [this, &s] {
        const bool on = !s.trace().timestamps();
        s.SetTraceTimestamps(on);
        Profile::get().writeInt(kTraceSection, kTimestampsKey, on ? 1 : 0);
        updateCommandUi();
    });
}

void CMainFrame::registerSessionCommands() {
    Session& s = *session_;
    setEnableRule(ID_CONNECTION_RECONNECT, [&s] { return s.canReconnect(); });
    connect(action(ID_CONNECTION_RECONNECT), &QAction::triggered, &s, &Session::Reconnect);

    setEnableRule(ID_FILE_RUN_SCRIPT, [&s] {
        return !s.scriptRunning() && s.IsAnyLinkConnected() && s.accessMode() != AccessMode::None;
    });
    setEnableRule(ID_FILE_STOP_SCRIPT, [&s] { return s.scriptRunning(); });
    connect(action(ID_FILE_RUN_SCRIPT), &QAction::triggered, &s, &Session::RunScript);
    connect(action(ID_FILE_STOP_SCRIPT), &QAction::triggered, &s, &Session::StopScript);
}
