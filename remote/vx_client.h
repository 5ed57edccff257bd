// Internals of the remote link shared by its source files: the client owner, client creation
// with retries, host resolution and the process-wide reply and block storage.
#pragma once

#include <netinet/in.h>
#include <rpc/rpc.h>
#include <string>

#include "remote/vx_xdr.h"

namespace vxremote {

// Owns one CLIENT* of a TCP connection; destroying it closes the connection's socket.
class RpcClient {
  public:
    RpcClient() = default;
    ~RpcClient() { reset(); }
    RpcClient(const RpcClient&) = delete;
    RpcClient& operator=(const RpcClient&) = delete;

    explicit operator bool() const { return m_client != nullptr; }
    void reset(CLIENT* client = nullptr);
    // The client's connection is a channel through SSH to destination; control is the channel's
    // control socket, closed with the client.
    void throughSsh(const char* destination, int control);
    bool viaSsh() const { return !m_sshDestination.empty(); }
    void swap(RpcClient& other);

    // clnt_call waiting at most limitMs (the call limit when 0) for the answer; the RPC status.
    // A cancel ends the wait.
    enum clnt_stat call(unsigned long procedure, xdrproc_t argFilter, const void* argument,
                        xdrproc_t resultFilter, void* result, int limitMs = 0);
    // Records the last call's failure with subject: the cancel, or the RPC status (vxCallError).
    int callError(const char* subject) const;

  private:
    CLIENT* m_client = nullptr;
    bool m_cancelled = false;
    int m_control = -1;
    std::string m_sshDestination;
};

// An XDR filter in the form clnt_call takes.
template <class T> xdrproc_t filter(bool_t (*function)(XDR*, T*)) {
    return reinterpret_cast<xdrproc_t>(function);
}

// The filter of a void argument or result (xdr_void takes no arguments in C++).
inline bool_t xdrNothing(XDR*, void*) {
    return TRUE;
}

// How many client creations an operation tries: the ask once, everything else up to 102 times
// with 20 ms between attempts (about two seconds in all).
constexpr int ONE_ATTEMPT = 1;
constexpr int RETRY_ATTEMPTS = 102;
constexpr int RETRY_PAUSE_MS = 20;

// Resolves an IPv4 host name or dotted address. On failure the error is recorded with the host
// name as subject and false is returned.
bool resolveHost(const char* host, struct in_addr* address, const char* subject);

// Creates a TCP client for (program, version 1) on host, asking the portmapper for the port.
// Look-up, connection and retries together wait at most the call limit. Records the failure
// (host resolution, a cancel, or 111 with createSubject after the last attempt) and returns
// false when no client could be made.
bool openClient(RpcClient& client, const char* host, unsigned long program, int attempts,
                const char* createSubject);

// createSubject text "host: program" of the operations that name their program.
struct ProgramSubject {
    char text[300]; // host names are at most 255 bytes, plus ": " and a 10-digit number
    ProgramSubject(const char* host, unsigned long program);
};

// The process-wide reply record (message and text in fixed 129-byte buffers) and block record
// (data in the fixed 300000-byte buffer). Both are prepared so that decoding never allocates.
vx_reply* replyForDecode();
vx_block* blockForDecode();
char* blockBuffer();

// Closes the connection through SSH that the last call on an instance left for its release.
void dropKeptClient();

// Records a cancelled wait: code VX_CANCELLED of kind 7, "RPC: Cancelled (subject) !".
void recordCancel(const char* subject);

} // namespace vxremote
