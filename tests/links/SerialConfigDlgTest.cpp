// The Serial Port Configuration dialog: what it opens on, what OK stores (values,
// order, devices), that typed text never counts, and that Cancel stores nothing.
#include "platform/Profile.h"
#include "links/CSerialConfigDlg.h"
#include "links/CSerialLink.h"
#include "links/SerialTexts.h"
#include "res/resource.h"
#include "platform/DialogRunner.h"
#include "tests/support/ScriptedMessages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <vector>

using namespace serialtext;

namespace {
// Remembers the order in which values are written.
class OrderedProfile : public MemoryProfile {
public:
    bool writeInt(const std::string& section, const std::string& key, int value) override {
        writes.push_back(section + "/" + key);
        inInt_ = true;  // the base may store it as a string
        const bool ok = MemoryProfile::writeInt(section, key, value);
        inInt_ = false;
        return ok;
    }
    bool writeString(const std::string& section, const std::string& key,
                     const std::string& value) override {
        if (!inInt_) writes.push_back(section + "/" + key);
        return MemoryProfile::writeString(section, key, value);
    }
    std::vector<std::string> writes;

private:
    bool inInt_ = false;
};

QComboBox* Combo(QDialog& d, int id) { return FindControl<QComboBox>(&d, id); }
QCheckBox* Check(QDialog& d, int id) { return FindControl<QCheckBox>(&d, id); }
} // namespace

class SerialConfigDlgTest : public QObject {
    Q_OBJECT
    OrderedProfile* profile_ = nullptr;

    void store(int port, int baud, int bits, int stop, int parity, int flow) {
        profile_->writeInt(kSection, kKeyPort, port);
        profile_->writeInt(kSection, kKeyBaud, baud);
        profile_->writeInt(kSection, kKeyDataBits, bits);
        profile_->writeInt(kSection, kKeyStopBits, stop);
        profile_->writeInt(kSection, kKeyParity, parity);
        profile_->writeInt(kSection, kKeyFlow, flow);
        profile_->writes.clear();
    }
    int stored(const char* key) { return profile_->getInt(kSection, key, -99); }

private slots:
    void init() {
        profile_ = new OrderedProfile;
        Profile::install(profile_);
    }
    void cleanup() {
        Profile::install(nullptr);
        delete profile_;
    }

