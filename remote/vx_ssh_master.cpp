// The process's one OpenSSH master connection: started on the first connection to an SSH
// destination, in a private directory that holds its control socket and its messages, and
// ended with the process. A failed start is recorded with its own cause.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <rpc/rpc.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lib/vx_err.h"
#include "remote/vx_client.h"
#include "remote/vx_remote.h"
#include "remote/vx_ssh.h"
#include "remote/vx_ssh_hostkey.h"
#include "remote/vx_ssh_mux.h"

namespace vxremote {

namespace {

constexpr int POLL_MS = 5;         // how often a starting master is looked at
constexpr int STOP_WAIT_MS = 1000; // a master asked to end gets this long before SIGKILL

struct Master {
    std::string destination; // the server name it was started for
    std::string dir;         // private directory: control socket and messages
    pid_t pid = -1;
    bool exited = false;
    std::string control() const { return dir + "/c"; }
    std::string log() const { return dir + "/log"; }
};

std::recursive_mutex g_lock;
Master g_master;
VxHostKeyQuestion g_question = nullptr;
bool g_batch = false;

void recordSsh(const char* cause, const char* destination) {
    char text[VX_ERROR_TEXT_MAX + 1];
    vxFormat(text, sizeof text, "SSH: %s (%s) !", cause, destination);
    const int severity = vxErrorSeverity(111, VX_KIND_RPC);
    vxSetError(111, severity < 0 ? 2 : severity, VX_KIND_RPC, text);
}

bool reaped(Master& master) {
    if (master.pid <= 0 || master.exited) return true;
    int status = 0;
    if (waitpid(master.pid, &status, WNOHANG) == master.pid) master.exited = true;
    return master.exited;
}

void endMaster(Master& master) {
    if (master.pid > 0 && !reaped(master)) {
        kill(master.pid, SIGTERM);
        Deadline limit(STOP_WAIT_MS);
        while (!reaped(master) && !limit.passed())
            usleep(POLL_MS * 1000);
        if (!reaped(master)) {
            kill(master.pid, SIGKILL);
            waitpid(master.pid, nullptr, 0);
        }
    }
    if (!master.dir.empty()) {
        unlink(master.control().c_str());
        unlink(master.log().c_str());
        rmdir(master.dir.c_str());
    }
    master = Master();
}

void endAtExit() {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    endMaster(g_master);
}

// The ssh command line that reaches destination: the user's configuration applies (or the one
// ORVELAN_SSH_CONFIG names), host keys are checked strictly, and the connection stops at the
// server (no forwarding of the configuration's own, no remote command).
std::vector<std::string> sshCommand(const SshDestination& d, int timeoutMs) {
    std::vector<std::string> argv = {"ssh"};
    if (const char* config = getenv("ORVELAN_SSH_CONFIG"); config && *config)
        argv.insert(argv.end(), {"-F", config});
    argv.insert(argv.end(), {"-o", "StrictHostKeyChecking=yes", "-o", "ClearAllForwardings=yes",
                             "-o", "ExitOnForwardFailure=yes", "-o",
                             "ConnectTimeout=" + std::to_string(std::max(1, timeoutMs / 1000))});
    if (g_batch) argv.insert(argv.end(), {"-o", "BatchMode=yes"});
    if (d.port) argv.insert(argv.end(), {"-p", std::to_string(d.port)});
    if (!d.user.empty()) argv.insert(argv.end(), {"-l", d.user});
    argv.insert(argv.end(), {"--", d.host});
    return argv;
}

// The relay program that the master uses as its ProxyCommand (tools/orvelan-ssh-relay.cpp says
// why): ORVELAN_SSH_RELAY when it is set ("none": no relay), else beside the running program
// (the build tree), else in BIN/../lib/orvelan of an installed one. Empty when there is none.
std::string relayProgram() {
    constexpr const char* NAME = "orvelan-ssh-relay";
    if (const char* named = getenv("ORVELAN_SSH_RELAY"); named && *named)
        return strcmp(named, "none") != 0 && access(named, X_OK) == 0 ? named : "";
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    std::string dir(self, static_cast<size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    for (const std::string& candidate : {dir + NAME, dir + "../lib/orvelan/" + NAME})
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    return {};
}

// Text as one word of ssh's ProxyCommand: quoted for the shell that runs it, '%' doubled for
// ssh's own expansion of the command.
std::string proxyWord(const std::string& text) {
    std::string word = "'";
    for (char c : text) {
        if (c == '\'')
            word += "'\\''";
        else if (c == '%')
            word += "%%";
        else
            word += c;
    }
    return word + "'";
}

// A value of `ssh -G` output: the rest of the line after "key "; empty when there is none.
std::string resolvedValue(const std::string& config, const char* key) {
    std::istringstream lines(config);
    std::string line;
    const std::string prefix = std::string(key) + " ";
    while (std::getline(lines, line))
        if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    return {};
}

// The options that put the relay in front of ssh's connection to the server: none when there is
// no relay, when the configuration cannot be read, or when the administrator's configuration
// reaches this host through a ProxyCommand or ProxyJump of its own (left as it is). The relay
// connects where the configuration resolves the host and port.
std::vector<std::string> relayOptions(const std::vector<std::string>& ssh,
                                      const Deadline& deadline) {
    const std::string relay = relayProgram();
    if (relay.empty()) return {};
    std::vector<std::string> query = ssh;
    query.insert(query.begin() + 1, "-G");
    int status = -1;
    const std::string config = runCapture(query, "", deadline, &status);
    const std::string host = resolvedValue(config, "hostname");
    const std::string port = resolvedValue(config, "port");
    const std::string command = resolvedValue(config, "proxycommand");
    const std::string jump = resolvedValue(config, "proxyjump");
    if (status != 0 || host.empty() || port.empty() || (!command.empty() && command != "none") ||
        (!jump.empty() && jump != "none"))
        return {};
    const int seconds = std::max(1, deadline.remainingMs() / 1000);
    return {"-o", "ProxyCommand=" + proxyWord(relay) + " " + proxyWord(host) + " " +
                      proxyWord(port) + " " + std::to_string(seconds)};
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The last line of ssh's messages that says something (its warnings' frames are '@' lines). The
// relay's own message, when it failed, says more than ssh's "Connection closed" after it.
std::string lastMessage(const std::string& log) {
    constexpr const char* RELAY = "orvelan-ssh-relay: ";
    std::istringstream lines(log);
    std::string line, last, relay;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.rfind(RELAY, 0) == 0) relay = line.substr(strlen(RELAY));
        if (!line.empty() && line[0] != '@') last = line;
    }
    if (!relay.empty()) return relay;
    return last.empty() ? "ssh ended" : last;
}

enum class StartEnd { Ready, UnknownKey, Failed, Cancelled };

// Records why the master ended from its messages; UnknownKey when only the key was unknown.
StartEnd classifyExit(const std::string& log, const char* destination) {
    if (log.find("REMOTE HOST IDENTIFICATION HAS CHANGED") != std::string::npos) {
        recordSsh("The server's host key has changed; refused (see known_hosts)", destination);
        return StartEnd::Failed;
    }
    if (log.find("host key is known for") != std::string::npos ||
        log.find("Host key verification failed") != std::string::npos)
        return StartEnd::UnknownKey;
    if (log.find("Permission denied") != std::string::npos ||
        log.find("Too many authentication failures") != std::string::npos) {
        recordSsh("Authentication failed", destination);
        return StartEnd::Failed;
    }
    const std::string cause = "Host unreachable: " + lastMessage(log);
    recordSsh(cause.c_str(), destination);
    return StartEnd::Failed;
}

// Starts the master and waits until its control socket answers or it ends.
StartEnd startOnce(const SshDestination& d, const char* destination, const Deadline& deadline,
                   const WaitScope& scope) {
    // A short base keeps the control socket's path within the limit of a socket address.
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base && *base && strlen(base) < 60 ? base : "/tmp") + "/orvelan-ssh-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    if (!mkdtemp(path.data())) {
        recordSsh(strerror(errno), destination);
        return StartEnd::Failed;
    }
    g_master = Master();
    g_master.destination = destination;
    g_master.dir = path.data();
    std::vector<std::string> argv = sshCommand(d, deadline.remainingMs());
    const std::vector<std::string> relay = relayOptions(argv, deadline);
    argv.insert(argv.begin() + 1, relay.begin(), relay.end());
    argv.insert(argv.begin() + 1, {"-M", "-N", "-S", g_master.control(), "-o", "ControlPersist=no",
                                   "-o", "ControlMaster=yes"});
    int log = open(g_master.log().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    g_master.pid = spawnChild(argv, -1, -1, log);
    if (log >= 0) close(log);
    if (g_master.pid < 0) {
        recordSsh(strerror(errno), destination);
        return StartEnd::Failed;
    }
    while (!scope.cancelled() && !deadline.passed()) {
        if (reaped(g_master)) return classifyExit(readText(g_master.log()), destination);
        if (access(g_master.control().c_str(), F_OK) == 0 &&
            muxAlive(g_master.control(), deadline, scope) == MuxStatus::Ok)
            return StartEnd::Ready;
        struct pollfd none = {-1, 0, 0};
        poll(&none, 0, POLL_MS);
    }
    endMaster(g_master);
    if (scope.cancelled()) return StartEnd::Cancelled;
    recordSsh("Host unreachable: Connection timed out", destination);
    return StartEnd::Failed;
}

