// "Speed Call": a number typed for one call, checked on OK and copied back to the
// caller's text. GUI thread.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

class CSpeedCallDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxField = 40;

    // number receives the trimmed text on OK; the field starts empty.
    explicit CSpeedCallDlg(std::string& number, QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    std::string& number_;
    QLineEdit* numberEdit_;
};
