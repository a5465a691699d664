// The serial port link's controller: Connect and Disconnect, and the disconnect
// routine the close order uses. GUI thread, except the link's port-lost,
// output-notice and write calls that arrive on its read thread (all are handed to
// the GUI thread).
#pragma once

#include <QObject>

#include <atomic>
#include <memory>

class CSerialLink;
class LinkHost;
struct OutputNotice;

// Held output in the status bar while it waits; output given up is told once, line by
// line, in a box with that title. Both port links report this way. GUI thread.
void ReportOutputNotice(LinkHost& host, const OutputNotice& notice, const char* title);

class SerialControl : public QObject {
public:
    explicit SerialControl(LinkHost& host);
    ~SerialControl() override;

    // The link's writer and its close-wait pump.
    void install();
    void OnConnect();     // 32774
    void OnDisconnect();  // 32775, asks first
    // The disconnect routine, without confirmation (also the close order's).
    void Disconnect();
    CSerialLink* link() const { return link_.get(); }

private:
    LinkHost& host_;
    std::unique_ptr<CSerialLink> link_;
    std::atomic<int> session_{0};  // counts serial connects; stale port-lost notes are dropped
};
