// Resource numbers of the maintenance commands: argument dialogs, command bar,
// Customize dialog and the Commands menu.
#pragma once

enum : int {
    IDD_COMMAND_ARG = 141,
    IDD_COMMAND_ARGS = 142,
    IDC_ARG_GROUP = 1026,
    IDC_ARG_EDIT1 = 1027,
    IDC_ARGS_GROUP = 1028,
    IDC_ARG_EDIT2 = 1030,

    // Command bar (dialog bar 132): the button of each slot 0-25, in slot order.
    IDD_COMMANDBAR = 132,
    IDC_CMD_CUSTOMIZE = 1048,
    // Slots 26-39 have no control; their commands follow on in slot order.
    IDC_CMD_SLOT26 = 1026,

    // Command Bar Customize dialog: Button 1-10, 11-20 and 21-40 are three runs.
    IDD_COMMANDBAR_CUSTOMIZE = 145,
    IDC_CUSTOMIZE_BUTTON1 = 1038,
    IDC_CUSTOMIZE_BUTTON11 = 1048,
    IDC_CUSTOMIZE_BUTTON21 = 1060,
};

// Control ID of the command bar's button for slots 0-25.
inline constexpr int kCommandBarButtonIds[26] = {
    1000, 1001, 1002, 1003, 1004, 1005, 1006, 1010, 1007, 1008, 1011, 1012, 1013,
    1009, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025};

// Control ID of the Customize dialog's list for Button k (k = 1..40).
constexpr int CustomizeComboId(int k) {
    return k <= 10 ? IDC_CUSTOMIZE_BUTTON1 + k - 1
         : k <= 20 ? IDC_CUSTOMIZE_BUTTON11 + k - 11
                   : IDC_CUSTOMIZE_BUTTON21 + k - 21;
}
