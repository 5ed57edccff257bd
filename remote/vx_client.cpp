// RPC client of the proxy server's service: client creation, the error reporters, server
// instances, string procedures and password encryption on the server.
#include "remote/vx_client.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <pthread.h>
#include <unistd.h>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "remote/vx_ssh.h"
#include "remote/vx_wait.h"

namespace vxremote {

namespace {

char g_message[VX_STRING_MAX + 1]; // reply message: an XDR string of at most 128 bytes
char g_text[VX_STRING_MAX + 1];    // reply text result, same limit
vx_reply g_reply = {0, 0, 0, 0, 0, g_message, g_text};

char g_blockData[VX_BLOCK_MAX]; // the one block buffer of the process, both directions
vx_block g_block = {0, 0, g_blockData};

// Skips the leading blanks and colons of an RPC library text and cuts its trailing newline, then
// appends " (subject)" and " !".
void trimRpcText(char* out, size_t size, const char* libraryText, const char* subject) {
    const char* start = libraryText ? libraryText : "";
    while (*start == ' ' || *start == ':')
        ++start;
    size_t length = strcspn(start, "\n");
    // A cut here is the recorder's own: it keeps the first 255 characters of any text.
    if (subject)
        vxFormat(out, size, "%.*s (%s) !", static_cast<int>(length), start, subject);
    else
        vxFormat(out, size, "%.*s !", static_cast<int>(length), start);
}

int rpcSeverity(int code) {
    int severity = vxErrorSeverity(code, VX_KIND_RPC);
    return severity < 0 ? 2 : severity;
}

// The connection through SSH of an instance's last call, kept for the release that follows it:
// the release then costs one call instead of a new channel and a call.
struct KeptClient {
    std::mutex lock;
    std::string host;
    unsigned long program = 0;
    RpcClient client; // under lock
};
KeptClient& kept() {
    static KeptClient* one = new KeptClient; // used up to the process's end, never destroyed
    return *one;
}

void keepForRelease(const char* host, unsigned long program, RpcClient& client) {
    KeptClient& k = kept();
    std::lock_guard<std::mutex> hold(k.lock);
    k.client.swap(client); // the one kept before goes with client
    k.host = host;
    k.program = program;
}

bool takeKept(const char* host, unsigned long program, RpcClient& out) {
    KeptClient& k = kept();
    std::lock_guard<std::mutex> hold(k.lock);
    if (!k.client || k.program != program || k.host != host) return false;
    out.swap(k.client);
    k.client.reset();
    k.program = 0;
    return true;
}

} // namespace

void dropKeptClient() {
    KeptClient& k = kept();
    std::lock_guard<std::mutex> hold(k.lock);
    k.client.reset();
    k.program = 0;
}

void recordCancel(const char* subject) {
    char text[VX_ERROR_TEXT_MAX + 1];
    trimRpcText(text, sizeof text, "RPC: Cancelled", subject);
    vxSetError(VX_CANCELLED, rpcSeverity(VX_CANCELLED), VX_KIND_RPC, text);
}

void RpcClient::reset(CLIENT* client) {
    if (m_client) clnt_destroy(m_client);
    if (m_control >= 0) close(m_control);
    m_client = client;
    m_control = -1;
    m_sshDestination.clear();
}

void RpcClient::swap(RpcClient& other) {
    std::swap(m_client, other.m_client);
    std::swap(m_cancelled, other.m_cancelled);
    std::swap(m_control, other.m_control);
    std::swap(m_sshDestination, other.m_sshDestination);
}

void RpcClient::throughSsh(const char* destination, int control) {
    m_sshDestination = destination;
    m_control = control;
}

enum clnt_stat RpcClient::call(unsigned long procedure, xdrproc_t argFilter, const void* argument,
                               xdrproc_t resultFilter, void* result, int limitMs) {
    WaitScope scope;
    m_cancelled = false;
    int fd = -1;
    if (clnt_control(m_client, CLGET_FD, reinterpret_cast<char*>(&fd))) scope.watch(fd);
    if (scope.cancelled()) {
        scope.watch(-1);
        m_cancelled = true;
        return RPC_INTR;
    }
    const int limit = limitMs > 0 ? limitMs : vxCallTimeout();
    const struct timeval timeout = {limit / 1000, (limit % 1000) * 1000};
    // A server that goes away mid-call would raise SIGPIPE on the client's next write and end
    // the console: the signal is held during the call and a SIGPIPE it raised is taken back, so
    // the call fails with its RPC status instead.
    sigset_t pipeOnly, previous, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    enum clnt_stat status = clnt_call(m_client, procedure, argFilter, const_cast<void*>(argument),
                                      resultFilter, result, timeout);
    scope.watch(-1);
    m_cancelled = scope.cancelled();
    sigpending(&pending);
    if (!wasPending && sigismember(&pending, SIGPIPE) == 1) {
        const struct timespec now = {0, 0};
        int savedErrno = errno;
        while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
        }
        errno = savedErrno;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return status;
}

int RpcClient::callError(const char* subject) const {
    if (m_cancelled) {
        recordCancel(subject);
        return VX_CANCELLED;
    }
    struct rpc_err error = {};
    clnt_geterr(m_client, &error);
    // A connection through SSH that ended with the master: the SSH connection was lost.
    const bool connectionEnded = error.re_status == RPC_CANTRECV ||
                                 error.re_status == RPC_CANTSEND || error.re_status == RPC_TIMEDOUT;
    if (!m_sshDestination.empty() && connectionEnded && sshMasterLost(m_sshDestination.c_str()))
        return recordSshLost(m_sshDestination.c_str(), static_cast<int>(error.re_status));
    return vxCallError(m_client, subject);
}

bool resolveHost(const char* host, struct in_addr* address, const char* subject) {
    // gethostbyname answers in one static record: a side thread's look-up waits its turn.
    static std::mutex lookup;
    std::lock_guard<std::mutex> hold(lookup);
    errno = 0;
    struct hostent* entry = host && *host ? gethostbyname(host) : nullptr;
    if (entry && entry->h_addrtype == AF_INET && entry->h_length == sizeof *address &&
        entry->h_addr_list[0]) {
        memcpy(address, entry->h_addr_list[0], sizeof *address);
        return true;
    }
    // The resolver reports through h_errno; errno only means something for its internal errors.
    if (entry == nullptr && h_errno == NETDB_INTERNAL && errno != 0) {
        vxSysError(subject);
        return false;
    }
    char text[400];
    vxFormat(text, sizeof text, "%s (%s) !", hstrerror(entry ? HOST_NOT_FOUND : h_errno),
             subject ? subject : "");
    int severity = vxErrorSeverity(EHOSTUNREACH, VX_KIND_OS);
    vxSetError(EHOSTUNREACH, severity < 0 ? 3 : severity, VX_KIND_OS, text);
    return false;
}

ProgramSubject::ProgramSubject(const char* host, unsigned long program) {
    vxFormat(text, sizeof text, "%s: %d", host ? host : "", static_cast<int>(program));
}

vx_reply* replyForDecode() {
    g_reply.message = g_message;
    g_reply.text = g_text;
    return &g_reply;
}

vx_block* blockForDecode() {
    g_block.data = g_blockData;
    return &g_block;
}

char* blockBuffer() {
    return g_blockData;
}

} // namespace vxremote

