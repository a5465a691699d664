// "Enter Command Arguments": asks for the two arguments of a command. Modal, GUI thread.
#pragma once

#include <QDialog>
#include <string>

class QGroupBox;
class QLineEdit;

class CCommandArgsDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxArgLength = 8;

    CCommandArgsDlg(const std::string& firstCaption, const std::string& secondCaption,
                    QWidget* parent = nullptr);

    // The edits' texts as typed when OK closed the dialog; empty otherwise.
    const std::string& firstValue() const { return first_; }
    const std::string& secondValue() const { return second_; }

public slots:
    void accept() override;
    void reject() override;

private:
    QGroupBox* group_;
    QLineEdit* edit1_;
    QLineEdit* edit2_;
    std::string first_;
    std::string second_;
};
