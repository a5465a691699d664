// The LAN Configure dialog (IDD 152). GUI thread.
#include "links/CLanConfigDlg.h"

#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "res/resource.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const char* const kSection = "Server";
const char* const kKey = "History %c";  // the literal name, never formatted

std::vector<std::string>& List() {
    static std::vector<std::string> list;
    return list;
}
} // namespace

const std::vector<std::string>& CLanConfigDlg::DestinationList() { return List(); }
void CLanConfigDlg::ClearDestinationList() { List().clear(); }

CLanConfigDlg::CLanConfigDlg(QWidget* parent) : QDialog(parent) {
    SetControlId(this, IDD_LAN_CONFIG);
    setWindowTitle(QStringLiteral("Dialog for LAN Configuration"));

    auto* group = new QGroupBox(QStringLiteral("Select the Destination"), this);
    SetControlId(group, IDC_LAN_DEST_GROUP);
    combo_ = new QComboBox(group);
    SetControlId(combo_, IDC_LAN_DEST_COMBO);
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::InsertAlphabetically);
    combo_->setMinimumWidth(220);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(combo_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    SetControlId(buttons->button(QDialogButtonBox::Ok), IDOK);
    SetControlId(buttons->button(QDialogButtonBox::Cancel), IDCANCEL);
    connect(buttons, &QDialogButtonBox::accepted, this, &CLanConfigDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);

    destination_ = Profile::get().getString(kSection, kKey, "");
    auto& list = List();
    if (!destination_.empty() && std::find(list.begin(), list.end(), destination_) == list.end())
        list.push_back(destination_);

    std::vector<std::string> sorted = list;
    std::sort(sorted.begin(), sorted.end());
    for (const std::string& d : sorted) combo_->addItem(QString::fromLatin1(d.c_str()));
    const int at = combo_->findText(QString::fromLatin1(destination_.c_str()), Qt::MatchExactly | Qt::MatchCaseSensitive);
    combo_->setCurrentIndex(at);
    combo_->setEditText(QString::fromLatin1(destination_.c_str()));
}

void CLanConfigDlg::accept() {
    QDialog::accept();
    destination_ = combo_->currentText().toLatin1().toStdString();
    if (destination_.empty()) {
        ShowMessage("Enter IP Address!", "Input Error", MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    Profile::get().writeString(kSection, kKey, destination_);
}
