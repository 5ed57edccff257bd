// vxd: the reference proxy server's ONC RPC service (programs 0x48000003 and 0x49000003,
// version 1, TCP), with per-operation server instances, confined to one root directory.
// This file is the start-up: options, the listening socket, the registrations and the loop.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "lib/vx_version.h"
#include "remote/vx_xdr.h"
#include "server/vxd_access.h"
#include "server/vxd_fs.h"
#include "server/vxd_instances.h"
#include "server/vxd_log.h"
#include "server/vxd_procedures.h"
#include "server/vxd_reply.h"
#include "server/vxd_rpcbind.h"

namespace {

struct Options {
    const char* root = nullptr;
    const char* workdir = ".";
    const char* listen = "127.0.0.1";
    const char* pidFile = nullptr;
    VxdInstanceLimits instances;
    VxdTransportLimits connections;
    bool replace = false;
    bool exitWithParent = false;
    VxdAccess access;
    VxdNetdevAliases netdevAliases;
};

// The program's configuration and state: set up once by main and read by the signal handler
// and the exit path, which take no context.
Options g_opt;
VxdRoot g_root;
int g_workFd = -1; // the working directory (O_PATH)
int g_listenFd = -1;
unsigned short g_port = 0;
bool g_ownMain[2] = {false, false}; // which of the two service numbers this process registered

const unsigned long kMainPrograms[2] = {VXPROG_MAIN, VXPROG_ALT};

// ---- options ----

void usage(FILE* out = stderr) {
    fprintf(
        out,
        "usage: vxd [--config FILE] --root DIR [--workdir REL] [--listen ADDR] [--allow CIDR]...\n"
        "           [--idle SECONDS] [--replace] [--pidfile FILE] [--exit-with-parent]\n"
        "           [--max-instances N] [--max-connections N] [--connection-timeout SECONDS]\n"
        "           [--command-timeout SECONDS] [--max-upload BYTES]\n"
        "           [--netdev-alias NAME=INTERFACE]...\n"
        "       vxd --help | --version\n"
        "--config FILE reads options from FILE, one a line: \"NAME VALUE\" for --NAME VALUE.\n");
}

// vxd --help: the usage and every limit with its default.
void help() {
    const VxdInstanceLimits in;
    const VxdTransportLimits c;
    usage(stdout);
    printf("limits (default):\n"
           "  --max-instances         instances handed out at once (%d)\n"
           "  --idle                  seconds an instance may go without a call (%ld)\n"
           "  --max-connections       connections at once; the longest idle goes first (%d)\n"
           "  --connection-timeout    seconds a connection may go without a call (%d)\n"
           "  --command-timeout       seconds a command may run (none)\n"
           "  --max-upload            bytes of one uploaded file (%lld)\n",
           in.maxInstances, in.idleSeconds, c.maxConnections, c.connectionTimeout, in.maxUpload);
}

// A whole number in [low, high] from an option's value; false with a message otherwise.
bool number(const char* option, const char* value, long long low, long long high, long long* out) {
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(value, &end, 10);
    if (errno || end == value || *end || v < low || v > high) {
        fprintf(stderr, "vxd: bad %s value (want %lld to %lld): %s\n", option, low, high, value);
        return false;
    }
    *out = v;
    return true;
}

template <class T>
bool setNumber(const char* option, const char* value, long long low, long long high, T* out) {
    long long v = 0;
    if (!number(option, value, low, high, &v)) return false;
    *out = static_cast<T>(v);
    return true;
}

bool setIdle(const char* value) {
    return setNumber("--idle", value, 1, 86400 * 7, &g_opt.instances.idleSeconds);
}

bool addAllow(const char* value) {
    if (g_opt.access.full()) {
        fprintf(stderr, "vxd: at most %d --allow rules\n", VxdAccess::kMaxRules);
        return false;
    }
    if (!g_opt.access.add(value)) {
        fprintf(stderr, "vxd: bad --allow value (want an IPv4 CIDR): %s\n", value);
        return false;
    }
    return true;
}

bool addNetdevAlias(const char* value) {
    if (g_opt.netdevAliases.count == VxdNetdevAliases::kMax) {
        fprintf(stderr, "vxd: at most %d --netdev-alias options\n", VxdNetdevAliases::kMax);
        return false;
    }
    if (!g_opt.netdevAliases.add(value)) {
        fprintf(stderr, "vxd: bad --netdev-alias value (want NAME=INTERFACE): %s\n", value);
        return false;
    }
    return true;
}

struct Option {
    const char* name;
    bool (*withValue)(const char* value); // nullptr: a switch
    bool* flag;                           // a switch's flag (nullptr: accepted and ignored)
};

const Option kOptions[] = {
    {"--root", [](const char* v) { return g_opt.root = v, true; }, nullptr},
    {"--workdir", [](const char* v) { return g_opt.workdir = v, true; }, nullptr},
    {"--listen", [](const char* v) { return g_opt.listen = v, true; }, nullptr},
    {"--pidfile", [](const char* v) { return g_opt.pidFile = v, true; }, nullptr},
    {"--idle", setIdle, nullptr},
    {"--max-instances",
     [](const char* v) {
         return setNumber("--max-instances", v, 1, 4096, &g_opt.instances.maxInstances);
     },
     nullptr},
    {"--max-connections",
     [](const char* v) {
         return setNumber("--max-connections", v, 4, 65536, &g_opt.connections.maxConnections);
     },
     nullptr},
    {"--connection-timeout",
     [](const char* v) {
         return setNumber("--connection-timeout", v, 1, 86400,
                          &g_opt.connections.connectionTimeout);
     },
     nullptr},
    {"--command-timeout",
     [](const char* v) {
         return setNumber("--command-timeout", v, 0, 86400 * 7, &g_opt.instances.commandTimeout);
     },
     nullptr},
    {"--max-upload",
     [](const char* v) {
         return setNumber("--max-upload", v, 0, 1LL << 50, &g_opt.instances.maxUpload);
     },
     nullptr},
    {"--allow", addAllow, nullptr},
    {"--netdev-alias", addNetdevAlias, nullptr},
    {"--replace", nullptr, &g_opt.replace},
    {"--exit-with-parent", nullptr, &g_opt.exitWithParent},
    // vxd always runs in the foreground; scripts/vxd-start puts it in the background.
    {"--foreground", nullptr, nullptr},
};

const Option* findOption(const char* name) {
    for (const Option& o : kOptions)
        if (strcmp(name, o.name) == 0) return &o;
    return nullptr;
}

// Applies one option; value is nullptr when none followed it.
bool applyOption(const Option& opt, const char* value) {
    if (!opt.withValue) {
        if (opt.flag) *opt.flag = true;
        return true;
    }
    if (!value) {
        fprintf(stderr, "vxd: %s needs a value\n", opt.name);
        return false;
    }
    return opt.withValue(value);
}

// --config FILE: the options in a file, one a line as "NAME VALUE" or "NAME" (the option without
// its "--"); blank lines and lines starting with "#" are skipped. Read where it stands on the
// command line, so later options override it.
bool readConfig(const char* path) {
    static std::deque<std::string> values; // options keep pointers into them
    FILE* f = fopen(path, "re");
    if (!f) {
        fprintf(stderr, "vxd: %s: %s\n", path, strerror(errno));
        return false;
    }
    char line[1024];
    int lineNo = 0;
    bool ok = true;
    while (ok && fgets(line, sizeof line, f)) {
        ++lineNo;
        char* end = line + strcspn(line, "\r\n");
        *end = '\0';
        char* name = line + strspn(line, " \t");
        if (*name == '\0' || *name == '#') continue;
        char* value = name + strcspn(name, " \t");
        if (*value) *value++ = '\0';
        value += strspn(value, " \t");
        while (end > value && (end[-1] == ' ' || end[-1] == '\t'))
            *--end = '\0';
        std::string option = std::string("--") + name;
        const Option* opt = option == "--config" ? nullptr : findOption(option.c_str());
        if (!opt) {
            fprintf(stderr, "vxd: %s:%d: unknown option: %s\n", path, lineNo, name);
            ok = false;
        } else {
            values.emplace_back(value);
            ok = applyOption(*opt, *value ? values.back().c_str() : nullptr);
            if (!ok) fprintf(stderr, "vxd: in %s:%d\n", path, lineNo);
        }
    }
    fclose(f);
    return ok;
}

bool parseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (strcmp(a, "--config") == 0) {
            if (i + 1 >= argc || !readConfig(argv[++i])) return false;
            continue;
        }
        const Option* opt = findOption(a);
        if (!opt) {
            fprintf(stderr, "vxd: unknown option: %s\n", a);
            usage();
            return false;
        }
        const char* value = opt->withValue && i + 1 < argc ? argv[++i] : nullptr;
        if (!applyOption(*opt, value)) return false;
    }
    if (!g_opt.root) {
        usage();
        return false;
    }
    if (g_opt.access.empty()) g_opt.access.add("127.0.0.0/8");
    return true;
}

