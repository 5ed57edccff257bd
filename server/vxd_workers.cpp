// The service's pool of workers: spares started and registered ahead of use, handed out by
// procedure 5, reaped when they end and retired when they have waited too long.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "server/vxd_instances.h"
#include "server/vxd_log.h"
#include "server/vxd_rpcbind.h"
#include "server/vxd_worker.h"

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

// The signal handlers set it, so it is a plain global; a worker inherits it as its own.
volatile int g_stop = 0;

// What vxdWorkersInit was given; the dispatch and the transport's tick reach the pool through
// plain functions without a context, so the pool's settings and state are held here.
struct Settings {
    const char* listenAddress = "127.0.0.1";
    int serviceFd = -1;
    VxdInstanceLimits limits;
    VxdTransportLimits transport;
    VxdHandler handler = nullptr;
    void (*between)() = nullptr;
};
Settings g_settings;

struct Pool {
    std::vector<Worker> workers;
    bool refusedLogged = false; // the instance limit has been logged since it was last reached
    unsigned long turns = 0;    // spares made so far
};
Pool g_pool;

bool known(unsigned long program) {
    for (const Worker& w : g_pool.workers)
        if (w.program == program) return true;
    return false;
}

// A listening socket for a worker on the service's address; its port goes to *port.
int workerSocket(unsigned short* port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    inet_pton(AF_INET, g_settings.listenAddress, &sin.sin_addr);
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

// In the worker just forked: the service's descriptors closed, then the worker's loop.
[[noreturn]] void runWorker(int fd, int channel, unsigned long program, pid_t parent) {
    close(g_settings.serviceFd);
    // The other workers' channels are the service's.
    for (const Worker& w : g_pool.workers)
        close(w.channel);
    g_pool.workers.clear();
    g_pool.workers.shrink_to_fit();
    VxdWorkerStart start;
    start.listenFd = fd;
    start.channel = channel;
    start.program = program;
    start.parent = parent;
    start.transport = g_settings.transport;
    start.handler = g_settings.handler;
    start.between = g_settings.between;
    start.idleSeconds = g_settings.limits.idleSeconds;
    start.stop = &g_stop;
    vxdWorkerMain(start);
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
    unsigned long program = vxdRegisterNumber(port, known);
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
        vxdDropNumber(program);
        close(fd);
        close(channel[0]);
        close(channel[1]);
        return false;
    }
    if (pid == 0) {
        close(channel[0]);
        runWorker(fd, channel[1], program, parent);
    }
    close(fd);
    close(channel[1]);
    g_pool.workers.push_back(
        {pid, program, State::Spare, vxdMonotonicSeconds(), ++g_pool.turns, channel[0]});
    return true;
}

// Takes the workers' reports: released instances on their way back, and spares again.
void readReports() {
    for (Worker& w : g_pool.workers) {
        VxdWorkerReport r;
        while (recv(w.channel, &r, sizeof r, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof r)) {
            if (w.state == State::Retiring) continue;
            if (r.kind == 'R') {
                w.state = State::Recycling;
            } else if (r.kind == 'S' && r.program >= VX_INSTANCE_FIRST &&
                       r.program <= VX_INSTANCE_LAST) {
                w.program = r.program;
                w.state = State::Spare;
                w.started = vxdMonotonicSeconds();
                w.turn = ++g_pool.turns;
            }
        }
    }
}

void reap() {
    readReports();
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        for (size_t i = 0; i < g_pool.workers.size(); i++) {
            if (g_pool.workers[i].pid != pid) continue;
            // A worker that ends in order has dropped its registration itself.
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                vxdDropNumber(g_pool.workers[i].program);
                if (WIFSIGNALED(status))
                    vxdLog("instance 0x%08lx: worker %d ended by signal %d",
                           g_pool.workers[i].program, static_cast<int>(pid), WTERMSIG(status));
                else
                    vxdLog("instance 0x%08lx: worker %d ended with status %d",
                           g_pool.workers[i].program, static_cast<int>(pid), WEXITSTATUS(status));
            }
            close(g_pool.workers[i].channel);
            g_pool.workers.erase(g_pool.workers.begin() + static_cast<long>(i));
            break;
        }
    }
}

int count(State state) {
    int n = 0;
    for (const Worker& w : g_pool.workers)
        n += w.state == state;
    return n;
}

// A spare may be handed out while at least half the idle time is left to its client.
bool fresh(const Worker& w) {
    return vxdMonotonicSeconds() - w.started < (g_settings.limits.idleSeconds + 1) / 2;
}

} // namespace

volatile int* vxdStopFlag() {
    return &g_stop;
}

void vxdWorkersInit(const char* listenAddress, int serviceFd, const VxdInstanceLimits& limits,
                    const VxdTransportLimits& transport, VxdHandler handler, void (*between)()) {
    g_settings = Settings{listenAddress, serviceFd, limits, transport, handler, between};
}

const VxdInstanceLimits& vxdInstanceLimits() {
    return g_settings.limits;
}

unsigned long vxdHandOutInstance() {
    reap();
    if (count(State::Busy) >= g_settings.limits.maxInstances) {
        if (!g_pool.refusedLogged)
            vxdLog("instance limit (%d) reached: procedure 5 answers no instance",
                   g_settings.limits.maxInstances);
        g_pool.refusedLogged = true;
        return 0;
    }
    g_pool.refusedLogged = false;
    // The spare waiting longest: a worker that has just become a spare again may still be
    // preparing for its next instance.
    Worker* pick = nullptr;
    for (Worker& w : g_pool.workers)
        if (w.state == State::Spare && fresh(w) && (!pick || w.turn < pick->turn)) pick = &w;
    if (!pick) {
        if (!startWorker()) return 0;
        pick = &g_pool.workers.back();
    }
    pick->state = State::Busy;
    // The worker starts the instance's idle clock when it reads this.
    VxdWorkerReport notice{'H', pick->program};
    send(pick->channel, &notice, sizeof notice, MSG_DONTWAIT | MSG_NOSIGNAL);
    return pick->program;
}

void vxdWorkersTick() {
    reap();
    for (Worker& w : g_pool.workers)
        if (w.state == State::Spare && !fresh(w)) {
            w.state = State::Retiring;
            kill(w.pid, SIGTERM);
        }
    // A released worker on its way back counts as a spare.
    while (count(State::Spare) + count(State::Recycling) < g_settings.limits.spares &&
           count(State::Busy) < g_settings.limits.maxInstances)
        if (!startWorker()) break;
}

void vxdWorkersShutdown() {
    for (const Worker& w : g_pool.workers)
        kill(w.pid, SIGTERM);
    for (int i = 0; i < 300 && !g_pool.workers.empty(); i++) {
        usleep(10000);
        reap();
    }
    for (const Worker& w : g_pool.workers) {
        kill(w.pid, SIGKILL);
        waitpid(w.pid, nullptr, 0);
        vxdDropNumber(w.program);
    }
    for (const Worker& w : g_pool.workers)
        close(w.channel);
    g_pool.workers.clear();
}