// An unknown host key: its fingerprint goes to the question, and an accepted key to known_hosts.
// false when it was refused (the refusal is recorded).
bool acceptHostKey(const SshDestination& d, const char* destination, const Deadline& deadline) {
    ScannedKey key;
    if (!scanHostKey(sshCommand(d, deadline.remainingMs()), deadline, &key)) {
        recordSsh("Host key verification failed: the server's key cannot be read", destination);
        return false;
    }
    if (!g_question || !g_question(destination, key.fingerprint.c_str())) {
        const std::string cause = "Unknown host key " + key.fingerprint + "; refused";
        recordSsh(cause.c_str(), destination);
        return false;
    }
    if (!addKnownHost(key)) {
        const std::string cause = "The host key cannot be added to " + key.knownHosts;
        recordSsh(cause.c_str(), destination);
        return false;
    }
    return true;
}

// Starts the master when there is none for destination. A host key question restarts the
// deadline: the time a person takes to answer is no wait of the link.
SshResult ensureMaster(const char* destination, Deadline& deadline, const WaitScope& scope) {
    if (g_master.pid > 0 && g_master.destination == destination && !reaped(g_master))
        return SshResult::Ok;
    static std::once_flag registered;
    std::call_once(registered, [] { atexit(endAtExit); });
    endMaster(g_master);
    SshDestination d;
    if (!parseSshDestination(destination, &d)) {
        recordSsh("Invalid destination", destination);
        return SshResult::Failed;
    }
    StartEnd end = startOnce(d, destination, deadline, scope);
    if (end == StartEnd::UnknownKey) {
        endMaster(g_master);
        if (!acceptHostKey(d, destination, deadline)) return SshResult::Failed;
        deadline = Deadline(vxCallTimeout());
        end = startOnce(d, destination, deadline, scope);
        if (end == StartEnd::UnknownKey) {
            recordSsh("Host key verification failed", destination);
            end = StartEnd::Failed;
        }
    }
    if (end != StartEnd::Ready) endMaster(g_master);
    if (end == StartEnd::Cancelled) return SshResult::Cancelled;
    return end == StartEnd::Ready ? SshResult::Ok : SshResult::Failed;
}

} // namespace

