// A worker's own loop: its instance served, released, and taken up again under a new number.
#include "server/vxd_worker.h"

#include <arpa/inet.h>
#include <csignal>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/vxd_fault.h"
#include "server/vxd_instances.h"
#include "server/vxd_log.h"
#include "server/vxd_procedures.h"
#include "server/vxd_rpcbind.h"

namespace {

// A worker serves this many instances, then ends and a fresh one takes its place, so that
// whatever a long run of instances may accumulate in one process does not live forever.
constexpr int kInstancesPerWorker = 500;

// The worker's state lives as long as its process; vxdServe calls back into it (workerTick, the
// dispatch through vxdFindInstance) without a context, so it is held here.
VxdWorkerStart g_start; // how the worker was started
VxdInstance g_self;     // the instance it serves; program 0 in the service process
bool g_ended = false;   // the instance has been released (or dropped idle)
int g_served = 0;       // instances this worker has ended

void report(char kind, unsigned long program) {
    VxdWorkerReport r{kind, program};
    if (g_start.channel >= 0) send(g_start.channel, &r, sizeof r, MSG_DONTWAIT | MSG_NOSIGNAL);
}

// After the answer to a release (or an idle drop): the worker takes a new number on the same
// port and reports itself a spare, or ends when it has served its share or rpcbind refuses.
// A client that kept the old number finds it unregistered, and calls naming it on a connection
// still open are refused as an unknown program.
void recycle() {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    unsigned short port = 0;
    if (getsockname(g_start.listenFd, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
        port = ntohs(sin.sin_port);
    unsigned long program = 0;
    if (++g_served < kInstancesPerWorker && port) program = vxdRegisterNumber(port, nullptr);
    if (!program) {
        *g_start.stop = 1;
        return;
    }
    g_self = VxdInstance();
    g_self.program = program;
    g_ended = false;
    vxdFaultRestart();
    report('S', program);
}

// Takes the service's notices: the instance has been handed out, so its idle clock starts now.
// A notice for an earlier number of this worker (one already released) is stale.
void readNotices() {
    VxdWorkerReport r;
    while (g_start.channel >= 0 &&
           recv(g_start.channel, &r, sizeof r, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof r)) {
        if (r.kind == 'H' && r.program == g_self.program && !g_ended && !g_self.handedOut) {
            g_self.handedOut = true;
            g_self.lastUseMs = vxdMonotonicMs();
        }
    }
}

// The idle clock of an instance runs from its hand-out (or its first call, should that come
// first) and restarts at every call; a spare's waiting is the service's to limit, not this.
void workerTick() {
    readNotices();
    if (!g_ended && g_self.handedOut &&
        vxdMonotonicMs() - g_self.lastUseMs >= g_start.idleSeconds * 1000)
        vxdEndInstance("idle");
    if (g_ended && !*g_start.stop) recycle();
    // Only an instance that has had no call yet: work between the calls of a client in use would
    // hold up its next call.
    if (!*g_start.stop && g_start.between && g_self.calls == 0) g_start.between();
}

} // namespace

void vxdWorkerMain(const VxdWorkerStart& start) {
    g_start = start;
    g_self = VxdInstance();
    g_self.program = start.program;
    vxdTransportForget();
    vxdRpcbindForgetInherited();
    // A worker does not outlive the service.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != start.parent) _exit(1);
    vxdFaultKillsParent();
    *g_start.stop = 0;
    vxdServe(start.listenFd, g_start.transport, g_start.handler, g_start.stop, workerTick);
    if (!g_ended) vxdEndInstance("shutdown");
    vxdCloseConnections(1000);
    close(start.listenFd);
    // _exit: the service's state copied into this process is not this process's to tear down.
    _exit(0);
}

bool vxdIsWorker() {
    return g_self.program != 0;
}

VxdInstance* vxdFindInstance(unsigned long program) {
    // A released instance serves nothing more, also on connections still open.
    return g_self.program && g_self.program == program && !g_ended ? &g_self : nullptr;
}

void vxdEndInstance(const char* why) {
    if (g_ended) return;
    vxdCloseFile(&g_self, false);
    vxdDropNumber(g_self.program);
    vxdLog("instance 0x%08lx released (%s)", g_self.program, why);
    g_ended = true;
    report('R', g_self.program);
}
