// "ISDN Config Dialog Box" (dialog 155): the one ISDN number to dial, typed or picked
// from the numbers stored during this run. Stores on OK and at once on every pick
// from the list, so Cancel does not undo a pick. GUI thread.
#pragma once

#include <QDialog>

class QComboBox;

class CIsdnConfigDlg : public QDialog {
    Q_OBJECT
public:
    // Reads the stored number, adds it to the run's number list and shows the list.
    explicit CIsdnConfigDlg(QWidget* parent = nullptr);

    // The combo's text: the number as it stands.
    QString number() const;

public slots:
    // Closes, then stores the text (an empty one is refused with a message).
    void accept() override;

private:
    void StoreNumber();

    QComboBox* combo_;
};
