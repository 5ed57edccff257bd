#include "vxd_instances.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <rpc/pmap_clnt.h>
#include <rpc/pmap_prot.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "vxd_fault.h"
#include "vxd_log.h"

namespace {

enum class State { Spare, Busy, Retiring };

struct Worker {
    pid_t pid;
    unsigned long program;
    State state;
    time_t started;
};

volatile int g_stop = 0;

// The service process.
std::vector<Worker> g_workers;
const char* g_listenAddress = "127.0.0.1";
int g_serviceFd = -1;
VxdInstanceLimits g_limits;
VxdTransportLimits g_transport;
VxdHandler g_handler = nullptr;
bool g_refusedLogged = false;

// A worker.
VxdInstance g_self;
bool g_ended = false;

unsigned long randomProgram() {
    const unsigned long span = VX_INSTANCE_LAST - VX_INSTANCE_FIRST + 1;
    uint32_t r = 0;
    if (getrandom(&r, sizeof r, 0) != sizeof r) r = static_cast<uint32_t>(rand());
    return VX_INSTANCE_FIRST + r % span;
}

bool known(unsigned long program) {
    for (const Worker& w : g_workers)
        if (w.program == program) return true;
    return false;
}

// A listening socket for a worker on the service's address; its port goes to *port.
int workerSocket(unsigned short* port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    inet_pton(AF_INET, g_listenAddress, &sin.sin_addr);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    socklen_t len = sizeof sin;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(sin.sin_port);
    return fd;
}

void workerTick() {
    if (g_ended) return;
    if (vxdMonotonicSeconds() - g_self.lastUse >= g_limits.idleSeconds) {
        vxdEndInstance("idle");
    }
}

[[noreturn]] void workerMain(int fd, pid_t parent) {
    vxdTransportForget();
    close(g_serviceFd);
    g_workers.clear(); // their sockets were closed in the service process after each fork
    g_workers.shrink_to_fit();
    // A worker does not outlive the service.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    vxdFaultKillsParent();
    g_stop = 0;
    vxdServe(fd, g_transport, g_handler, &g_stop, workerTick);
    if (!g_ended) vxdEndInstance(g_stop ? "shutdown" : "ended");
    vxdCloseConnections(1000);
    close(fd);
    // _exit: the service's state copied into this process is not this process's to tear down.
    _exit(0);
}

// Starts a spare worker under a new registered number; false when none could be started.
bool startWorker() {
    unsigned short port = 0;
    int fd = workerSocket(&port);
    if (fd < 0) {
        vxdLog("cannot open a socket for an instance: %s", strerror(errno));
        return false;
    }
    unsigned long program = 0;
    for (int attempt = 0; attempt < 32 && !program; attempt++) {
        unsigned long candidate = randomProgram();
        // rpcbind refuses a number that is registered already.
        if (!known(candidate) && pmap_set(candidate, VXVERS, IPPROTO_TCP, port))
            program = candidate;
    }
    if (!program) {
        vxdLog("cannot register an instance number with rpcbind");
        close(fd);
        return false;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        vxdLog("cannot start an instance worker: %s", strerror(errno));
        pmap_unset(program, VXVERS);
        close(fd);
        return false;
    }
    if (pid == 0) {
        g_self = VxdInstance();
        g_self.program = program;
        g_self.lastUse = vxdMonotonicSeconds();
        workerMain(fd, parent);
    }
    close(fd);
    g_workers.push_back({pid, program, State::Spare, vxdMonotonicSeconds()});
    return true;
}

void reap() {
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        for (size_t i = 0; i < g_workers.size(); i++) {
            if (g_workers[i].pid != pid) continue;
            // A worker that ends in order has dropped its registration itself.
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                pmap_unset(g_workers[i].program, VXVERS);
                if (WIFSIGNALED(status))
                    vxdLog("instance 0x%08lx: worker %d ended by signal %d", g_workers[i].program,
                           static_cast<int>(pid), WTERMSIG(status));
                else
                    vxdLog("instance 0x%08lx: worker %d ended with status %d", g_workers[i].program,
                           static_cast<int>(pid), WEXITSTATUS(status));
            }
            g_workers.erase(g_workers.begin() + static_cast<long>(i));
            break;
        }
    }
}

