// The console's remote link to the proxy server's ONC RPC service: server instances, remote
// commands, file transfer, password encryption, probes. Every failure is recorded (vx_err.h)
// before a function returns; nothing is shown.
#pragma once

#include <cstddef>
#include <cstdio>
#include <rpc/rpc.h>

#include "remote/vx_xdr.h"

// ---- Limits, cancel and threads ----
//
// No wait of the link lasts without a limit. The creation of a client (the portmapper look-up,
// the connection and the retries) and each call wait at most the call limit; procedure 4 (a
// remote command, such as the statistics tool over a big log) waits at most the command limit
// for its answer. A call that runs out of time fails as a lost connection with the RPC status
// RPC_TIMEDOUT (5, "RPC: Timed out (subject) !"); a creation that runs out records 111 with
// "RPC: Remote system error - Connection timed out" or "RPC: Port mapper failure - RPC: Timed
// out". A release waits at most VX_RELEASE_TIMEOUT_MS (or the call limit when that is shorter):
// a release that gave up has still been sent, and the server acts on it when it comes back.
//
// Threads: the limits may be set and read from any thread at any time; a new limit holds from
// the next wait on. vxCancel may be called from any thread (not from a signal handler: it takes
// a lock). The operations themselves share the process-wide reply record and block buffer, so
// they must not run at the same time in two threads: one thread at a time may use the link
// (a worker thread of its own, for instance); only vxPeekRemoteFile may run beside it. Recorded
// errors go to the recorder (vx_err.h), which is process-wide as well.
constexpr int VX_CALL_TIMEOUT_DEFAULT_MS = 30000;     // a call, or a client's creation
constexpr int VX_COMMAND_TIMEOUT_DEFAULT_MS = 600000; // procedure 4: a command running
constexpr int VX_RELEASE_TIMEOUT_MS = 2000;           // procedure 9
constexpr int VX_CANCELLED = 18;                      // RPC_INTR: the code a cancel records

// Sets the limit in milliseconds (0 or less: back to the default); the current limit.
void vxSetCallTimeout(int ms);
int vxCallTimeout();
void vxSetCommandTimeout(int ms);
int vxCommandTimeout();

// Ends the waits in progress at once: each fails with VX_CANCELLED, "RPC: Cancelled (subject)
// !", and its operation goes its failure path (an instance it holds is released, a partial local
// file removed). A cancel that finds no wait in progress fails the next wait that starts;
// vxResetCancel drops such a pending cancel. Later waits are not affected.
void vxCancel();
void vxResetCancel();

// Procedure 5 at `program` (one client attempt): the instance program number, 0 on failure.
unsigned long vxAskServer(const char* host, unsigned long program);

// Procedure 9 at the instance; a failed call is silent, a client that cannot be made is recorded.
void vxReleaseServer(const char* host, unsigned long instance);

// A string-argument procedure with a vx_reply result (4, 30, 31): the reply's value, or -1.
int vxServerCall(const char* host, const char* argument, unsigned long program,
                 unsigned long procedure);

// Procedure 29: crypt(3) of the password with the two-character salt, on the server.
// out receives the NUL-ended result (outSize bytes at most). 0 or -1.
int vxCryptProg(const char* host, const char* password, const char* salt, char* out, size_t outSize,
                unsigned long program);
int vxRemoteCrypt(const char* host, const char* password, const char* salt, char* out,
                  size_t outSize);

// Error reporters (see the recorder in vx_err.h).
int vxCreateError(const char* subject);               // -> 111
int vxCallError(CLIENT* client, const char* subject); // -> the RPC status
int vxReplyError(const vx_reply* reply);              // -> the reply's code (0: no error)

// The last decoded reply (message and text stay valid until the next operation).
const vx_reply& vxLastReply();

// Remote commands: the command's result on the server, or -1 (link failure or server error).
int vxRemoteExec(const char* host, const char* command);
int vxRemoteExecProg(const char* host, const char* command, unsigned long program);
int vxExec(const char* host, const char* command, unsigned long instance);

// Fetch a server file into a local file: 0; the server's error code (2: no such file) or the
// local write's errno; -1 on link or local open failure.
int vxGetRemoteFile(const char* host, const char* remotePath, const char* localPath);
int vxReceiveFile(const char* host, const char* remotePath, const char* localPath,
                  unsigned long instance);

// The first bytes of a small server file (at most size - 1, NUL-ended in out) through a server
// instance of its own, for a second thread while the link's thread waits on a remote command: it
// uses none of the link's shared records and records no error; a cancel ends its waits too, and
// one that finds only its waits is kept for the link's thread. The count of bytes, or -1.
int vxPeekRemoteFile(const char* host, const char* remotePath, char* out, size_t size);

// Upload a local file as a new server file: 0; the server's code or the local read's errno; -1.
int vxPutRemoteFile(const char* host, const char* localPath, const char* remotePath);
int vxSendFile(const char* host, const char* localPath, const char* remotePath,
               unsigned long instance);

// ICMP echo from this machine: count requests (100000 when count <= 0), one line per reply to
// out; the number of lost requests, or -1 on an error.
int fnPing(const char* host, FILE* out, int count);

// Server-side ping of target, its output fetched into localPath: 0 or -1.
int vxRemotePing(const char* host, const char* target, const char* localPath);
int vxPingProc(const char* host, const char* target, unsigned long instance, const char* localPath);

// Interface byte counters of the server ("name tx rx" triples); out gets at most outSize-1 bytes.
int vxNetCounters(const char* host, char* out, size_t outSize);
int vxNetCountersProg(const char* host, char* out, size_t outSize, unsigned long program);

// ---- The link over SSH ----
//
// A server name "ssh://[user@]host[:port]" reaches the service through SSH: one OpenSSH master
// connection per process (the user's ssh configuration, agent and keys apply; the variable
// ORVELAN_SSH_CONFIG names another configuration file) carries the portmapper look-up to the
// server's 127.0.0.1:111 and every connection to an instance at the server's 127.0.0.1. The
// master ends with the process, also when the process is killed. Host keys are checked against
// known_hosts; a changed key is always refused. A failure of SSH itself is recorded as 111 with
// its own text: "SSH: Authentication failed (server) !", "SSH: Host unreachable: ... !",
// "SSH: Unknown host key SHA256:...; refused (server) !", "SSH: The server's host key has
// changed; ...", and a call whose connection went with the master "SSH: Connection lost
// (server) !" under the call's RPC status.

// Asked, from the thread of the operation, whether an unknown host key of destination with the
// given SHA256 fingerprint ("SHA256:...") is to be accepted; an accepted key is added to
// known_hosts. Without a question every unknown key is refused.
using VxHostKeyQuestion = bool (*)(const char* destination, const char* fingerprint);
void vxSetHostKeyQuestion(VxHostKeyQuestion question);

// Batch mode: ssh never asks for a password or a passphrase (a command-line run).
void vxSetSshBatchMode(bool batch);

// Ends the SSH master connection, if any; the next operation starts a new one.
void vxSshDisconnect();
