// Resource numbers of terminal/: the Enter Password dialog. (The socket window's
// messages to the view are with the LAN link's numbers in ids_links.h.)
#pragma once

enum : int {
    IDD_ENTER_PASSWORD = 136,
    IDC_PASSWORD_EDIT = 1021,
};
