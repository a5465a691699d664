// Resource numbers of phonebook/: the phone book, entry and Speed Call dialogs.
// The PhoneBook menu command (32862) is ID_PHONEBOOK in ids_app.h.
#pragma once

enum : int {
    IDD_PHONEBOOK = 146,
    IDD_PHONE_ENTRY = 147,
    IDD_SPEED_CALL = 149,

    IDC_PHONE_NEW = 1051,
    IDC_PHONE_MODIFY = 1052,
    IDC_PHONE_SAVE = 1053,
    IDC_PHONE_LIST = 1054,
    IDC_PHONE_DELETE = 1055,
    IDC_ENTRY_NAME = 1056,
    IDC_ENTRY_NUMBER = 1057,
    IDC_SPEED_CALL = 1059,
    IDC_SPEED_NUMBER = 1060,
};
