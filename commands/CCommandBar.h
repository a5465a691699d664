// The command bar docked at the main window's right edge: 26 slot buttons of which the
// twelve of the current access mode are shown, and the Customize button. The frame
// decides what the buttons send. GUI thread.
#pragma once

#include "commands/ButtonAssignment.h"

#include <QDockWidget>

class CommandTable;
class QPushButton;

class CCommandBar : public QDockWidget {
    Q_OBJECT
public:
    explicit CCommandBar(QWidget* parent);

    // The button of slot 0-25; nullptr otherwise.
    QPushButton* button(int slot) const;
    QPushButton* customizeButton() const { return customize_; }

    // Captions and enabled states: an unassigned slot is an empty, disabled button.
    // False (and nothing changed) when a button control is missing.
    bool Fill(const ButtonAssignment& assignment, const CommandTable& table);
    // Shows the group of the access mode and hides every other slot.
    void LayOut(AccessMode mode);

signals:
    void commandClicked(int slot);
    void customizeClicked();

private:
    // The command name on a button: broken into lines at blanks, and in a smaller
    // font when it would not fit otherwise.
    void SetCaption(QPushButton* button, const QString& name);

    QWidget* body_;
    QPushButton* customize_;
};
