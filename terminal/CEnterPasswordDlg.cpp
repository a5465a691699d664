// Enter Password dialog: refuses an empty (or all-blank) password and stays open.
#include "terminal/CEnterPasswordDlg.h"

#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "res/resource.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CEnterPasswordDlg::CEnterPasswordDlg(QWidget* parent) : QDialog(parent) {
    SetControlId(this, IDD_ENTER_PASSWORD);
    setWindowTitle(QStringLiteral("Enter Password"));
    auto* group = new QGroupBox(QStringLiteral("Password"), this);
    edit_ = new QLineEdit(group);
    SetControlId(edit_, IDC_PASSWORD_EDIT);
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setMaxLength(32);
    edit_->setMinimumWidth(180);
    auto* inner = new QVBoxLayout(group);
    inner->addWidget(edit_);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(ok, IDOK);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CEnterPasswordDlg::accept);
    auto* row = new QHBoxLayout(this);
    row->addWidget(group, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    edit_->setFocus();
}

void CEnterPasswordDlg::accept() {
    const QString text = edit_->text().trimmed();
    if (text.isEmpty()) {
        ShowMessage("Empty field is not allowed...", "Input Error", MsgIcon::Error);
        return;
    }
    password_ = text;
    QDialog::accept();
}
