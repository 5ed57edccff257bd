// The instance numbers' registrations with the local rpcbind.
#include "server/vxd_rpcbind.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <rpc/pmap_clnt.h>
#include <rpc/pmap_prot.h>
#include <rpc/rpcb_clnt.h>
#include <rpc/rpcb_prot.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "remote/vx_xdr.h"
#include "server/vxd_log.h"

namespace {

// One connection to rpcbind's local socket, kept while the process lives: a worker registers
// and drops a number for every instance, and libtirpc's calls open a connection for each,
// which costs rpcbind more than the call itself. Local callers are trusted by their socket
// credentials, as on libtirpc's own connections.
CLIENT* g_rpcbind = nullptr;
pid_t g_rpcbindOwner = 0; // the process that opened it: a forked worker opens its own

// In a worker just forked, the connection is the service's: closing this copy leaves the
// service's open.
void forgetInherited() {
    if (g_rpcbind && g_rpcbindOwner != getpid()) {
        clnt_destroy(g_rpcbind);
        g_rpcbind = nullptr;
    }
}

CLIENT* rpcbindClient() {
    forgetInherited();
    if (g_rpcbind) return g_rpcbind;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    sockaddr_un sun{};
    sun.sun_family = AF_UNIX;
    strcpy(sun.sun_path, _PATH_RPCBINDSOCK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sun), sizeof sun) != 0) {
        close(fd);
        return nullptr;
    }
    netbuf address{sizeof sun, sizeof sun, &sun};
    CLIENT* client = clnt_vc_create(fd, &address, RPCBPROG, RPCBVERS, 0, 0);
    if (!client) {
        close(fd);
        return nullptr;
    }
    clnt_control(client, CLSET_FD_CLOSE, nullptr);
    g_rpcbind = client;
    g_rpcbindOwner = getpid();
    return client;
}

// One SET or UNSET call on the kept connection; a broken connection (rpcbind restarted) is
// opened again once. False with *answered false when rpcbind could not be asked at all.
bool rpcbindCall(rpcproc_t procedure, rpcb* args, bool* answered) {
    *answered = false;
    for (int attempt = 0; attempt < 2; attempt++) {
        CLIENT* client = rpcbindClient();
        if (!client) return false;
        bool_t result = FALSE;
        timeval timeout{5, 0};
        if (clnt_call(client, procedure, reinterpret_cast<xdrproc_t>(xdr_rpcb),
                      reinterpret_cast<char*>(args), reinterpret_cast<xdrproc_t>(xdr_bool),
                      reinterpret_cast<char*>(&result), timeout) == RPC_SUCCESS) {
            *answered = true;
            return result;
        }
        clnt_destroy(client);
        g_rpcbind = nullptr;
    }
    return false;
}

// Who asks, filled in as libtirpc does; rpcbind takes a local caller's owner from the socket's
// credentials anyway.
char* owner() {
    static char text[32];
    if (!text[0]) snprintf(text, sizeof text, "%u", geteuid());
    return text;
}

// Registers program on the TCP port as pmap_set does: netid "tcp", the wildcard address.
bool setNumber(unsigned long program, unsigned short port) {
    char address[32];
    snprintf(address, sizeof address, "0.0.0.0.%d.%d", port >> 8, port & 0xff);
    rpcb args{static_cast<rpcprog_t>(program), VXVERS, const_cast<char*>("tcp"), address, owner()};
    bool answered;
    bool set = rpcbindCall(RPCBPROC_SET, &args, &answered);
    return answered ? set : pmap_set(program, VXVERS, IPPROTO_TCP, port);
}

unsigned long randomProgram() {
    const unsigned long span = VX_INSTANCE_LAST - VX_INSTANCE_FIRST + 1;
    uint32_t r = 0;
    if (getrandom(&r, sizeof r, 0) != sizeof r) r = static_cast<uint32_t>(rand());
    return VX_INSTANCE_FIRST + r % span;
}

} // namespace

// One call to rpcbind, where pmap_unset makes one per transport.
bool vxdDropNumber(unsigned long program) {
    rpcb args{static_cast<rpcprog_t>(program), VXVERS, const_cast<char*>(""), const_cast<char*>(""),
              owner()};
    bool answered;
    bool dropped = rpcbindCall(RPCBPROC_UNSET, &args, &answered);
    return answered ? dropped : rpcb_unset(program, VXVERS, nullptr);
}

unsigned long vxdRegisterNumber(unsigned short port, bool (*inUse)(unsigned long)) {
    for (int attempt = 0; attempt < 32; attempt++) {
        unsigned long candidate = randomProgram();
        if (!(inUse && inUse(candidate)) && setNumber(candidate, port)) return candidate;
    }
    return 0;
}

void vxdRpcbindForgetInherited() {
    forgetInherited();
}

sockaddr_in vxdLoopback(unsigned short port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sin;
}

unsigned short vxdRegisteredPort(unsigned long program) {
    sockaddr_in pm = vxdLoopback(PMAPPORT);
    return pmap_getport(&pm, program, VXVERS, IPPROTO_TCP);
}

void vxdDropStaleRegistrations(const char* listenAddress) {
    sockaddr_in pm = vxdLoopback(PMAPPORT);
    pmaplist* list = pmap_getmaps(&pm);
    int dropped = 0;
    for (pmaplist* p = list; p; p = p->pml_next) {
        const pmap& m = p->pml_map;
        if (m.pm_prog < VX_INSTANCE_FIRST || m.pm_prog > VX_INSTANCE_LAST || m.pm_vers != VXVERS ||
            m.pm_prot != IPPROTO_TCP)
            continue;
        // Nobody listening there: connect is refused at once on this host.
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(static_cast<unsigned short>(m.pm_port));
        inet_pton(AF_INET, listenAddress, &sin.sin_addr);
        if (sin.sin_addr.s_addr == htonl(INADDR_ANY)) sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        bool stale = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 &&
                     errno == ECONNREFUSED;
        close(fd);
        if (stale && vxdDropNumber(m.pm_prog)) dropped++;
    }
    if (list) xdr_free(reinterpret_cast<xdrproc_t>(xdr_pmaplist_ptr), &list);
    if (dropped) vxdLog("dropped %d stale instance registrations", dropped);
}
