// The telephony layer's own modem settings: the name, device path and init string of
// one data modem, opened by "Configure" in Modem Configuration. GUI thread.
#pragma once

#include "links/Telephony.h"

#include <QDialog>

class QLineEdit;

class CLineConfigDlg : public QDialog {
    Q_OBJECT
public:
    CLineConfigDlg(const TelephonyModem& modem, QWidget* parent = nullptr);
    // The edited settings, after OK.
    const TelephonyModem& modem() const { return modem_; }

public slots:
    void accept() override;

private:
    TelephonyModem modem_;
    QLineEdit* name_;
    QLineEdit* path_;
    QLineEdit* init_;
};
