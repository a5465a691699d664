// The Commands menu's items: text, command ID and the table position each runs.
// Positions 0-11 form the Monitor submenu, 12-23 the Maintenance submenu, 24 is Log Out.
#pragma once

#include "res/resource.h"

struct CommandMenuItem {
    const char* text;
    int id;
    int position;
};

inline constexpr CommandMenuItem kCommandMenu[] = {
    {"Set Board Trace", ID_CMD_SET_BOARD_TRACE, 0},
    {"Set Device Trace", ID_CMD_SET_DEVICE_TRACE, 1},
    {"Trace Disable", ID_CMD_TRACE_DISABLE, 2},
    {"Show Trace Setup Info", ID_CMD_SHOW_TRACE_SETUP, 3},
    {"Dump Memory", ID_CMD_DUMP_MEMORY, 4},
    {"Modify Memory", ID_CMD_MODIFY_MEMORY, 5},
    {"Station Status", ID_CMD_STATION_STATUS, 6},
    {"CO Status", ID_CMD_CO_STATUS, 7},
    {"KRAU Status", ID_CMD_KRAU_STATUS, 8},
    {"Logical STA Status", ID_CMD_LOGICAL_STA_STATUS, 9},
    {"Print Channel Assign", ID_CMD_PRINT_CHANNEL_ASSIGN, 10},
    {"NOLK Dump", ID_CMD_NOLK_DUMP, 11},
    {"Board Configuration Table", ID_CMD_BOARD_CONFIG_TABLE, 12},
    {"View Board Status", ID_CMD_VIEW_BOARD_STATUS, 13},
    {"Time Slot Assignment", ID_CMD_TIME_SLOT_ASSIGNMENT, 14},
    {"B Channel Listeming", ID_CMD_B_CHANNEL_LISTENING, 15},
    {"Traffic Analysis", ID_CMD_TRAFFIC_ANALYSIS, 16},
    {"Log Data View", ID_CMD_LOG_DATA_VIEW, 17},
    {"Log Data Clear", ID_CMD_LOG_DATA_CLEAR, 18},
    {"POLN Statistics", ID_CMD_POLN_STATISTICS, 19},
    {"Software Upgrade", ID_CMD_SOFTWARE_UPGRADE, 20},
    {"KRAU Control", ID_CMD_KRAU_CONTROL, 21},
    {"Display HDLC Status", ID_CMD_DISPLAY_HDLC_STATUS, 22},
    {"Set Service Switch", ID_CMD_SET_SERVICE_SWITCH, 23},
};
inline constexpr int kMonitorItems = 12;
inline constexpr int kLogOutPosition = 24;
