// Benchmark of the remote link over loopback against a real vxd on a temporary root: file
// transfer throughput against a plain TCP stream, and remote command latency against a local
// shell, both measured in the same run. Run through bench/run-remote.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "tests/support/test_server.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t CHUNK = 300000; // the link's block size, used by the TCP baseline as well

struct Options {
    size_t megabytes = 64; // transfer size in MiB
    int rounds = 3;        // transfer repetitions; the best round counts
    int execRuns = 200;    // command runs for the latency figures
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool writeFile(const std::string& path, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    std::vector<char> block(CHUNK);
    uint32_t x = 2463534242u;
    for (size_t done = 0; done < size;) {
        for (char& c : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x);
        }
        size_t n = std::min(block.size(), size - done);
        if (write(fd, block.data(), n) != static_cast<ssize_t>(n)) break;
        done += n;
    }
    return close(fd) == 0;
}

bool sameContent(const std::string& a, const std::string& b) {
    return std::system(("cmp -s '" + a + "' '" + b + "'").c_str()) == 0;
}

// Copies a file to another through a loopback TCP connection in 300000-byte reads; with sync
// the receiver syncs its file before closing it, as vxd does with an uploaded file. The elapsed
// time, or a negative value on failure.
double tcpFileCopy(const std::string& from, const std::string& to, bool sync) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    bool received = false;
    auto start = Clock::now();
    std::thread receiver([&] {
        int conn = accept(listener, nullptr, nullptr);
        int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char> buffer(CHUNK);
        ssize_t n;
        bool ok = conn >= 0 && out >= 0;
        while (ok && (n = read(conn, buffer.data(), buffer.size())) > 0)
            ok = write(out, buffer.data(), n) == n;
        received = ok && (!sync || fsync(out) == 0) && close(out) == 0;
        if (conn >= 0) close(conn);
    });
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    int in = open(from.c_str(), O_RDONLY);
    bool sent = sock >= 0 && in >= 0 &&
                connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    std::vector<char> buffer(CHUNK);
    ssize_t n;
    while (sent && (n = read(in, buffer.data(), buffer.size())) > 0)
        for (ssize_t done = 0; sent && done < n;) {
            ssize_t w = write(sock, buffer.data() + done, n - done);
            sent = w > 0;
            done += w;
        }
    if (in >= 0) close(in);
    if (sock >= 0) close(sock);
    receiver.join();
    double elapsed = seconds(Clock::now() - start);
    close(listener);
    return sent && received ? elapsed : -1;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

bool spawnShellTrue() {
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("true"),
                    nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Milliseconds of each of runs calls of action; empty when one failed.
template <class Action> std::vector<double> latencies(int runs, Action action) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        if (!action()) return {};
        ms.push_back(seconds(Clock::now() - start) * 1000.0);
    }
    return ms;
}

int fail(const char* what) {
    fprintf(stderr, "remote_bench: %s: %s\n", what, vxLastError().text);
    return 1;
}

