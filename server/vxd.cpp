// vxd: the reference proxy server's ONC RPC service (programs 0x48000003 and 0x49000003,
// version 1, TCP), with per-operation server instances, confined to one root directory.
#include <arpa/inet.h>
#include <cerrno>
#include <crypt.h>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/pmap_clnt.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vx_err.h"
#include "vx_xdr.h"
#include "vxd_fs.h"
#include "vxd_shell.h"

extern char** environ;

namespace {

constexpr int kMaxAllow = 16;
constexpr int kMaxInstances = 64;
constexpr off_t kLogRotateSize = 4 * 1024 * 1024; // tcp_srvr.log moves to ".1" beyond this
constexpr const char* kLogName = "tcp_srvr.log";
constexpr const char* kPingFile = "__vxPingFil.txt";
constexpr size_t kNetdevMax = 128; // the reply's text field
constexpr size_t kPingTargetMax = 64;

struct AllowRule {
    uint32_t net;  // host order
    uint32_t mask; // host order
};

// One server instance: a program number handed out by procedure 5, and its open file.
struct Instance {
    unsigned long program = 0; // 0: free slot
    time_t lastUse = 0;        // CLOCK_MONOTONIC seconds
    int fd = -1;               // the open file (procedures 6 and 7)
    bool writing = false;      // fd is a temporary file that procedure 8 renames into place
    bool failed = false;       // a write failed: the close discards the temporary file
    int dirFd = -1;            // directory of the file being written
    char tmpName[64] = {};     // the temporary file's name in dirFd
    char name[NAME_MAX + 1] = {};
    char path[VX_STRING_MAX + 1] = {}; // the path as the client named it
};

struct Options {
    const char* root = nullptr;
    const char* workdir = ".";
    const char* listen = "127.0.0.1";
    const char* pidFile = nullptr;
    long idle = 600;
    bool replace = false;
    bool exitWithParent = false;
    AllowRule allow[kMaxAllow];
    int allowCount = 0;
};

Options g_opt;
VxdRoot g_root;
int g_workFd = -1; // the working directory (O_PATH)
int g_logFd = -1;
SVCXPRT* g_listener = nullptr;
unsigned short g_port = 0;
bool g_ownMain[2] = {false, false}; // which of the two service numbers this process registered
Instance g_instances[kMaxInstances];
volatile sig_atomic_t g_stop = 0;

// Decoding buffers: arguments are decoded in place, never allocated.
char g_argText[VX_STRING_MAX + 1];
char g_blockData[VX_BLOCK_MAX];
char g_replyMessage[VX_STRING_MAX + 1];
char g_replyText[VX_STRING_MAX + 1];
char g_readData[VX_BLOCK_MAX];

const unsigned long kMainPrograms[2] = {VXPROG_MAIN, VXPROG_ALT};

// XDR filters as the svc functions take them (xdr_void has no parameters).
template <class F> xdrproc_t xdrProc(F filter) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(filter));
}

time_t monotonicSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec;
}

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends one line to tcp_srvr.log in the working directory (time first).
void logLine(const char* format, ...) {
    if (g_logFd >= 0) {
        struct stat st;
        if (fstat(g_logFd, &st) == 0 && st.st_size > kLogRotateSize) {
            close(g_logFd);
            g_logFd = -1;
            char old[64];
            snprintf(old, sizeof old, "%s.1", kLogName);
            renameat(g_workFd, kLogName, g_workFd, old);
        }
    }
    if (g_logFd < 0)
        g_logFd = openat(g_workFd, kLogName, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                         0644);
    char line[512]; // time (19) + address + procedure + a 128-byte argument escaped (4x)
    time_t now = time(nullptr);
    struct tm tmNow;
    localtime_r(&now, &tmNow);
    size_t n = strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S ", &tmNow);
    va_list ap;
    va_start(ap, format);
    int m = vsnprintf(line + n, sizeof line - n - 1, format, ap);
    va_end(ap);
    if (m < 0) return;
    n +=
        static_cast<size_t>(m) < sizeof line - n - 1 ? static_cast<size_t>(m) : sizeof line - n - 2;
    line[n++] = '\n';
    if (g_logFd >= 0) vxdWriteAll(g_logFd, line, n);
}

