#include "vxd_instances.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <rpc/pmap_clnt.h>
#include <sys/random.h>
#include <unistd.h>

#include "vxd_log.h"

namespace {

constexpr int kMaxInstances = 64;

VxdInstance g_instances[kMaxInstances];
SVCXPRT* g_listener = nullptr;
unsigned short g_port = 0;
VxdDispatch g_dispatch = nullptr;

VxdInstance* freeSlot() {
    for (VxdInstance& in : g_instances)
        if (in.program == 0) return &in;
    return nullptr;
}

} // namespace

time_t vxdMonotonicSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec;
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

void vxdInstancesInit(SVCXPRT* listener, unsigned short port, VxdDispatch dispatch) {
    g_listener = listener;
    g_port = port;
    g_dispatch = dispatch;
}

VxdInstance* vxdFindInstance(unsigned long program) {
    for (VxdInstance& in : g_instances)
        if (in.program == program) return &in;
    return nullptr;
}

unsigned long vxdNewInstance() {
    VxdInstance* slot = freeSlot();
    if (!slot) return 0;
    const unsigned long span = VX_INSTANCE_LAST - VX_INSTANCE_FIRST + 1;
    for (int attempt = 0; attempt < 32; attempt++) {
        uint32_t r = 0;
        if (getrandom(&r, sizeof r, 0) != sizeof r) r = static_cast<uint32_t>(rand());
        unsigned long prog = VX_INSTANCE_FIRST + r % span;
        if (vxdFindInstance(prog) || vxdRegisteredPort(prog) != 0) continue;
        if (!svc_register(g_listener, prog, VXVERS, g_dispatch, 0)) continue;
        if (!pmap_set(prog, VXVERS, IPPROTO_TCP, g_port)) {
            svc_unregister(prog, VXVERS);
            return 0;
        }
        slot->program = prog;
        slot->lastUse = vxdMonotonicSeconds();
        return prog;
    }
    return 0;
}

int vxdCloseFile(VxdInstance* in, bool commit) {
    int err = 0;
    if (in->fd >= 0) {
        if (in->writing) {
            if (in->failed || !commit) {
                err = in->failed ? EIO : 0;
                close(in->fd);
                unlinkat(in->dirFd, in->tmpName, 0);
            } else {
                if (fsync(in->fd) != 0) err = errno;
                if (close(in->fd) != 0 && !err) err = errno;
                if (!err && renameat(in->dirFd, in->tmpName, in->dirFd, in->name) != 0) err = errno;
                if (err) unlinkat(in->dirFd, in->tmpName, 0);
            }
        } else {
            close(in->fd);
        }
    }
    if (in->dirFd >= 0) close(in->dirFd);
    in->fd = -1;
    in->dirFd = -1;
    in->writing = false;
    in->failed = false;
    in->path[0] = '\0';
    return err;
}

void vxdReleaseInstance(VxdInstance* in, const char* why) {
    vxdCloseFile(in, false);
    svc_unregister(in->program, VXVERS);
    pmap_unset(in->program, VXVERS);
    vxdLog("instance 0x%08lx released (%s)", in->program, why);
    in->program = 0;
}

void vxdDropIdleInstances(long idleSeconds) {
    time_t now = vxdMonotonicSeconds();
    for (VxdInstance& in : g_instances)
        if (in.program && now - in.lastUse >= idleSeconds) vxdReleaseInstance(&in, "idle");
}

void vxdReleaseAllInstances() {
    for (VxdInstance& in : g_instances)
        if (in.program) vxdReleaseInstance(&in, "shutdown");
}
