// "Edit Phone Number": one phone book entry's name and number, checked on OK and
// copied back to the caller's texts. GUI thread.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

class CPhoneEntryDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxField = 40;

    // name and number preset the fields and receive the trimmed texts on OK.
    CPhoneEntryDlg(std::string& name, std::string& number, QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    std::string& name_;
    std::string& number_;
    QLineEdit* nameEdit_;
    QLineEdit* numberEdit_;
};
