// Resource numbers of links/.
#pragma once

// ISDN Configure dialog.
enum : int {
    IDD_ISDN_CONFIG = 155,
    IDC_ISDN_NUMBER = 1079,  // drop-down combo: the number to store
};