// Copies a client text for the log: control and non-ASCII bytes as \xNN, so a line stays a line.
void escapeForLog(const char* text, char* out, size_t size) {
    size_t o = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
        if (o + 5 >= size) break;
        if (*p < 0x20 || *p >= 0x7f || *p == '\\')
            o += static_cast<size_t>(snprintf(out + o, size - o, "\\x%02x", *p));
        else
            out[o++] = static_cast<char>(*p);
    }
    out[o] = '\0';
}

const char* procedureName(unsigned long proc) {
    switch (proc) {
    case 0:
        return "NULL";
    case vxRPC_EXEC:
        return "EXEC";
    case vxRPC_ASK:
        return "ASK";
    case vxRPC_FILOPEN_RDONLY:
        return "FILOPEN_RDONLY";
    case vxFILOPEN_NEW:
        return "FILOPEN_NEW";
    case vxRPC_FILCLOS:
        return "FILCLOS";
    case vxRPC_RELEASE:
        return "RELEASE";
    case vxRPC_WRITE:
        return "WRITE";
    case vxRPC_READ:
        return "READ";
    case vxRPC_CRYPT:
        return "CRYPT";
    case vxRPC_NETDEV:
        return "NETDEV";
    case vxRPC_PING:
        return "PING";
    default:
        return "?";
    }
}

void logRequest(const char* client, const svc_req* rq, const char* argument) {
    char arg[VX_STRING_MAX * 4 + 1];
    escapeForLog(argument ? argument : "", arg, sizeof arg);
    logLine("%s 0x%08lx %lu %s %s", client, static_cast<unsigned long>(rq->rq_prog),
            static_cast<unsigned long>(rq->rq_proc), procedureName(rq->rq_proc), arg);
}

// The caller's IPv4 address (host order) and its text; false for anything but IPv4.
bool callerAddress(SVCXPRT* xprt, uint32_t* addr, char* text, size_t size) {
    const netbuf* nb = svc_getrpccaller(xprt);
    snprintf(text, size, "?");
    if (!nb || !nb->buf || nb->len < sizeof(sockaddr_in)) return false;
    const sockaddr_in* sin = static_cast<const sockaddr_in*>(nb->buf);
    if (sin->sin_family != AF_INET) return false;
    inet_ntop(AF_INET, &sin->sin_addr, text, static_cast<socklen_t>(size));
    *addr = ntohl(sin->sin_addr.s_addr);
    return true;
}

bool allowed(uint32_t addr) {
    for (int i = 0; i < g_opt.allowCount; i++)
        if ((addr & g_opt.allow[i].mask) == g_opt.allow[i].net) return true;
    return false;
}

// ---- replies ----

vx_reply emptyReply() {
    vx_reply r{};
    g_replyMessage[0] = '\0';
    g_replyText[0] = '\0';
    r.message = g_replyMessage;
    r.text = g_replyText;
    return r;
}

// A reply carrying an operating-system error: code errno, kind 1, the error table's severity.
vx_reply errorReply(int code, const char* subject) {
    vx_reply r = emptyReply();
    r.value = -1;
    r.code = code;
    r.kind = VX_KIND_OS;
    int severity = vxErrorSeverity(code, VX_KIND_OS);
    r.severity = severity < 0 ? 3 : severity;
    vxdErrorText(code, subject, g_replyMessage, sizeof g_replyMessage);
    return r;
}

void sendReply(SVCXPRT* xprt, vx_reply* reply) {
    if (!svc_sendreply(xprt, xdrProc(xdr_vxreply), reinterpret_cast<char*>(reply)))
        logLine("cannot send a reply");
}

void sendBlock(SVCXPRT* xprt, vx_block* block) {
    if (!svc_sendreply(xprt, xdrProc(xdr_vxblock), reinterpret_cast<char*>(block)))
        logLine("cannot send a block");
}

// ---- instances ----

Instance* findInstance(unsigned long program) {
    for (Instance& in : g_instances)
        if (in.program == program) return &in;
    return nullptr;
}