// ---- the service ----

// True when another service answers at the port registered for program.
bool otherServiceAnswers(unsigned long program, unsigned short port) {
    sockaddr_in sin = vxdLoopback(port);
    if (strcmp(g_opt.listen, "127.0.0.1") != 0 && strcmp(g_opt.listen, "0.0.0.0") != 0)
        inet_pton(AF_INET, g_opt.listen, &sin.sin_addr);
    int sock = RPC_ANYSOCK;
    CLIENT* c = clnttcp_create(&sin, program, VXVERS, &sock, 0, 0);
    if (!c) return false;
    timeval tv{2, 0};
    clnt_stat st = clnt_call(c, NULLPROC, vxdXdr(xdr_void), nullptr, vxdXdr(xdr_void), nullptr, tv);
    clnt_destroy(c);
    return st == RPC_SUCCESS || st == RPC_AUTHERROR;
}

// A listening TCP socket on the --listen address (any free port).
int listenSocket() {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    if (inet_pton(AF_INET, g_opt.listen, &sin.sin_addr) != 1) {
        fprintf(stderr, "vxd: bad --listen address (want IPv4): %s\n", g_opt.listen);
        return -1;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
        listen(fd, SOMAXCONN) != 0) {
        fprintf(stderr, "vxd: cannot listen on %s: %s\n", g_opt.listen, strerror(errno));
        if (fd >= 0) close(fd);
        return -1;
    }
    socklen_t len = sizeof sin;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    g_port = ntohs(sin.sin_port);
    return fd;
}

