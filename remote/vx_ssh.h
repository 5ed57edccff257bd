// Internals of the link over SSH: destinations, the process's one OpenSSH master connection, and
// the channels through it that the RPC clients use as their connected sockets.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "remote/vx_wait.h"

namespace vxremote {

// "ssh://[user@]host[:port]" taken apart; port 0 leaves the port to the SSH configuration.
struct SshDestination {
    std::string user;
    std::string host;
    int port = 0;
};

// Whether the server name is an SSH destination (it starts with "ssh://").
bool isSshDestination(const char* name);

// Takes an SSH destination apart; false when it is none or is malformed (no host, a port that
// is not 1..65535, characters that ssh would read as options or that no host name holds).
bool parseSshDestination(const char* name, SshDestination* out);

// How an attempt to reach the server through SSH ended.
enum class SshResult {
    Ok,
    Refused,   // the channel was refused (nothing listens there): rpc_createerr is set
    Failed,    // SSH itself failed: its own cause is recorded (host key, authentication, ...)
    Cancelled, // the scope was cancelled
};

// A stream socket connected to 127.0.0.1:port on the server of destination, through the
// master connection (started first when there is none or it has ended). *control receives the
// channel's control socket, which must stay open as long as the channel is used and be closed
// after it. On anything but Ok, no descriptor is left open. A host key question asked on the
// way restarts the deadline.
SshResult openSshChannel(const char* destination, unsigned short port, Deadline& deadline,
                         const WaitScope& scope, int* fd, int* control);

// Whether the master of destination has ended since it was started (a lost connection).
bool sshMasterLost(const char* destination);

// Records the lost SSH connection of destination as the failure of a call that ended with
// status: the status as code, with the SSH cause as text.
int recordSshLost(const char* destination, int status);

// Ends the master, if any, and removes its private directory.
void stopSshMaster();

// ---- Child processes ----

// A child process started from the link's own long-lived thread, so that it gets SIGTERM when
// the process ends however it ends (PR_SET_PDEATHSIG follows the thread that forked). Its
// standard input, output and error are the given descriptors (-1: /dev/null); it runs in a
// session of its own. The pid, or -1 with errno set.
pid_t spawnChild(const std::vector<std::string>& argv, int in, int out, int err);

// Runs argv to its end within the deadline and returns its standard output (and its exit
// status in *status, -1 when it did not end in time or could not start; it is killed then).
std::string runCapture(const std::vector<std::string>& argv, const std::string& input,
                       const Deadline& deadline, int* status);

} // namespace vxremote
