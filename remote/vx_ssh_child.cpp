// Child processes of the link over SSH: started from one thread that lives as long as the
// process, so that they follow the process when it ends, even by SIGKILL.
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "remote/vx_ssh.h"

namespace vxremote {

namespace {

// One request to the spawning thread, answered in pid and error.
struct SpawnRequest {
    const std::vector<std::string>* argv = nullptr;
    int fds[3] = {-1, -1, -1};
    pid_t pid = -1;
    int error = 0;
    bool done = false;
};

// The spawning thread waits on these for the life of the process, so they are never destroyed
// (a condition variable destroyed at exit while a thread waits on it blocks the exit).
struct Spawner {
    std::mutex lock;
    std::condition_variable wake;
    SpawnRequest* request = nullptr;
};
Spawner& spawner() {
    static Spawner* kept = new Spawner;
    return *kept;
}

// The command's path as execv takes it: searched in PATH before the fork, since the child may
// only do what is safe between fork and exec in a process with threads.
std::string resolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return name;
}

void forkChild(SpawnRequest& request) {
    const std::vector<std::string>& args = *request.argv;
    std::string program = resolveProgram(args[0]);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127); // the process ended before the request was made
        setsid();
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int i = 0; i < 3; ++i)
            dup2(request.fds[i] >= 0 ? request.fds[i] : null, i);
        close_range(3, ~0U, 0);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    request.error = pid < 0 ? errno : 0;
    request.pid = pid;
    if (null >= 0) close(null);
}

void spawnLoop() {
    Spawner& s = spawner();
    std::unique_lock<std::mutex> lock(s.lock);
    for (;;) {
        s.wake.wait(lock, [&s] { return s.request && !s.request->done; });
        forkChild(*s.request);
        s.request->done = true;
        s.wake.notify_all();
    }
}

} // namespace

pid_t spawnChild(const std::vector<std::string>& argv, int in, int out, int err) {
    static std::once_flag started;
    std::call_once(started, [] { std::thread(spawnLoop).detach(); });
    SpawnRequest request;
    request.argv = &argv;
    request.fds[0] = in;
    request.fds[1] = out;
    request.fds[2] = err;
    Spawner& s = spawner();
    std::unique_lock<std::mutex> lock(s.lock);
    s.wake.wait(lock, [&s] { return s.request == nullptr; });
    s.request = &request;
    s.wake.notify_all();
    s.wake.wait(lock, [&request] { return request.done; });
    s.request = nullptr;
    s.wake.notify_all();
    errno = request.error;
    return request.pid;
}

std::string runCapture(const std::vector<std::string>& argv, const std::string& input,
                       const Deadline& deadline, int* status) {
    *status = -1;
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0) return {};
    if (pipe2(in, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return {};
    }
    pid_t pid = spawnChild(argv, in[0], out[1], -1);
    close(in[0]);
    close(out[1]);
    // The inputs given here are a few lines: they fit in the pipe.
    if (pid > 0 && !input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    close(in[1]);
    std::string text;
    bool open = pid > 0;
    while (open && !deadline.passed()) {
        struct pollfd ready = {out[0], POLLIN, 0};
        if (poll(&ready, 1, deadline.remainingMs()) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            open = false;
    }
    close(out[0]);
    if (pid <= 0) return {};
    if (open) kill(pid, SIGKILL);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (!open && WIFEXITED(wstatus)) *status = WEXITSTATUS(wstatus);
    return text;
}

} // namespace vxremote
