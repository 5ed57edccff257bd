// A real reference server (rpcbind + vxd on a temporary root) for end-to-end tests.
#include "tests/support/test_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <regex>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

#ifndef ORVELAN_SERVER_BIN_DIR
#error "ORVELAN_SERVER_BIN_DIR must name the directory of the built vxd"
#endif

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kMainProgram = 0x48000003;
constexpr int kWaitStepMs = 20;
constexpr int kStartWaitSteps = 500; // 10 s for vxd or rpcbind to come up
constexpr int kStopWaitSteps = 250;  // 5 s for vxd to exit after SIGTERM

void sleepMs(int ms) {
    usleep(static_cast<useconds_t>(ms) * 1000);
}

// The NULL-ended argument vector of args (which must outlive it).
std::vector<char*> argvOf(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Runs args (no shell) and waits; returns the exit status, or -1.
int runWait(const std::vector<std::string>& args) {
    std::vector<char*> argv = argvOf(args);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Program 0x48000003 is one per rpcbind, so every test server meeting at one rpcbind takes one
// lock file: CTest's RESOURCE_LOCK orders the tests of one run, this orders separate runs (two
// build trees tested at once). Held per process while any of its test servers exists.
int g_machineLockFd = -1;
int g_machineLockUsers = 0;

void takeMachineLock() {
    if (g_machineLockUsers++ > 0) return;
    g_machineLockFd = lockRpcbindForTests();
}

void dropMachineLock() {
    if (--g_machineLockUsers > 0) return;
    if (g_machineLockFd >= 0) close(g_machineLockFd);
    g_machineLockFd = -1;
}

} // namespace

int lockRpcbindForTests() {
    int fd = open("/run/orvelan-vxd-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) fd = open("/tmp/orvelan-vxd-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) flock(fd, LOCK_EX);
    return fd;
}

InstanceLedger waitForReleases(const TestServer& server, int waitMs) {
    const std::regex ask(" 5 ASK -> (0x[0-9a-f]{8})"), release("instance (0x[0-9a-f]{8}) released");
    InstanceLedger ledger;
    for (int waited = 0;; waited += 20) {
        ledger = InstanceLedger();
        std::istringstream log(server.logText());
        std::smatch match;
        for (std::string line; std::getline(log, line);) {
            if (std::regex_search(line, match, ask)) ledger.asked.insert(match[1]);
            if (std::regex_search(line, match, release)) ledger.released.insert(match[1]);
        }
        if (ledger.asked == ledger.released || waited >= waitMs) return ledger;
        usleep(20000);
    }
}

std::string testServerBinDir() {
    const char* env = getenv("ORVELAN_SERVER_BIN_DIR");
    return env && *env ? env : ORVELAN_SERVER_BIN_DIR;
}

int listenLoopback(unsigned short* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
        listen(fd, 16) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        int err = errno;
        if (fd >= 0) close(fd);
        errno = err;
        return -1;
    }
    *port = ntohs(sin.sin_port);
    return fd;
}

unsigned short testRegisteredPort(unsigned long program) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(PMAPPORT);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return pmap_getport(&sin, program, 1, IPPROTO_TCP);
}

bool ensureRpcbind(std::string* error) {
    const unsigned long portmapper = 100000;
    if (testRegisteredPort(portmapper) != 0) return true;
    if (geteuid() != 0) {
        *error = "rpcbind is not running on 127.0.0.1 and only root can start it";
        return false;
    }
    mkdir("/run/rpcbind", 0755);
    if (runWait({"rpcbind", "-w"}) != 0 && runWait({"rpcbind"}) != 0) {
        *error = "rpcbind could not be started";
        return false;
    }
    for (int i = 0; i < kStartWaitSteps; i++) {
        if (testRegisteredPort(portmapper) != 0) return true;
        sleepMs(kWaitStepMs);
    }
    *error = "rpcbind was started but does not answer on 127.0.0.1";
    return false;
}

TestServer::TestServer(TestServerOptions options) : m_options(std::move(options)) {
    if (!m_options.ownNetwork) takeMachineLock();
    char base[] = "/tmp/orvelan-vxd-XXXXXX";
    if (!mkdtemp(base)) {
        fail(std::string("mkdtemp: ") + strerror(errno));
        return;
    }
    m_base = base;
    m_root = m_base + "/root";
    m_workdir = m_root + "/" + m_options.workdir;
    std::error_code ec;
    fs::create_directories(m_workdir, ec);
    if (ec) {
        fail("cannot create " + m_workdir + ": " + ec.message());
        return;
    }
    if (!installPrograms()) return;
    if (m_options.start) start();
}

TestServer::~TestServer() {
    stop();
    if (!m_base.empty()) {
        std::error_code ec;
        fs::remove_all(m_base, ec);
    }
    if (!m_options.ownNetwork) dropMachineLock();
}

bool TestServer::fail(const std::string& text) {
    m_error = text;
    return false;
}

