// The LAN Configure dialog: picks or types the destination ("Server" / "History %c")
// and offers every destination stored during this run. GUI thread.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;

class CLanConfigDlg : public QDialog {
    Q_OBJECT
public:
    explicit CLanConfigDlg(QWidget* parent = nullptr);

    // The dialog closes first; an empty destination is then refused with a box,
    // anything else is stored as typed.
    void accept() override;

    QComboBox* combo() const { return combo_; }
    std::string destination() const { return destination_; }

    // The destinations offered this run, in the order they were first seen.
    static const std::vector<std::string>& DestinationList();
    static void ClearDestinationList();  // a fresh run, for tests

private:
    QComboBox* combo_;
    std::string destination_;
};
