// A hostile proxy server for end-to-end tests (see hostile_server.h): RPC over TCP by hand, with
// libtirpc's XDR for the message headers and the records.
#include "tests/support/hostile_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "remote/vx_xdr.h"
#include "tests/support/test_server.h"

namespace {

constexpr size_t kRecordMax = 1024 * 1024; // a call record beyond this is dropped
constexpr u_int kHostileStringMax = 4096;  // what the encoder of hostile strings allows

using Clock = std::chrono::steady_clock;

// What handle() leaves of a connection.
constexpr int kClose = 0;
constexpr int kKeep = 1;
constexpr int kCloseLater = 2; // no answer: closed after m_noReplyCloseMs

struct ResultContext {
    HostileMode mode;
    unsigned long procedure;
    unsigned long instance;
};

std::vector<char>& bigData() {
    static std::vector<char> data(VX_BLOCK_MAX + 1, 'b');
    return data;
}

bool_t putString(XDR* x, const std::string& text) {
    char* p = const_cast<char*>(text.c_str());
    return xdr_string(x, &p, kHostileStringMax);
}

bool_t putBlock(XDR* x, int32_t length, int32_t status, const char* data, u_int count) {
    char* p = const_cast<char*>(data);
    return xdr_int32_t(x, &length) && xdr_int32_t(x, &status) &&
           xdr_bytes(x, &p, &count, VX_BLOCK_MAX + 1);
}

// Encodes the result of one procedure as the mode has it.
bool_t encodeResult(XDR* x, ResultContext* c) {
    switch (c->procedure) {
    case vxRPC_ASK: {
        int32_t program =
            c->mode == HostileMode::ZeroInstance ? 0 : static_cast<int32_t>(c->instance);
        int32_t spare = 0;
        if (c->mode == HostileMode::AskShort) return xdr_int32_t(x, &program);
        bool_t ok = xdr_int32_t(x, &program) && xdr_int32_t(x, &spare);
        if (c->mode == HostileMode::AskOversized)
            ok = ok && xdr_opaque(x, bigData().data(), VX_BLOCK_MAX);
        return ok;
    }
    case vxRPC_RELEASE:
        if (c->mode == HostileMode::ReleaseOversized)
            return xdr_opaque(x, bigData().data(), VX_BLOCK_MAX);
        if (c->mode == HostileMode::ReleaseError) {
            int32_t value = -1, aux = 0, code = 5, severity = 2, kind = 1;
            return xdr_int32_t(x, &value) && xdr_int32_t(x, &aux) && xdr_int32_t(x, &code) &&
                   xdr_int32_t(x, &severity) && xdr_int32_t(x, &kind) &&
                   putString(x, hostileErrorText()) && putString(x, "");
        }
        return TRUE;
    case vxRPC_READ:
    case vxRPC_CRYPT:
        switch (c->mode) {
        case HostileMode::BigBlock:
            return putBlock(x, VX_BLOCK_MAX + 1, 0, bigData().data(), VX_BLOCK_MAX + 1);
        case HostileMode::LengthMismatch:
            return putBlock(x, 10, 0, bigData().data(), 20);
        case HostileMode::ServerError:
            return putBlock(x, 0, 5, "", 0);
        default:
            return c->procedure == vxRPC_READ ? putBlock(x, 5, 0, "hello", 5)
                                              : putBlock(x, 13, 0, "wjAAAAAAAAAAA", 13);
        }
    default: {
        int32_t value = 0, aux = 0, code = 0, severity = 0, kind = 0;
        std::string message, text = c->procedure == vxRPC_NETDEV ? "eth0 1 2" : "";
        if (c->mode == HostileMode::LongString) {
            message.assign(200, 'm');
            text.assign(200, 't');
        } else if (c->mode == HostileMode::ServerError) {
            value = -1, code = 5, severity = 2, kind = 1;
            message = hostileErrorText();
        }
        return xdr_int32_t(x, &value) && xdr_int32_t(x, &aux) && xdr_int32_t(x, &code) &&
               xdr_int32_t(x, &severity) && xdr_int32_t(x, &kind) && putString(x, message) &&
               putString(x, text);
    }
    }
}

bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

struct Connection {
    std::string in;     // bytes read and not yet taken as fragments
    std::string record; // fragments of the record being assembled
    Clock::time_point closeAt = Clock::time_point::max();
};

} // namespace

