// How a device control block becomes tty settings and back; pure functions, any thread.
#include "links/TermiosMapping.h"

#include <cerrno>

namespace {
struct BaudEntry {
    int rate;
    unsigned constant;
};
constexpr BaudEntry kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},
    {150, B150},       {200, B200},       {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};
constexpr int kMaxBaud = 4000000;

int Refuse(std::string* why, const char* text) {
    if (why) *why = text;
    return EINVAL;
}
} // namespace

unsigned BaudConstant(int baud) {
    for (const BaudEntry& e : kBauds)
        if (e.rate == baud) return e.constant;
    return BOTHER;
}

int EncodeTermios(const DeviceControlBlock& dcb, const termios2& base, termios2* out,
                  std::string* why) {
    if (why) why->clear();
    if (dcb.baudRate <= 0 || dcb.baudRate > kMaxBaud) return Refuse(why, "baud rate out of range");
    if (dcb.byteSize < 5 || dcb.byteSize > 8) return Refuse(why, "data bits must be 5 to 8");
    if (dcb.parity < NOPARITY || dcb.parity > SPACEPARITY) return Refuse(why, "unknown parity");
    if (dcb.stopBits < ONESTOPBIT || dcb.stopBits > TWOSTOPBITS) return Refuse(why, "unknown stop bits");
    if (dcb.stopBits == ONE5STOPBITS && dcb.byteSize != 5)
        return Refuse(why, "1.5 stop bits need 5 data bits");
    if (dcb.stopBits == TWOSTOPBITS && dcb.byteSize == 5)
        return Refuse(why, "2 stop bits cannot go with 5 data bits");
    if (dcb.fOutxDsrFlow || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
        return Refuse(why, "DTR/DSR flow control is not available on this line");
    if (dcb.fDtrControl != DTR_CONTROL_DISABLE && dcb.fDtrControl != DTR_CONTROL_ENABLE)
        return Refuse(why, "unknown DTR control");
    const bool rtsHandshake = dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (dcb.fRtsControl == RTS_CONTROL_TOGGLE || dcb.fRtsControl < RTS_CONTROL_DISABLE ||
        dcb.fRtsControl > RTS_CONTROL_TOGGLE)
        return Refuse(why, "RTS toggling is not available on this line");
    if (rtsHandshake != dcb.fOutxCtsFlow)
        return Refuse(why, "RTS handshaking and CTS flow go together on this line");
    if (dcb.fNull) return Refuse(why, "NUL stripping is not available on this line");
    if (dcb.fErrorChar) return Refuse(why, "error character replacement is not available");

    termios2 t = base;
    // Raw 8-bit line. Parity errors are counted by the driver and the byte passes
    // unchanged (INPCK off): checking with the tty's marking would turn it into a
    // NUL, which the terminal drops, so the byte would vanish without a word.
    t.c_iflag = IGNBRK;
    if (dcb.fOutX) t.c_iflag |= IXON;
    if (dcb.fInX) t.c_iflag |= IXOFF;
    t.c_oflag = 0;
    t.c_lflag = 0;

    tcflag_t c = t.c_cflag & HUPCL;
    c |= CREAD | CLOCAL;
    switch (dcb.byteSize) {
    case 5: c |= CS5; break;
    case 6: c |= CS6; break;
    case 7: c |= CS7; break;
    default: c |= CS8; break;
    }
    if (dcb.stopBits != ONESTOPBIT) c |= CSTOPB;
    switch (dcb.parity) {
    case ODDPARITY: c |= PARENB | PARODD; break;
    case EVENPARITY: c |= PARENB; break;
    case MARKPARITY: c |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: c |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb.fOutxCtsFlow) c |= CRTSCTS;
    // Input speed bits 0: the input rate follows the output rate.
    c |= BaudConstant(dcb.baudRate);
    t.c_cflag = c;
    t.c_ispeed = static_cast<speed_t>(dcb.baudRate);
    t.c_ospeed = static_cast<speed_t>(dcb.baudRate);

    t.c_cc[VSTART] = static_cast<cc_t>(dcb.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.xoffChar);
    // With O_NONBLOCK, VMIN 1 makes an empty queue EAGAIN and leaves a 0 return
    // to mean end of file (a hung-up line).
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    *out = t;
    return 0;
}

DeviceControlBlock DecodeTermios(const termios2& t) {
    DeviceControlBlock d;
    d.baudRate = static_cast<int>(t.c_ospeed);
    if ((t.c_cflag & CBAUD) != BOTHER) {
        for (const BaudEntry& e : kBauds)
            if (e.constant == (t.c_cflag & CBAUD)) d.baudRate = e.rate;
    }
    switch (t.c_cflag & CSIZE) {
    case CS5: d.byteSize = 5; break;
    case CS6: d.byteSize = 6; break;
    case CS7: d.byteSize = 7; break;
    default: d.byteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB)) d.parity = NOPARITY;
    else if (t.c_cflag & CMSPAR) d.parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else d.parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    if (!(t.c_cflag & CSTOPB)) d.stopBits = ONESTOPBIT;
    else d.stopBits = d.byteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    d.fBinary = true;
    d.fParity = (t.c_iflag & INPCK) != 0;
    d.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    d.fRtsControl = d.fOutxCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    d.fOutX = (t.c_iflag & IXON) != 0;
    d.fInX = (t.c_iflag & IXOFF) != 0;
    d.xonChar = t.c_cc[VSTART];
    d.xoffChar = t.c_cc[VSTOP];
    return d;
}
