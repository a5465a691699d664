// Links the whole session with Qt Core alone: a reference to Qt Gui or Widgets anywhere
// in it fails this link. Run, it builds a session on a face that asks no one and ends it.
#include "session/Session.h"

#include <QCoreApplication>

namespace {
class NoFace : public SessionFace {
public:
    std::optional<std::string> askPassword() override { return std::nullopt; }
    bool askPhoneBook(CModemLink&) override { return false; }
    void showCallProgress(const QString&) override {}
    void updateCallProgress(const QString&) override {}
    void hideCallProgress() override {}
    void stateChanged() override {}
    void loggedOut() override {}
    void screenCleared() override {}
    void noticeChanged(const QString&) override {}
    void showMessage(const QString& text) override { message_ = text; }
    QString message() const override { return message_; }
    void clearMessage() override { message_.clear(); }
    void focusInput() override {}

private:
    QString message_;
};
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    NoFace face;
    Session session(face);
    session.Reconnect();
    session.Shutdown();
    return 0;
}
