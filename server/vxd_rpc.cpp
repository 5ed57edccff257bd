#include "server/vxd_rpc.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

#include "remote/vx_xdr.h"
#include "server/vxd_decode.h"
#include "server/vxd_log.h"

namespace {

struct Connection {
    explicit Connection(size_t maxRecord) : reader(maxRecord) {}
    int fd = -1;
    time_t lastCall = 0; // accepted or last complete call (CLOCK_MONOTONIC seconds)
    uint32_t addr = 0;
    bool v4 = false;
    char client[48] = {};
    VxdRecordReader reader; // the call record assembled from its fragments
};

// The transport serves one process's connections; the reply senders are called from the
// handler with only the request, so the transport's state is the process's.
std::vector<Connection*> g_connections;
const VxdTransportLimits* g_limits = nullptr;
bool g_dropCurrent = false; // the reply could not be sent: the connection goes
// Counters of dropped connections, logged once a second rather than a line each.
int g_droppedAtLimit = 0;
int g_droppedIdle = 0;
unsigned long g_calls = 0; // records served

// A reply record: mark, header and at most one block of data (static: 300 KB, one reply at a
// time).
constexpr size_t kReplyMax = VX_BLOCK_MAX + 1024;
char g_reply[kReplyMax];

time_t now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec;
}

// Closes with a reset. The client has closed its side already (or is being dropped), so its
// end leaves no TIME_WAIT behind: a console creates three connections for every command, from
// the 424 reserved ports that libtirpc's client binds first, and with those ports waiting out
// TIME_WAIT each new connection would try every one of them before it connects.
void abortClose(Connection* c) {
    linger lg{1, 0};
    setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(c->fd);
    delete c;
}

void removeConnection(size_t index) {
    abortClose(g_connections[index]);
    g_connections.erase(g_connections.begin() + static_cast<long>(index));
}