// Registers both service numbers; refuses when another live service holds them (unless
// --replace).
bool registerService() {
    for (int i = 0; i < 2; i++) {
        unsigned long prog = kMainPrograms[i];
        unsigned short port = vxdRegisteredPort(prog);
        if (port != 0 && otherServiceAnswers(prog, port) && !g_opt.replace) {
            fprintf(stderr,
                    "vxd: program %lu (0x%08lx) is registered and answering at port %u; stop that "
                    "service or start with --replace\n",
                    prog, prog, port);
            return false;
        }
    }
    for (int i = 0; i < 2; i++) {
        unsigned long prog = kMainPrograms[i];
        pmap_unset(prog, VXVERS);
        if (!pmap_set(prog, VXVERS, IPPROTO_TCP, g_port)) {
            fprintf(stderr, "vxd: cannot register program 0x%08lx with rpcbind (is it running?)\n",
                    prog);
            return false;
        }
        g_ownMain[i] = true;
    }
    return true;
}

// Drops every registration this process still owns. A service number is left alone when a
// later service (--replace) has taken it over.
void unregisterAll() {
    vxdWorkersShutdown();
    for (int i = 0; i < 2; i++) {
        if (!g_ownMain[i]) continue;
        if (vxdRegisteredPort(kMainPrograms[i]) == g_port) pmap_unset(kMainPrograms[i], VXVERS);
        g_ownMain[i] = false;
    }
}

void onSignal(int) {
    *vxdStopFlag() = 1;
}

bool writePidFile() {
    if (!g_opt.pidFile) return true;
    char tmp[PATH_MAX];
    snprintf(tmp, sizeof tmp, "%s.tmp", g_opt.pidFile);
    FILE* f = fopen(tmp, "we");
    if (!f) return false;
    fprintf(f, "%d\n", static_cast<int>(getpid()));
    bool ok = fclose(f) == 0 && rename(tmp, g_opt.pidFile) == 0;
    if (!ok) unlink(tmp);
    return ok;
}

