// The "Command Bar Customize" dialog: one list per slot, "<No Command>" or a table
// command. The caller stores the result and fills the bar again. GUI thread.
#pragma once

#include "commands/ButtonAssignment.h"

#include <QDialog>

class CommandTable;
class QComboBox;

class CCommandBarCustomizeDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kNoCommand = "<No Command>";

    CCommandBarCustomizeDlg(const CommandTable& table, const ButtonAssignment& current,
                            QWidget* parent = nullptr);

    // The list of "Button k", k = 1..40; nullptr otherwise.
    QComboBox* list(int k) const;
    // The choices taken at OK.
    const ButtonAssignment& assignment() const { return chosen_; }

    void accept() override;

private:
    ButtonAssignment chosen_;
};
