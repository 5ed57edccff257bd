// Client creation of the remote link within a bound: the portmapper look-up, a non-blocking
// connect and the retries all end by the call limit, and a cancel ends them sooner.
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <malloc.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/rpc.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "lib/vx_err.h"
#include "remote/vx_client.h"
#include "remote/vx_remote.h"
#include "remote/vx_ssh.h"
#include "remote/vx_wait.h"

namespace vxremote {

namespace {

// Client send and receive buffers match the block size, so a block travels in one record.
constexpr u_int CLIENT_BUFFER = 300000;

// Waits are taken in slices this long, so that a cancel ends a connect or a look-up soon.
constexpr int SLICE_MS = 50;
// The look-up's datagram goes again after this long without an answer.
constexpr int LOOKUP_RESEND_MS = 100;

// Every call creates a client and destroys it after the answer, and each client holds two
// CLIENT_BUFFER records. By default glibc gives blocks of that size back to the kernel when
// they are freed, so every call grew and shrank the heap and faulted its pages in afresh:
// about a tenth of a millisecond of each remote command. The process keeps them instead.
void keepClientBuffers() {
    static const bool kept = [] {
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
        mallopt(M_TRIM_THRESHOLD, 8 << 20);
        return true;
    }();
    (void)kept;
}

// Sleeps ms, or less when the scope is cancelled.
void pauseMs(int ms, const WaitScope& scope) {
    Deadline end(ms);
    while (!scope.cancelled() && !end.passed()) {
        struct pollfd none = {-1, 0, 0};
        poll(&none, 0, std::min(end.remainingMs(), SLICE_MS));
    }
}

// Writes on the socket give up after the call limit without progress (a server that stopped
// reading), so that libtirpc's blocking writes are bounded too.
void boundWrites(int fd) {
    const int limit = vxCallTimeout();
    struct timeval timeout = {limit / 1000, (limit % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

// A blocking TCP socket connected to address:port before the deadline; -1 with rpc_createerr
// set (or the scope cancelled) otherwise. Like libtirpc's own clients it first binds a reserved
// port where it may.
int connectBounded(struct in_addr address, unsigned short port, const Deadline& deadline,
                   WaitScope& scope) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        rpc_createerr.cf_stat = RPC_SYSTEMERROR;
        rpc_createerr.cf_error.re_errno = errno;
        return -1;
    }
    bindresvport(fd, nullptr);
    struct sockaddr_in server = {};
    server.sin_family = AF_INET;
    server.sin_addr = address;
    server.sin_port = htons(port);
    int error = 0;
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&server), sizeof server) != 0) {
        error = errno == EINPROGRESS ? ETIMEDOUT : errno;
        while (error == ETIMEDOUT && !scope.cancelled() && !deadline.passed()) {
            struct pollfd ready = {fd, POLLOUT, 0};
            if (poll(&ready, 1, std::min(deadline.remainingMs(), SLICE_MS)) <= 0) continue;
            socklen_t length = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        }
    }
    if (error == 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        boundWrites(fd);
        return fd;
    }
    close(fd);
    rpc_createerr.cf_stat = RPC_SYSTEMERROR;
    rpc_createerr.cf_error.re_errno = error;
    return -1;
}