    void listsMapBothWaysWithTheirDefaults_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("back");  // what the index maps to again
        QTest::newRow("port 3") << "port" << 3 << 3 << 3;
        QTest::newRow("port -1") << "port" << -1 << 0 << 0;
        QTest::newRow("port 4") << "port" << 4 << 0 << 0;
        QTest::newRow("baud 110") << "baud" << 110 << 0 << 110;
        QTest::newRow("baud 14400") << "baud" << 14400 << 7 << 14400;
        QTest::newRow("baud 115200") << "baud" << 115200 << 11 << 115200;
        QTest::newRow("baud 230400") << "baud" << 230400 << 6 << 9600;
        QTest::newRow("baud -1") << "baud" << -1 << 6 << 9600;
        QTest::newRow("bits 5") << "bits" << 5 << 0 << 5;
        QTest::newRow("bits 9") << "bits" << 9 << 3 << 8;
        QTest::newRow("stop 1.5") << "stop" << 1 << 1 << 1;
        QTest::newRow("stop 2") << "stop" << 2 << 2 << 2;
        QTest::newRow("stop 3") << "stop" << 3 << 0 << 0;
        QTest::newRow("parity space") << "parity" << 4 << 4 << 4;
        QTest::newRow("parity 5") << "parity" << 5 << 0 << 0;
    }
    void listsMapBothWaysWithTheirDefaults() {
        QFETCH(QString, list);
        QFETCH(int, value);
        QFETCH(int, index);
        QFETCH(int, back);
        using D = CSerialConfigDlg;
        int (*toIndex)(int) = nullptr;
        int (*toValue)(int) = nullptr;
        if (list == "port") { toIndex = D::PortToIndex; toValue = D::IndexToPort; }
        if (list == "baud") { toIndex = D::BaudToIndex; toValue = D::IndexToBaud; }
        if (list == "bits") { toIndex = D::DataBitsToIndex; toValue = D::IndexToDataBits; }
        if (list == "stop") { toIndex = D::StopBitsToIndex; toValue = D::IndexToStopBits; }
        if (list == "parity") { toIndex = D::ParityToIndex; toValue = D::IndexToParity; }
        QCOMPARE(toIndex(value), index);
        QCOMPARE(toValue(index), back);
        QCOMPARE(toValue(-1), toValue(toIndex(-12345)));  // no selection = the default entry
    }

    void opensOnDefaultsWhenNotConfigured() {
        // A link object holding other values does not count without "CommPort".
        CSerialLink link;
        link.SetSettings(2, 57600, 7, 2, 1, 7);
        CSerialConfigDlg d(&link);
        QCOMPARE(d.windowTitle(), QString("Serial Port Configuration"));
        QCOMPARE(Combo(d, IDC_SERIAL_PORT)->currentText(), QString("COM1"));
        QCOMPARE(Combo(d, IDC_SERIAL_BAUD)->currentText(), QString("9600"));
        QCOMPARE(Combo(d, IDC_SERIAL_DATABITS)->currentText(), QString("8"));
        QCOMPARE(Combo(d, IDC_SERIAL_STOPBITS)->currentText(), QString("1"));
        QCOMPARE(Combo(d, IDC_SERIAL_PARITY)->currentText(), QString("None"));
        QVERIFY(!Check(d, IDC_SERIAL_DTRDSR)->isChecked());
        QVERIFY(!Check(d, IDC_SERIAL_RTSCTS)->isChecked());
        QVERIFY(!Check(d, IDC_SERIAL_XONXOFF)->isChecked());
        QCOMPARE(Combo(d, IDC_SERIAL_DEVICE)->currentText(), QString("/dev/ttyS0"));
        for (int id : {IDC_SERIAL_PORT, IDC_SERIAL_BAUD, IDC_SERIAL_DATABITS,
                       IDC_SERIAL_STOPBITS, IDC_SERIAL_PARITY})
            QVERIFY(Combo(d, id)->isEditable());
        QCOMPARE(Combo(d, IDC_SERIAL_BAUD)->count(), 12);
        QCOMPARE(Combo(d, IDC_SERIAL_PARITY)->itemText(3), QString("Mark"));
    }

    void opensOnTheLinksSettingsAndStoresThemBackInOrder() {
        store(3, 57600, 7, 2, 3, 6);
        CSerialLink link;
        CSerialConfigDlg d(&link);
        QCOMPARE(Combo(d, IDC_SERIAL_PORT)->currentText(), QString("COM4"));
        QCOMPARE(Combo(d, IDC_SERIAL_BAUD)->currentText(), QString("57600"));
        QCOMPARE(Combo(d, IDC_SERIAL_DATABITS)->currentText(), QString("7"));
        QCOMPARE(Combo(d, IDC_SERIAL_STOPBITS)->currentText(), QString("2"));
        QCOMPARE(Combo(d, IDC_SERIAL_PARITY)->currentText(), QString("Mark"));
        QVERIFY(!Check(d, IDC_SERIAL_DTRDSR)->isChecked());
        QVERIFY(Check(d, IDC_SERIAL_RTSCTS)->isChecked());
        QVERIFY(Check(d, IDC_SERIAL_XONXOFF)->isChecked());

        Combo(d, IDC_SERIAL_PORT)->setCurrentIndex(1);
        Combo(d, IDC_SERIAL_BAUD)->setCurrentIndex(11);
        Combo(d, IDC_SERIAL_PARITY)->setCurrentIndex(2);
        Check(d, IDC_SERIAL_XONXOFF)->setChecked(false);
        d.accept();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        const std::vector<std::string> order = {"SerialPort/CommPort", "SerialPort/BaudRate",
                                                "SerialPort/DataBits", "SerialPort/StopBits",
                                                "SerialPort/Parity", "SerialPort/Flow"};
        QCOMPARE(profile_->writes, order);  // no device was changed
        QCOMPARE(stored(kKeyPort), 1);
        QCOMPARE(stored(kKeyBaud), 115200);
        QCOMPARE(stored(kKeyDataBits), 7);
        QCOMPARE(stored(kKeyStopBits), 2);
        QCOMPARE(stored(kKeyParity), 2);
        QCOMPARE(stored(kKeyFlow), 2);
        int port, baud, bits, stop, parity;
        unsigned char flow;
        link.GetSettings(&port, &baud, &bits, &stop, &parity, &flow);
        QCOMPARE(port, 1);
        QCOMPARE(baud, 115200);
        QCOMPARE(int(flow), 2);
    }

    void eachFlowBoxStoresItsBit_data() {
        QTest::addColumn<int>("box");
        QTest::addColumn<int>("flow");
        QTest::newRow("DTR/DSR") << int(IDC_SERIAL_DTRDSR) << 1;
        QTest::newRow("RTS/CTS") << int(IDC_SERIAL_RTSCTS) << 2;
        QTest::newRow("XON/XOFF") << int(IDC_SERIAL_XONXOFF) << 4;
    }
    void eachFlowBoxStoresItsBit() {
        QFETCH(int, box);
        QFETCH(int, flow);
        CSerialConfigDlg d(nullptr);
        auto* note = d.findChild<QLabel*>("dtrDsrNote");
        QVERIFY(note && note->isHidden());
        Check(d, box)->setChecked(true);
        // The note on DTR/DSR shows exactly while that box is ticked.
        QCOMPARE(note->isHidden(), box != IDC_SERIAL_DTRDSR);
        QVERIFY(!Check(d, IDC_SERIAL_DTRDSR)->toolTip().isEmpty());
        d.accept();
        QCOMPARE(stored(kKeyFlow), flow);
    }

    void typedTextIsNoSelectionAndGivesTheDefault() {
        store(2, 19200, 7, 1, 1, 0);
        CSerialLink link;
        CSerialConfigDlg d(&link);
        Combo(d, IDC_SERIAL_PORT)->setEditText("COM9");
        Combo(d, IDC_SERIAL_DATABITS)->setEditText("");
        Combo(d, IDC_SERIAL_STOPBITS)->setEditText("1.25");
        Combo(d, IDC_SERIAL_PARITY)->setEditText("none");  // entries are case-sensitive
        d.accept();
        QCOMPARE(stored(kKeyBaud), 19200);
        QCOMPARE(stored(kKeyPort), 0);
        QCOMPARE(stored(kKeyDataBits), 8);
        QCOMPARE(stored(kKeyStopBits), 0);
        QCOMPARE(stored(kKeyParity), 0);
    }

    // A baud rate that is not one of the list's is refused aloud; the dialog stays
    // open with the text to correct, and nothing is stored.
    void badBaudRateKeepsTheDialogOpen() {
        ScriptedMessages boxes;
        CSerialConfigDlg d(nullptr);
        d.show();
        QComboBox* baud = Combo(d, IDC_SERIAL_BAUD);
        for (const char* typed : {"abc", "31250", "", "-9600", "9600x"}) {
            baud->setEditText(QString::fromLatin1(typed));
            FindControl<QPushButton>(&d, IDOK)->click();
            QVERIFY2(d.isVisible() && d.result() == 0, typed);
            QCOMPARE(baud->currentText(), QString::fromLatin1(typed));
        }
        QCOMPARE(boxes.count(), size_t(5));
        QCOMPARE(boxes.boxes()[0].text, std::string(CSerialConfigDlg::kBadBaudText));
        QVERIFY(profile_->writes.empty());
        baud->setEditText(" 57600 ");
        FindControl<QPushButton>(&d, IDOK)->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(stored(kKeyBaud), 57600);
    }

    void typedTextThatIsAnEntryCountsAsThatEntry() {
        // What the field shows is what is stored: typing "38400" over "9600" must not
        // store 9600.
        CSerialConfigDlg d(nullptr);
        Combo(d, IDC_SERIAL_BAUD)->setEditText("38400");
        d.accept();
        QCOMPARE(stored(kKeyBaud), 38400);
    }

    void storedBaudNotInTheListOpensOn9600() {
        store(0, 31250, 8, 0, 0, 0);
        CSerialLink link;
        CSerialConfigDlg d(&link);
        QCOMPARE(Combo(d, IDC_SERIAL_BAUD)->currentText(), QString("9600"));
        d.accept();
        QCOMPARE(stored(kKeyBaud), 9600);
    }

    void deviceFieldFollowsThePortAndKeepsEachEdit() {
        profile_->writeString(kDevicesSection, "COM2", "/dev/ttyUSB0");
        profile_->writes.clear();
        CSerialConfigDlg d(nullptr);
        QLineEdit* device = Combo(d, IDC_SERIAL_DEVICE)->lineEdit();
        auto* port = Combo(d, IDC_SERIAL_PORT);
        port->setCurrentIndex(1);
        QCOMPARE(device->text(), QString("/dev/ttyUSB0"));
        port->setCurrentIndex(2);
        QCOMPARE(device->text(), QString("/dev/ttyS2"));
        device->clear();
        QTest::keyClicks(device, "/tmp/my pty");
        port->setCurrentIndex(3);
        QCOMPARE(device->text(), QString("/dev/ttyS3"));
        port->setCurrentIndex(2);
        QCOMPARE(device->text(), QString("/tmp/my pty"));
        port->setCurrentIndex(1);
        device->selectAll();
        QTest::keyClick(device, Qt::Key_Delete);  // emptied: the usual device again
        d.accept();
        QCOMPARE(profile_->getString(kDevicesSection, "COM3", ""), std::string("/tmp/my pty"));
        QCOMPARE(profile_->getString(kDevicesSection, "COM2", ""), std::string("/dev/ttyS1"));
        QVERIFY(!profile_->has(kDevicesSection, "COM1"));
        QVERIFY(!profile_->has(kDevicesSection, "COM4"));
        // The six line settings come first.
        QCOMPARE(profile_->writes.size(), size_t(8));
        QCOMPARE(profile_->writes[5], std::string("SerialPort/Flow"));
        QCOMPARE(CSerialLink::DevicePath(2), std::string("/tmp/my pty"));
    }

    void cancelStoresNothing() {
        CSerialLink link;
        CSerialConfigDlg d(&link);
        Combo(d, IDC_SERIAL_BAUD)->setCurrentIndex(0);
        QTest::keyClicks(Combo(d, IDC_SERIAL_DEVICE)->lineEdit(), "x");
        d.reject();
        QVERIFY(profile_->writes.empty());
        QVERIFY(!CSerialLink::IsConfigured());
        int port, baud, bits, stop, parity;
        unsigned char flow;
        link.GetSettings(&port, &baud, &bits, &stop, &parity, &flow);
        QCOMPARE(baud, -1);
    }
};

QTEST_MAIN(SerialConfigDlgTest)
#include "SerialConfigDlgTest.moc"
