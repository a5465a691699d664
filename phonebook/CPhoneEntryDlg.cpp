// The phone book entry dialog.
#include "phonebook/CPhoneEntryDlg.h"

#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "phonebook/DialCheck.h"
#include "phonebook/PhoneText.h"
#include "res/resource.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// Typing stops at 40 characters; a longer entry read from a file is shown whole,
// so that opening it to change the number does not silently cut the name.
QLineEdit* MakeField(const std::string& preset, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(std::max<int>(CPhoneEntryDlg::kMaxField, static_cast<int>(preset.size())));
    edit->setText(PhoneTextToQt(preset));
    return edit;
}
} // namespace

CPhoneEntryDlg::CPhoneEntryDlg(std::string& name, std::string& number, QWidget* parent)
    : QDialog(parent), name_(name), number_(number) {
    SetControlId(this, IDD_PHONE_ENTRY);
    setWindowTitle(QStringLiteral("Edit Phone Number"));

    auto* group = new QGroupBox(QStringLiteral("Name / Phone Number"), this);
    auto* form = new QFormLayout(group);
    nameEdit_ = MakeField(name, group);
    numberEdit_ = MakeField(number, group);
    SetControlId(nameEdit_, IDC_ENTRY_NAME);
    SetControlId(numberEdit_, IDC_ENTRY_NUMBER);
    form->addRow(QStringLiteral("Name"), nameEdit_);
    form->addRow(QStringLiteral("Phone Number"), numberEdit_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    SetControlId(buttons->button(QDialogButtonBox::Ok), IDOK);
    SetControlId(buttons->button(QDialogButtonBox::Cancel), IDCANCEL);
    connect(buttons, &QDialogButtonBox::accepted, this, &CPhoneEntryDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CPhoneEntryDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    nameEdit_->setFocus();
}

void CPhoneEntryDlg::accept() {
    const std::string name = TrimWhite(PhoneTextFromQt(nameEdit_->text()));
    const std::string number = TrimWhite(PhoneTextFromQt(numberEdit_->text()));
    if (name.empty() || number.empty()) {
        ShowMessage("Empty field is not allowed...", "Input Error", MsgIcon::Error);
        (name.empty() ? nameEdit_ : numberEdit_)->setFocus();
        return;
    }
    if (HasReservedChar(name) || HasReservedChar(number)) {
        ShowMessage("Cannot enter any of '{', '}', '[', ']', ';'.", "Input Error", MsgIcon::Error);
        (HasReservedChar(name) ? nameEdit_ : numberEdit_)->setFocus();
        return;
    }
    const std::string bad = NonDialableCharacters(number);
    if (!bad.empty()) {
        ShowMessage(bad + " : Non-Dialable Character(s)", "Phone Number Input Error", MsgIcon::Error);
        numberEdit_->setFocus();
        return;
    }
    name_ = name;
    number_ = number;
    QDialog::accept();
}
