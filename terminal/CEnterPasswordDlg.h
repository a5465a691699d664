// The Enter Password dialog (dialog 136): masked, at most 32 characters, no Cancel
// button (Esc and the close box cancel).
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

class CEnterPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit CEnterPasswordDlg(QWidget* parent = nullptr);
    // The trimmed password after OK.
    QString password() const { return password_; }

public slots:
    void accept() override;

private:
    QLineEdit* edit_;
    QString password_;
};