const char* hostileModeName(HostileMode mode) {
    switch (mode) {
    case HostileMode::LongString:
        return "LongString";
    case HostileMode::BigBlock:
        return "BigBlock";
    case HostileMode::LengthMismatch:
        return "LengthMismatch";
    case HostileMode::ZeroInstance:
        return "ZeroInstance";
    case HostileMode::ServerError:
        return "ServerError";
    case HostileMode::CloseMidReply:
        return "CloseMidReply";
    case HostileMode::NoReply:
        return "NoReply";
    case HostileMode::AskOversized:
        return "AskOversized";
    case HostileMode::AskShort:
        return "AskShort";
    case HostileMode::AskSystemError:
        return "AskSystemError";
    case HostileMode::AskDenied:
        return "AskDenied";
    case HostileMode::ReleaseOversized:
        return "ReleaseOversized";
    case HostileMode::ReleaseError:
        return "ReleaseError";
    case HostileMode::ReleaseDenied:
        return "ReleaseDenied";
    }
    return "?";
}

std::string hostileErrorText() {
    std::string text = "Hostile server error: ";
    text.resize(VX_STRING_MAX, 'e');
    return text;
}

HostileServer::HostileServer(HostileMode mode, int noReplyCloseMs)
    : m_mode(mode), m_noReplyCloseMs(noReplyCloseMs),
      m_nextInstance(0x5E000000UL + (static_cast<unsigned long>(getpid()) & 0xFFFF) * 0x100) {
    m_lockFd = lockRpcbindForTests();
    if (!ensureRpcbind(&m_error)) return;
    int fd = listenLoopback(&m_port);
    if (fd < 0) {
        m_error = std::string("cannot listen on 127.0.0.1: ") + strerror(errno);
        return;
    }
    pmap_unset(VXPROG_MAIN, VXVERS); // a registration a crashed server left behind
    if (!pmap_set(VXPROG_MAIN, VXVERS, IPPROTO_TCP, m_port)) {
        m_error = "cannot register program 0x48000003 with rpcbind";
        close(fd);
        return;
    }
    m_listenFd = fd;
    m_thread = std::thread([this] { serve(); });
}

HostileServer::~HostileServer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listenFd >= 0) {
        pmap_unset(VXPROG_MAIN, VXVERS);
        for (unsigned long instance : m_outstanding)
            pmap_unset(instance, VXVERS);
        close(m_listenFd);
    }
    if (m_lockFd >= 0) close(m_lockFd);
}

std::set<unsigned long> HostileServer::outstanding() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outstanding;
}

void HostileServer::serve() {
    std::map<int, Connection> connections;
    auto drop = [&](int fd) {
        close(fd);
        connections.erase(fd);
    };
    while (!m_stop) {
        std::vector<pollfd> fds = {{m_listenFd, POLLIN, 0}};
        for (const auto& [fd, c] : connections)
            fds.push_back({fd, POLLIN, 0});
        poll(fds.data(), fds.size(), 20);
        Clock::time_point now = Clock::now();
        for (auto it = connections.begin(); it != connections.end();) {
            int fd = it->first;
            ++it;
            if (connections[fd].closeAt <= now) drop(fd);
        }
        if (fds[0].revents & POLLIN) {
            int c = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) connections[c];
        }
        for (size_t i = 1; i < fds.size(); i++) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            int fd = fds[i].fd;
            if (!connections.count(fd)) continue;
            char buf[65536];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) {
                drop(fd);
                continue;
            }
            Connection& c = connections[fd];
            c.in.append(buf, static_cast<size_t>(n));
            bool keep = true;
            // Record marking: a four-byte header per fragment, its top bit on the last one.
            while (keep && c.in.size() >= 4) {
                uint32_t header;
                memcpy(&header, c.in.data(), 4);
                header = ntohl(header);
                size_t length = header & 0x7FFFFFFFu;
                if (c.record.size() + length > kRecordMax) {
                    keep = false;
                    break;
                }
                if (c.in.size() < 4 + length) break;
                c.record.append(c.in, 4, length);
                c.in.erase(0, 4 + length);
                if (header & 0x80000000u) {
                    int next = handle(fd, c.record);
                    c.record.clear();
                    keep = next != kClose;
                    if (next == kCloseLater)
                        c.closeAt = Clock::now() + std::chrono::milliseconds(m_noReplyCloseMs);
                }
            }
            if (!keep) drop(fd);
        }
    }
    for (auto& [fd, c] : connections)
        close(fd);
}

