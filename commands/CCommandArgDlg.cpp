// The one-argument dialog: the group box carries the argument's caption from the file.
#include "commands/CCommandArgDlg.h"

#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "commands/ArgDialogText.h"
#include "commands/TextTrim.h"
#include "res/resource.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CCommandArgDlg::CCommandArgDlg(const std::string& caption, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Enter Command Argument"));
    SetControlId(this, IDD_COMMAND_ARG);

    group_ = new QGroupBox(ArgText(caption), this);
    SetControlId(group_, IDC_ARG_GROUP);
    edit_ = new QLineEdit(group_);
    edit_->setMaxLength(kMaxArgLength);
    SetControlId(edit_, IDC_ARG_EDIT1);
    auto* groupLayout = new QVBoxLayout(group_);
    groupLayout->addWidget(edit_);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    SetControlId(ok, IDOK);
    connect(ok, &QPushButton::clicked, this, &CCommandArgDlg::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group_);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    edit_->setFocus();
}

void CCommandArgDlg::accept() {
    std::string typed = ArgBytes(edit_->text());
    if (TrimWhite(typed).empty()) {
        ShowMessage(kEmptyFieldText, kEmptyFieldTitle, MsgIcon::Error);
        edit_->setFocus();
        return;
    }
    value_ = typed;
    QDialog::accept();
}

void CCommandArgDlg::reject() {
    value_.clear();
    QDialog::reject();
}