bool TestServer::installPrograms() {
    const std::string bin = testServerBinDir();
    for (const char* prog : {"cpout", "cpin", "cpin2", "cprestore", "vxtail", "kaka", "grouppen"}) {
        std::error_code ec;
        fs::copy_file(bin + "/" + prog, m_workdir + "/" + prog,
                      fs::copy_options::overwrite_existing, ec);
        if (ec) return fail(std::string("cannot install ") + prog + ": " + ec.message());
        fs::permissions(m_workdir + "/" + prog, fs::perms(0755), ec);
    }
    // The statistics tool lives under the root where the console runs it, beside its files.
    if (!m_options.statsTool) return true;
    std::error_code ec;
    fs::create_directories(m_root + "/l/tools", ec);
    fs::create_directories(m_root + "/tmp", ec);
    fs::copy_file(bin + "/getstats2", m_root + "/l/tools/getstats2",
                  fs::copy_options::overwrite_existing, ec);
    if (ec) return fail("cannot install getstats2: " + ec.message());
    fs::permissions(m_root + "/l/tools/getstats2", fs::perms(0755), ec);
    return true;
}

std::string TestServer::stderrText() const {
    return readFileBytes(m_base + "/vxd.err");
}

bool TestServer::start() {
    if (m_pid > 0) return true;
    if (m_base.empty()) return false;
    if (!ensureRpcbind(&m_error)) return false;
    const std::string pidFile = m_base + "/vxd.pid";
    unlink(pidFile.c_str());
    std::vector<std::string> args = {testServerBinDir() + "/vxd",
                                     "--root",
                                     m_root,
                                     "--workdir",
                                     m_options.workdir,
                                     "--replace",
                                     "--exit-with-parent",
                                     "--idle",
                                     std::to_string(m_options.idleSeconds),
                                     "--pidfile",
                                     pidFile};
    args.insert(args.end(), m_options.extraArgs.begin(), m_options.extraArgs.end());
    std::vector<char*> argv = argvOf(args);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string errFile = m_base + "/vxd.err";
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return fail(std::string("cannot start vxd: ") + strerror(rc));
    m_pid = pid;
    // vxd writes its pid file once both program numbers are registered.
    for (int i = 0; i < kStartWaitSteps; i++) {
        int status;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return fail("vxd exited at start: " + stderrText());
        }
        if (access(pidFile.c_str(), F_OK) == 0 && testRegisteredPort(kMainProgram) != 0) {
            m_error.clear();
            return true;
        }
        sleepMs(kWaitStepMs);
    }
    stop();
    return fail("vxd did not register program 0x48000003 in time: " + stderrText());
}

namespace {

// Whether a process has ended (gone, or a zombie nobody reaped yet).
bool processEnded(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    return !(stat >> id >> name >> state) || state == "Z";
}

} // namespace

void TestServer::stop() {
    if (m_pid <= 0) return;
    resume(); // a paused server would not take the SIGTERM
    // A worker that outlives its service still answers the calls it was handed out for, so a
    // test of a stopped server would now and then see an answer: the workers end with it.
    std::vector<pid_t> children = workers();
    kill(m_pid, SIGTERM);
    int status;
    bool gone = false;
    for (int i = 0; i < kStopWaitSteps && !gone; i++) {
        if (waitpid(m_pid, &status, WNOHANG) == m_pid)
            gone = true;
        else
            sleepMs(kWaitStepMs);
    }
    if (!gone) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
    }
    // Idle ones (a test stops between its calls); a killed process runs no more of its code, so
    // nothing needs to wait for its end.
    for (pid_t worker : children)
        if (!processEnded(worker)) kill(worker, SIGKILL);
    m_pid = -1;
}

std::vector<pid_t> TestServer::workers() const {
    std::vector<pid_t> pids;
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::ifstream stat(e.path() / "stat");
        std::string pid, name, state;
        pid_t parent = 0;
        // The name is in parentheses and holds no blank for vxd.
        if (m_pid > 0 && stat >> pid >> name >> state >> parent && parent == m_pid)
            pids.push_back(std::stoi(pid));
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

void TestServer::crash() {
    if (m_pid <= 0) return;
    std::vector<pid_t> children = workers();
    kill(m_pid, SIGKILL);
    for (pid_t worker : children)
        kill(worker, SIGKILL);
}

void TestServer::pause() {
    if (m_pid <= 0) return;
    std::vector<pid_t> children = workers();
    kill(m_pid, SIGSTOP);
    for (pid_t worker : children)
        kill(worker, SIGSTOP);
}

void TestServer::resume() {
    if (m_pid <= 0) return;
    for (pid_t worker : workers())
        kill(worker, SIGCONT);
    kill(m_pid, SIGCONT);
}

bool TestServer::restart() {
    stop();
    return start();
}

std::string TestServer::local(const std::string& serverPath) const {
    if (!serverPath.empty() && serverPath[0] == '/') return m_root + serverPath;
    return m_workdir + "/" + serverPath;
}

bool TestServer::writeFile(const std::string& serverPath, const std::string& content) const {
    const fs::path path = local(serverPath);
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    return static_cast<bool>(out);
}

std::string TestServer::readFile(const std::string& serverPath) const {
    return readFileBytes(local(serverPath));
}

bool TestServer::exists(const std::string& serverPath) const {
    struct stat st;
    return lstat(local(serverPath).c_str(), &st) == 0;
}
