// "Modem Configuration": picks the data modem the modem link dials with and stores its
// device ID as "Modem"/"Device". Opened by Modem Configure with the list of data
// modems while the telephony layer is initialised. GUI thread.
#pragma once

#include "links/CModemLink.h"

#include <QDialog>

#include <vector>

class QComboBox;

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

private:
    std::vector<ModemEntry> entries_;
    QComboBox* combo_;
};
