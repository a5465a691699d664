// What a link's controller (Connect, Disconnect and the link's reports) needs from the
// session, and nothing more. GUI thread unless an operation says otherwise.
#pragma once

#include <QString>

#include <functional>
#include <string_view>

class CModemLink;
class SessionFace;
class ReceiveSink;
class TelnetStream;
class TraceCapture;

// The four link kinds, in the order they are always tested.
enum class LinkKind { Serial = 0, Modem = 1, Lan = 2, Isdn = 3 };

class LinkHost {
public:
    // ---- Connection manager ----
    // Whether any link is up: a Connect refuses while one is. Any thread.
    virtual bool IsAnyLinkConnected() const = 0;
    // One link's connected flag; each link's connect and disconnect routines set it. Any thread.
    virtual bool isLinkConnected(LinkKind kind) const = 0;
    // Set by the link's own connect and disconnect routines, on the GUI thread.
    virtual void setLinkConnected(LinkKind kind, bool connected) = 0;
    // The confirmed, timed send of the view and the connect's wake-up.
    virtual int SendToLink(const char* text, int length, bool startResponseTimer) = 0;
    // The bare write to the connected link (no confirmation, no timer).
    virtual int WriteToConnectedLink(const char* text, int length) = 0;
    // A link's write while its object exists; an empty function when it is gone.
    virtual void setLinkWriter(LinkKind kind, std::function<int(const char*, int)> writer) = 0;
    // A Telnet link's unescaped write, for the Telnet stream's own replies.
    virtual void setLinkReplyWriter(LinkKind kind, std::function<int(const char*, int)> writer) = 0;

    // ---- Receive road ----
    // Where received text goes; setting it again restores the session's reply writer.
    virtual ReceiveSink* receiveSink() const = 0;
    virtual void setReceiveSink(ReceiveSink* sink) = 0;
    // Shared by LAN (fed on its worker) and ISDN (fed on its reader); reset at connect.
    virtual TelnetStream& telnet() = 0;
    // Trace blocks are begun and ended around each received block, on the delivering thread.
    virtual TraceCapture& trace() = 0;

    // ---- Timers ----
    // The modem's repeated carriage return until the switch answers.
    virtual void StartWakeupTimer() = 0;
    // A link going away stops both: no warning about an answer that cannot come.
    virtual void StopWakeupTimer() = 0;
    virtual void StopResponseTimer() = 0;

    // ---- Login ----
    // Releases a reader waiting for the password request before it is joined. Any thread.
    virtual void CancelPasswordRequest() = 0;
    // The switch is still at its login stage: there is no session to log out of.
    virtual bool awaitingLogin() const = 0;
    // The face is being asked for the password: a close chosen meanwhile could not join the reader.
    virtual bool passwordDialogOpen() const = 0;

    // ---- Status and commands ----
    // A standing notice (output held) until its state ends; cleared only if still shown.
    virtual void ShowNotice(const QString& text) = 0;
    virtual void ClearNotice(const QString& onlyIf = QString()) = 0;
    // A passing status-bar message (progress, a failure's detail), read back and cleared.
    virtual void ShowStatusMessage(const QString& text) = 0;
    virtual QString statusMessage() const = 0;
    virtual void ClearStatusMessage() = 0;
    // A link ended without the user's Disconnect; its flag is already cleared.
    virtual void OnLinkEnded(const QString& notice) = 0;
    // Brings the face (menus, bars, panes) in line with the link state; after every change.
    virtual void updateState() = 0;
    // A disconnect ends a running capture before its link closes.
    virtual void StopCaptureIfRunning() = 0;

    // ---- Connect bookkeeping ----
    // Every Connect starts on a cleared screen.
    virtual void ClearScreen() = 0;
    // The start of a LAN or ISDN connect, for the wake-up's silence test.
    virtual void NoteConnectStarting() = 0;
    // The connect's carriage return if the switch stays silent.
    virtual void ScheduleConnectWakeup(LinkKind kind) = 0;
    // A link reached its switch: Reconnect remembers it.
    virtual void NoteLinkConnected(LinkKind kind) = 0;
    // The phone book dials through the modem link.
    virtual CModemLink& modemLink() = 0;
    // The person's side: the phone book as go-ahead, the call progress, the input focus.
    virtual SessionFace& face() = 0;

protected:
    ~LinkHost() = default;
};
