// The input box bar docked at the bottom of the main window: an edit with "Enter"
// and its history, and a command list with "Execute". The frame handles what the
// buttons do.
#pragma once

#include "commands/InputHistory.h"

#include <QDockWidget>

class QComboBox;
class QLineEdit;
class QPushButton;

class CInputBoxBar : public QDockWidget {
    Q_OBJECT
public:
    // A command line is at most this long: the edit takes no more, typed or pasted
    // (a pasted line that does not fit is refused whole rather than cut).
    static constexpr int kMaxLineLength = 40;

    explicit CInputBoxBar(QWidget* parent);

    QLineEdit* edit() const { return edit_; }
    QPushButton* enterButton() const { return enter_; }
    QComboBox* commandList() const { return list_; }
    QPushButton* executeButton() const { return execute_; }

    // Shows or hides the command list and its "Execute" button.
    void setCommandListVisible(bool visible);

    // Lines sent from the edit; Up and Down in the edit walk them.
    InputHistory& history() { return history_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void enterClicked();
    void executeClicked();

private:
    QLineEdit* edit_;
    QPushButton* enter_;
    QComboBox* list_;
    QPushButton* execute_;
    InputHistory history_;
};