using namespace vxremote;

const vx_reply& vxLastReply() {
    return g_reply;
}

int vxCreateError(const char* subject) {
    // libtirpc makes its error texts in one static buffer: a quiet thread leaves it alone.
    if (vxErrorsQuiet()) return 111;
    char text[VX_ERROR_TEXT_MAX + 1];
    trimRpcText(text, sizeof text, clnt_spcreateerror(""), subject);
    vxSetError(111, rpcSeverity(111), VX_KIND_RPC, text);
    return 111;
}

int vxCallError(CLIENT* client, const char* subject) {
    struct rpc_err error = {};
    clnt_geterr(client, &error);
    if (vxErrorsQuiet()) return static_cast<int>(error.re_status);
    char text[VX_ERROR_TEXT_MAX + 1];
    trimRpcText(text, sizeof text, clnt_sperror(client, ""), subject);
    int status = static_cast<int>(error.re_status);
    vxSetError(status, rpcSeverity(status), VX_KIND_RPC, text);
    return status;
}

int vxReplyError(const vx_reply* reply) {
    if (reply->code == 0) return 0;
    vxSetError(reply->code, reply->severity, reply->kind, reply->message);
    return reply->code;
}

unsigned long vxAskServer(const char* host, unsigned long program) {
    RpcClient client;
    if (!openClient(client, host, program, ONE_ATTEMPT, host)) return 0;
    vx_instance instance = {0, 0};
    if (client.call(vxRPC_ASK, filter(xdrNothing), nullptr, filter(xdr_vxinstance), &instance) !=
        RPC_SUCCESS) {
        client.callError("Asking for server:clnt_call");
        return 0;
    }
    if (instance.program <= 0) {
        char text[300];
        vxFormat(text, sizeof text, "No server instance (%s) !", host);
        vxSetError(110, vxErrorSeverity(110, VX_KIND_LIB), VX_KIND_LIB, text);
        return 0;
    }
    return static_cast<unsigned long>(instance.program);
}

