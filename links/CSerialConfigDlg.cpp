// Serial Port Configuration dialog: fills its lists in code, maps them to and from
// the stored values, and writes the "SerialPort" section on OK. GUI thread.
#include "links/CSerialConfigDlg.h"

#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "links/CSerialLink.h"
#include "links/SerialDevices.h"
#include "platform/MessageService.h"
#include "links/SerialTexts.h"
#include "res/resource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

using namespace serialtext;

namespace {

constexpr int kPorts[] = {0, 1, 2, 3};
constexpr int kBauds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};
constexpr int kDataBits[] = {5, 6, 7, 8};
constexpr int kStopCodes[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
constexpr int kParityCodes[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};

constexpr const char* kPortNames[] = {"COM1", "COM2", "COM3", "COM4"};
constexpr const char* kBaudNames[] = {"110", "300", "600", "1200", "2400", "4800", "9600",
                                      "14400", "19200", "38400", "57600", "115200"};
constexpr const char* kDataBitNames[] = {"5", "6", "7", "8"};
constexpr const char* kStopBitNames[] = {"1", "1.5", "2"};
constexpr const char* kParityNames[] = {"None", "Odd", "Even", "Mark", "Space"};

constexpr int kDefaultPortIndex = 0;
constexpr int kDefaultBaudIndex = 6;  // 9600
constexpr int kDefaultDataBitsIndex = 3;  // 8
constexpr int kDefaultStopIndex = 0;
constexpr int kDefaultParityIndex = 0;

const char* const kDtrDsrNote =
    "DTR / DSR flow control is not available on this system: a connection with it ticked "
    "fails. Use RTS / CTS or XON / XOFF.";

template <size_t N>
int ToIndex(const int (&values)[N], int value, int defaultIndex) {
    for (size_t i = 0; i < N; ++i)
        if (values[i] == value) return static_cast<int>(i);
    return defaultIndex;
}

template <size_t N>
int ToValue(const int (&values)[N], int index, int defaultIndex) {
    if (index < 0 || index >= static_cast<int>(N)) index = defaultIndex;
    return values[index];
}

template <size_t N>
QComboBox* MakeList(QWidget* parent, int id, const char* const (&names)[N]) {
    auto* combo = new QComboBox(parent);
    SetControlId(combo, id);
    // A drop-down with an edit field; typed text is never inserted as an entry.
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    for (const char* n : names) combo->addItem(QString::fromLatin1(n));
    return combo;
}

QString DefaultDevice(int port) { return QStringLiteral("/dev/ttyS%1").arg(port); }

} // namespace

int CSerialConfigDlg::PortToIndex(int port) { return ToIndex(kPorts, port, kDefaultPortIndex); }
int CSerialConfigDlg::IndexToPort(int index) { return ToValue(kPorts, index, kDefaultPortIndex); }
int CSerialConfigDlg::BaudToIndex(int baud) { return ToIndex(kBauds, baud, kDefaultBaudIndex); }
int CSerialConfigDlg::IndexToBaud(int index) { return ToValue(kBauds, index, kDefaultBaudIndex); }
int CSerialConfigDlg::DataBitsToIndex(int bits) {
    return ToIndex(kDataBits, bits, kDefaultDataBitsIndex);
}
int CSerialConfigDlg::IndexToDataBits(int index) {
    return ToValue(kDataBits, index, kDefaultDataBitsIndex);
}
int CSerialConfigDlg::StopBitsToIndex(int code) { return ToIndex(kStopCodes, code, kDefaultStopIndex); }
int CSerialConfigDlg::IndexToStopBits(int index) {
    return ToValue(kStopCodes, index, kDefaultStopIndex);
}
int CSerialConfigDlg::ParityToIndex(int code) {
    return ToIndex(kParityCodes, code, kDefaultParityIndex);
}
int CSerialConfigDlg::IndexToParity(int index) {
    return ToValue(kParityCodes, index, kDefaultParityIndex);
}

