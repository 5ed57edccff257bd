// The ONC RPC transport of vxd over TCP: record marking, call headers and replies, with every
// connection bounded in record size, time and number. vxd does not use libtirpc's server side:
// its blocking connections let one client that sends half a record stall the whole process for
// 35 seconds, its non-blocking mode cannot take a 300000-byte block, and it offers no way to
// drop an idle connection. XDR and the message encoding are still libtirpc's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <rpc/rpc.h>

struct VxdTransportLimits {
    int maxConnections = 256;   // at the limit the connection idle longest is dropped
    int connectionTimeout = 30; // seconds a connection may wait between complete calls
    size_t maxRecord = 8192;    // bytes of one call record; a longer one drops the connection
    int writeTimeoutMs = 0;     // 0: a reply that does not fit the socket drops the connection
};

// One decoded call, valid while the handler runs.
struct VxdRequest {
    int fd = -1;
    uint32_t xid = 0;
    unsigned long prog = 0, vers = 0, proc = 0;
    XDR* args = nullptr; // positioned at the arguments
    uint32_t addr = 0;   // caller's IPv4 address (host order); valid when v4
    bool v4 = false;
    char client[48] = {}; // its text
    bool replied = false;
};

using VxdHandler = void (*)(VxdRequest& request);

// Decodes the call's arguments with filter.
bool vxdGetArgs(VxdRequest& request, xdrproc_t filter, void* args);
// Sends the accepted reply with its result (filter xdr_void and nullptr for none).
bool vxdSendReply(VxdRequest& request, xdrproc_t filter, const void* result);
// Sends the accepted reply whose result is head's encoding followed by length bytes of data and
// their padding to four bytes (XDR opaque data whose count head ends with), sent from where
// the data lies rather than copied into the reply first.
bool vxdSendReplyWithData(VxdRequest& request, xdrproc_t head, const void* result, const char* data,
                          size_t length);
// Sends an accepted reply without result: PROG_UNAVAIL, PROC_UNAVAIL, GARBAGE_ARGS, SYSTEM_ERR.
void vxdSendAcceptError(VxdRequest& request, accept_stat status);
// Version mismatch (only version 1 is served).
void vxdSendVersionMismatch(VxdRequest& request);
// A denied call (authentication error).
void vxdSendAuthError(VxdRequest& request, auth_stat why);

// Accepts connections on listenFd and serves their calls with handler, one at a time, until
// *stop is set. tick runs about once a second and after every call. The descriptors of the
// connections are close-on-exec.
void vxdServe(int listenFd, const VxdTransportLimits& limits, VxdHandler handler,
              volatile const int* stop, void (*tick)());

// In a forked child: closes the parent's connections and forgets them (no answer is sent).
void vxdTransportForget();

// Connections open now (for the tests' view through the log and for bounds).
int vxdConnectionCount();

// For a worker that ends: waits up to ms milliseconds for each client to close its side, then
// closes every connection.
void vxdCloseConnections(int ms);

// XDR filters as these functions take them (xdr_void has no parameters).
template <class F> xdrproc_t vxdXdr(F filter) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(filter));
}