int count(State state) {
    int n = 0;
    for (const Worker& w : g_workers)
        n += w.state == state;
    return n;
}

// A spare may be handed out while at least half the idle time is left to its client.
bool fresh(const Worker& w) {
    return vxdMonotonicSeconds() - w.started < (g_limits.idleSeconds + 1) / 2;
}

} // namespace

volatile int* vxdStopFlag() {
    return &g_stop;
}

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

void vxdWorkersInit(const char* listenAddress, int serviceFd, const VxdInstanceLimits& limits,
                    const VxdTransportLimits& transport, VxdHandler handler) {
    g_listenAddress = listenAddress;
    g_serviceFd = serviceFd;
    g_limits = limits;
    g_transport = transport;
    g_handler = handler;
}

const VxdInstanceLimits& vxdInstanceLimits() {
    return g_limits;
}

unsigned long vxdHandOutInstance() {
    reap();
    if (count(State::Busy) >= g_limits.maxInstances) {
        if (!g_refusedLogged)
            vxdLog("instance limit (%d) reached: procedure 5 answers no instance",
                   g_limits.maxInstances);
        g_refusedLogged = true;
        return 0;
    }
    g_refusedLogged = false;
    for (Worker& w : g_workers)
        if (w.state == State::Spare && fresh(w)) {
            w.state = State::Busy;
            return w.program;
        }
    if (!startWorker()) return 0;
    g_workers.back().state = State::Busy;
    return g_workers.back().program;
}

void vxdWorkersTick() {
    reap();
    for (Worker& w : g_workers)
        if (w.state == State::Spare && !fresh(w)) {
            w.state = State::Retiring;
            kill(w.pid, SIGTERM);
        }
    while (count(State::Spare) < g_limits.spares && count(State::Busy) < g_limits.maxInstances)
        if (!startWorker()) break;
}

void vxdWorkersShutdown() {
    for (const Worker& w : g_workers)
        kill(w.pid, SIGTERM);
    for (int i = 0; i < 300 && !g_workers.empty(); i++) {
        usleep(10000);
        reap();
    }
    for (const Worker& w : g_workers) {
        kill(w.pid, SIGKILL);
        waitpid(w.pid, nullptr, 0);
        pmap_unset(w.program, VXVERS);
    }
    g_workers.clear();
}

void vxdDropStaleRegistrations() {
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
        inet_pton(AF_INET, g_listenAddress, &sin.sin_addr);
        if (sin.sin_addr.s_addr == htonl(INADDR_ANY)) sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        bool stale = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 &&
                     errno == ECONNREFUSED;
        close(fd);
        if (stale && pmap_unset(m.pm_prog, VXVERS)) dropped++;
    }
    if (list) xdr_free(reinterpret_cast<xdrproc_t>(xdr_pmaplist_ptr), &list);
    if (dropped) vxdLog("dropped %d stale instance registrations", dropped);
}

bool vxdIsWorker() {
    return g_self.program != 0;
}

VxdInstance* vxdFindInstance(unsigned long program) {
    return g_self.program && g_self.program == program ? &g_self : nullptr;
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
                vxdFaultPoint("close"); // 1: complete and synced beside the old file
                if (!err && renameat(in->dirFd, in->tmpName, in->dirFd, in->name) != 0) err = errno;
                vxdFaultPoint("close"); // 2: in place, not yet answered
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
    in->written = 0;
    in->path[0] = '\0';
    return err;
}

void vxdEndInstance(const char* why) {
    if (g_ended) return;
    vxdCloseFile(&g_self, false);
    pmap_unset(g_self.program, VXVERS);
    vxdLog("instance 0x%08lx released (%s)", g_self.program, why);
    g_ended = true;
    g_stop = 1;
}
