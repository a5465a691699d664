// The call progress window: a small captionless window over the terminal that shows
// how the modem call is getting on, with a "Hide" button. Created hidden by the frame;
// shown, updated and hidden by the frame's modem message handlers. GUI thread.
#pragma once

#include <QDialog>

class QLabel;

class CCallProgressWnd : public QDialog {
    Q_OBJECT
public:
    explicit CCallProgressWnd(QWidget* parent);

    void SetText(const QString& text);
    QString text() const;

signals:
    // Every SetText, for whoever follows the call's progress.
    void textSet(const QString& text);

public slots:
    // "Hide" and Escape only hide the window; it lives as long as the frame.
    void reject() override { hide(); }

private:
    QLabel* text_;
};