int CSerialConfigDlg::Selection(const QComboBox* combo) {
    // Typing into the field drops the selection unless the text is an entry itself.
    return combo->findText(combo->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

CSerialConfigDlg::CSerialConfigDlg(CSerialLink* link, QWidget* parent)
    : QDialog(parent), link_(link) {
    SetControlId(this, IDD_SERIAL_CONFIG);
    setWindowTitle(QString::fromLatin1(kConfigCaption));

    auto* settings = new QGroupBox(QStringLiteral("Port Settings"), this);
    port_ = MakeList(settings, IDC_SERIAL_PORT, kPortNames);
    baud_ = MakeList(settings, IDC_SERIAL_BAUD, kBaudNames);
    parity_ = MakeList(settings, IDC_SERIAL_PARITY, kParityNames);
    dataBits_ = MakeList(settings, IDC_SERIAL_DATABITS, kDataBitNames);
    stopBits_ = MakeList(settings, IDC_SERIAL_STOPBITS, kStopBitNames);
    device_ = new QComboBox(settings);
    SetControlId(device_, IDC_SERIAL_DEVICE);
    device_->setEditable(true);
    device_->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string& path : ListSerialDevices())
        device_->addItem(QString::fromLocal8Bit(path.c_str()));
    // Wide enough for a by-id name's start, or a typical path whole.
    device_->setMinimumContentsLength(30);
    device_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    device_->view()->setMinimumWidth(device_->view()->sizeHintForColumn(0));
    device_->setToolTip(QStringLiteral("The device this COM port stands for on this computer: "
                                       "pick one present, or type any path"));

    auto* grid = new QGridLayout(settings);
    auto row = [&](int r, const char* label, QComboBox* combo) {
        auto* l = new QLabel(QString::fromLatin1(label), settings);
        l->setBuddy(combo);
        grid->addWidget(l, r, 0);
        grid->addWidget(combo, r, 1);
    };
    row(0, "&Port", port_);
    auto* deviceLabel = new QLabel(QStringLiteral("De&vice"), settings);
    deviceLabel->setBuddy(device_);
    grid->addWidget(deviceLabel, 0, 2);
    grid->addWidget(device_, 0, 3);
    row(1, "&Baud Rate", baud_);
    row(2, "P&arity", parity_);
    row(3, "&Data Bits", dataBits_);
    row(4, "&Stop Bits", stopBits_);
    grid->setColumnStretch(3, 1);

    auto* flow = new QGroupBox(QStringLiteral("Flow Control"), this);
    dtrDsr_ = new QCheckBox(QStringLiteral("DTR / DSR"), flow);
    rtsCts_ = new QCheckBox(QStringLiteral("RTS / CTS"), flow);
    xonXoff_ = new QCheckBox(QStringLiteral("XON / XOFF"), flow);
    SetControlId(dtrDsr_, IDC_SERIAL_DTRDSR);
    SetControlId(rtsCts_, IDC_SERIAL_RTSCTS);
    SetControlId(xonXoff_, IDC_SERIAL_XONXOFF);
    dtrDsr_->setToolTip(QString::fromLatin1(kDtrDsrNote));
    // Serial drivers here have no DSR handshake: say so where the choice is made
    // rather than only through a failed connect.
    dtrDsrNote_ = new QLabel(QString::fromLatin1(kDtrDsrNote), flow);
    dtrDsrNote_->setObjectName(QStringLiteral("dtrDsrNote"));
    dtrDsrNote_->setWordWrap(true);
    dtrDsrNote_->setStyleSheet(QStringLiteral("color: #a00000;"));
    auto* flowBox = new QVBoxLayout(flow);
    flowBox->addWidget(dtrDsr_);
    flowBox->addWidget(rtsCts_);
    flowBox->addWidget(xonXoff_);
    flowBox->addWidget(dtrDsrNote_);
    connect(dtrDsr_, &QCheckBox::toggled, dtrDsrNote_, &QWidget::setVisible);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    SetControlId(ok, IDOK);
    SetControlId(cancel, IDCANCEL);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CSerialConfigDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* left = new QVBoxLayout;
    left->addWidget(settings);
    left->addWidget(flow);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left, 1);
    top->addLayout(buttons);

    int port = 0, baud = 9600, bits = 8, stop = ONESTOPBIT, parity = NOPARITY;
    unsigned char flowBits = 0;
    if (link_ && CSerialLink::IsConfigured())
        link_->GetSettings(&port, &baud, &bits, &stop, &parity, &flowBits);
    port_->setCurrentIndex(PortToIndex(port));
    baud_->setCurrentIndex(BaudToIndex(baud));
    dataBits_->setCurrentIndex(DataBitsToIndex(bits));
    stopBits_->setCurrentIndex(StopBitsToIndex(stop));
    parity_->setCurrentIndex(ParityToIndex(parity));
    dtrDsr_->setChecked(flowBits & CSerialLink::kFlowDtrDsr);
    rtsCts_->setChecked(flowBits & CSerialLink::kFlowRtsCts);
    xonXoff_->setChecked(flowBits & CSerialLink::kFlowXonXoff);
    dtrDsrNote_->setVisible(dtrDsr_->isChecked());

    for (int i = 0; i < 4; ++i) {
        storedDevices_[i] = QString::fromLocal8Bit(CSerialLink::DevicePath(i).c_str());
        devices_[i] = storedDevices_[i];
    }
    showDevice(port_->currentIndex());
    connect(port_, &QComboBox::currentIndexChanged, this, &CSerialConfigDlg::showDevice);
    connect(device_, &QComboBox::editTextChanged, this,
            [this](const QString& text) { devices_[devicePort_] = text; });
}

