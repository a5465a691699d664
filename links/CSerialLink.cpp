// The serial port link: settings, open/close, writes on the GUI thread and the read
// thread that drains the port into the receive sink.
#include "links/CSerialLink.h"

#include "platform/Profile.h"
#include "links/SerialTexts.h"

#include <cerrno>

using namespace serialtext;

CSerialLink::CSerialLink() { LoadSettings(); }

void CSerialLink::LoadSettings() {
    Profile& p = Profile::get();
    portIndex_ = p.getInt(kSection, kKeyPort, -1);
    baudRate_ = p.getInt(kSection, kKeyBaud, -1);
    dataBits_ = p.getInt(kSection, kKeyDataBits, -1);
    stopBits_ = p.getInt(kSection, kKeyStopBits, -1);
    parity_ = p.getInt(kSection, kKeyParity, -1);
    flow_ = static_cast<unsigned char>(p.getInt(kSection, kKeyFlow, -1));
}

CSerialLink::~CSerialLink() { Close(); }

void CSerialLink::SetSettings(int portIndex, int baudRate, int dataBits, int stopBits, int parity,
                              unsigned char flow) {
    portIndex_ = portIndex;
    baudRate_ = baudRate;
    dataBits_ = dataBits;
    stopBits_ = stopBits;
    parity_ = parity;
    flow_ = flow;
}

void CSerialLink::GetSettings(int* portIndex, int* baudRate, int* dataBits, int* stopBits,
                              int* parity, unsigned char* flow) const {
    *portIndex = portIndex_;
    *baudRate = baudRate_;
    *dataBits = dataBits_;
    *stopBits = stopBits_;
    *parity = parity_;
    *flow = flow_;
}

bool CSerialLink::IsConfigured() { return Profile::get().getInt(kSection, kKeyPort, -1) != -1; }

std::string CSerialLink::DevicePath(int portIndex) {
    if (portIndex < 0 || portIndex > 3) return std::string();
    const std::string name = "COM" + std::to_string(portIndex + 1);
    return Profile::get().getString(kDevicesSection, name, "/dev/ttyS" + std::to_string(portIndex));
}

int CSerialLink::Connect(bool on) { return on ? Open() : Close(); }

int CSerialLink::Fail(SerialOpenError error, int err) {
    lastError_ = error;
    lastErrno_ = err;
    return 0;
}

int CSerialLink::Open() {
    lastRefusal_.clear();
    lastNote_.clear();
    if (io_.IsRunning()) return Fail(SerialOpenError::AlreadyOpen, EBUSY);
    const std::string path = DevicePath(portIndex_);
    if (path.empty()) return Fail(SerialOpenError::PortUnavailable, ENOENT);

    std::shared_ptr<CommPort> port = CreateCommPort();
    if (int err = port->Open(path)) {
        lastRefusal_ = port->OpenRefusal();
        return Fail(SerialOpenError::PortUnavailable, err);
    }
    lastNote_ = port->OpenNote();
    // The driver's queue sizes are its own; a tty cannot be asked for 9600/2048.
    PortIo::PreparePort(*port);

    opening_ = port.get();
    const int applied = ApplySettings();
    opening_ = nullptr;
    if (!applied) {
        lastRefusal_ = port->RefusedReason();
        port->Close();
        return Fail(SerialOpenError::SettingsRefused, EINVAL);
    }
    if (int err = io_.Start(port, sink_, lost_)) {
        port->Close();
        return Fail(SerialOpenError::ThreadFailed, err);
    }
    port->SetDtr(true);  // a pty has no DTR line: ENOTSUP is fine
    lastError_ = SerialOpenError::None;
    lastErrno_ = 0;
    return applied;
}

int CSerialLink::ApplySettings() {
    if (!opening_) return 0;
    CommPort& port = *opening_;
    DeviceControlBlock dcb;
    if (port.GetState(&dcb) != 0) return 0;
    dcb.baudRate = baudRate_;
    dcb.byteSize = dataBits_;
    dcb.parity = parity_;
    dcb.stopBits = stopBits_;
    dcb.fBinary = true;
    dcb.fParity = true;
    dcb.fOutxDsrFlow = (flow_ & kFlowDtrDsr) != 0;
    dcb.fDtrControl = dcb.fOutxDsrFlow ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = (flow_ & kFlowRtsCts) != 0;
    dcb.fRtsControl = dcb.fOutxCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = (flow_ & kFlowXonXoff) != 0;
    dcb.fErrorChar = false;
    dcb.fNull = false;
    dcb.xonChar = 0x11;
    dcb.xoffChar = 0x13;
    dcb.xonLim = 100;
    dcb.xoffLim = 100;
    return port.SetState(dcb) == 0 ? 1 : 0;
}

int CSerialLink::Close() {
    io_.Stop(closeWait_, /*closePort=*/true, pump_);
    return 1;
}

int CSerialLink::Read(char* buffer, int maximum) { return io_.Read(buffer, maximum); }

int CSerialLink::Write(const char* bytes, int length) { return io_.Write(bytes, length); }
