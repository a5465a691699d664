// The modem link's controller: Modem Connect and Disconnect, the modem messages, the
// call progress (shown by the face) and the modem worker. Handlers on the GUI thread;
// the worker runs the dial and reaches this class only through ModemBridge.
#pragma once

#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

class QString;
class QTimer;
class CModemLink;
class LinkHost;
class ModemBridge;
class CarrierWatch;

class ModemControl : public QObject {
public:
    explicit ModemControl(LinkHost& host);
    ~ModemControl() override;

    // The worker's bridge, the link's hooks and writer.
    void install();
    CModemLink& link() { return *link_; }
    void OnConnect() { Connect(true); }
    // Without the phone book the link dials the number it dialled last (Reconnect).
    void Connect(bool pickNumber);
    void OnDisconnect();
    // The disconnect without confirmation; also the close order's modem step.
    void DisconnectRoutine();
    bool disconnectBlocked() const;
    bool workerRunning() const;
    // A Connect is placing its call: the link is taken, the call not yet up.
    bool dialling() const;

    void ShowProgress(const QString& text);
    void UpdateProgress(const QString& text);
    void HideProgress();
    // The modem messages, run on the GUI thread (sent or posted by the modem code).
    void OnModemResult(int connected);        // WM_USER+6
    void OnCallConnectedMsg(int flag);        // WM_USER+7
    void OnModemEstablished();                // WM_USER+8
    void OnCallLost();                        // WM_USER+9
    void OnDisconnectBlockedMsg(int blocked); // WM_USER+11
    void OnShowProgressMsg(int index);        // WM_USER+12
    void OnHideProgressMsg();                 // WM_USER+13
    void OnUpdateProgressMsg(int index);      // WM_USER+14

    // The call ended without the user's Disconnect (carrier lost, "NO CARRIER", the
    // port gone): hung up quietly, told once. call: the call it was seen on.
    void EndCallAsLost(unsigned call, const QString& notice);

private:
    LinkHost& host_;
    std::unique_ptr<CarrierWatch> watch_;
    QTimer* carrierClock_ = nullptr;
    std::atomic<unsigned> call_{0};  // one number per Connect
    bool established_ = false;
    std::unique_ptr<CModemLink> link_;
    mutable std::mutex lock_;
    int disconnectBlocked_ = 1;  // under lock_
    // Declared last: stops the modem worker before the link it drives goes.
    std::shared_ptr<ModemBridge> bridge_;
};
