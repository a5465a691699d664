// Resource numbers of terminal/: the Enter Password dialog and the messages the
// terminal view handles from the LAN link's socket window (delivered as slots).
#pragma once

enum : int {
    IDD_ENTER_PASSWORD = 136,
    IDC_PASSWORD_EDIT = 1021,
    SWM_CONNECTED = 709,
    SWM_CLOSED = 710,
    SWM_RECEIVED = 712,
};
