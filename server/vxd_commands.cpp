// The procedures that run programs or read system state: exec, crypt, netdev and ping.
#include <cerrno>
#include <crypt.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "server/vxd_log.h"
#include "server/vxd_procedures.h"
#include "server/vxd_reply.h"
#include "server/vxd_shell.h"

extern char** environ;

namespace {

constexpr const char* kPingFile = "__vxPingFil.txt";
constexpr size_t kNetdevMax = 128; // the reply's text field
constexpr size_t kPingTargetMax = 64;

void logKill(const char* why, const char* what) {
    char text[VX_STRING_MAX * 4 + 1];
    vxdEscapeForLog(what, text, sizeof text);
    vxdLog("%s: killed %s", why, text);
}

// Waits for pid; after the command time limit (when set), when the worker is told to stop or
// when the caller's connection (callerFd, -1 for none) closes, the command's process group is
// killed. Returns the wait status, or -errno.
int waitCommand(pid_t pid, const char* what, int callerFd = -1) {
    int limit = vxdInstanceLimits().commandTimeout;
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    time_t start = vxdMonotonicSeconds();
    bool killed = false;
    bool gone = false;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, pidfd >= 0 ? WNOHANG : 0);
        if (r == pid) {
            if (pidfd >= 0) close(pidfd);
            return status;
        }
        if (r < 0 && errno != EINTR) {
            int err = errno;
            if (pidfd >= 0) close(pidfd);
            return -err;
        }
        bool overTime = limit > 0 && vxdMonotonicSeconds() - start >= limit;
        if (!killed && (overTime || gone || *vxdStopFlag())) {
            if (overTime) {
                char why[64];
                snprintf(why, sizeof why, "command time limit (%d s) reached", limit);
                logKill(why, what);
            } else if (gone) {
                logKill("client gone", what);
            }
            kill(-pid, SIGKILL);
            killed = true;
        }
        if (pidfd >= 0) {
            // The caller is watched until the command is killed: after that only its end counts.
            pollfd p[2] = {{pidfd, POLLIN, 0}, {killed ? -1 : callerFd, POLLRDHUP, 0}};
            poll(p, 2, 1000);
            gone = (p[1].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        }
    }
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

// The environment of a command: the service's, with the working directory first on PATH and
// VXD_ROOT naming the root.
char** commandEnvironment() {
    static char pathVar[PATH_MAX + 64];
    static char rootVar[PATH_MAX + 16];
    static char* envp[256];
    if (envp[0]) return envp;
    const VxdRoot& root = *vxdContext().root;
    const char* oldPath = getenv("PATH");
    snprintf(pathVar, sizeof pathVar, "PATH=%s:%s", root.workPath,
             oldPath && *oldPath ? oldPath : "/usr/local/bin:/usr/bin:/bin");
    snprintf(rootVar, sizeof rootVar, "VXD_ROOT=%s", root.rootPath);
    int n = 0;
    envp[n++] = pathVar;
    envp[n++] = rootVar;
    for (char** e = environ; *e && n < 255; e++)
        if (strncmp(*e, "PATH=", 5) != 0 && strncmp(*e, "VXD_ROOT=", 9) != 0) envp[n++] = *e;
    envp[n] = nullptr;
    return envp;
}

// A /bin/sh started ahead of its command. Starting the shell (exec and loading it) is most of
// the time of a short command, so a worker keeps one started and waiting between calls: it
// reads one line from descriptor 3, closes it and evaluates the line, which is what "sh -c"
// does with its argument (same working directory, environment, standard descriptors, process
// group and signals as a shell started for the command). A command line that holds a newline
// does not fit one line and gets a shell started for it.
struct ReadyShell {
    pid_t pid = -1;
    int priority = 0;   // the worker's nice value, the command's
    int commandFd = -1; // write end of the shell's descriptor 3
};

// One per worker, kept between calls (the procedures are called without a context).
ReadyShell g_ready;

constexpr const char* kReadyScript =
    "IFS= read -r vxd_command <&3 || exit 0; exec 3<&-; eval \"unset vxd_command; $vxd_command\"";

// Starts a shell that runs argv; file actions and attributes as for every command.
int spawnCommand(pid_t* pid, const char* file, char* const argv[], char* const envp[], int outFd,
                 bool search, int commandFd) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addchdir_np(&fa, vxdContext().root->workPath);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&fa, outFd, 1);
        posix_spawn_file_actions_adddup2(&fa, outFd, 2);
    } else {
        posix_spawn_file_actions_adddup2(&fa, 2, 1);
    }
    if (commandFd >= 0) posix_spawn_file_actions_adddup2(&fa, commandFd, 3);
    posix_spawn_file_actions_addclosefrom_np(&fa, commandFd >= 0 ? 4 : 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults; // what vxd ignores or catches, the command gets as usual
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGCHLD})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    int rc = search ? posix_spawnp(pid, file, &fa, &attr, argv, envp)
                    : posix_spawn(pid, file, &fa, &attr, argv, envp);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    return rc;
}

