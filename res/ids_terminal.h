// Resource numbers of terminal/: the messages the terminal view handles from the
// LAN link's socket window (delivered as slots by the Qt layer).
#pragma once

enum : int {
    SWM_CONNECTED = 709,
    SWM_CLOSED = 710,
    SWM_RECEIVED = 712,
};