// Closes the instance's file; a file being written is renamed into place only when commit is
// set and every write succeeded. Returns 0 or an errno value.
int closeFile(Instance* in, bool commit) {
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

void releaseInstance(Instance* in, const char* why) {
    closeFile(in, false);
    svc_unregister(in->program, VXVERS);
    pmap_unset(in->program, VXVERS);
    logLine("instance 0x%08lx released (%s)", in->program, why);
    in->program = 0;
}

sockaddr_in loopback(unsigned short port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sin;
}

// Port registered with the local rpcbind for (program, 1, tcp); 0 when none.
unsigned short registeredPort(unsigned long program) {
    sockaddr_in pm = loopback(PMAPPORT);
    return pmap_getport(&pm, program, VXVERS, IPPROTO_TCP);
}

void dispatch(svc_req* rq, SVCXPRT* xprt);

// A new instance program number registered with rpcbind, or 0.
unsigned long newInstance() {
    Instance* slot = nullptr;
    for (Instance& in : g_instances)
        if (in.program == 0) {
            slot = &in;
            break;
        }
    if (!slot) return 0;
    const unsigned long span = VX_INSTANCE_LAST - VX_INSTANCE_FIRST + 1;
    for (int attempt = 0; attempt < 32; attempt++) {
        uint32_t r = 0;
        if (getrandom(&r, sizeof r, 0) != sizeof r) r = static_cast<uint32_t>(rand());
        unsigned long prog = VX_INSTANCE_FIRST + r % span;
        if (findInstance(prog) || registeredPort(prog) != 0) continue;
        if (!svc_register(g_listener, prog, VXVERS, dispatch, 0)) continue;
        if (!pmap_set(prog, VXVERS, IPPROTO_TCP, g_port)) {
            svc_unregister(prog, VXVERS);
            return 0;
        }
        slot->program = prog;
        slot->lastUse = monotonicSeconds();
        return prog;
    }
    return 0;
}

void dropIdleInstances() {
    time_t now = monotonicSeconds();
    for (Instance& in : g_instances)
        if (in.program && now - in.lastUse >= g_opt.idle) releaseInstance(&in, "idle");
}

// ---- procedures ----

// Runs argv with the working directory as cwd, stdin from /dev/null, stdout and stderr to
// outFd (or the service's own stderr when outFd < 0). Returns the wait status, or -errno.
int runProgram(const char* file, char* const argv[], char* const envp[], int outFd, bool search) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addchdir_np(&fa, g_root.workPath);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&fa, outFd, 1);
        posix_spawn_file_actions_adddup2(&fa, outFd, 2);
    } else {
        posix_spawn_file_actions_adddup2(&fa, 2, 1);
    }
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    pid_t pid;
    int rc = search ? posix_spawnp(&pid, file, &fa, nullptr, argv, envp)
                    : posix_spawn(&pid, file, &fa, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -rc;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -errno;
    return status;
}

// Procedure 4: the command line through /bin/sh -c; value = exit status as a signed byte.
vx_reply procExec(const char* command) {
    static char pathVar[PATH_MAX + 64];
    static char rootVar[PATH_MAX + 16];
    static char* envp[256];
    const char* oldPath = getenv("PATH");
    snprintf(pathVar, sizeof pathVar, "PATH=%s:%s", g_root.workPath,
             oldPath && *oldPath ? oldPath : "/usr/local/bin:/usr/bin:/bin");
    snprintf(rootVar, sizeof rootVar, "VXD_ROOT=%s", g_root.rootPath);
    int n = 0;
    envp[n++] = pathVar;
    envp[n++] = rootVar;
    for (char** e = environ; *e && n < 255; e++)
        if (strncmp(*e, "PATH=", 5) != 0 && strncmp(*e, "VXD_ROOT=", 9) != 0) envp[n++] = *e;
    envp[n] = nullptr;
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command),
                    nullptr};
    int status = runProgram(vxdCommandShell(g_root), argv, envp, -1, false);
    if (status < 0) return errorReply(-status, "/bin/sh");
    vx_reply r = emptyReply();
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.value = static_cast<int8_t>(code & 0xff);
    return r;
}

vx_reply procOpenRead(Instance* in, const char* path) {
    closeFile(in, false);
    int fd = vxdOpenRegular(g_root, path);
    if (fd < 0) return errorReply(-fd, path);
    in->fd = fd;
    snprintf(in->path, sizeof in->path, "%s", path);
    return emptyReply();
}

