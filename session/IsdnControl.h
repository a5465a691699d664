// The ISDN link's controller: Connect and Disconnect, and the hand-over
// of the reader's blocks to the Telnet stream. Commands on the GUI thread; the
// consumer and the Telnet replies on the link's reader thread.
#pragma once

#include <QObject>

#include <atomic>
#include <memory>

class CIsdnLink;
class LinkHost;

class IsdnControl : public QObject {
public:
    explicit IsdnControl(LinkHost& host);
    ~IsdnControl() override;

    void OnConnect() { Connect(true); }   // 32855
    // The phone book is only a go-ahead; Reconnect goes without it.
    void Connect(bool askGoAhead);
    void OnDisconnect();  // 32856
    // Ends the reader (serving a password request it may be waiting on), hangs up
    // and forgets the link; the session's own reply writer is back afterwards.
    void Close();
    // The current ISDN link, or null (none, or a failed connect has been cleaned up).
    CIsdnLink* link() const { return link_.get(); }

private:
    LinkHost& host_;
    std::shared_ptr<CIsdnLink> link_;  // shared with its writer
    // Written on the GUI thread, read by the reader: received blocks are dropped once
    // a close has begun, and the close waits while one is inside the Telnet stream.
    std::atomic<bool> stopping_{false};
    std::atomic<bool> readerInStream_{false};
    unsigned calls_ = 0;  // counts connects (GUI thread); a late hang-up report is dropped
};
