// The two-argument dialog: one group box titled with both captions, one edit per value.
#include "commands/CCommandArgsDlg.h"

#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "commands/ArgDialogText.h"
#include "commands/TextTrim.h"
#include "res/resource.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CCommandArgsDlg::CCommandArgsDlg(const std::string& firstCaption, const std::string& secondCaption,
                                 QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Enter Command Arguments"));
    SetControlId(this, IDD_COMMAND_ARGS);

    group_ = new QGroupBox(ArgText(firstCaption + ", " + secondCaption), this);
    SetControlId(group_, IDC_ARGS_GROUP);
    edit1_ = new QLineEdit(group_);
    edit1_->setMaxLength(kMaxArgLength);
    SetControlId(edit1_, IDC_ARG_EDIT1);
    edit2_ = new QLineEdit(group_);
    edit2_->setMaxLength(kMaxArgLength);
    SetControlId(edit2_, IDC_ARG_EDIT2);
    auto* groupLayout = new QHBoxLayout(group_);
    groupLayout->addWidget(edit1_);
    groupLayout->addWidget(edit2_);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    SetControlId(ok, IDOK);
    connect(ok, &QPushButton::clicked, this, &CCommandArgsDlg::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group_);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    edit1_->setFocus();
}

void CCommandArgsDlg::accept() {
    std::string first = ArgBytes(edit1_->text());
    std::string second = ArgBytes(edit2_->text());
    if (TrimWhite(first).empty() || TrimWhite(second).empty()) {
        ShowMessage(kEmptyFieldText, kEmptyFieldTitle, MsgIcon::Error);
        (TrimWhite(first).empty() ? edit1_ : edit2_)->setFocus();
        return;
    }
    first_ = first;
    second_ = second;
    QDialog::accept();
}

void CCommandArgsDlg::reject() {
    first_.clear();
    second_.clear();
    QDialog::reject();
}