bool isSshDestination(const char* name) {
    return name && strncmp(name, "ssh://", 6) == 0;
}

bool parseSshDestination(const char* name, SshDestination* out) {
    if (!isSshDestination(name)) return false;
    std::string rest = name + 6;
    *out = SshDestination();
    if (size_t at = rest.rfind('@'); at != std::string::npos) {
        out->user = rest.substr(0, at);
        rest = rest.substr(at + 1);
        if (out->user.empty()) return false;
    }
    std::string port;
    if (!rest.empty() && rest[0] == '[') { // [IPv6 address]:port
        size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        out->host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return false;
            port = rest.substr(close + 2);
        }
    } else {
        size_t colon = rest.find(':');
        out->host = rest.substr(0, colon);
        if (colon != std::string::npos) port = rest.substr(colon + 1);
    }
    if (!rest.empty() && rest.back() == '/') return false;
    if (out->host.empty() || out->host[0] == '-' || (!out->user.empty() && out->user[0] == '-'))
        return false;
    for (char c : out->host + out->user)
        if (c <= ' ' || c == '/' || c == '@' || static_cast<unsigned char>(c) >= 0x7f) return false;
    if (port.empty()) return rest.find(':') == std::string::npos || rest[0] == '[';
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    out->port = atoi(port.c_str());
    return out->port >= 1 && out->port <= 65535;
}

