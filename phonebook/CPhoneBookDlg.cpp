// The phone book dialog.
#include "phonebook/CPhoneBookDlg.h"

#include "platform/AppGlobals.h"
#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "links/CModemLink.h"
#include "phonebook/CPhoneEntryDlg.h"
#include "phonebook/CPhoneListCtrl.h"
#include "phonebook/CSpeedCallDlg.h"
#include "res/resource.h"

#include <QGroupBox>
#include <QLabel>
#include <QTreeWidgetItem>

#include <algorithm>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr const char* kCallTitle = "Call Information";
constexpr const char* kSaveTitle = "Phone Number Save";

// The entry last called, for this run: the list opens on it.
PhoneEntry g_lastCalled;

// Auto-default: Enter on a focused button presses that button; elsewhere, Call.
QPushButton* MakeButton(const char* text, int id, QWidget* parent) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setAutoDefault(true);
    SetControlId(button, id);
    return button;
}

void WarnNoSelection() {
    ShowMessage("No selection was made...", "Input Warning", MsgIcon::Warning);
}

} // namespace

CPhoneBookDlg::CPhoneBookDlg(CModemLink& modem, QWidget* parent, const std::string* isdnNumber)
    : QDialog(parent), modem_(modem), book_(StartDirectory()), isdn_(isdnNumber != nullptr),
      isdnNumber_(isdnNumber ? *isdnNumber : std::string()) {
    SetControlId(this, IDD_PHONEBOOK);
    setWindowTitle(QStringLiteral("Phone Number"));

    auto* group = new QGroupBox(QStringLiteral("Edit / Select"), this);
    list_ = new CPhoneListCtrl(group);
    SetControlId(list_, IDC_PHONE_LIST);
    auto* editButtons = new QVBoxLayout;
    QPushButton* newButton = MakeButton("New", IDC_PHONE_NEW, group);
    QPushButton* modifyButton = MakeButton("Modify", IDC_PHONE_MODIFY, group);
    QPushButton* deleteButton = MakeButton("Delete", IDC_PHONE_DELETE, group);
    QPushButton* saveButton = MakeButton("Save", IDC_PHONE_SAVE, group);
    for (QPushButton* b : {newButton, modifyButton, deleteButton, saveButton}) editButtons->addWidget(b);
    editButtons->addStretch();
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(list_, 1);
    groupLayout->addLayout(editButtons);

    QPushButton* callButton = MakeButton("Call", IDOK, this);
    callButton->setAutoDefault(true);
    callButton->setDefault(true);
    QPushButton* speedButton = MakeButton("Speed Call", IDC_SPEED_CALL, this);
    QPushButton* quitButton = MakeButton("Quit", IDCANCEL, this);
    auto* callButtons = new QHBoxLayout;
    callButtons->addStretch();
    for (QPushButton* b : {callButton, speedButton, quitButton}) callButtons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    if (isdn_) {
        // The number ISDN Connect dials is none of the listed ones: said before anything is picked.
        auto* isdnNote = new QLabel(
            isdnNumber_.empty()
                ? QStringLiteral("ISDN Connect: no ISDN number is configured (ISDN Configure).")
                : QStringLiteral("ISDN Connect dials the configured ISDN number %1. A number picked here "
                                 "is kept for the next Modem Connect.")
                      .arg(QString::fromLatin1(isdnNumber_.c_str())),
            this);
        isdnNote->setObjectName(QStringLiteral("isdnNote"));
        isdnNote->setWordWrap(true);
        layout->addWidget(isdnNote);
    }
    layout->addWidget(group, 1);
    layout->addLayout(callButtons);
    resize(480, 300);

    connect(newButton, &QPushButton::clicked, this, &CPhoneBookDlg::OnNew);
    connect(modifyButton, &QPushButton::clicked, this, &CPhoneBookDlg::OnModify);
    connect(deleteButton, &QPushButton::clicked, this, &CPhoneBookDlg::OnDelete);
    connect(saveButton, &QPushButton::clicked, this, &CPhoneBookDlg::OnSave);
    connect(callButton, &QPushButton::clicked, this, &CPhoneBookDlg::accept);
    connect(speedButton, &QPushButton::clicked, this, &CPhoneBookDlg::OnSpeedCall);
    connect(quitButton, &QPushButton::clicked, this, &CPhoneBookDlg::reject);
    connect(list_, &CPhoneListCtrl::rowPressed, this, &CPhoneBookDlg::OnRowPressed);
    connect(list_, &CPhoneListCtrl::rowDoubleClicked, this, &CPhoneBookDlg::OnRowDoubleClicked);
    // The highlighted row is the selected one, however it was reached: a keyboard-only
    // user must be able to call, modify and delete too.
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> rows = list_->selectedItems();
        selectedRow_ = rows.isEmpty() ? -1 : list_->indexOfTopLevelItem(rows.first());
    });

    // A failed load has shown its file error; the list is then empty, and the book
    // itself refuses to save that empty list over a file it could not read.
    book_.load();
    saved_ = book_.entries();
    FillList();
    // Opened on a row, so that the keyboard alone can call at once.
    const auto& entries = book_.entries();
    const auto last = std::find(entries.begin(), entries.end(), g_lastCalled);
    if (!entries.empty()) SelectRow(last == entries.end() ? 0 : static_cast<int>(last - entries.begin()));
    list_->setFocus();
}

