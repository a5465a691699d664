// Resource numbers of links/.
#pragma once

// ISDN Configure dialog.
enum : int {
    IDD_ISDN_CONFIG = 155,
    IDC_ISDN_NUMBER = 1079,  // drop-down combo: the number to store
};

// Serial Port Configuration dialog.
enum : int {
    IDD_SERIAL_CONFIG = 135,
    IDC_SERIAL_PORT = 1011,
    IDC_SERIAL_BAUD = 1013,
    IDC_SERIAL_PARITY = 1014,
    IDC_SERIAL_STOPBITS = 1016,
    IDC_SERIAL_DTRDSR = 1017,
    IDC_SERIAL_RTSCTS = 1018,
    IDC_SERIAL_XONXOFF = 1019,
    IDC_SERIAL_DATABITS = 1020,
    IDC_SERIAL_DEVICE = 1190,  // edit: the device path of the chosen port (Linux)
};
