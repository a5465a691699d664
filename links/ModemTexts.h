// The modem link's texts and titles as the user sees them, the call progress texts
// the frame shows in the progress window, and the names in the settings store.
#pragma once

namespace modemtext {

// Call progress texts by index; 0 and 14 are empty.
inline constexpr int kProgressTextCount = 15;
inline constexpr const char* kProgressTexts[kProgressTextCount] = {
    "",
    "Preparing modem connection...",
    "Initializing modem line...",
    "Preparing a call to destination...",
    "Dial tone detected...",
    "Dialing to destination...",
    "Ringback tone detected...",
    "Call accepted by destination...",
    "Connected to destination...",
    "Destination busy...",
    "Waiting for the modem call to be connected...",
    "Call disconnected...",
    "The call is idle...",
    "Opening modem line...",
    "",
};
enum ProgressIndex : int {
    kPreparing = 1, kInitializing = 2, kPreparingCall = 3, kDialTone = 4, kDialing = 5,
    kRingback = 6, kAccepted = 7, kConnected = 8, kBusy = 9, kProceeding = 10,
    kDisconnected = 11, kIdle = 12, kOpening = 13,
};

inline constexpr const char* kNotConfiguredText =
    "Modem is not configured.\n\nPlease configure your modem before you try to make a modem "
    "connection.";
inline constexpr const char* kNotConfiguredTitle = "Modem Connection Warning";
inline constexpr const char* kInitFailedText = "Cannot initialize modem...";
inline constexpr const char* kInitFailedTitle = "Modem Initialization Error";
inline constexpr const char* kCallFailedText = "Cannot make a call...";
inline constexpr const char* kCallFailedTitle = "Call Error";
inline constexpr const char* kPortFailedText = "Cannot open modem port...";
inline constexpr const char* kPortFailedTitle = "Modem Error";
inline constexpr const char* kConnectFailedText = "Failed to establish modem connection...";
inline constexpr const char* kConnectFailedTitle = "Modem Connection Error";
inline constexpr const char* kEstablishedText = "Modem connection is established to (%s) ...";
inline constexpr const char* kEstablishedTitle = "Modem Connected";
inline constexpr const char* kDisconnectedText = "Modem connection disconnected...";
inline constexpr const char* kDisconnectedTitle = "Modem Disconnected";
inline constexpr const char* kDisconnectQuestion = "Are you sure to disconnect modem connection ?";
inline constexpr const char* kDisconnectQuestionTitle = "Modem Disconnect Confirmation";
inline constexpr const char* kDisconnectFailedText = "Failed to disconnect modem connection...";
inline constexpr const char* kDisconnectFailedTitle = "Modem Disconnection Error";
inline constexpr const char* kNoModemText = "No Modem Available...";
inline constexpr const char* kNoModemTitle = "Warning";
inline constexpr const char* kConfigCaption = "Modem Configuration";

// Settings store: the chosen modem's device ID, -1 or missing for none.
inline constexpr const char* kSection = "Modem";
inline constexpr const char* kKeyDevice = "Device";
// The chosen modem's device path beside it: what identifies the modem, since device
// IDs follow the devices present. Settings that hold only "Device" keep using it.
inline constexpr const char* kKeyDevicePath = "DevicePath";

} // namespace modemtext