// Runs argv with the working directory as cwd, stdin from /dev/null, stdout and stderr to
// outFd (or the service's own stderr when outFd < 0), in a process group of its own so that a
// time limit ends everything it started. Returns the wait status, or -errno.
int runProgram(const char* file, char* const argv[], char* const envp[], int outFd, bool search,
               const char* what, int callerFd = -1) {
    pid_t pid;
    int rc = spawnCommand(&pid, file, argv, envp, outFd, search, -1);
    if (rc != 0) return -rc;
    return waitCommand(pid, what, callerFd);
}

void dropReadyShell() {
    if (g_ready.pid < 0) return;
    close(g_ready.commandFd); // the shell reads end of file and exits
    waitpid(g_ready.pid, nullptr, 0);
    g_ready = ReadyShell();
}

// Hands the command to the ready shell; its pid, or -1 when there is none or it is gone.
pid_t runInReadyShell(const char* command) {
    if (g_ready.pid < 0 || strchr(command, '\n')) return -1;
    char line[VX_STRING_MAX * 4 + 2];
    size_t len = strlen(command);
    if (len + 1 >= sizeof line) return -1;
    memcpy(line, command, len);
    line[len++] = '\n';
    // The worker's priority back (when that is not allowed, a shell is started for the command
    // instead), then the line: at most PIPE_BUF bytes, written whole or not at all.
    bool handed =
        setpriority(PRIO_PROCESS, static_cast<id_t>(g_ready.pid), g_ready.priority) == 0 &&
        write(g_ready.commandFd, line, len) == static_cast<ssize_t>(len);
    if (!handed) {
        kill(-g_ready.pid, SIGKILL);
        dropReadyShell();
        return -1;
    }
    close(g_ready.commandFd);
    pid_t pid = g_ready.pid;
    g_ready = ReadyShell();
    return pid;
}

} // namespace

void vxdPrepareShell() {
    if (g_ready.pid >= 0) return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                    const_cast<char*>(kReadyScript), nullptr};
    pid_t pid;
    if (spawnCommand(&pid, "/bin/sh", argv, commandEnvironment(), -1, false, fds[0]) != 0) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    close(fds[0]);
    // While it waits, the shell loads at the lowest priority, so that starting it takes no time
    // from the calls being served meanwhile; it gets the worker's own back before its command
    // (raising it again needs root's CAP_SYS_NICE, so only root lowers it).
    errno = 0;
    g_ready.priority = getpriority(PRIO_PROCESS, 0);
    if (errno == 0 && geteuid() == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(pid), 19);
    g_ready.pid = pid;
    g_ready.commandFd = fds[1];
}

vx_reply vxdExec(const char* command, int callerFd) {
    const char* shell = vxdCommandShell(*vxdContext().root, command);
    pid_t pid = strcmp(shell, "/bin/sh") == 0 ? runInReadyShell(command) : -1;
    int status;
    if (pid > 0) {
        status = waitCommand(pid, command, callerFd);
    } else {
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                        const_cast<char*>(command), nullptr};
        status = runProgram(shell, argv, commandEnvironment(), -1, false, command, callerFd);
    }
    if (status < 0) return vxdErrorReply(-status, "/bin/sh");
    vx_reply r = vxdEmptyReply();
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.value = static_cast<int8_t>(code & 0xff);
    return r;
}

