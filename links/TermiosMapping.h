// How a device control block becomes tty settings and back; pure functions, any thread.
// Includes the kernel's termios2 (not <termios.h>: the two cannot share a file).
#pragma once

#include "links/CommPort.h"

#include <asm/termbits.h>
#include <string>

// Builds the settings for dcb on top of base (whose other fields are kept).
// Returns 0, or EINVAL with why set when the line cannot be given that state:
//  - DSR output flow or DTR handshaking (the tty driver has no DTR/DSR flow);
//  - RTS handshaking without CTS output flow or the reverse (one flag in termios);
//  - RTS toggling, NUL stripping, error-character replacement;
//  - 1.5 stop bits with 6-8 data bits, 2 stop bits with 5 (a UART makes 1.5 of
//    "2 stop bits" at 5 data bits);
//  - a baud rate, byte size, parity or stop-bit code out of range (a stored -1).
int EncodeTermios(const DeviceControlBlock& dcb, const termios2& base, termios2* out,
                  std::string* why);

// Reads back what the settings say, in the same coding.
DeviceControlBlock DecodeTermios(const termios2& t);

// The Bnnn constant for a rate, or BOTHER when the rate has none.
unsigned BaudConstant(int baud);
