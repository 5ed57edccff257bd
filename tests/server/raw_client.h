// A minimal libtirpc client of the vxd service for the server's own tests (independent of the
// console's remote link).
#pragma once

#include <arpa/inet.h>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <rpc/rpc.h>
#include <string>
#include <unistd.h>

#include "remote/vx_xdr.h"

template <class F> xdrproc_t xdrProc(F filter) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(filter));
}

// One TCP client at (program, 1) on 127.0.0.1, port from rpcbind.
class RawClient {
  public:
    explicit RawClient(unsigned long program) {
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int sock = RPC_ANYSOCK;
        m_client = clnttcp_create(&sin, program, VXVERS, &sock, VX_BLOCK_MAX, VX_BLOCK_MAX);
        if (!m_client) m_createError = rpc_createerr.cf_stat;
    }
    ~RawClient() {
        if (m_client) clnt_destroy(m_client);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool ok() const { return m_client != nullptr; }
    clnt_stat createError() const { return m_createError; }

    clnt_stat call(unsigned long proc, xdrproc_t inProc, void* in, xdrproc_t outProc, void* out) {
        if (!m_client) return m_createError;
        timeval tv{30, 0};
        return clnt_call(m_client, proc, inProc, static_cast<caddr_t>(in), outProc,
                         static_cast<caddr_t>(out), tv);
    }

  private:
    CLIENT* m_client = nullptr;
    clnt_stat m_createError = RPC_SUCCESS;
};

// A decoded vx_reply with its own text buffers.
struct Reply {
    Reply() {
        r.message = message;
        r.text = text;
    }
    clnt_stat status = RPC_FAILED;
    vx_reply r{};
    char message[VX_STRING_MAX + 1] = {};
    char text[VX_STRING_MAX + 1] = {};
};

inline unsigned long askInstance() {
    RawClient c(VXPROG_MAIN);
    vx_instance inst{};
    if (c.call(vxRPC_ASK, xdrProc(xdr_void), nullptr, xdrProc(xdr_vxinstance), &inst) !=
        RPC_SUCCESS)
        return 0;
    return inst.program > 0 ? static_cast<unsigned long>(inst.program) : 0;
}

inline clnt_stat releaseInstance(unsigned long instance) {
    RawClient c(instance);
    return c.call(vxRPC_RELEASE, xdrProc(xdr_void), nullptr, xdrProc(xdr_void), nullptr);
}

// A block reply with its own data buffer.
struct Block {
    clnt_stat status = RPC_FAILED;
    vx_block b{};
    std::string data;
};

inline Block callBlock(RawClient& c, unsigned long proc, const std::string& arg) {
    static char buf[VX_BLOCK_MAX];
    Block blk;
    blk.b.data = buf;
    char* p = const_cast<char*>(arg.c_str());
    blk.status = c.call(proc, xdrProc(xdr_vxstring), &p, xdrProc(xdr_vxblock), &blk.b);
    if (blk.status == RPC_SUCCESS) blk.data.assign(buf, static_cast<size_t>(blk.b.length));
    return blk;
}

inline Reply callReply(RawClient& c, unsigned long proc, const std::string& arg) {
    Reply rep;
    char* p = const_cast<char*>(arg.c_str());
    rep.status = c.call(proc, xdrProc(xdr_vxstring), &p, xdrProc(xdr_vxreply), &rep.r);
    return rep;
}

inline Reply callString(unsigned long program, unsigned long proc, const std::string& arg) {
    RawClient c(program);
    return callReply(c, proc, arg);
}

inline Reply writeBlock(RawClient& c, const std::string& data) {
    Reply rep;
    vx_block b{};
    b.length = static_cast<int32_t>(data.size());
    b.data = const_cast<char*>(data.data());
    rep.status = c.call(vxRPC_WRITE, xdrProc(xdr_vxblock), &b, xdrProc(xdr_vxreply), &rep.r);
    return rep;
}

// Procedure 4 in an instance of its own: the reply.
inline Reply remoteExec(const std::string& command) {
    unsigned long inst = askInstance();
    if (!inst) return Reply{};
    Reply rep = callString(inst, vxRPC_EXEC, command);
    releaseInstance(inst);
    return rep;
}

// True once condition holds, polled every 20 ms for at most ms milliseconds.
inline bool waitFor(const std::function<bool()>& condition, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (condition()) return true;
        usleep(20000);
    }
    return condition();
}