SshResult openSshChannel(const char* destination, unsigned short port, Deadline& deadline,
                         const WaitScope& scope, int* fd, int* control) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    SshResult started = ensureMaster(destination, deadline, scope);
    if (started != SshResult::Ok) return started;
    switch (muxOpenForward(g_master.control(), port, deadline, scope, fd, control)) {
    case MuxStatus::Ok:
        return SshResult::Ok;
    case MuxStatus::Refused:
        rpc_createerr.cf_stat = RPC_SYSTEMERROR;
        rpc_createerr.cf_error.re_errno = ECONNREFUSED;
        return SshResult::Refused;
    case MuxStatus::Cancelled:
        return SshResult::Cancelled;
    case MuxStatus::TimedOut:
        rpc_createerr.cf_stat = RPC_SYSTEMERROR;
        rpc_createerr.cf_error.re_errno = ETIMEDOUT;
        return SshResult::Refused;
    case MuxStatus::Lost:
        break;
    }
    endMaster(g_master);
    recordSsh("Connection lost", destination);
    return SshResult::Failed;
}

bool sshMasterLost(const char* destination) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    if (g_master.destination != destination) return true;
    // A master that is going away closes its channels first: the call that saw its channel end
    // gives it a moment to be gone.
    Deadline limit(200);
    while (!reaped(g_master) && !limit.passed())
        usleep(POLL_MS * 1000);
    return reaped(g_master);
}

int recordSshLost(const char* destination, int status) {
    char text[VX_ERROR_TEXT_MAX + 1];
    vxFormat(text, sizeof text, "SSH: Connection lost (%s) !", destination);
    const int severity = vxErrorSeverity(status, VX_KIND_RPC);
    vxSetError(status, severity < 0 ? 2 : severity, VX_KIND_RPC, text);
    return status;
}

void stopSshMaster() {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    endMaster(g_master);
}

} // namespace vxremote

void vxSetHostKeyQuestion(VxHostKeyQuestion question) {
    std::lock_guard<std::recursive_mutex> lock(vxremote::g_lock);
    vxremote::g_question = question;
}

void vxSetSshBatchMode(bool batch) {
    std::lock_guard<std::recursive_mutex> lock(vxremote::g_lock);
    vxremote::g_batch = batch;
}

void vxSshDisconnect() {
    vxremote::dropKeptClient();
    vxremote::stopSshMaster();
}