void CSerialConfigDlg::showDevice(int portIndex) {
    if (portIndex < 0 || portIndex > 3) return;  // typed text: the edit keeps its port
    devicePort_ = portIndex;
    device_->setEditText(devices_[portIndex]);
}

void CSerialConfigDlg::accept() {
    // A rate the line cannot run at is refused here, where it can still be corrected,
    // rather than stored as 9600 without a word.
    baud_->setEditText(baud_->currentText().trimmed());
    if (Selection(baud_) < 0) {
        ShowMessage(kBadBaudText, kConfigCaption, MsgIcon::Warning);
        baud_->setFocus();
        baud_->lineEdit()->selectAll();
        return;
    }
    const int port = IndexToPort(Selection(port_));
    const int baud = IndexToBaud(Selection(baud_));
    const int bits = IndexToDataBits(Selection(dataBits_));
    const int stop = IndexToStopBits(Selection(stopBits_));
    const int parity = IndexToParity(Selection(parity_));
    unsigned char flow = 0;
    if (dtrDsr_->isChecked()) flow |= CSerialLink::kFlowDtrDsr;
    if (rtsCts_->isChecked()) flow |= CSerialLink::kFlowRtsCts;
    if (xonXoff_->isChecked()) flow |= CSerialLink::kFlowXonXoff;

    if (link_) link_->SetSettings(port, baud, bits, stop, parity, flow);
    Profile& p = Profile::get();
    p.writeInt(kSection, kKeyPort, port);
    p.writeInt(kSection, kKeyBaud, baud);
    p.writeInt(kSection, kKeyDataBits, bits);
    p.writeInt(kSection, kKeyStopBits, stop);
    p.writeInt(kSection, kKeyParity, parity);
    p.writeInt(kSection, kKeyFlow, flow);

    for (int i = 0; i < 4; ++i) {
        // An emptied field means the usual device again.
        QString path = devices_[i].trimmed();
        if (path.isEmpty()) path = DefaultDevice(i);
        if (path == storedDevices_[i]) continue;
        p.writeString(kDevicesSection, kPortNames[i], path.toLocal8Bit().toStdString());
    }
    QDialog::accept();
}
