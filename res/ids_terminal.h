// Resource numbers of terminal/.
#pragma once

enum : int {
    IDD_ENTER_PASSWORD = 136,
    IDC_PASSWORD_EDIT = 1021,
};
