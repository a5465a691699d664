// The Serial Port Configuration dialog (dialog 135): port, line settings, flow
// control, and the device each COM name stands for. GUI thread.
#pragma once

#include <QDialog>
#include <QString>

#include <array>

class CSerialLink;
class QCheckBox;
class QComboBox;
class QLabel;

class CSerialConfigDlg : public QDialog {
    Q_OBJECT
public:
    // link: the frame's link object, or nullptr when there is none. The dialog shows
    // its settings (when the port is configured) and gives it the new ones on OK.
    explicit CSerialConfigDlg(CSerialLink* link, QWidget* parent = nullptr);

    // Stored value <-> list index; anything not in a list gives that list's default.
    static int PortToIndex(int port);
    static int IndexToPort(int index);
    static int BaudToIndex(int baud);
    static int IndexToBaud(int index);
    static int DataBitsToIndex(int bits);
    static int IndexToDataBits(int index);
    static int StopBitsToIndex(int code);
    static int IndexToStopBits(int code);
    static int ParityToIndex(int code);
    static int IndexToParity(int index);

    // The list entry the field shows, or -1 when its text is not one of the entries.
    static int Selection(const QComboBox* combo);

    // The refusal of a baud rate that is not one of the list's ("Serial Port
    // Configuration", warning icon); the dialog stays open.
    static constexpr const char* kBadBaudText =
        "The baud rate must be one of 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, "
        "38400, 57600 or 115200.";

public slots:
    // Stores the six settings, then any device path the user changed.
    void accept() override;

private:
    void showDevice(int portIndex);

    CSerialLink* link_;
    QComboBox* port_;
    QComboBox* baud_;
    QComboBox* parity_;
    QComboBox* dataBits_;
    QComboBox* stopBits_;
    QCheckBox* dtrDsr_;
    QCheckBox* rtsCts_;
    QCheckBox* xonXoff_;
    QComboBox* device_;  // editable: a present device, or any path typed
    QLabel* dtrDsrNote_;
    std::array<QString, 4> devices_;       // as edited, per port
    std::array<QString, 4> storedDevices_;  // as found at opening
    int devicePort_ = 0;                     // whose path the edit shows
};
