// Resource numbers of the application shell: menu 128, toolbar, accelerators,
// About box, input box bar, strings, timers and the program's window messages.
#pragma once

enum : int {
    IDR_MAINFRAME = 128,        // menu, toolbar, accelerators, icon, document string
    IDD_ABOUTBOX = 100,
    IDS_SOCKETS_INIT_FAILED = 102,
    IDS_APP_TITLE_STRING = 57344,  // AFX_IDS_APP_TITLE: "PMXDiag"
    IDS_IDLEMESSAGE = 57345,       // "Ready"

    // File
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT = 57607,
    ID_FILE_MRU_FILE1 = 57616,     // ..57619 for the four recent files
    ID_CAPTURE_ON = 32863,
    ID_CAPTURE_OFF = 32864,
    ID_APP_EXIT = 57665,
    ID_APP_ABOUT = 57664,

    // Edit accelerators without handlers
    ID_EDIT_UNDO = 57643,
    ID_EDIT_CUT = 57635,
    ID_EDIT_COPY = 57634,
    ID_EDIT_PASTE = 57637,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,

    // Connection
    ID_SERIAL_CONNECT = 32774,
    ID_SERIAL_DISCONNECT = 32775,
    ID_SERIAL_CONFIGURE = 32776,
    ID_MODEM_CONNECT = 32777,
    ID_MODEM_DISCONNECT = 32778,
    ID_MODEM_CONFIGURE = 32779,
    ID_LAN_CONNECT = 32852,
    ID_LAN_DISCONNECT = 32853,
    ID_LAN_CONFIGURE = 32854,
    ID_ISDN_CONNECT = 32855,
    ID_ISDN_DISCONNECT = 32856,
    ID_ISDN_CONFIGURE = 32857,

    // View
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_VIEW_COMMANDBAR = 32789,
    ID_VIEW_INPUTBOXBAR = 32794,
    ID_VIEW_CLEARNEW = 32833,

    // PhoneBook
    ID_PHONEBOOK = 32862,

    // Bars
    AFX_IDW_TOOLBAR = 0xE800,
    AFX_IDW_STATUS_BAR = 0xE801,
    ID_INDICATOR_CAPS = 0xE701,
    ID_INDICATOR_NUM = 0xE702,
    ID_INDICATOR_SCRL = 0xE703,

    // Input box bar (dialog bar 137)
    IDD_INPUTBOX = 137,
    IDC_INPUT_EDIT = 1022,
    IDC_INPUT_ENTER = 1023,
    IDC_INPUT_COMMANDS = 1024,
    IDC_INPUT_EXECUTE = 1025,

    // Frame timers
    TIMER_WAKEUP = 1074,
    TIMER_RESPONSE = 1075,
};

// Window messages of the program (WM_USER = 0x400). Kept as numbers for the names
// the program's message handlers are known by; the Qt layer delivers them as slots.
enum : int {
    PMX_WM_USER = 0x0400,
    WM_USER_SENDLINE = PMX_WM_USER + 5,
    WM_USER_MODEM_CONNECTED = PMX_WM_USER + 6,
    WM_USER_CALL_CONNECTED = PMX_WM_USER + 7,
    WM_USER_MODEM_ESTABLISHED = PMX_WM_USER + 8,
    WM_USER_CALL_LOST = PMX_WM_USER + 9,
    WM_USER_DISCONNECT_BLOCKED = PMX_WM_USER + 11,
    WM_USER_SHOW_PROGRESS = PMX_WM_USER + 12,
    WM_USER_HIDE_PROGRESS = PMX_WM_USER + 13,
    WM_USER_UPDATE_PROGRESS = PMX_WM_USER + 14,
    WM_USER_ENTER_PASSWORD = PMX_WM_USER + 15,
    WM_USER_MENU_COMMAND = PMX_WM_USER + 16,
};
