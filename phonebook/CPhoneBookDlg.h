// "Phone Number": the phone book dialog. Lists the switches' names and numbers, edits
// and saves them, and picks the number the modem link dials (Call, Speed Call).
// Opened by the PhoneBook menu command, Modem Connect and ISDN Connect. GUI thread.
#pragma once

#include "phonebook/PhoneBook.h"

#include <QDialog>

class CModemLink;
class CPhoneListCtrl;

class CPhoneBookDlg : public QDialog {
    Q_OBJECT
public:
    // Reads the phone book from the start directory afresh. isdnNumber: opened as ISDN
    // Connect's go-ahead, which dials that number (empty: none configured).
    explicit CPhoneBookDlg(CModemLink& modem, QWidget* parent = nullptr,
                           const std::string* isdnNumber = nullptr);

    // The row last clicked in the list, -1 for none.
    int selectedRow() const { return selectedRow_; }
    const PhoneBook& phoneBook() const { return book_; }

public slots:
    // Call: hands the clicked entry's number to the modem link after confirmation.
    void accept() override;
    // Quit, Esc or closing the window: with unsaved changes, asks before dropping them.
    void reject() override;

private slots:
    void OnNew();
    void OnModify();
    void OnDelete();
    void OnSave();
    void OnSpeedCall();
    void OnRowPressed(int row);
    void OnRowDoubleClicked(int row);

private:
    void FillList();
    void ClearSelection();
    bool HasSelection() const { return selectedRow_ >= 0 && selectedRow_ < book_.count(); }
    void CloseWithOk();

    // Selects row (the highlight and the selected row index) and makes it current.
    void SelectRow(int row);
    // The call question for a picked entry or number ("'name' (number)", "(number)").
    std::string CallQuestion(const std::string& picked) const;

    CModemLink& modem_;
    PhoneBook book_;
    std::vector<PhoneEntry> saved_;  // the entries as loaded or last saved
    CPhoneListCtrl* list_;
    int selectedRow_ = -1;
    bool isdn_ = false;
    std::string isdnNumber_;
};

// Runs the phone book modally. IDOK when Call or Speed Call handed a number to the
// modem link (and the engineer confirmed the call), IDCANCEL after Quit.
// isdnNumber: as ISDN Connect's go-ahead (see the constructor).
int ShowPhoneBook(QWidget* parent, CModemLink& modem, const std::string* isdnNumber = nullptr);
