// Runs the statistics tool (GETSTATS2_PATH) for the tests over a server root of their own: in the
// root's srv directory, with VXD_ROOT set to the root and the local time of Budapest.
#pragma once

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// Starts "getstats2 args" in root/srv: standard output to /dev/null, standard error to errPath;
// the environment is this process's, less the tool's own settings (VXD_ROOT, TZ, GETSTATS2_*,
// ORVELAN_STATS_*), plus VXD_ROOT=root, TZ=Europe/Budapest and the NAME=VALUE items of env.
// The process, or -1 when it cannot be started.
inline pid_t getstats2Start(const std::string& root, const std::vector<std::string>& args,
                            const std::vector<std::string>& env, const std::string& errPath) {
    std::vector<std::string> vars = {"VXD_ROOT=" + root, "TZ=Europe/Budapest"};
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("VXD_ROOT=", 0) != 0 && v.rfind("TZ=", 0) != 0 &&
            v.rfind("GETSTATS2_", 0) != 0 && v.rfind("ORVELAN_STATS_", 0) != 0)
            vars.push_back(v);
    }
    vars.insert(vars.end(), env.begin(), env.end());
    std::vector<char*> envp, argv = {const_cast<char*>(GETSTATS2_PATH)};
    for (const std::string& v : vars)
        envp.push_back(const_cast<char*>(v.c_str()));
    envp.push_back(nullptr);
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addchdir_np(&actions, (root + "/srv").c_str());
    pid_t pid = -1;
    if (posix_spawn(&pid, GETSTATS2_PATH, &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for a started tool: its exit status; -1 when it could not be started, -100 - N when
// signal N ended it (so that a failure names the signal).
inline int getstats2Wait(pid_t pid) {
    if (pid < 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFSIGNALED(status)) return -100 - WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The items of a text separated by blanks ("GETSTATS2_JOBS=1 GETSTATS2_INFLATE=zlib").
inline std::vector<std::string> getstats2Words(const std::string& text) {
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
        size_t end = text.find(' ', at);
        words.push_back(text.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    return words;
}
