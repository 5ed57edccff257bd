// sshd in front of a hidden server, for the tests of the link over SSH.
#include "tests/support/ssh_server.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/loopback.h"

namespace fs = std::filesystem;

namespace {

constexpr int START_WAIT_MS = 20000;

TestServerOptions withoutStart(TestServerOptions options, bool hidden) {
    options.start = false;
    options.ownNetwork = hidden;
    return options;
}

bool quietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool newKey(const std::string& path) {
    unlink(path.c_str());
    unlink((path + ".pub").c_str());
    return quietly("ssh-keygen -q -t ed25519 -N '' -C orvelan-test -f '" + path + "'");
}

// The test process leaves the machine's (or the isolated run's) network for one of its own,
// once: from then on only what the test starts listens on its 127.0.0.1, and every thread and
// child made later is in it too.
bool enterOwnNetwork(std::string* error) {
    static int entered = -1;
    if (entered < 0) entered = unshare(CLONE_NEWNET) == 0 && bringLoopbackUp() ? 1 : 0;
    if (entered == 0) *error = std::string("no network namespace of its own: ") + strerror(errno);
    return entered == 1;
}

struct ProcessInfo {
    pid_t pid;
    pid_t parent;
    std::string name;
};

std::vector<ProcessInfo> processes() {
    std::vector<ProcessInfo> all;
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::ifstream in(e.path() / "stat");
        std::string text;
        if (!std::getline(in, text)) continue;
        size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        pid_t parent = 0;
        char state = 0;
        if (sscanf(text.c_str() + close + 1, " %c %d", &state, &parent) != 2) continue;
        if (state == 'Z') continue;
        all.push_back({atoi(text.c_str()), parent, text.substr(open + 1, close - open - 1)});
    }
    return all;
}

// Starts argv with standard input and output on in/out (-1: /dev/null), error on err.
pid_t startProgram(const std::vector<std::string>& args, int in, int out, int err) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    int null = open("/dev/null", O_RDWR);
    dup2(in >= 0 ? in : null, 0);
    dup2(out >= 0 ? out : null, 1);
    dup2(err >= 0 ? err : null, 2);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

} // namespace

std::string keyFingerprint(const std::string& publicKeyFile) {
    FILE* p =
        popen(("ssh-keygen -l -E sha256 -f '" + publicKeyFile + "' 2>/dev/null").c_str(), "r");
    if (!p) return {};
    char bits[32] = {}, fingerprint[128] = {};
    const bool read = fscanf(p, "%31s %127s", bits, fingerprint) == 2;
    pclose(p);
    return read ? fingerprint : "";
}

SshTestServer::SshTestServer(TestServerOptions options, bool hidden)
    : m_server(withoutStart(options, hidden)), m_hide(hidden) {
    if (!m_dir.ok()) {
        fail("no test directory");
        return;
    }
    if (!m_server.error().empty()) {
        fail(m_server.error());
        return;
    }
    if ((m_hide && !enterOwnNetwork(&m_error)) || !makeKeys()) return;
    startHidden();
}

SshTestServer::~SshTestServer() {
    if (m_stop >= 0) close(m_stop); // the hidden side stops its processes and ends
    if (m_hidden > 0) waitpid(m_hidden, nullptr, 0);
}

bool SshTestServer::fail(const std::string& text) {
    if (m_error.empty()) m_error = text;
    return false;
}

std::string SshTestServer::destination() const {
    const struct passwd* user = getpwuid(geteuid());
    return "ssh://" + std::string(user ? user->pw_name : "root") +
           "@127.0.0.1:" + std::to_string(m_port);
}

std::string SshTestServer::hostFingerprint() const {
    return keyFingerprint(m_dir.file("host_key.pub"));
}

bool SshTestServer::makeKeys() {
    if (!newKey(m_dir.file("host_key")) || !newKey(m_dir.file("user_key")) ||
        !newKey(m_dir.file("wrong_key")))
        return fail("ssh-keygen failed");
    fs::copy_file(m_dir.file("user_key.pub"), m_dir.file("authorized_keys"));
    m_dir.write("sshd_config", "HostKey " + m_dir.file("host_key") + "\nAuthorizedKeysFile " +
                                   m_dir.file("authorized_keys") +
                                   "\nStrictModes no\nPasswordAuthentication no\n"
                                   "KbdInteractiveAuthentication no\nUsePAM no\n"
                                   "PermitRootLogin prohibit-password\nAllowTcpForwarding yes\n"
                                   "PidFile none\nSubsystem sftp internal-sftp\n");
    m_dir.write("known_hosts", "");
    m_dir.write("ssh_config", "Host *\n  IdentityFile " + m_dir.file("user_key") +
                                  "\n  IdentitiesOnly yes\n  UserKnownHostsFile " + knownHosts() +
                                  "\n  GlobalKnownHostsFile /dev/null\n  CheckHostIP no\n");
    return true;
}

bool SshTestServer::trustHostKey() const {
    std::ifstream key(m_dir.file("host_key.pub"));
    std::string type, data;
    if (!(key >> type >> data)) return false;
    std::ofstream out(knownHosts(), std::ios::app);
    out << "[127.0.0.1]:" << m_port << " " << type << " " << data << "\n";
    return static_cast<bool>(out);
}

bool SshTestServer::changeHostKey() {
    return newKey(m_dir.file("host_key")) || fail("ssh-keygen failed");
}