// Procedure 7: the file is written to a temporary file beside it and renamed into place by
// procedure 8, so a failed transfer leaves the old content untouched.
vx_reply procOpenNew(Instance* in, const char* path) {
    closeFile(in, false);
    int dirFd = vxdOpenParent(g_root, path, in->name, sizeof in->name);
    if (dirFd < 0) return errorReply(-dirFd, path);
    mode_t mode = 0644;
    struct stat st;
    if (fstatat(dirFd, in->name, &st, 0) == 0) {
        if (S_ISDIR(st.st_mode)) {
            close(dirFd);
            return errorReply(EISDIR, path);
        }
        mode = st.st_mode & 07777;
    }
    int fd = vxdCreateTemp(dirFd, in->tmpName, sizeof in->tmpName, mode);
    if (fd < 0) {
        close(dirFd);
        return errorReply(-fd, path);
    }
    fchmod(fd, mode);
    in->fd = fd;
    in->dirFd = dirFd;
    in->writing = true;
    snprintf(in->path, sizeof in->path, "%s", path);
    return emptyReply();
}

vx_reply procClose(Instance* in, const char* path) {
    if (in->fd < 0) return errorReply(EBADF, path);
    int err = closeFile(in, true);
    return err ? errorReply(err, path) : emptyReply();
}

vx_reply procWrite(Instance* in, const vx_block* block) {
    if (in->fd < 0 || !in->writing) return errorReply(EBADF, "write");
    if (in->failed) return errorReply(EIO, in->path);
    int err = vxdWriteAll(in->fd, block->data, static_cast<size_t>(block->length));
    if (err) {
        in->failed = true;
        return errorReply(err, in->path);
    }
    vx_reply r = emptyReply();
    r.value = block->length;
    return r;
}