int run(const Options& options) {
    TestServer server;
    if (!server.running()) {
        fprintf(stderr, "remote_bench: %s\n", server.error().c_str());
        return 1;
    }
    if (!server.writeFile("/bench/.keep", "")) return fail("cannot prepare the server root");
    char dir[] = "/tmp/orvelan-bench-XXXXXX";
    if (!mkdtemp(dir)) return fail("mkdtemp");
    const std::string local = std::string(dir) + "/local.bin",
                      back = std::string(dir) + "/back.bin", copy = std::string(dir) + "/copy.bin";
    const size_t size = options.megabytes << 20;
    if (!writeFile(local, size)) return fail("cannot write the local file");
    const char* host = TestServer::host();

    double put = 1e30, get = 1e30, tcpSynced = 1e30, tcp = 1e30;
    for (int round = 0; round < options.rounds; ++round) {
        auto start = Clock::now();
        if (vxPutRemoteFile(host, local.c_str(), "/bench/big.bin") != 0)
            return fail("vxPutRemoteFile");
        put = std::min(put, seconds(Clock::now() - start));
        start = Clock::now();
        if (vxGetRemoteFile(host, "/bench/big.bin", back.c_str()) != 0)
            return fail("vxGetRemoteFile");
        get = std::min(get, seconds(Clock::now() - start));
        double synced = tcpFileCopy(local, copy, true), plain = tcpFileCopy(local, copy, false);
        if (synced < 0 || plain < 0) return fail("plain TCP copy");
        tcpSynced = std::min(tcpSynced, synced);
        tcp = std::min(tcp, plain);
    }
    if (!sameContent(local, back) || !sameContent(local, server.local("/bench/big.bin")))
        return fail("transferred bytes differ");

    auto rate = [&](double s) { return static_cast<double>(size) / 1e6 / s; };
    printf("transfer of %zu MiB over loopback, best of %d rounds (MB = 10^6 bytes):\n",
           options.megabytes, options.rounds);
    printf("  vxPutRemoteFile        %8.1f MB/s\n", rate(put));
    printf("  vxGetRemoteFile        %8.1f MB/s\n", rate(get));
    printf("  TCP copy, synced       %8.1f MB/s   (the server syncs an uploaded file)\n",
           rate(tcpSynced));
    printf("  TCP copy               %8.1f MB/s\n", rate(tcp));
    printf("  ratio upload/synced TCP %.2f, fetch/TCP %.2f\n", tcpSynced / put, tcp / get);

    std::vector<double> remote =
        latencies(options.execRuns, [&] { return vxRemoteExec(host, "true") == 0; });
    if (remote.empty()) {
        fprintf(stderr, "vxd: %s\n", server.stderrText().c_str());
        return fail("vxRemoteExec");
    }
    std::vector<double> shell = latencies(options.execRuns, spawnShellTrue);
    if (shell.empty()) return fail("/bin/sh -c true");
    printf("command \"true\", %d runs:\n", options.execRuns);
    printf("  vxRemoteExec           median %7.2f ms   p95 %7.2f ms\n", percentile(remote, 0.5),
           percentile(remote, 0.95));
    printf("  local /bin/sh -c true  median %7.2f ms   p95 %7.2f ms\n", percentile(shell, 0.5),
           percentile(shell, 0.95));
    printf("  ratio remote/local median %.2f, p95 %.2f\n",
           percentile(remote, 0.5) / percentile(shell, 0.5),
           percentile(remote, 0.95) / percentile(shell, 0.95));

    // Where the time of one remote command goes: each step of vxRemoteExec on its own, and one
    // portmapper look-up (which every step's client makes first) beside them.
    std::vector<double> ask, exec, release;
    for (int i = 0; i < options.execRuns; ++i) {
        auto t0 = Clock::now();
        unsigned long number = vxAskServer(host, VXPROG_MAIN);
        auto t1 = Clock::now();
        bool ok = number != 0 && vxExec(host, "true", number) == 0;
        auto t2 = Clock::now();
        if (number) vxReleaseServer(host, number);
        auto t3 = Clock::now();
        if (!ok) return fail("vxExec");
        ask.push_back(seconds(t1 - t0) * 1000.0);
        exec.push_back(seconds(t2 - t1) * 1000.0);
        release.push_back(seconds(t3 - t2) * 1000.0);
    }
    std::vector<double> lookup =
        latencies(options.execRuns, [&] { return testRegisteredPort(VXPROG_MAIN) != 0; });
    printf("  its steps, median: ask %.2f ms, exec %.2f ms, release %.2f ms; "
           "one portmapper look-up %.2f ms\n",
           percentile(ask, 0.5), percentile(exec, 0.5), percentile(release, 0.5),
           percentile(lookup, 0.5));
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        long value = strtol(argv[i + 1], nullptr, 10);
        if (name == "--mib" && value > 0 && value <= 1024)
            options.megabytes = static_cast<size_t>(value);
        else if (name == "--rounds" && value > 0 && value <= 20)
            options.rounds = static_cast<int>(value);
        else if (name == "--exec-runs" && value > 0 && value <= 10000)
            options.execRuns = static_cast<int>(value);
        else {
            fprintf(
                stderr,
                "usage: remote_bench [--mib 1..1024] [--rounds 1..20] [--exec-runs 1..10000]\n");
            return 2;
        }
    }
    if (argc % 2 == 0) {
        fprintf(stderr,
                "usage: remote_bench [--mib 1..1024] [--rounds 1..20] [--exec-runs 1..10000]\n");
        return 2;
    }
    return run(options);
}
