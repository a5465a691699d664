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
};