void vxReleaseServer(const char* host, unsigned long instance) {
    // The release has no result; its failure is not reported (the server drops idle instances,
    // and acts on a release that reached it after its client gave up waiting for the answer).
    const int limit = std::min(vxCallTimeout(), VX_RELEASE_TIMEOUT_MS);
    RpcClient client;
    if (takeKept(host, instance, client)) {
        const enum clnt_stat status = client.call(vxRPC_RELEASE, filter(xdrNothing), nullptr,
                                                  filter(xdrNothing), nullptr, limit);
        // A kept connection that the server has closed meanwhile: a new one takes the release.
        if (status != RPC_CANTSEND && status != RPC_CANTRECV) return;
    }
    if (!openClient(client, host, instance, RETRY_ATTEMPTS, ProgramSubject(host, instance).text))
        return;
    client.call(vxRPC_RELEASE, filter(xdrNothing), nullptr, filter(xdrNothing), nullptr, limit);
}

int vxServerCall(const char* host, const char* argument, unsigned long program,
                 unsigned long procedure) {
    RpcClient client;
    if (!openClient(client, host, program, RETRY_ATTEMPTS, ProgramSubject(host, program).text))
        return -1;
    const char* text = argument ? argument : "";
    vx_reply* reply = replyForDecode();
    // A remote command answers when it has ended: its own, longer limit.
    const int limit = procedure == vxRPC_EXEC ? vxCommandTimeout() : vxCallTimeout();
    if (client.call(procedure, filter(xdr_vxstring), &text, filter(xdr_vxreply), reply, limit) !=
        RPC_SUCCESS) {
        char subject[40];
        vxFormat(subject, sizeof subject, "clnt_call (%d function)", static_cast<int>(procedure));
        client.callError(subject);
        return -1;
    }
    if (client.viaSsh()) keepForRelease(host, program, client);
    if (vxReplyError(reply) != 0) return -1;
    return reply->value;
}

int vxCryptProg(const char* host, const char* password, const char* salt, char* out, size_t outSize,
                unsigned long program) {
    // The argument is the two-character salt immediately followed by the password, kept below
    // 128 characters so that it is one XDR string of the service.
    char argument[VX_STRING_MAX];
    if (!salt || strnlen(salt, 2) < 2 || !password ||
        !vxFormat(argument, sizeof argument, "%.2s%s", salt, password)) {
        vxSetError(22, 2, VX_KIND_LIB, "Invalid argument in vxCryptProg");
        return -1;
    }
    RpcClient client;
    if (!openClient(client, host, program, RETRY_ATTEMPTS, ProgramSubject(host, program).text))
        return -1;
    const char* text = argument;
    vx_block* block = blockForDecode();
    if (client.call(vxRPC_CRYPT, filter(xdr_vxstring), &text, filter(xdr_vxblock), block) !=
        RPC_SUCCESS) {
        client.callError("clnt_call (29 function)");
        return -1;
    }
    if (block->status != 0) {
        vxSetError(104, 2, VX_KIND_LIB, "Encryption error on server");
        return -1;
    }
    size_t length = static_cast<size_t>(block->length);
    if (!out || length >= outSize) {
        vxSetError(22, 2, VX_KIND_LIB, "Encrypted password too long in vxCryptProg");
        return -1;
    }
    memcpy(out, block->data, length);
    out[length] = '\0';
    return 0;
}

int vxRemoteCrypt(const char* host, const char* password, const char* salt, char* out,
                  size_t outSize) {
    return vxCryptProg(host, password, salt, out, outSize, VXPROG_MAIN);
}
