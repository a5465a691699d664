// "Modem Configuration": picks the data modem the modem link dials with and stores its
// device ID as "Modem"/"Device" and its device path as "Modem"/"DevicePath"; adds,
// edits and removes the modems of the settings. Opened by Modem Configure with the list of data
// modems while the telephony layer is initialised. GUI thread.
#pragma once

#include "links/CModemLink.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QPushButton;

class CModemConfigDlg : public QDialog {
    Q_OBJECT
public:
    // Fills the list and selects the stored modem; with no modem, stores -1.
    CModemConfigDlg(std::vector<ModemEntry> entries, QWidget* parent = nullptr);

    // The picked entry, or -1 when the combo box holds typed text or nothing.
    int selectedEntry() const;

public slots:
    void accept() override;

private slots:
    void OnConfigure();
    void OnAdd();
    void OnRemove();
    void OnSelection();

private:
    // Lists the modems again after one was added, edited or removed, keeping the
    // selection on the modem of that device path when it is still there.
    void Refill(const std::string& selectPath);
    std::string PathOf(int entry) const;

    std::vector<ModemEntry> entries_;
    QComboBox* combo_;
    QPushButton* remove_;
};