vx_block procRead(Instance* in, const char* path) {
    vx_block b{};
    b.data = g_readData;
    if (in->fd < 0 || in->writing || strcmp(in->path, path) != 0) {
        b.status = EBADF;
        return b;
    }
    size_t got = 0;
    while (got < VX_BLOCK_MAX) {
        ssize_t n = read(in->fd, g_readData + got, VX_BLOCK_MAX - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            b.status = errno;
            got = 0;
            break;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    b.length = static_cast<int32_t>(got);
    return b;
}

// Procedure 29: crypt(3) of the text after the first two characters, with those as salt.
vx_block procCrypt(const char* arg) {
    static crypt_data data;
    static char out[VX_STRING_MAX + 1];
    vx_block b{};
    b.data = out;
    size_t len = strlen(arg);
    if (len < 2) {
        b.status = EINVAL;
        return b;
    }
    char salt[3] = {arg[0], arg[1], '\0'};
    memset(&data, 0, sizeof data);
    const char* hash = crypt_r(arg + 2, salt, &data);
    if (!hash || hash[0] == '*' || strlen(hash) >= sizeof out) {
        b.status = hash ? EINVAL : errno;
        if (!b.status) b.status = EINVAL;
        return b;
    }
    strcpy(out, hash);
    b.length = static_cast<int32_t>(strlen(out));
    return b;
}

// Procedure 30: "name tx rx ..." for the interfaces of /proc/net/dev, whole triples only.
vx_reply procNetdev() {
    vx_reply r = emptyReply();
    FILE* f = fopen("/proc/net/dev", "re");
    if (!f) return errorReply(errno, "/proc/net/dev");
    char line[512];
    size_t used = 0;
    int lineNo = 0;
    while (fgets(line, sizeof line, f)) {
        if (++lineNo <= 2) continue; // two header lines
        char* colon = strchr(line, ':');
        if (!colon) continue;
        *colon = '\0';
        char* name = line;
        while (*name == ' ')
            name++;
        unsigned long long v[9];
        if (sscanf(colon + 1, "%llu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2],
                   &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]) != 9)
            continue;
        char triple[160];
        int n =
            snprintf(triple, sizeof triple, "%s%s %llu %llu", used ? " " : "", name, v[8], v[0]);
        if (n < 0 || used + static_cast<size_t>(n) > kNetdevMax) break;
        memcpy(g_replyText + used, triple, static_cast<size_t>(n) + 1);
        used += static_cast<size_t>(n);
    }
    fclose(f);
    return r;
}

// A ping target: a host name or an address, [A-Za-z0-9.:-] only, not starting with '-'.
bool validPingTarget(const char* target) {
    size_t len = strlen(target);
    if (len == 0 || len > kPingTargetMax || target[0] == '-') return false;
    for (const char* p = target; *p; p++) {
        char c = *p;
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == ':';
        if (!ok) return false;
    }
    return true;
}

// Procedure 31: ping -c 3 -W 1 -i 0.2 TARGET (no shell) into "__vxPingFil.txt".
vx_reply procPing(const char* target) {
    if (!validPingTarget(target)) {
        vx_reply r = errorReply(EINVAL, "ping target");
        r.value = 1;
        return r;
    }
    char tmp[64];
    int fd = vxdCreateTemp(g_workFd, tmp, sizeof tmp, 0644);
    if (fd < 0) return errorReply(-fd, kPingFile);
    char* argv[] = {const_cast<char*>("ping"), const_cast<char*>("-c"),   const_cast<char*>("3"),
                    const_cast<char*>("-W"),   const_cast<char*>("1"),    const_cast<char*>("-i"),
                    const_cast<char*>("0.2"),  const_cast<char*>(target), nullptr};
    int status = runProgram("ping", argv, environ, fd, true);
    if (status < 0) {
        char text[160];
        int n = snprintf(text, sizeof text, "ping: %s\n", strerror(-status));
        vxdWriteAll(fd, text, static_cast<size_t>(n));
    }
    close(fd);
    if (renameat(g_workFd, tmp, g_workFd, kPingFile) != 0) {
        int err = errno;
        unlinkat(g_workFd, tmp, 0);
        return errorReply(err, kPingFile);
    }
    vx_reply r = emptyReply();
    r.value = (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) ? 0 : 1;
    return r;
}

bool getString(SVCXPRT* xprt) {
    char* p = g_argText;
    return svc_getargs(xprt, xdrProc(xdr_vxstring), reinterpret_cast<char*>(&p));
}

bool isMainProgram(unsigned long prog) {
    return prog == VXPROG_MAIN || prog == VXPROG_ALT;
}

void dispatch(svc_req* rq, SVCXPRT* xprt) {
    char client[INET6_ADDRSTRLEN];
    uint32_t addr = 0;
    bool v4 = callerAddress(xprt, &addr, client, sizeof client);
    if (!v4 || !allowed(addr)) {
        logLine("%s 0x%08lx %lu refused", client, static_cast<unsigned long>(rq->rq_prog),
                static_cast<unsigned long>(rq->rq_proc));
        svcerr_auth(xprt, AUTH_TOOWEAK);
        return;
    }
    unsigned long prog = rq->rq_prog;
    unsigned long proc = rq->rq_proc;
    if (proc == NULLPROC) {
        svc_sendreply(xprt, xdrProc(xdr_void), nullptr);
        return;
    }
    Instance* in = nullptr;
    if (!isMainProgram(prog)) {
        in = findInstance(prog);
        if (!in) {
            svcerr_noprog(xprt);
            return;
        }
        in->lastUse = monotonicSeconds();
    }
    bool mainProc = proc == vxRPC_ASK || proc == vxRPC_CRYPT || proc == vxRPC_NETDEV;
    bool instProc = proc == vxRPC_EXEC || (proc >= vxRPC_FILOPEN_RDONLY && proc <= vxRPC_READ) ||
                    proc == vxRPC_PING;
    if ((in && !instProc) || (!in && !mainProc)) {
        logRequest(client, rq, "(no such procedure here)");
        svcerr_noproc(xprt);
        return;
    }
    switch (proc) {
    case vxRPC_ASK: {
        if (!svc_getargs(xprt, xdrProc(xdr_void), nullptr)) {
            svcerr_decode(xprt);
            return;
        }
        vx_instance inst{};
        inst.program = static_cast<int32_t>(newInstance());
        char text[32];
        snprintf(text, sizeof text, "-> 0x%08x", static_cast<unsigned>(inst.program));
        logRequest(client, rq, text);
        svc_sendreply(xprt, xdrProc(xdr_vxinstance), reinterpret_cast<char*>(&inst));
        return;
    }
    case vxRPC_RELEASE:
        logRequest(client, rq, "");
        svc_getargs(xprt, xdrProc(xdr_void), nullptr);
        // Unregistered before the answer, so a client sees the number gone once it returns.
        releaseInstance(in, "released");
        svc_sendreply(xprt, xdrProc(xdr_void), nullptr);
        return;
    case vxRPC_WRITE: {
        vx_block block{};
        block.data = g_blockData;
        if (!svc_getargs(xprt, xdrProc(xdr_vxblock), reinterpret_cast<char*>(&block))) {
            logRequest(client, rq, "(bad block)");
            svcerr_decode(xprt);
            return;
        }
        char text[32];
        snprintf(text, sizeof text, "%d bytes", block.length);
        logRequest(client, rq, text);
        vx_reply r = procWrite(in, &block);
        sendReply(xprt, &r);
        return;
    }
    default:
        break;
    }
    // The remaining procedures take one string.
    if (!getString(xprt)) {
        logRequest(client, rq, "(bad argument)");
        svcerr_decode(xprt);
        return;
    }
    const char* arg = g_argText;
    if (proc == vxRPC_CRYPT) {
        // Only the salt goes to the log: the rest is a password.
        char salt[3] = {arg[0], arg[0] ? arg[1] : '\0', '\0'};
        logRequest(client, rq, salt);
    } else {
        logRequest(client, rq, arg);
    }
    if (proc == vxRPC_READ) {
        vx_block b = procRead(in, arg);
        sendBlock(xprt, &b);
        return;
    }
    if (proc == vxRPC_CRYPT) {
        vx_block b = procCrypt(arg);
        sendBlock(xprt, &b);
        return;
    }
    vx_reply r;
    switch (proc) {
    case vxRPC_EXEC:
        r = procExec(arg);
        break;
    case vxRPC_FILOPEN_RDONLY:
        r = procOpenRead(in, arg);
        break;
    case vxFILOPEN_NEW:
        r = procOpenNew(in, arg);
        break;
    case vxRPC_FILCLOS:
        r = procClose(in, arg);
        break;
    case vxRPC_NETDEV:
        r = procNetdev();
        break;
    case vxRPC_PING:
        r = procPing(arg);
        break;
    default:
        r = errorReply(ENOSYS, procedureName(proc));
        break;
    }
    sendReply(xprt, &r);
}

// ---- start-up ----

// True when another service answers at the port registered for program.
bool otherServiceAnswers(unsigned long program, unsigned short port) {
    sockaddr_in sin = loopback(port);
    if (strcmp(g_opt.listen, "127.0.0.1") != 0 && strcmp(g_opt.listen, "0.0.0.0") != 0)
        inet_pton(AF_INET, g_opt.listen, &sin.sin_addr);
    int sock = RPC_ANYSOCK;
    CLIENT* c = clnttcp_create(&sin, program, VXVERS, &sock, 0, 0);
    if (!c) return false;
    timeval tv{2, 0};
    clnt_stat st =
        clnt_call(c, NULLPROC, xdrProc(xdr_void), nullptr, xdrProc(xdr_void), nullptr, tv);
    clnt_destroy(c);
    return st == RPC_SUCCESS || st == RPC_AUTHERROR;
}

bool parseCidr(const char* text, AllowRule* rule) {
    char addr[INET_ADDRSTRLEN];
    const char* slash = strchr(text, '/');
    size_t len = slash ? static_cast<size_t>(slash - text) : strlen(text);
    if (len >= sizeof addr) return false;
    memcpy(addr, text, len);
    addr[len] = '\0';
    in_addr a;
    if (inet_pton(AF_INET, addr, &a) != 1) return false;
    long bits = 32;
    if (slash) {
        char* end = nullptr;
        bits = strtol(slash + 1, &end, 10);
        if (end == slash + 1 || *end || bits < 0 || bits > 32) return false;
    }
    rule->mask = bits == 0 ? 0 : ~0u << (32 - bits);
    rule->net = ntohl(a.s_addr) & rule->mask;
    return true;
}

void usage() {
    fprintf(stderr,
            "usage: vxd --root DIR [--workdir REL] [--listen ADDR] [--allow CIDR]...\n"
            "           [--idle SECONDS] [--replace] [--pidfile FILE] [--exit-with-parent]\n");
}

bool parseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needs = [&]() {
            if (!v) fprintf(stderr, "vxd: %s needs a value\n", a);
            return v != nullptr;
        };
        if (strcmp(a, "--replace") == 0) {
            g_opt.replace = true;
        } else if (strcmp(a, "--exit-with-parent") == 0) {
            g_opt.exitWithParent = true;
        } else if (strcmp(a, "--foreground") == 0) {
            // vxd always runs in the foreground; scripts/vxd-start puts it in the background.
        } else if (strcmp(a, "--root") == 0) {
            if (!needs()) return false;
            g_opt.root = argv[++i];
        } else if (strcmp(a, "--workdir") == 0) {
            if (!needs()) return false;
            g_opt.workdir = argv[++i];
        } else if (strcmp(a, "--listen") == 0) {
            if (!needs()) return false;
            g_opt.listen = argv[++i];
        } else if (strcmp(a, "--pidfile") == 0) {
            if (!needs()) return false;
            g_opt.pidFile = argv[++i];
        } else if (strcmp(a, "--idle") == 0) {
            if (!needs()) return false;
            char* end = nullptr;
            g_opt.idle = strtol(argv[++i], &end, 10);
            if (*end || g_opt.idle < 1 || g_opt.idle > 86400 * 7) {
                fprintf(stderr, "vxd: bad --idle value: %s\n", argv[i]);
                return false;
            }
        } else if (strcmp(a, "--allow") == 0) {
            if (!needs()) return false;
            if (g_opt.allowCount == kMaxAllow) {
                fprintf(stderr, "vxd: at most %d --allow rules\n", kMaxAllow);
                return false;
            }
            if (!parseCidr(argv[++i], &g_opt.allow[g_opt.allowCount])) {
                fprintf(stderr, "vxd: bad --allow value (want an IPv4 CIDR): %s\n", argv[i]);
                return false;
            }
            g_opt.allowCount++;
        } else {
            fprintf(stderr, "vxd: unknown option: %s\n", a);
            usage();
            return false;
        }
    }
    if (!g_opt.root) {
        usage();
        return false;
    }
    if (g_opt.allowCount == 0) parseCidr("127.0.0.0/8", &g_opt.allow[g_opt.allowCount++]);
    return true;
}

