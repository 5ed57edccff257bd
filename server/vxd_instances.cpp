#include "server/vxd_instances.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <rpc/pmap_clnt.h>
#include <rpc/pmap_prot.h>
#include <rpc/rpcb_clnt.h>
#include <rpc/rpcb_prot.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "server/vxd_fault.h"
#include "server/vxd_log.h"

namespace {

enum class State { Spare, Busy, Recycling, Retiring };

struct Worker {
    pid_t pid;
    unsigned long program;
    State state;
    time_t started;     // when it last became a spare
    unsigned long turn; // the order in which spares became spares
    int channel;        // the service's end of the worker's report channel
};

// What a worker reports to the service process over its channel.
struct Report {
    char kind; // 'R': released, taking a new number; 'S': a spare under program
    unsigned long program;
};

// A worker serves this many instances, then ends and a fresh one takes its place, so that
// whatever a long run of instances may accumulate in one process does not live forever.
constexpr int kInstancesPerWorker = 500;

volatile int g_stop = 0;

// The service process.
std::vector<Worker> g_workers;
const char* g_listenAddress = "127.0.0.1";
int g_serviceFd = -1;
VxdInstanceLimits g_limits;
VxdTransportLimits g_transport;
VxdHandler g_handler = nullptr;
void (*g_between)() = nullptr;
bool g_refusedLogged = false;
unsigned long g_turns = 0; // spares made so far

// A worker.
VxdInstance g_self;
bool g_ended = false;
int g_channel = -1;  // the worker's end of its report channel
int g_listenFd = -1; // the worker's listening socket, kept across its instances
int g_served = 0;    // instances this worker has ended

// One connection to rpcbind's local socket, kept while the process lives: a worker registers
// and drops a number for every instance, and libtirpc's calls open a connection for each,
// which costs rpcbind more than the call itself. Local callers are trusted by their socket
// credentials, as on libtirpc's own connections.
CLIENT* g_rpcbind = nullptr;
pid_t g_rpcbindOwner = 0; // the process that opened it: a forked worker opens its own

// In a worker just forked, the connection is the service's: closing this copy leaves the
// service's open.
void forgetInheritedRpcbind() {
    if (g_rpcbind && g_rpcbindOwner != getpid()) {
        clnt_destroy(g_rpcbind);
        g_rpcbind = nullptr;
    }
}

CLIENT* rpcbindClient() {
    forgetInheritedRpcbind();
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

// Drops every registration of an instance number: one call to rpcbind, where pmap_unset makes
// one per transport.
bool dropNumber(unsigned long program) {
    rpcb args{static_cast<rpcprog_t>(program), VXVERS, const_cast<char*>(""), const_cast<char*>(""),
              owner()};
    bool answered;
    bool dropped = rpcbindCall(RPCBPROC_UNSET, &args, &answered);
    return answered ? dropped : rpcb_unset(program, VXVERS, nullptr);
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

// Registers a fresh random number for port; 0 when rpcbind refused every attempt. rpcbind
// refuses a number that is registered already, which every live instance's number is.
unsigned long registerNumber(unsigned short port, bool (*inUse)(unsigned long)) {
    for (int attempt = 0; attempt < 32; attempt++) {
        unsigned long candidate = randomProgram();
        if (!(inUse && inUse(candidate)) && setNumber(candidate, port)) return candidate;
    }
    return 0;
}

void report(char kind, unsigned long program) {
    Report r{kind, program};
    if (g_channel >= 0) send(g_channel, &r, sizeof r, MSG_DONTWAIT | MSG_NOSIGNAL);
}

// After the answer to a release (or an idle drop): the worker takes a new number on the same
// port and reports itself a spare, or ends when it has served its share or rpcbind refuses.
// A client that kept the old number finds it unregistered, and calls naming it on a connection
// still open are refused as an unknown program.
void recycle() {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    unsigned short port = 0;
    if (getsockname(g_listenFd, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
        port = ntohs(sin.sin_port);
    unsigned long program = 0;
    if (++g_served < kInstancesPerWorker && port) program = registerNumber(port, nullptr);
    if (!program) {
        g_stop = 1;
        return;
    }
    g_self = VxdInstance();
    g_self.program = program;
    g_self.lastUse = vxdMonotonicSeconds();
    g_ended = false;
    vxdFaultRestart();
    report('S', program);
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
    if (!g_ended && vxdMonotonicSeconds() - g_self.lastUse >= g_limits.idleSeconds)
        vxdEndInstance("idle");
    if (g_ended && !g_stop) recycle();
    // Only an instance that has had no call yet: work between the calls of a client in use would
    // hold up its next call.
    if (!g_stop && g_between && g_self.calls == 0) g_between();
}

[[noreturn]] void workerMain(int fd, pid_t parent) {
    vxdTransportForget();
    forgetInheritedRpcbind();
    close(g_serviceFd);
    // The other workers' channels are the service's.
    for (const Worker& w : g_workers)
        close(w.channel);
    g_workers.clear();
    g_workers.shrink_to_fit();
    // A worker does not outlive the service.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    vxdFaultKillsParent();
    g_stop = 0;
    vxdServe(fd, g_transport, g_handler, &g_stop, workerTick);
    if (!g_ended) vxdEndInstance("shutdown");
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
    int channel[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, channel) != 0) {
        vxdLog("cannot open a channel for an instance worker: %s", strerror(errno));
        close(fd);
        return false;
    }
    unsigned long program = registerNumber(port, known);
    if (!program) {
        vxdLog("cannot register an instance number with rpcbind");
        close(fd);
        close(channel[0]);
        close(channel[1]);
        return false;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        vxdLog("cannot start an instance worker: %s", strerror(errno));
        dropNumber(program);
        close(fd);
        close(channel[0]);
        close(channel[1]);
        return false;
    }
    if (pid == 0) {
        close(channel[0]);
        g_channel = channel[1];
        g_self = VxdInstance();
        g_self.program = program;
        g_listenFd = fd;
        g_self.lastUse = vxdMonotonicSeconds();
        workerMain(fd, parent);
    }
    close(fd);
    close(channel[1]);
    g_workers.push_back({pid, program, State::Spare, vxdMonotonicSeconds(), ++g_turns, channel[0]});
    return true;
}

// Takes the workers' reports: released instances on their way back, and spares again.
void readReports() {
    for (Worker& w : g_workers) {
        Report r;
        while (recv(w.channel, &r, sizeof r, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof r)) {
            if (w.state == State::Retiring) continue;
            if (r.kind == 'R') {
                w.state = State::Recycling;
            } else if (r.kind == 'S' && r.program >= VX_INSTANCE_FIRST &&
                       r.program <= VX_INSTANCE_LAST) {
                w.program = r.program;
                w.state = State::Spare;
                w.started = vxdMonotonicSeconds();
                w.turn = ++g_turns;
            }
        }
    }
}

void reap() {
    readReports();
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        for (size_t i = 0; i < g_workers.size(); i++) {
            if (g_workers[i].pid != pid) continue;
            // A worker that ends in order has dropped its registration itself.
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                dropNumber(g_workers[i].program);
                if (WIFSIGNALED(status))
                    vxdLog("instance 0x%08lx: worker %d ended by signal %d", g_workers[i].program,
                           static_cast<int>(pid), WTERMSIG(status));
                else
                    vxdLog("instance 0x%08lx: worker %d ended with status %d", g_workers[i].program,
                           static_cast<int>(pid), WEXITSTATUS(status));
            }
            close(g_workers[i].channel);
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
                    const VxdTransportLimits& transport, VxdHandler handler, void (*between)()) {
    g_between = between;
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
    // The spare waiting longest: a worker that has just become a spare again may still be
    // preparing for its next instance.
    Worker* pick = nullptr;
    for (Worker& w : g_workers)
        if (w.state == State::Spare && fresh(w) && (!pick || w.turn < pick->turn)) pick = &w;
    if (pick) {
        pick->state = State::Busy;
        return pick->program;
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
    // A released worker on its way back counts as a spare.
    while (count(State::Spare) + count(State::Recycling) < g_limits.spares &&
           count(State::Busy) < g_limits.maxInstances)
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
        dropNumber(w.program);
    }
    for (const Worker& w : g_workers)
        close(w.channel);
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
        if (stale && dropNumber(m.pm_prog)) dropped++;
    }
    if (list) xdr_free(reinterpret_cast<xdrproc_t>(xdr_pmaplist_ptr), &list);
    if (dropped) vxdLog("dropped %d stale instance registrations", dropped);
}

bool vxdIsWorker() {
    return g_self.program != 0;
}

VxdInstance* vxdFindInstance(unsigned long program) {
    // A released instance serves nothing more, also on connections still open.
    return g_self.program && g_self.program == program && !g_ended ? &g_self : nullptr;
}

int vxdCloseFile(VxdInstance* in, bool commit) {
    int err = 0;
    if (in->fd >= 0) {
        if (in->writing) {
            if (in->failed || !commit) {
                err = in->failed ? (in->error ? in->error : EIO) : 0;
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
    in->error = 0;
    in->ahead = VxdInstance::kNothingAhead;
    in->written = 0;
    in->flushing = 0;
    in->path[0] = '\0';
    return err;
}

void vxdEndInstance(const char* why) {
    if (g_ended) return;
    vxdCloseFile(&g_self, false);
    dropNumber(g_self.program);
    vxdLog("instance 0x%08lx released (%s)", g_self.program, why);
    g_ended = true;
    report('R', g_self.program);
}
