// Resource numbers of links/.
#pragma once

// ISDN Configure dialog.
enum : int {
    IDD_ISDN_CONFIG = 155,
    IDC_ISDN_NUMBER = 1079,  // drop-down combo: the number to store
};

// ---- LAN link ----
enum : int {
    IDD_LAN_CONFIG = 152,          // "Dialog for LAN Configuration"
    IDC_LAN_DEST_GROUP = 1066,     // "Select the Destination"
    IDC_LAN_DEST_COMBO = 1078,     // drop-down combo, sorted
};

// Messages of the invisible socket window and its owner (plain numbers below WM_USER;
// 703 is not used).
enum : int {
    SWM_OPEN = 700,
    SWM_CONNECT = 701,
    SWM_CLOSE = 702,
    SWM_SEND = 704,
    SWM_SOCKET_EVENT = 705,
    SWM_DATA = 706,
    SWM_URGENT_DATA = 707,
    SWM_ERROR = 708,
    SWM_CONNECTED = 709,
    SWM_CLOSED = 710,
    SWM_END_THREAD = 711,
    SWM_RECEIVED = 712,
};

// Socket events as the asynchronous select reports them (low half of its lParam).
enum : int { FD_READ = 1, FD_WRITE = 2, FD_OOB = 4, FD_CLOSE = 32 };
// ---- end LAN link ----

// ---- Modem link (others append their modem numbers here too) ----
enum : int {
    IDD_MODEM_CONFIG = 144,       // Modem Configuration
    IDC_MODEM_GROUP = 1034,       // "Select Active Device"
    IDC_MODEM_DEVICE = 1036,      // drop-down combo of the data modems
    IDC_MODEM_CONFIGURE = 1037,   // "Configure": the modem's own settings
    IDC_MODEM_ADD = 1038,         // "Add...": a modem on any serial device
    IDC_MODEM_REMOVE = 1039,      // "Remove": a modem of the settings
    IDD_CALL_PROGRESS = 150,      // the call progress window
    IDC_PROGRESS_TEXT = 1063,
    IDD_LINE_CONFIG = 160,        // the telephony layer's modem settings
    IDC_LINE_NAME = 1090,
    IDC_LINE_PATH = 1091,
    IDC_LINE_INIT = 1092,
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