// The port of (program, 1, TCP) at the portmapper of address, asked over UDP as libtirpc's
// pmap_getport does, but within the deadline and in short rounds that a cancel ends. 0 with
// rpc_createerr set as pmap_getport sets it, or with the scope cancelled.
unsigned short lookUpPort(struct in_addr address, unsigned long program, const Deadline& deadline,
                          const WaitScope& scope) {
    struct sockaddr_in portmapper = {};
    portmapper.sin_family = AF_INET;
    portmapper.sin_addr = address;
    portmapper.sin_port = htons(PMAPPORT);
    struct timeval resend = {0, LOOKUP_RESEND_MS * 1000};
    int fd = RPC_ANYSOCK;
    CLIENT* client = clntudp_bufcreate(&portmapper, PMAPPROG, PMAPVERS, resend, &fd,
                                       RPCSMALLMSGSIZE, RPCSMALLMSGSIZE);
    if (!client) return 0;
    clnt_control(client, CLSET_FD_CLOSE, nullptr);
    struct pmap query = {program, VXVERS, IPPROTO_TCP, 0};
    u_short port = 0;
    enum clnt_stat status = RPC_TIMEDOUT;
    while (status == RPC_TIMEDOUT && !scope.cancelled() && !deadline.passed()) {
        const int round = std::min(deadline.remainingMs(), 2 * LOOKUP_RESEND_MS);
        struct timeval timeout = {round / 1000, (round % 1000) * 1000};
        status =
            clnt_call(client, PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap),
                      reinterpret_cast<char*>(&query), reinterpret_cast<xdrproc_t>(xdr_u_short),
                      reinterpret_cast<char*>(&port), timeout);
    }
    if (status != RPC_SUCCESS) {
        rpc_createerr.cf_stat = RPC_PMAPFAILURE;
        if (status == RPC_TIMEDOUT)
            rpc_createerr.cf_error.re_status = RPC_TIMEDOUT; // the deadline may end it unasked
        else
            clnt_geterr(client, &rpc_createerr.cf_error);
        port = 0;
    } else if (port == 0) {
        rpc_createerr.cf_stat = RPC_PROGNOTREGISTERED;
    }
    clnt_destroy(client);
    return port;
}

// One attempt: look-up, connect, client. false with rpc_createerr set.
bool tryOpen(RpcClient& client, struct in_addr address, unsigned long program,
             const Deadline& deadline, WaitScope& scope) {
    unsigned short port = lookUpPort(address, program, deadline, scope);
    if (port == 0) return false;
    int fd = connectBounded(address, port, deadline, scope);
    if (fd < 0) return false;
    // The socket is connected and the port known: libtirpc neither asks the portmapper nor
    // connects again.
    struct sockaddr_in server = {};
    server.sin_family = AF_INET;
    server.sin_addr = address;
    server.sin_port = htons(port);
    CLIENT* made = clnttcp_create(&server, program, VXVERS, &fd, CLIENT_BUFFER, CLIENT_BUFFER);
    if (!made) {
        close(fd);
        return false;
    }
    // The socket is the client's now: clnt_destroy closes it.
    clnt_control(made, CLSET_FD_CLOSE, nullptr);
    client.reset(made);
    return true;
}

// A client of (program, version) on a connected stream socket: a TCP connection, or a channel
// through SSH. The client owns the socket; nullptr (the socket closed) when none can be made.
CLIENT* clientOnSocket(int fd, unsigned short port, unsigned long program, unsigned long version,
                       u_int bufferSize) {
    // The address only names the server in the client; the socket is connected already.
    struct sockaddr_in server = {};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.sin_port = htons(port);
    struct netbuf address = {sizeof server, sizeof server, &server};
    boundWrites(fd);
    CLIENT* made = clnt_vc_create(fd, &address, program, version, bufferSize, bufferSize);
    if (!made) {
        close(fd);
        return nullptr;
    }
    clnt_control(made, CLSET_FD_CLOSE, nullptr);
    return made;
}

// The port of (program, 1, TCP) at the server's portmapper, asked over a channel through SSH
// within the deadline. 0 with rpc_createerr set, or with *result telling of an SSH failure
// (recorded) or a cancel.
unsigned short lookUpPortSsh(const char* destination, unsigned long program, Deadline& deadline,
                             WaitScope& scope, SshResult* result) {
    int fd = -1, control = -1;
    *result = openSshChannel(destination, PMAPPORT, deadline, scope, &fd, &control);
    if (*result != SshResult::Ok) return 0;
    RpcClient portmapper;
    portmapper.reset(clientOnSocket(fd, PMAPPORT, PMAPPROG, PMAPVERS, RPCSMALLMSGSIZE));
    portmapper.throughSsh(destination, control);
    if (!portmapper) return 0;
    struct pmap query = {program, VXVERS, IPPROTO_TCP, 0};
    u_short port = 0;
    enum clnt_stat status =
        portmapper.call(PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap), &query,
                        reinterpret_cast<xdrproc_t>(xdr_u_short), &port, deadline.remainingMs());
    if (status != RPC_SUCCESS) {
        if (status == RPC_INTR) return 0; // the scope knows the cancel
        rpc_createerr.cf_stat = RPC_PMAPFAILURE;
        rpc_createerr.cf_error.re_status = status;
        return 0;
    }
    if (port == 0) rpc_createerr.cf_stat = RPC_PROGNOTREGISTERED;
    return port;
}

