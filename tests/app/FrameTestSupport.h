// Frame tests with a real serial peer: a CSerialLink on the terminal end of a pty (or
// of the switch simulator), wired into the frame as its serial link, and one modal
// hook that answers each dialog kind from a per-test script.
#pragma once

#include "app/CMainFrame.h"
#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "links/CSerialLink.h"
#include "links/SerialTexts.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "tests/links/LinkTestSupport.h"

#include <QDialog>
#include <QLineEdit>

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace frametest {

// COM1 at path, 9600 8N1, no flow control.
inline void ConfigureSerial(const std::string& path) {
    Profile& p = Profile::get();
    p.writeString(serialtext::kDevicesSection, "COM1", path);
    p.writeInt(serialtext::kSection, serialtext::kKeyPort, 0);
    p.writeInt(serialtext::kSection, serialtext::kKeyBaud, 9600);
    p.writeInt(serialtext::kSection, serialtext::kKeyDataBits, 8);
    p.writeInt(serialtext::kSection, serialtext::kKeyStopBits, 0);
    p.writeInt(serialtext::kSection, serialtext::kKeyParity, 0);
    p.writeInt(serialtext::kSection, serialtext::kKeyFlow, 0);
}

// The frame's serial link, opened on a device path, as the connect command leaves it.
class SerialHookup {
public:
    SerialHookup(CMainFrame& frame, const std::string& path) : frame_(frame) {
        ConfigureSerial(path);
        link_ = std::make_unique<CSerialLink>();
        link_->SetReceiver(&frame.session().document());
        if (!link_->Connect(true)) return;
        frame.session().setLinkWriter(LinkKind::Serial, [this](const char* t, int n) { return link_->Write(t, n); });
        frame.session().setLinkConnected(LinkKind::Serial, true);
        ok_ = true;
    }
    ~SerialHookup() { Detach(); }
    bool ok() const { return ok_; }
    CSerialLink& link() { return *link_; }
    void Detach() {
        if (!ok_) return;
        frame_.session().setLinkConnected(LinkKind::Serial, false);
        frame_.session().setLinkWriter(LinkKind::Serial, {});
        link_->Connect(false);
        ok_ = false;
    }

private:
    CMainFrame& frame_;
    std::unique_ptr<CSerialLink> link_;
    bool ok_ = false;
};

// Answers the password, argument and other dialogs by their template number. An
// argument dialog with no scripted answer is closed without OK.
class DialogScript {
public:
    DialogScript() {
        SetModalHook([this](QDialog& d) { return run(d); });
    }
    ~DialogScript() { SetModalHook(nullptr); }

    std::string password;
    std::deque<std::string> arguments;  // one per edit, in order
    std::function<int(QDialog&)> other;  // any other dialog
    int seen(int idd) const { return idd == IDD_COMMAND_ARG ? one_ : idd == IDD_COMMAND_ARGS ? two_ : 0; }

private:
    int run(QDialog& d) {
        const int idd = ControlId(&d);
        if (idd == IDD_ENTER_PASSWORD) {
            if (password.empty()) return int(QDialog::Rejected);
            FindControl<QLineEdit>(&d, IDC_PASSWORD_EDIT)->setText(QString::fromLatin1(password.c_str()));
            d.accept();
            return d.result();
        }
        if (idd == IDD_COMMAND_ARG || idd == IDD_COMMAND_ARGS) {
            ++(idd == IDD_COMMAND_ARG ? one_ : two_);
            const int edits = idd == IDD_COMMAND_ARG ? 1 : 2;
            if (arguments.size() < size_t(edits)) {
                d.reject();
                return d.result();
            }
            for (int id : {int(IDC_ARG_EDIT1), int(IDC_ARG_EDIT2)}) {
                if (id == IDC_ARG_EDIT2 && edits == 1) break;
                FindControl<QLineEdit>(&d, id)->setText(QString::fromLatin1(arguments.front().c_str()));
                arguments.pop_front();
            }
            d.accept();
            return d.result();
        }
        return other ? other(d) : int(QDialog::Rejected);
    }
    int one_ = 0;
    int two_ = 0;
};

} // namespace frametest
