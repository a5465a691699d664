// The Modem Configuration dialog.
#include "links/CModemConfigDlg.h"

#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "links/ModemTexts.h"
#include "links/Telephony.h"
#include "res/resource.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <climits>

using namespace modemtext;

CModemConfigDlg::CModemConfigDlg(std::vector<ModemEntry> entries, QWidget* parent)
    : QDialog(parent), entries_(std::move(entries)) {
    SetControlId(this, IDD_MODEM_CONFIG);
    setWindowTitle(QString::fromLatin1(kConfigCaption));

    auto* group = new QGroupBox(QStringLiteral("Select Active Device"), this);
    SetControlId(group, IDC_MODEM_GROUP);
    combo_ = new QComboBox(group);
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::NoInsert);
    combo_->setMinimumWidth(260);
    SetControlId(combo_, IDC_MODEM_DEVICE);
    auto* configure = new QPushButton(QStringLiteral("Configure"), group);
    SetControlId(configure, IDC_MODEM_CONFIGURE);
    configure->setAutoDefault(false);
    connect(configure, &QPushButton::clicked, this, &CModemConfigDlg::OnConfigure);
    auto* row = new QHBoxLayout(group);
    row->addWidget(combo_, 1);
    row->addWidget(configure);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    SetControlId(buttons->button(QDialogButtonBox::Ok), IDOK);
    SetControlId(buttons->button(QDialogButtonBox::Cancel), IDCANCEL);
    connect(buttons, &QDialogButtonBox::accepted, this, &CModemConfigDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CModemConfigDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);

    for (const ModemEntry& e : entries_) combo_->addItem(QString::fromLatin1(e.name.c_str()));
    Profile& p = Profile::get();
    if (entries_.empty()) {
        combo_->setCurrentIndex(-1);
        p.writeInt(kSection, kKeyDevice, -1);
        return;
    }
    const int device = p.getInt(kSection, kKeyDevice, -1);
    int select = 0;
    if (device == -1) {
        p.writeInt(kSection, kKeyDevice, -1);  // the choice is stored only by OK
    } else {
        for (size_t i = 0; i < entries_.size(); ++i)
            if (static_cast<int>(entries_[i].deviceId) == device) select = static_cast<int>(i);
    }
    combo_->setCurrentIndex(select);
}

int CModemConfigDlg::selectedEntry() const {
    const int i = combo_->currentIndex();
    // Typed text that is not the picked entry's name is no selection.
    if (i < 0 || i >= static_cast<int>(entries_.size()) || combo_->currentText() != combo_->itemText(i))
        return -1;
    return i;
}

void CModemConfigDlg::OnConfigure() {
    const int i = selectedEntry();
    if (i < 0) {
        ShowMessage(kNoModemText, kNoModemTitle, MsgIcon::Warning);
        return;
    }
    lineConfigDialog(entries_[static_cast<size_t>(i)].deviceId, this, nullptr);
}

void CModemConfigDlg::accept() {
    Profile& p = Profile::get();
    const int i = selectedEntry();
    if (i >= 0)
        p.writeInt(kSection, kKeyDevice, static_cast<int>(entries_[static_cast<size_t>(i)].deviceId));
    else if (p.getInt(kSection, kKeyDevice, INT_MIN) == INT_MIN)
        p.writeInt(kSection, kKeyDevice, -1);
    QDialog::accept();
}
