// The client side of OpenSSH's connection multiplexing, as far as the link needs it.
#pragma once

#include <string>

#include "remote/vx_wait.h"

namespace vxremote {

enum class MuxStatus {
    Ok,
    Refused,   // the master answered, but the server refused the channel
    Lost,      // no master answers at the control socket, or it went away
    TimedOut,  // the deadline passed
    Cancelled, // the scope was cancelled
};

// Whether a master answers at controlPath (the greetings exchanged).
MuxStatus muxAlive(const std::string& controlPath, const Deadline& deadline,
                   const WaitScope& scope);

// A stdio forward to 127.0.0.1:port on the server: *fd is a connected stream socket that
// carries the channel's data, *control the control connection that keeps the channel open
// (closing it ends the channel). Nothing is left open on failure.
MuxStatus muxOpenForward(const std::string& controlPath, unsigned short port,
                         const Deadline& deadline, const WaitScope& scope, int* fd, int* control);

} // namespace vxremote
