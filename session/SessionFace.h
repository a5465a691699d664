// Everything the session needs from a person, and nothing more: the window implements
// it with its dialogs, a runner without a display with files and standard error. Boxes
// (questions, confirmations, failures) go through MessageService, not here. All calls
// come on the GUI thread.
#pragma once

#include <QString>

#include <optional>
#include <string>

class CModemLink;

class SessionFace {
public:
    // The password for the switch's "PASSWORD:" prompt; nothing when the person cancels.
    virtual std::optional<std::string> askPassword() = 0;
    // The phone book as go-ahead for a call (a number picked there goes to modem); true: go on.
    virtual bool askPhoneBook(CModemLink& modem) = 0;
    // The same as the go-ahead for an ISDN call, which dials number (the configured
    // one) whatever is picked: the person is told that number, never another as the call.
    virtual bool askIsdnGoAhead(CModemLink& modem, const std::string& number) {
        (void)number;
        return askPhoneBook(modem);
    }
    // The call progress window: shown with a text, its text changed, hidden.
    virtual void showCallProgress(const QString& text) = 0;
    virtual void updateCallProgress(const QString& text) = 0;
    virtual void hideCallProgress() = 0;
    // The session's state changed (link, access, capture, script): commands and panes follow.
    virtual void stateChanged() = 0;
    // The access level ended by a log-out or the link's end: level-bound tools go away.
    virtual void loggedOut() = 0;
    // A connect or Clear New emptied the document: the screen follows.
    virtual void screenCleared() = 0;
    // The standing notice changed (empty: none); it shows until the next one.
    virtual void noticeChanged(const QString& notice) = 0;
    // A passing message (progress, a failure's detail, a script's step); read back, cleared.
    virtual void showMessage(const QString& text) = 0;
    virtual QString message() const = 0;
    virtual void clearMessage() = 0;
    // After a connect or a password the typing goes to the input.
    virtual void focusInput() = 0;

protected:
    ~SessionFace() = default;
};
