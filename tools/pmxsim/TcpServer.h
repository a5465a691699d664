// pmxsim's TCP transport: the switch's maintenance port as a Telnet server on the
// loopback interface, for the LAN link and for the reference ISDN adapter's calls.
#pragma once

#include "tools/pmxsim/SwitchDialogue.h"

namespace pmxsim {

// Serves connections on 127.0.0.1:port (0: a free port) until stopFd becomes
// readable; each connection has its own dialogue, several may be up at once. The
// port actually bound goes to stdout as one line. Returns the process's exit code.
int ServeTcp(int port, const SwitchDialogue::Options& options, int stopFd);

} // namespace pmxsim
