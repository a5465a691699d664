// Error codes of the LAN link in the numbering its messages use ("WinSock error 10061 :
// Connection refused"): errno and name-lookup failures mapped to those codes, and the
// texts shown for them. Pure functions, any thread.
#pragma once

#include <string>

// Codes the LAN link reports.
enum : int {
    WSAEWOULDBLOCK = 10035,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// The code for an errno value; 0 for 0. An errno without a counterpart gives the
// errno value itself, which the text routine reports as "Not a WinSock error".
int WinSockCodeFromErrno(int err);
// The code for a getaddrinfo() result (EAI_*); 0 for success.
int WinSockCodeFromLookup(int gaiResult);
// "WinSock error %d : <text>" for a code in the table, "Not a WinSock error" for any
// other code. Code 0 is not an error: the result is empty.
std::string WinSockErrorText(int code);