bool SshTestServer::useWrongUserKey() {
    std::string config = readFileBytes(clientConfig());
    size_t at = config.find(m_dir.file("user_key"));
    if (at == std::string::npos) return false;
    config.replace(at, m_dir.file("user_key").size(), m_dir.file("wrong_key"));
    m_dir.write("ssh_config", config);
    return true;
}

bool SshTestServer::startHidden() {
    int listener = listenLoopback(&m_port);
    if (listener < 0) return fail(std::string("no loopback port: ") + strerror(errno));
    int status[2], stop[2];
    if (pipe2(status, O_CLOEXEC) != 0 || pipe2(stop, O_CLOEXEC) != 0) {
        close(listener);
        return fail("pipe failed");
    }
    fflush(nullptr);
    m_hidden = fork();
    if (m_hidden == 0) {
        close(status[0]);
        close(stop[1]);
        runHidden(listener, status[1], stop[0]);
    }
    close(listener);
    close(status[1]);
    close(stop[0]);
    m_stop = stop[1];
    if (m_hidden < 0) return fail("fork failed");
    // The hidden side answers "ok" once vxd is registered, or why it is not.
    std::string answer;
    char buffer[512];
    struct pollfd ready = {status[0], POLLIN, 0};
    while (poll(&ready, 1, START_WAIT_MS) > 0) {
        ssize_t n = read(status[0], buffer, sizeof buffer);
        if (n <= 0) break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    close(status[0]);
    return answer == "ok" || fail("hidden server: " + (answer.empty() ? "no answer" : answer));
}

void SshTestServer::runHidden(int listener, int status, int stop) {
    auto report = [status](const std::string& text) {
        if (write(status, text.data(), text.size()) < 0) _exit(2);
    };
    // rpcbind and vxd get a network of their own and a /run of their own (rpcbind's socket).
    if (m_hide && (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
                   mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                   mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0 || !bringLoopbackUp())) {
        report(std::string("namespace: ") + strerror(errno));
        _exit(1);
    }
    mkdir("/run/rpcbind", 0755);
    mkdir("/run/sshd", 0755); // sshd's privilege separation directory
    pid_t rpcbind = m_hide ? startProgram({"rpcbind", "-f"}, -1, -1, -1) : -1;
    for (int i = 0; i < 400 && testRegisteredPort(100000) == 0; ++i)
        usleep(10000);
    if (!m_server.start()) {
        report("vxd: " + m_server.error());
        if (rpcbind > 0) kill(rpcbind, SIGTERM);
        _exit(1);
    }
    report("ok");
    close(status);
    const int log = open(m_dir.file("sshd.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<pid_t> sessions;
    for (;;) {
        struct pollfd ready[2] = {{listener, POLLIN, 0}, {stop, POLLIN, 0}};
        if (poll(ready, 2, 100) < 0 && errno != EINTR) break;
        if (ready[1].revents) break; // the test process closed its end, or ended
        for (pid_t& s : sessions)
            if (s > 0 && waitpid(s, nullptr, WNOHANG) == s) s = -1;
        if (!(ready[0].revents & POLLIN)) continue;
        int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        sessions.push_back(startProgram({"/usr/sbin/sshd", "-i", "-f", m_dir.file("sshd_config")},
                                        connection, connection, log));
        close(connection);
    }
    for (pid_t s : this->sessions())
        kill(s, SIGKILL);
    m_server.stop();
    if (rpcbind > 0) {
        kill(rpcbind, SIGTERM);
        waitpid(rpcbind, nullptr, 0);
    }
    _exit(0);
}

std::vector<pid_t> SshTestServer::sessions() const {
    // The hidden side's sshd processes and their children, however deep.
    std::vector<ProcessInfo> all = processes();
    std::vector<pid_t> found, parents = {m_hidden > 0 ? m_hidden : getpid()};
    for (size_t i = 0; i < parents.size(); ++i)
        for (const ProcessInfo& p : all)
            if (p.parent == parents[i] && p.name.rfind("sshd", 0) == 0) {
                found.push_back(p.pid);
                parents.push_back(p.pid);
            }
    return found;
}

void SshTestServer::killSessions() {
    for (pid_t s : sessions())
        kill(s, SIGKILL);
}

std::vector<pid_t> SshTestServer::clientProcesses() const {
    std::vector<pid_t> found;
    const std::string config = clientConfig();
    for (const ProcessInfo& p : processes()) {
        if (p.name != "ssh") continue;
        std::string cmdline = readFileBytes("/proc/" + std::to_string(p.pid) + "/cmdline");
        if (cmdline.find(config) != std::string::npos) found.push_back(p.pid);
    }
    return found;
}

std::vector<pid_t> SshTestServer::relayProcesses() const {
    std::vector<pid_t> found;
    // The arguments are HOST PORT [SECONDS], each ended by a NUL in cmdline.
    const std::string port = std::string(1, '\0') + std::to_string(m_port) + '\0';
    for (const ProcessInfo& p : processes()) {
        if (p.name != std::string("orvelan-ssh-relay").substr(0, 15)) continue; // comm's limit
        std::string cmdline = readFileBytes("/proc/" + std::to_string(p.pid) + "/cmdline");
        if (cmdline.find(port) != std::string::npos) found.push_back(p.pid);
    }
    return found;
}

bool SshTestServer::addClientConfig(const std::string& lines) {
    std::ofstream out(clientConfig(), std::ios::app);
    out << lines;
    return static_cast<bool>(out.flush());
}