void removePidFile() {
    if (!g_opt.pidFile) return;
    FILE* f = fopen(g_opt.pidFile, "re");
    int pid = 0;
    if (f) {
        if (fscanf(f, "%d", &pid) != 1) pid = 0;
        fclose(f);
    }
    if (pid == getpid()) unlink(g_opt.pidFile);
}

// Opens the root and the working directory, which becomes the current directory.
bool openRoot() {
    int err = vxdOpenRoot(&g_root, g_opt.root, g_opt.workdir);
    if (err) {
        fprintf(stderr, "vxd: root %s, working directory %s: %s\n", g_opt.root, g_opt.workdir,
                strerror(err));
        return false;
    }
    g_workFd = open(g_root.workPath, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (g_workFd < 0 || chdir(g_root.workPath) != 0) {
        fprintf(stderr, "vxd: %s: %s\n", g_root.workPath, strerror(errno));
        return false;
    }
    vxdLogInit(g_workFd);
    VxdContext context;
    context.root = &g_root;
    context.workFd = g_workFd;
    context.access = &g_opt.access;
    context.netdevAliases = &g_opt.netdevAliases;
    vxdProceduresInit(context);
    return true;
}

// Room for the connection limit, the workers' sockets and the files of the service.
void raiseDescriptorLimit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return;
    rlim_t want = static_cast<rlim_t>(g_opt.connections.maxConnections) + 64;
    if (rl.rlim_cur >= want) return;
    rl.rlim_cur = rl.rlim_max == RLIM_INFINITY || rl.rlim_max > want ? want : rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
    if (rl.rlim_cur < want)
        fprintf(stderr, "vxd: only %lu descriptors for %d connections\n",
                static_cast<unsigned long>(rl.rlim_cur), g_opt.connections.maxConnections);
}

void installSignals() {
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

// The listening socket, registered under both service numbers.
bool startService() {
    g_listenFd = listenSocket();
    if (g_listenFd < 0) return false;
    VxdTransportLimits workerConnections = g_opt.connections;
    workerConnections.maxConnections = 16; // one console uses one at a time
    workerConnections.maxRecord = VX_BLOCK_MAX + 1024;
    workerConnections.writeTimeoutMs = 60000;
    vxdWorkersInit(g_opt.listen, g_listenFd, g_opt.instances, workerConnections, vxdDispatch,
                   vxdPrepareShell);
    if (!registerService()) {
        unregisterAll();
        return false;
    }
    vxdDropStaleRegistrations(g_opt.listen);
    return true;
}

void logLimits() {
    const VxdInstanceLimits& in = g_opt.instances;
    const VxdTransportLimits& c = g_opt.connections;
    char timeout[32] = "none";
    if (in.commandTimeout > 0) snprintf(timeout, sizeof timeout, "%d s", in.commandTimeout);
    vxdLog("limits: %d instances (idle %ld s), %d connections (idle %d s), command time %s, "
           "upload %lld bytes",
           in.maxInstances, in.idleSeconds, c.maxConnections, c.connectionTimeout, timeout,
           in.maxUpload);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        help();
        return 0;
    }
    if (vxVersionRequested("vxd", argc, argv)) return 0;
    if (!parseOptions(argc, argv)) return 2;
    if (!openRoot()) return 2;
    // Tests start vxd this way, so that a test that dies leaves no service behind.
    if (g_opt.exitWithParent) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() == 1) return 1;
    }
    installSignals();
    raiseDescriptorLimit();
    if (!startService()) return 1;
    if (!writePidFile()) fprintf(stderr, "vxd: cannot write %s\n", g_opt.pidFile);
    vxdLog("vxd started: root %s, working directory %s, %s port %u", g_root.rootPath,
           g_root.workPath, g_opt.listen, g_port);
    logLimits();
    vxdWorkersTick(); // the first spares
    vxdServe(g_listenFd, g_opt.connections, vxdDispatch, vxdStopFlag(), vxdWorkersTick);
    vxdCloseConnections(0);
    unregisterAll();
    vxdLog("vxd stopped");
    removePidFile();
    return 0;
}
