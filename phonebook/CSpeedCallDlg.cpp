// The Speed Call dialog.
#include "phonebook/CSpeedCallDlg.h"

#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "phonebook/DialCheck.h"
#include "phonebook/PhoneText.h"
#include "res/resource.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CSpeedCallDlg::CSpeedCallDlg(std::string& number, QWidget* parent)
    : QDialog(parent), number_(number) {
    SetControlId(this, IDD_SPEED_CALL);
    setWindowTitle(QStringLiteral("Speed Call"));

    auto* group = new QGroupBox(QStringLiteral("Phone Number"), this);
    auto* groupLayout = new QVBoxLayout(group);
    numberEdit_ = new QLineEdit(group);
    numberEdit_->setMaxLength(kMaxField);
    SetControlId(numberEdit_, IDC_SPEED_NUMBER);
    groupLayout->addWidget(numberEdit_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    SetControlId(buttons->button(QDialogButtonBox::Ok), IDOK);
    SetControlId(buttons->button(QDialogButtonBox::Cancel), IDCANCEL);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSpeedCallDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSpeedCallDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    numberEdit_->setFocus();
}

void CSpeedCallDlg::accept() {
    // Brackets need no check of their own here: they are not dialable.
    const std::string number = TrimWhite(PhoneTextFromQt(numberEdit_->text()));
    if (number.empty()) {
        ShowMessage("Empty field is not allowed...", "Input Error", MsgIcon::Error);
        return;
    }
    const std::string bad = NonDialableCharacters(number);
    if (!bad.empty()) {
        ShowMessage(bad + " : Non-Dialable Character(s)", "Phone Number Input Error", MsgIcon::Error);
        return;
    }
    number_ = number;
    QDialog::accept();
}