// Sends the parts of one record (without copying them together first); while the socket is
// full it waits up to the write time limit, and with none it gives up at once.
bool sendAllParts(int fd, iovec* parts, int count) {
    while (count > 0) {
        if (parts->iov_len == 0) {
            parts++, count--;
            continue;
        }
        msghdr msg{};
        msg.msg_iov = parts;
        msg.msg_iovlen = static_cast<size_t>(count);
        ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n > 0) {
            size_t left = static_cast<size_t>(n);
            while (count > 0 && left >= parts->iov_len) {
                left -= parts->iov_len;
                parts++, count--;
            }
            if (count > 0) {
                parts->iov_base = static_cast<char*>(parts->iov_base) + left;
                parts->iov_len -= left;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        if (g_limits->writeTimeoutMs <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        int r = poll(&p, 1, g_limits->writeTimeoutMs);
        if (r == 0) return false;
        if (r < 0 && errno != EINTR) return false;
    }
    return true;
}

// Encodes msg and sends it as one record, followed by length bytes of data (the end of its
// result, sent from where it lies) and their padding to four bytes.
bool sendMessage(VxdRequest& rq, rpc_msg* msg, const char* data = nullptr, size_t length = 0) {
    XDR x;
    xdrmem_create(&x, g_reply + 4, kReplyMax - 4, XDR_ENCODE);
    bool ok = length <= kReplyMax && xdr_replymsg(&x, msg);
    size_t headLength = xdr_getpos(&x);
    xdr_destroy(&x);
    rq.replied = true;
    if (!ok) {
        vxdLog("%s: cannot encode a reply", rq.client);
        g_dropCurrent = true;
        return false;
    }
    static const char zeros[4] = {};
    const size_t pad = (4 - length % 4) % 4;
    uint32_t mark = htonl(0x80000000u | static_cast<uint32_t>(headLength + length + pad));
    memcpy(g_reply, &mark, 4);
    iovec parts[3] = {{g_reply, headLength + 4},
                      {const_cast<char*>(data), length},
                      {const_cast<char*>(zeros), pad}};
    if (!sendAllParts(rq.fd, parts, 3)) {
        vxdLog("%s: cannot send a reply", rq.client);
        g_dropCurrent = true;
        return false;
    }
    return true;
}

rpc_msg acceptedReply(const VxdRequest& rq, accept_stat status) {
    rpc_msg m{};
    m.rm_xid = rq.xid;
    m.rm_direction = REPLY;
    m.rm_reply.rp_stat = MSG_ACCEPTED;
    m.acpted_rply.ar_verf = _null_auth;
    m.acpted_rply.ar_stat = status;
    m.acpted_rply.ar_results.where = nullptr;
    m.acpted_rply.ar_results.proc = vxdXdr(xdr_void);
    return m;
}

// Decodes and serves one complete record; false when it is not a call (the connection goes).
bool serveRecord(Connection* c, VxdHandler handler) {
    XDR x;
    xdrmem_create(&x, c->reader.data(), static_cast<u_int>(c->reader.size()), XDR_DECODE);
    VxdCallHeader header;
    const rpc_msg& msg = header.msg;
    if (!vxdDecodeCallHeader(&x, &header)) {
        xdr_destroy(&x);
        vxdLog("%s: not a call record (%zu bytes): connection dropped", c->client,
               c->reader.size());
        return false;
    }
    VxdRequest rq;
    rq.fd = c->fd;
    rq.xid = msg.rm_xid;
    rq.prog = msg.rm_call.cb_prog;
    rq.vers = msg.rm_call.cb_vers;
    rq.proc = msg.rm_call.cb_proc;
    rq.args = &x;
    rq.addr = c->addr;
    rq.v4 = c->v4;
    memcpy(rq.client, c->client, sizeof rq.client);
    g_dropCurrent = false;
    if (msg.rm_call.cb_rpcvers != RPC_MSG_VERSION) {
        rpc_msg m{};
        m.rm_xid = rq.xid;
        m.rm_direction = REPLY;
        m.rm_reply.rp_stat = MSG_DENIED;
        m.rjcted_rply.rj_stat = RPC_MISMATCH;
        m.rjcted_rply.rj_vers.low = RPC_MSG_VERSION;
        m.rjcted_rply.rj_vers.high = RPC_MSG_VERSION;
        sendMessage(rq, &m);
    } else {
        handler(rq);
        if (!rq.replied) vxdSendAcceptError(rq, SYSTEM_ERR);
    }
    xdr_destroy(&x);
    return !g_dropCurrent;
}

// Reads what the connection has; false when it is to be closed (end of stream, an error, a
// record over the limit or one that is no call).
bool readConnection(Connection* c, VxdHandler handler, volatile const int* stop) {
    for (;;) {
        size_t room = 0;
        char* to = c->reader.next(&room);
        ssize_t n = recv(c->fd, to, room, 0);
        if (n == 0) return false;
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        switch (c->reader.received(static_cast<size_t>(n))) {
        case VxdRecordReader::Step::More: {
            // A record that arrives in pieces is acknowledged at once: a sender that forwards
            // it in pieces smaller than a segment (sshd, for the link over SSH) holds the next
            // piece back until the last is acknowledged, and a delayed acknowledgement would
            // stall it for tens of milliseconds each time.
            int one = 1;
            setsockopt(c->fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            continue;
        }
        case VxdRecordReader::Step::TooLong:
            vxdLog("%s: call record over %zu bytes: connection dropped", c->client,
                   c->reader.limit());
            return false;
        case VxdRecordReader::Step::NoMemory:
            return false;
        case VxdRecordReader::Step::Record:
            break;
        }
        bool keep = serveRecord(c, handler);
        g_calls++;
        c->lastCall = now();
        if (!keep) return false;
        if (*stop) return true;
    }
}

// Accepts what is waiting and serves each new connection's first call at once: with accepts
// deferred until a call arrives (vxdServe), it is there already, and a poll round less is one
// wakeup less on every console call.
void acceptConnections(int listenFd, VxdHandler handler, volatile const int* stop) {
    while (!*stop) {
        sockaddr_storage sa{};
        socklen_t len = sizeof sa;
        int fd =
            accept4(listenFd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE) {
                vxdLog("accept: %s", strerror(errno));
                if (!g_connections.empty()) {
                    g_droppedAtLimit++;
                    removeConnection(0);
                    continue;
                }
            }
            return;
        }
        if (static_cast<int>(g_connections.size()) >= g_limits->maxConnections) {
            // The first connection is the one without a call for the longest time.
            size_t oldest = 0;
            for (size_t i = 1; i < g_connections.size(); i++)
                if (g_connections[i]->lastCall < g_connections[oldest]->lastCall) oldest = i;
            if (g_droppedAtLimit++ == 0)
                vxdLog("connection limit (%d) reached: dropping the connections idle longest",
                       g_limits->maxConnections);
            removeConnection(oldest);
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Connection* c = new Connection(g_limits->maxRecord);
        c->fd = fd;
        c->lastCall = now();
        if (sa.ss_family == AF_INET) {
            const sockaddr_in* sin = reinterpret_cast<const sockaddr_in*>(&sa);
            c->v4 = true;
            c->addr = ntohl(sin->sin_addr.s_addr);
            inet_ntop(AF_INET, &sin->sin_addr, c->client, sizeof c->client);
        } else {
            strcpy(c->client, "?");
        }
        g_connections.push_back(c);
        if (!readConnection(c, handler, stop)) removeConnection(g_connections.size() - 1);
    }
}

void dropIdleConnections() {
    time_t t = now();
    for (size_t i = g_connections.size(); i-- > 0;) {
        Connection* c = g_connections[i];
        if (t - c->lastCall >= g_limits->connectionTimeout) {
            g_droppedIdle++;
            removeConnection(i);
        } else if (t - c->lastCall >= 1) {
            // A block's buffer serves the blocks of a transfer one after another; it is not
            // kept while the client idles.
            c->reader.trim(65536);
        }
    }
}

void logDrops() {
    if (g_droppedAtLimit > 1)
        vxdLog("connection limit (%d): %d connections dropped", g_limits->maxConnections,
               g_droppedAtLimit);
    if (g_droppedIdle > 0)
        vxdLog("%d connections dropped after %d s without a call", g_droppedIdle,
               g_limits->connectionTimeout);
    g_droppedAtLimit = 0;
    g_droppedIdle = 0;
}

} // namespace

bool vxdGetArgs(VxdRequest& request, xdrproc_t filter, void* args) {
    return filter(request.args, args) != 0;
}

bool vxdSendReplyWithData(VxdRequest& request, xdrproc_t head, const void* result, const char* data,
                          size_t length) {
    rpc_msg m = acceptedReply(request, SUCCESS);
    m.acpted_rply.ar_results.where = static_cast<caddr_t>(const_cast<void*>(result));
    m.acpted_rply.ar_results.proc = head;
    return sendMessage(request, &m, data, length);
}

bool vxdSendReply(VxdRequest& request, xdrproc_t filter, const void* result) {
    rpc_msg m = acceptedReply(request, SUCCESS);
    m.acpted_rply.ar_results.where = static_cast<caddr_t>(const_cast<void*>(result));
    m.acpted_rply.ar_results.proc = filter;
    return sendMessage(request, &m);
}

void vxdSendAcceptError(VxdRequest& request, accept_stat status) {
    rpc_msg m = acceptedReply(request, status);
    sendMessage(request, &m);
}

void vxdSendVersionMismatch(VxdRequest& request) {
    rpc_msg m = acceptedReply(request, PROG_MISMATCH);
    m.acpted_rply.ar_vers.low = VXVERS;
    m.acpted_rply.ar_vers.high = VXVERS;
    sendMessage(request, &m);
}

void vxdSendAuthError(VxdRequest& request, auth_stat why) {
    rpc_msg m{};
    m.rm_xid = request.xid;
    m.rm_direction = REPLY;
    m.rm_reply.rp_stat = MSG_DENIED;
    m.rjcted_rply.rj_stat = AUTH_ERROR;
    m.rjcted_rply.rj_why = why;
    sendMessage(request, &m);
}

void vxdServe(int listenFd, const VxdTransportLimits& limits, VxdHandler handler,
              volatile const int* stop, void (*tick)()) {
    g_limits = &limits;
    // The kernel hands a connection over once its first bytes have come (or, for a client that
    // sends nothing, after a second, when the idle drop takes over), so that accepting it and
    // reading its call are one wakeup, not two.
    int deferSeconds = 1;
    setsockopt(listenFd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, sizeof deferSeconds);
    std::vector<pollfd> fds;
    time_t lastTick = now();
    while (!*stop) {
        fds.clear();
        fds.push_back({listenFd, POLLIN, 0});
        for (Connection* c : g_connections)
            fds.push_back({c->fd, POLLIN, 0});
        int n = poll(fds.data(), fds.size(), 1000);
        if (n < 0 && errno != EINTR) {
            vxdLog("poll: %s", strerror(errno));
            break;
        }
        unsigned long callsBefore = g_calls;
        if (n > 0) {
            // Connections first: fds[i + 1] is g_connections[i] as the poll saw them.
            size_t count = fds.size() - 1;
            for (size_t i = count; i-- > 0 && !*stop;) {
                if (!fds[i + 1].revents) continue;
                if (!readConnection(g_connections[i], handler, stop)) removeConnection(i);
            }
            if (fds[0].revents && !*stop) acceptConnections(listenFd, handler, stop);
        }
        time_t t = now();
        if (t != lastTick || g_calls != callsBefore) {
            if (t != lastTick) {
                dropIdleConnections();
                logDrops();
            }
            lastTick = t;
            if (tick) tick();
        }
    }
}

void vxdTransportForget() {
    for (Connection* c : g_connections) {
        close(c->fd);
        delete c;
    }
    g_connections.clear();
}

int vxdConnectionCount() {
    return static_cast<int>(g_connections.size());
}

void vxdCloseConnections(int ms) {
    char sink[4096];
    for (Connection* c : g_connections) {
        bool ended = false;
        int left = ms;
        while (!ended && left > 0) {
            pollfd p{c->fd, POLLIN, 0};
            int r = poll(&p, 1, left > 100 ? 100 : left);
            left -= 100;
            if (r <= 0) continue;
            ssize_t got = recv(c->fd, sink, sizeof sink, 0);
            ended = got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
        }
        if (ended) {
            linger lg{1, 0};
            setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        }
        close(c->fd);
        delete c;
    }
    g_connections.clear();
}