vx_block vxdCrypt(const char* arg) {
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

bool VxdNetdevAliases::add(const char* alias) {
    auto valid = [](const char* begin, size_t len) {
        if (len == 0 || len >= sizeof(Alias::name)) return false;
        for (size_t i = 0; i < len; i++) {
            char c = begin[i];
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '_' || c == '-'))
                return false;
        }
        return true;
    };
    const char* eq = strchr(alias, '=');
    if (count == kMax || !eq || !valid(alias, static_cast<size_t>(eq - alias)) ||
        !valid(eq + 1, strlen(eq + 1)))
        return false;
    Alias& a = list[count++];
    snprintf(a.name, sizeof a.name, "%.*s", static_cast<int>(eq - alias), alias);
    snprintf(a.iface, sizeof a.iface, "%s", eq + 1);
    return true;
}

namespace {

struct Counters {
    char name[32];
    unsigned long long tx, rx;
};

// The interfaces of /proc/net/dev (at most max); -errno when it cannot be read.
int readNetdev(Counters* out, int max) {
    FILE* f = fopen("/proc/net/dev", "re");
    if (!f) return -errno;
    char line[512];
    int count = 0, lineNo = 0;
    while (count < max && fgets(line, sizeof line, f)) {
        if (++lineNo <= 2) continue; // two header lines
        char* colon = strchr(line, ':');
        if (!colon) continue;
        *colon = '\0';
        char* name = line;
        while (*name == ' ')
            name++;
        unsigned long long v[9];
        if (strlen(name) >= sizeof out->name ||
            sscanf(colon + 1, "%llu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2],
                   &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]) != 9)
            continue;
        Counters& c = out[count++];
        strcpy(c.name, name);
        c.tx = v[8];
        c.rx = v[0];
    }
    fclose(f);
    return count;
}

// Appends "name tx rx" when the whole triple fits; false when it does not.
bool appendTriple(char* text, size_t* used, const char* name, const Counters& c) {
    char triple[160];
    int n = snprintf(triple, sizeof triple, "%s%s %llu %llu", *used ? " " : "", name, c.tx, c.rx);
    if (n < 0 || *used + static_cast<size_t>(n) > kNetdevMax) return false;
    memcpy(text + *used, triple, static_cast<size_t>(n) + 1);
    *used += static_cast<size_t>(n);
    return true;
}

} // namespace

vx_reply vxdNetdev() {
    Counters ifs[64];
    int count = readNetdev(ifs, 64);
    if (count < 0) return vxdErrorReply(-count, "/proc/net/dev");
    vx_reply r = vxdEmptyReply();
    char* text = vxdReplyText();
    size_t used = 0;
    static const VxdNetdevAliases none;
    const VxdNetdevAliases& aliases =
        vxdContext().netdevAliases ? *vxdContext().netdevAliases : none;
    for (int a = 0; a < aliases.count; a++)
        for (int i = 0; i < count; i++)
            if (strcmp(ifs[i].name, aliases.list[a].iface) == 0 &&
                !appendTriple(text, &used, aliases.list[a].name, ifs[i]))
                return r;
    for (int i = 0; i < count; i++) {
        bool aliased = false;
        for (int a = 0; a < aliases.count; a++)
            aliased = aliased || strcmp(ifs[i].name, aliases.list[a].iface) == 0;
        if (!aliased && !appendTriple(text, &used, ifs[i].name, ifs[i])) break;
    }
    return r;
}

vx_reply vxdPing(const char* target) {
    if (!validPingTarget(target)) {
        vx_reply r = vxdErrorReply(EINVAL, "ping target");
        r.value = 1;
        return r;
    }
    int workFd = vxdContext().workFd;
    char tmp[64];
    int fd = vxdCreateTemp(workFd, tmp, sizeof tmp, 0644);
    if (fd < 0) return vxdErrorReply(-fd, kPingFile);
    char* argv[] = {const_cast<char*>("ping"), const_cast<char*>("-c"),   const_cast<char*>("3"),
                    const_cast<char*>("-W"),   const_cast<char*>("1"),    const_cast<char*>("-i"),
                    const_cast<char*>("0.2"),  const_cast<char*>(target), nullptr};
    int status = runProgram("ping", argv, environ, fd, true, "ping");
    if (status < 0) {
        char text[160];
        int n = snprintf(text, sizeof text, "ping: %s\n", strerror(-status));
        vxdWriteAll(fd, text, static_cast<size_t>(n));
    }
    close(fd);
    if (renameat(workFd, tmp, workFd, kPingFile) != 0) {
        int err = errno;
        unlinkat(workFd, tmp, 0);
        return vxdErrorReply(err, kPingFile);
    }
    vx_reply r = vxdEmptyReply();
    r.value = (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) ? 0 : 1;
    return r;
}