// A listening TCP socket on the --listen address (any free port).
int listenSocket() {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    if (inet_pton(AF_INET, g_opt.listen, &sin.sin_addr) != 1) {
        fprintf(stderr, "vxd: bad --listen address (want IPv4): %s\n", g_opt.listen);
        return -1;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
        listen(fd, 64) != 0) {
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
        unsigned short port = registeredPort(prog);
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
        if (!svc_register(g_listener, prog, VXVERS, dispatch, 0) ||
            !pmap_set(prog, VXVERS, IPPROTO_TCP, g_port)) {
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
    for (Instance& in : g_instances)
        if (in.program) releaseInstance(&in, "shutdown");
    for (int i = 0; i < 2; i++) {
        if (!g_ownMain[i]) continue;
        if (registeredPort(kMainPrograms[i]) == g_port) pmap_unset(kMainPrograms[i], VXVERS);
        g_ownMain[i] = false;
    }
}

void onSignal(int) {
    g_stop = 1;
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

} // namespace

int main(int argc, char** argv) {
    if (!parseOptions(argc, argv)) return 2;
    int err = vxdOpenRoot(&g_root, g_opt.root, g_opt.workdir);
    if (err) {
        fprintf(stderr, "vxd: root %s, working directory %s: %s\n", g_opt.root, g_opt.workdir,
                strerror(err));
        return 2;
    }
    g_workFd = open(g_root.workPath, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (g_workFd < 0 || chdir(g_root.workPath) != 0) {
        fprintf(stderr, "vxd: %s: %s\n", g_root.workPath, strerror(errno));
        return 2;
    }
    // Tests start vxd this way, so that a test that dies leaves no service behind.
    if (g_opt.exitWithParent) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() == 1) return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    // Connections stay in libtirpc's blocking mode: its non-blocking mode (RPC_SVC_CONNMAXREC_SET)
    // cannot receive a record of a full 300000-byte block. XDR bounds every argument anyway.
    int fd = listenSocket();
    if (fd < 0) return 1;
    g_listener = svc_vc_create(fd, VX_BLOCK_MAX + 4096, VX_BLOCK_MAX + 4096);
    if (!g_listener) {
        fprintf(stderr, "vxd: cannot create the RPC transport\n");
        return 1;
    }
    if (!registerService()) {
        unregisterAll();
        return 1;
    }
    if (!writePidFile()) fprintf(stderr, "vxd: cannot write %s\n", g_opt.pidFile);
    logLine("vxd started: root %s, working directory %s, %s port %u", g_root.rootPath,
            g_root.workPath, g_opt.listen, g_port);

    while (!g_stop) {
        int n = poll(svc_pollfd, static_cast<nfds_t>(svc_max_pollfd), 1000);
        if (n < 0 && errno != EINTR) {
            logLine("poll: %s", strerror(errno));
            break;
        }
        if (n > 0) svc_getreq_poll(svc_pollfd, n);
        dropIdleInstances();
    }
    unregisterAll();
    logLine("vxd stopped");
    removePidFile();
    return 0;
}
