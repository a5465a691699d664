// The ISDN link's own texts, settings names and timings, kept in one place for
// the link core, the frame's ISDN commands and the ISDN Configure dialog.
#pragma once

namespace isdn {

// Settings: the one stored number. The key is a literal name, never formatted.
inline constexpr const char* kSection = "ISDN";
inline constexpr const char* kNumberKey = "History %c";

// Connection menu.
inline constexpr const char* kMenuConnect = "&ISDN Connect";
inline constexpr const char* kMenuDisconnect = "ISDN D&isconnect";
inline constexpr const char* kMenuConfigure = "ISDN Con&figure";
inline constexpr const char* kStatusConnect = "Estiblish ISDN connections";
inline constexpr const char* kStatusDisconnect = "Disconnect ISDN connection";
inline constexpr const char* kStatusConfigure = "Config ISDN connection";

// Message boxes.
inline constexpr const char* kNoNumber = "ISDN Number is not exist!!";
inline constexpr const char* kDialFailedFormat = "Connection is failed Error Code is %d";
inline constexpr const char* kEstablished = "ISDN connection is established...";
inline constexpr const char* kEstablishedTitle = "ISDN Port Connected";
inline constexpr const char* kConnectFailed = "Failed to establish ISDN connection...";
inline constexpr const char* kConnectFailedTitle = "ISDN Port Connection Error";
inline constexpr const char* kSendFailed = "Can't Send Data To ISDN Port";
inline constexpr const char* kConfirmDisconnect = "Are you sure to disconnect ISDN connection ?";
inline constexpr const char* kConfirmDisconnectTitle = "ISDN Disconnect Confirmation";
inline constexpr const char* kDisconnected = "ISDN Connection is disconnected!";
inline constexpr const char* kEnterNumber = "Enter the ISDN Phone Number!";
inline constexpr const char* kEnterNumberTitle = "Input Error";

// ISDN Configure dialog.
inline constexpr const char* kDialogCaption = "ISDN Config Dialog Box";
inline constexpr const char* kNumberGroup = "Enter the Phone Number";

}  // namespace isdn
