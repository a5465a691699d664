// "Enter Command Argument": asks for the one argument of a command. Modal, GUI thread.
#pragma once

#include <QDialog>
#include <string>

class QGroupBox;
class QLineEdit;

class CCommandArgDlg : public QDialog {
    Q_OBJECT
public:
    // Longest argument the switch's commands take.
    static constexpr int kMaxArgLength = 8;

    explicit CCommandArgDlg(const std::string& caption, QWidget* parent = nullptr);

    // The edit's text as typed when OK closed the dialog; empty otherwise.
    const std::string& value() const { return value_; }

public slots:
    void accept() override;
    void reject() override;

private:
    QGroupBox* group_;
    QLineEdit* edit_;
    std::string value_;
};
