// The Modem Configuration dialog.
#include "links/CModemConfigDlg.h"

#include "links/CLineConfigDlg.h"
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
    auto* add = new QPushButton(QStringLiteral("Add..."), group);
    SetControlId(add, IDC_MODEM_ADD);
    add->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &CModemConfigDlg::OnAdd);
    remove_ = new QPushButton(QStringLiteral("Remove"), group);
    SetControlId(remove_, IDC_MODEM_REMOVE);
    remove_->setAutoDefault(false);
    remove_->setEnabled(false);
    connect(remove_, &QPushButton::clicked, this, &CModemConfigDlg::OnRemove);
    connect(combo_, &QComboBox::currentIndexChanged, this, &CModemConfigDlg::OnSelection);
    auto* row = new QHBoxLayout(group);
    row->addWidget(combo_, 1);
    row->addWidget(configure);
    row->addWidget(add);
    row->addWidget(remove_);

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
    const std::string path = p.getString(kSection, kKeyDevicePath, "");
    int select = 0;
    if (device == -1) {
        p.writeInt(kSection, kKeyDevice, -1);  // the choice is stored only by OK
    } else if (!path.empty()) {
        // The stored device, wherever the modem on it stands in today's list.
        const std::vector<TelephonyModem> modems = TelephonyModems();
        const int at = FindModemByPath(modems, path);
        for (size_t i = 0; i < entries_.size(); ++i)
            if (at >= 0 && static_cast<int>(entries_[i].deviceId) == at) select = static_cast<int>(i);
    } else {
        for (size_t i = 0; i < entries_.size(); ++i)
            if (static_cast<int>(entries_[i].deviceId) == device) select = static_cast<int>(i);
    }
    combo_->setCurrentIndex(select);
    OnSelection();
}

std::string CModemConfigDlg::PathOf(int entry) const {
    if (entry < 0 || entry >= static_cast<int>(entries_.size())) return std::string();
    const std::vector<TelephonyModem> modems = TelephonyModems();
    const DWORD id = entries_[static_cast<size_t>(entry)].deviceId;
    return id < modems.size() ? modems[id].path : std::string();
}

void CModemConfigDlg::Refill(const std::string& selectPath) {
    const std::vector<TelephonyModem> modems = TelephonyModems();
    entries_.clear();
    combo_->clear();
    for (size_t i = 0; i < modems.size() && entries_.size() < CModemLink::kMaxModemEntries; ++i) {
        entries_.push_back({modems[i].name, static_cast<DWORD>(i)});
        combo_->addItem(QString::fromLatin1(modems[i].name.c_str()));
    }
    const int at = FindModemByPath(modems, selectPath);
    combo_->setCurrentIndex(at >= 0 && at < static_cast<int>(entries_.size()) ? at : (entries_.empty() ? -1 : 0));
    OnSelection();
}

void CModemConfigDlg::OnSelection() {
    // Only modems of the settings can be removed; a detected one is there while its device is.
    const int i = selectedEntry();
    remove_->setEnabled(i >= 0 && entries_[static_cast<size_t>(i)].deviceId < ConfiguredModems().size());
}

void CModemConfigDlg::OnAdd() {
    CLineConfigDlg dlg(TelephonyModem{"", "", telephony::kDefaultInit}, this);
    dlg.setWindowTitle(QStringLiteral("Add Modem"));
    if (RunModal(dlg) != QDialog::Accepted) return;
    std::vector<TelephonyModem> configured = ConfiguredModems();
    configured.push_back(dlg.modem());
    StoreTelephonyModems(configured);
    Refill(dlg.modem().path);
}

void CModemConfigDlg::OnRemove() {
    const int i = selectedEntry();
    std::vector<TelephonyModem> configured = ConfiguredModems();
    if (i < 0 || entries_[static_cast<size_t>(i)].deviceId >= configured.size()) return;
    configured.erase(configured.begin() + entries_[static_cast<size_t>(i)].deviceId);
    StoreTelephonyModems(configured);
    Refill(std::string());
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
    const DWORD id = entries_[static_cast<size_t>(i)].deviceId;
    const size_t before = ConfiguredModems().size();
    lineConfigDialog(id, this, nullptr);
    const std::vector<TelephonyModem> configured = ConfiguredModems();
    // An edited detected modem joined the settings at their end.
    const size_t at = configured.size() > before ? configured.size() - 1 : id;
    if (at < configured.size() && (configured.size() > before || id < before)) Refill(configured[at].path);
}

void CModemConfigDlg::accept() {
    Profile& p = Profile::get();
    const int i = selectedEntry();
    if (i >= 0) {
        p.writeInt(kSection, kKeyDevice, static_cast<int>(entries_[static_cast<size_t>(i)].deviceId));
        p.writeString(kSection, kKeyDevicePath, PathOf(i));
    } else if (p.getInt(kSection, kKeyDevice, INT_MIN) == INT_MIN)
        p.writeInt(kSection, kKeyDevice, -1);
    QDialog::accept();
}