// Ports found through SSH: the service's own program, and the last instance (an operation
// looks its instance up for the command and again for the release). A look-up through SSH
// costs a channel of its own, a round trip to the server; a kept port that refuses the channel
// is forgotten and looked up again.
struct KnownPort {
    std::string destination;
    unsigned long program = 0;
    unsigned short port = 0;
};
// The link's worker and the progress look beside it may both connect: the kept ports are shared
// under a lock of their own.
std::mutex g_knownLock;
KnownPort g_knownPorts[2]; // [0] the service, [1] the last instance; under g_knownLock

KnownPort& knownPortSlot(unsigned long program) {
    return g_knownPorts[program == VXPROG_MAIN ? 0 : 1];
}

unsigned short knownPort(const char* destination, unsigned long program) {
    std::lock_guard<std::mutex> lock(g_knownLock);
    const KnownPort& known = knownPortSlot(program);
    return known.program == program && known.destination == destination ? known.port : 0;
}

void keepPort(unsigned long program, KnownPort known) {
    std::lock_guard<std::mutex> lock(g_knownLock);
    knownPortSlot(program) = std::move(known);
}

// One attempt through SSH: look-up and channel, client. Failed: an SSH failure is recorded.
SshResult tryOpenSsh(RpcClient& client, const char* destination, unsigned long program,
                     Deadline& deadline, WaitScope& scope) {
    SshResult result = SshResult::Ok;
    int fd = -1, control = -1;
    unsigned short port = knownPort(destination, program);
    if (port != 0) {
        result = openSshChannel(destination, port, deadline, scope, &fd, &control);
        if (result == SshResult::Refused) keepPort(program, KnownPort());
        if (result != SshResult::Ok && result != SshResult::Refused) return result;
    }
    if (fd < 0) {
        port = lookUpPortSsh(destination, program, deadline, scope, &result);
        if (result != SshResult::Ok) return result;
        if (port == 0) return scope.cancelled() ? SshResult::Cancelled : SshResult::Refused;
        result = openSshChannel(destination, port, deadline, scope, &fd, &control);
        if (result != SshResult::Ok) return result;
        keepPort(program, KnownPort{destination, program, port});
    }
    CLIENT* made = clientOnSocket(fd, port, program, VXVERS, CLIENT_BUFFER);
    if (!made) {
        close(control);
        return SshResult::Refused;
    }
    client.reset(made);
    client.throughSsh(destination, control);
    return SshResult::Ok;
}

// openClient for an SSH destination: the same attempts and limits; an SSH failure ends them.
bool openSshClient(RpcClient& client, const char* destination, unsigned long program, int attempts,
                   const char* createSubject) {
    WaitScope scope;
    Deadline deadline(vxCallTimeout());
    for (int attempt = 1; attempt <= attempts && !scope.cancelled(); ++attempt) {
        if (attempt > 1) pauseMs(RETRY_PAUSE_MS, scope);
        if (scope.cancelled()) break;
        SshResult result = tryOpenSsh(client, destination, program, deadline, scope);
        if (result == SshResult::Ok) return true;
        if (result == SshResult::Failed) return false;
        if (deadline.passed()) break;
    }
    if (scope.cancelled()) {
        recordCancel(createSubject);
        return false;
    }
    vxCreateError(createSubject);
    return false;
}

} // namespace

bool openClient(RpcClient& client, const char* host, unsigned long program, int attempts,
                const char* createSubject) {
    keepClientBuffers();
    if (isSshDestination(host))
        return openSshClient(client, host, program, attempts, createSubject);
    struct in_addr address;
    if (!resolveHost(host, &address, host)) return false;
    WaitScope scope;
    const Deadline deadline(vxCallTimeout());
    for (int attempt = 1; attempt <= attempts && !scope.cancelled(); ++attempt) {
        if (attempt > 1) pauseMs(RETRY_PAUSE_MS, scope);
        if (!scope.cancelled() && tryOpen(client, address, program, deadline, scope)) return true;
        // The attempt that ran out has recorded its cause in rpc_createerr.
        if (deadline.passed()) break;
    }
    if (scope.cancelled()) {
        recordCancel(createSubject);
        return false;
    }
    vxCreateError(createSubject);
    return false;
}

} // namespace vxremote