// Answers one call record on fd: what becomes of the connection.
int HostileServer::handle(int fd, const std::string& record) {
    XDR x;
    xdrmem_create(&x, const_cast<char*>(record.data()), static_cast<u_int>(record.size()),
                  XDR_DECODE);
    char cred[MAX_AUTH_BYTES], verf[MAX_AUTH_BYTES];
    rpc_msg call{};
    call.rm_call.cb_cred.oa_base = cred;
    call.rm_call.cb_verf.oa_base = verf;
    bool ok = xdr_callmsg(&x, &call) && call.rm_direction == CALL;
    xdr_destroy(&x);
    if (!ok) return kClose;
    const unsigned long procedure = call.rm_call.cb_proc;
    const bool hostileCall = procedure != vxRPC_ASK && procedure != vxRPC_RELEASE;
    ResultContext context{m_mode, procedure, 0};
    // An instance is handed out only where the answer names it.
    const bool namesInstance =
        m_mode != HostileMode::ZeroInstance && m_mode != HostileMode::AskShort &&
        m_mode != HostileMode::AskSystemError && m_mode != HostileMode::AskDenied;
    if (procedure == vxRPC_ASK && namesInstance) {
        context.instance = m_nextInstance++;
        if (!pmap_set(context.instance, VXVERS, IPPROTO_TCP, m_port)) return kClose;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outstanding.insert(context.instance);
    } else if (procedure == vxRPC_RELEASE) {
        pmap_unset(call.rm_call.cb_prog, VXVERS);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outstanding.erase(call.rm_call.cb_prog);
    }
    if (hostileCall && m_mode == HostileMode::NoReply) return kCloseLater;

    std::vector<char> out(VX_BLOCK_MAX + 4096);
    xdrmem_create(&x, out.data() + 4, static_cast<u_int>(out.size() - 4), XDR_ENCODE);
    rpc_msg reply{};
    reply.rm_xid = call.rm_xid;
    reply.rm_direction = REPLY;
    reply.rm_reply.rp_stat = MSG_ACCEPTED;
    reply.acpted_rply.ar_verf = _null_auth;
    reply.acpted_rply.ar_stat = SUCCESS;
    reply.acpted_rply.ar_results.where = reinterpret_cast<caddr_t>(&context);
    reply.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(encodeResult);
    if (procedure == vxRPC_ASK && m_mode == HostileMode::AskSystemError) {
        reply.acpted_rply.ar_stat = SYSTEM_ERR; // no result is encoded
    } else if ((procedure == vxRPC_ASK && m_mode == HostileMode::AskDenied) ||
               (procedure == vxRPC_RELEASE && m_mode == HostileMode::ReleaseDenied)) {
        reply.rm_reply.rp_stat = MSG_DENIED;
        reply.rjcted_rply.rj_stat = AUTH_ERROR;
        reply.rjcted_rply.rj_why = AUTH_TOOWEAK;
    }
    ok = xdr_replymsg(&x, &reply);
    u_int length = xdr_getpos(&x);
    xdr_destroy(&x);
    if (!ok) return kClose;
    uint32_t header = htonl(0x80000000u | length);
    memcpy(out.data(), &header, 4);
    if (hostileCall && m_mode == HostileMode::CloseMidReply) {
        sendAll(fd, out.data(), 4 + length / 2);
        return kClose;
    }
    return sendAll(fd, out.data(), 4 + length) ? kKeep : kClose;
}