void CPhoneBookDlg::SelectRow(int row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item) return;
    list_->setCurrentItem(item);
    item->setSelected(true);
    list_->scrollToItem(item);
    selectedRow_ = row;
}

void CPhoneBookDlg::FillList() { list_->fill(book_.entries()); }

void CPhoneBookDlg::ClearSelection() {
    selectedRow_ = -1;
    // The highlight goes too: a highlighted row that Call calls "no selection" misleads.
    list_->clearSelection();
}

void CPhoneBookDlg::OnRowPressed(int row) {
    selectedRow_ = row;
    // Beside the rows: nothing stays highlighted that Call would not take.
    if (row < 0) list_->clearSelection();
}

void CPhoneBookDlg::OnRowDoubleClicked(int row) {
    selectedRow_ = row;
    accept();
}

void CPhoneBookDlg::OnNew() {
    std::string name;
    std::string number;
    CPhoneEntryDlg dlg(name, number, this);
    if (RunModal(dlg) != QDialog::Accepted) return;
    book_.append({name, number});
    FillList();
    ClearSelection();
}

void CPhoneBookDlg::OnModify() {
    if (!HasSelection()) {
        WarnNoSelection();
        return;
    }
    const int row = selectedRow_;
    PhoneEntry entry = book_.at(row);
    CPhoneEntryDlg dlg(entry.name, entry.number, this);
    if (RunModal(dlg) == QDialog::Accepted) {
        book_.replace(row, entry);
        FillList();
    }
    ClearSelection();
}

void CPhoneBookDlg::OnDelete() {
    if (!HasSelection()) {
        WarnNoSelection();
        return;
    }
    if (ShowMessage("Are you sure to delete the item ?", "Delete Confirmation", MsgIcon::Question,
                    MsgButtons::OkCancel) == IDOK) {
        book_.remove(selectedRow_);
        FillList();
    }
    ClearSelection();
}

void CPhoneBookDlg::OnSave() {
    const bool saved = book_.save();
    FillList();  // a save keeps what other instances saved meanwhile
    if (saved) {
        saved_ = book_.entries();
        ShowMessage("Phone number saved successfully...", kSaveTitle, MsgIcon::Information);
    } else {
        ShowMessage("Failed to save data...", kSaveTitle, MsgIcon::Error);
    }
    ClearSelection();
}

void CPhoneBookDlg::accept() {
    if (!HasSelection()) {
        WarnNoSelection();
        return;
    }
    const PhoneEntry& entry = book_.at(selectedRow_);
    const std::string question = CallQuestion("'" + entry.name + "' (" + entry.number + ")");
    if (ShowMessage(question, kCallTitle, MsgIcon::Information, MsgButtons::OkCancel) != IDOK) {
        list_->setFocus();
        return;
    }
    modem_.SetDestination(entry.number.c_str());
    g_lastCalled = entry;
    CloseWithOk();
}

void CPhoneBookDlg::OnSpeedCall() {
    std::string number;
    CSpeedCallDlg dlg(number, this);
    if (RunModal(dlg) != QDialog::Accepted) return;
    // Handed over before the question: a cancelled call still leaves it to dial.
    modem_.SetDestination(number.c_str());
    if (ShowMessage(CallQuestion("(" + number + ")"), kCallTitle, MsgIcon::Information,
                    MsgButtons::OkCancel) == IDOK)
        CloseWithOk();
}

std::string CPhoneBookDlg::CallQuestion(const std::string& picked) const {
    if (!isdn_) return "Calling to " + picked + "...";
    // The go-ahead of ISDN Connect: the call named is the one that will be made.
    const std::string call = isdnNumber_.empty()
                                 ? "ISDN Connect has no ISDN number to call (ISDN Configure)."
                                 : "Calling to ISDN " + isdnNumber_ + " (the configured ISDN number)...";
    return call + "\n\n" + picked + " is kept for the next Modem Connect.";
}

void CPhoneBookDlg::CloseWithOk() {
    book_.clear();
    ClearSelection();
    QDialog::accept();
}

void CPhoneBookDlg::reject() {
    // Typed entries are not lost without a word.
    if (book_.entries() != saved_ &&
        ShowMessage("The phone book has changes that are not saved. Quit and drop them?", "Phone Number",
                    MsgIcon::Question, MsgButtons::YesNo) != IDYES) {
        list_->setFocus();
        return;
    }
    book_.clear();
    ClearSelection();
    QDialog::reject();
}

int ShowPhoneBook(QWidget* parent, CModemLink& modem, const std::string* isdnNumber) {
    CPhoneBookDlg dlg(modem, parent, isdnNumber);
    return RunModal(dlg) == QDialog::Accepted ? IDOK : IDCANCEL;
}
