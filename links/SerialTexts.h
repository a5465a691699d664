// The serial link's texts, titles and settings names as the user and the settings
// store see them. The frame and the configuration dialog show and store these.
#pragma once

namespace serialtext {

inline constexpr const char* kNotConfiguredText =
    "Serial port is not configured.\n\nPlease configure serial port before you try to make a "
    "serial port connection.";
inline constexpr const char* kNotConfiguredTitle = "Serial Port Connection Warning";

inline constexpr const char* kConnectedText = "Serial port connection is established...";
inline constexpr const char* kConnectedTitle = "Serial Port Connected";

inline constexpr const char* kConnectFailedText = "Failed to establish serial port connection...";
inline constexpr const char* kConnectFailedTitle = "Serial Port Connection Error";

inline constexpr const char* kDisconnectedText = "Serial port connection disconnected...";
inline constexpr const char* kDisconnectedTitle = "Serial Port Disconnected";

inline constexpr const char* kDisconnectQuestion =
    "Are you sure to disconnect serial port connection ?";
inline constexpr const char* kDisconnectQuestionTitle = "Serial Port Disconnect Confirmation";

// Status bar text when the port stops answering while connected (cable or device gone).
inline constexpr const char* kPortLostText =
    "Serial port stopped responding; connection closed.";

// Output held back by the switch's flow control (status bar), and given up (one box).
inline constexpr const char* kOutputHeldText =
    "Output held by the switch (flow control); typed lines wait and go out in order.";
inline constexpr const char* kOutputReleasedText = "Held output sent.";
inline constexpr const char* kNotSentText = "The switch held the output too long. Not sent:";
inline constexpr const char* kNotSentTitle = "Serial Port Output";

inline constexpr const char* kConfigCaption = "Serial Port Configuration";

// Settings store.
inline constexpr const char* kSection = "SerialPort";
inline constexpr const char* kKeyPort = "CommPort";
inline constexpr const char* kKeyBaud = "BaudRate";
inline constexpr const char* kKeyDataBits = "DataBits";
inline constexpr const char* kKeyStopBits = "StopBits";
inline constexpr const char* kKeyParity = "Parity";
inline constexpr const char* kKeyFlow = "Flow";
inline constexpr const char* kDevicesSection = "Devices";

} // namespace serialtext
