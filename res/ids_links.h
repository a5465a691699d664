// Resource numbers of links/.
#pragma once

// ISDN Configure dialog.
enum : int {
    IDD_ISDN_CONFIG = 155,
    IDC_ISDN_NUMBER = 1079,  // drop-down combo: the number to store
};

// ---- Modem link (others append their modem numbers here too) ----
enum : int {
    IDD_MODEM_CONFIG = 144,       // Modem Configuration
    IDC_MODEM_GROUP = 1034,       // "Select Active Device"
    IDC_MODEM_DEVICE = 1036,      // drop-down combo of the data modems
    IDC_MODEM_CONFIGURE = 1037,   // "Configure": the modem's own settings
    IDD_CALL_PROGRESS = 150,      // the call progress window
    IDC_PROGRESS_TEXT = 1063,
    IDD_LINE_CONFIG = 160,        // the telephony layer's modem settings
    IDC_LINE_NAME = 1090,
    IDC_LINE_PATH = 1091,
    IDC_LINE_INIT = 1092,
};
