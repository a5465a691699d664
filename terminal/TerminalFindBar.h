// The terminal's find bar: a small strip over the top of the terminal with the text
// to find, Next, Previous, the match count and a close button. Hidden until asked
// for; while hidden it takes no keys. GUI thread only.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

class TerminalFindBar : public QWidget {
    Q_OBJECT
public:
    explicit TerminalFindBar(QWidget* parent);

    // Shows the bar with the focus in its text, which is selected for overtyping.
    void Open();
    // Hides the bar and gives the focus back to where it was before Open.
    void Close();
    QString Text() const;
    QLineEdit* Edit() const { return edit_; }
    // "3 of 12", or "No matches" when there is text to find and none was found.
    void SetCount(int current, int total, bool more = false);

signals:
    void next();
    void previous();
    void textEdited();
    void closed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLineEdit* edit_;
    QLabel* count_;
    QWidget* returnFocus_ = nullptr;
};
