// Benchmark of the link over SSH on loopback against a real sshd in front of a real vxd: a
// remote command through SSH beside the same command on the direct link to the same server,
// and a file transfer through SSH beside scp of the same file over one multiplexed connection
// to the same sshd. Run through bench/run-remote.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <rpc/rpc.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "remote/vx_ssh.h"
#include "tests/support/ssh_server.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    size_t megabytes = 64;
    int rounds = 3;
    int execRuns = 200;
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double p95(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * 95 / 100)];
}

// Milliseconds of each vxRemoteExec "true" at host; empty when one failed.
std::vector<double> execLatencies(const std::string& host, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        if (vxRemoteExec(host.c_str(), "true") != 0) return {};
        ms.push_back(seconds(Clock::now() - start) * 1000.0);
    }
    return ms;
}

// Seconds of a shell command (best of rounds); negative when it failed.
double bestOf(int rounds, const std::string& command) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        if (std::system(command.c_str()) != 0) return -1;
        best = std::min(best, seconds(Clock::now() - start));
    }
    return best;
}

// Where the time of one remote command through SSH goes: each step of vxRemoteExec on its own,
// and one channel through the master (greeting and stdio forward, no call) beside them.
void printSteps(const std::string& host, int runs) {
    std::vector<double> ask, exec, release, channel;
    for (int i = 0; i < runs; ++i) {
        auto t0 = Clock::now();
        unsigned long number = vxAskServer(host.c_str(), VXPROG_MAIN);
        auto t1 = Clock::now();
        bool ok = number != 0 && vxExec(host.c_str(), "true", number) == 0;
        auto t2 = Clock::now();
        if (number) vxReleaseServer(host.c_str(), number);
        auto t3 = Clock::now();
        if (!ok) return;
        ask.push_back(seconds(t1 - t0) * 1000.0);
        exec.push_back(seconds(t2 - t1) * 1000.0);
        release.push_back(seconds(t3 - t2) * 1000.0);
        vxremote::Deadline deadline(vxCallTimeout());
        vxremote::WaitScope scope;
        int fd = -1, control = -1;
        auto t4 = Clock::now();
        if (vxremote::openSshChannel(host.c_str(), PMAPPORT, deadline, scope, &fd, &control) !=
            vxremote::SshResult::Ok)
            return;
        channel.push_back(seconds(Clock::now() - t4) * 1000.0);
        close(fd);
        close(control);
    }
    printf("  its steps through SSH, median: ask %.2f ms, exec %.2f ms, release %.2f ms; "
           "one channel %.2f ms\n",
           median(ask), median(exec), median(release), median(channel));
}

int fail(const char* what) {
    fprintf(stderr, "remote_ssh_bench: %s: %s\n", what, vxLastError().text);
    return 1;
}

int run(const Options& options) {
    SshTestServer ssh({}, false); // the same vxd is reachable directly and through sshd
    if (!ssh.running()) {
        fprintf(stderr, "remote_ssh_bench: %s\n", ssh.error().c_str());
        return 1;
    }
    if (!ssh.trustHostKey() || !ssh.server().writeFile("/bench/.keep", ""))
        return fail("cannot prepare");
    setenv("ORVELAN_SSH_CONFIG", ssh.clientConfig().c_str(), 1);
    // The relay that the build made (ORVELAN_SSH_RELAY=none: ssh connects by itself).
    setenv("ORVELAN_SSH_RELAY", ORVELAN_SSH_RELAY_PROGRAM, 0);
    printf("relay in front of ssh: %s\n", getenv("ORVELAN_SSH_RELAY"));
    const std::string direct = TestServer::host(), tunnel = ssh.destination();

    if (vxRemoteExec(tunnel.c_str(), "true") != 0) return fail("first command through SSH");
    std::vector<double> viaDirect = execLatencies(direct, options.execRuns);
    std::vector<double> viaSsh = execLatencies(tunnel, options.execRuns);
    if (viaDirect.empty() || viaSsh.empty()) return fail("vxRemoteExec");
    printf("command \"true\", %d runs each, the same vxd:\n", options.execRuns);
    printf("  direct link            median %7.2f ms   p95 %7.2f ms\n", median(viaDirect),
           p95(viaDirect));
    printf("  through SSH            median %7.2f ms   p95 %7.2f ms\n", median(viaSsh),
           p95(viaSsh));
    const double commandRatio = median(viaSsh) / median(viaDirect);
    printf("  ratio SSH/direct median %.2f, p95 %.2f\n", commandRatio,
           p95(viaSsh) / p95(viaDirect));
    printSteps(tunnel, options.execRuns);

    char dir[] = "/tmp/orvelan-sshbench-XXXXXX";
    if (!mkdtemp(dir)) return fail("mkdtemp");
    const std::string local = std::string(dir) + "/local.bin",
                      back = std::string(dir) + "/back.bin";
    const std::string make =
        "head -c " + std::to_string(options.megabytes << 20) + " /dev/urandom > '" + local + "'";
    if (std::system(make.c_str()) != 0) return fail("cannot write the local file");
    double put = 1e30, get = 1e30;
    for (int round = 0; round < options.rounds; ++round) {
        auto start = Clock::now();
        if (vxPutRemoteFile(tunnel.c_str(), local.c_str(), "/bench/big.bin") != 0)
            return fail("vxPutRemoteFile");
        put = std::min(put, seconds(Clock::now() - start));
        start = Clock::now();
        if (vxGetRemoteFile(tunnel.c_str(), "/bench/big.bin", back.c_str()) != 0)
            return fail("vxGetRemoteFile");
        get = std::min(get, seconds(Clock::now() - start));
    }
    if (std::system(("cmp -s '" + local + "' '" + back + "'").c_str()) != 0)
        return fail("fetched bytes differ");

    // scp over a master connection of its own to the same sshd, so that no handshake is timed.
    const std::string control = std::string(dir) + "/c";
    const std::string sshOptions = "-F '" + ssh.clientConfig() + "' -o ControlPath='" + control +
                                   "' -P " + std::to_string(ssh.port());
    const std::string target = tunnel.substr(6, tunnel.rfind(':') - 6);
    if (std::system(("ssh -F '" + ssh.clientConfig() + "' -p " + std::to_string(ssh.port()) +
                     " -M -S '" + control + "' -f -N " + target)
                        .c_str()) != 0)
        return fail("scp's master connection");
    const std::string remote = ssh.server().local("/bench/scp.bin");
    const double scpPut = bestOf(options.rounds, "scp -q " + sshOptions + " '" + local + "' " +
                                                     target + ":'" + remote + "'");
    const double scpGet = bestOf(options.rounds, "scp -q " + sshOptions + " " + target + ":'" +
                                                     remote + "' '" + back + "'");
    std::system(("ssh -S '" + control + "' -O exit " + target + " 2>/dev/null").c_str());
    if (scpPut < 0 || scpGet < 0) return fail("scp");

    auto rate = [&](double s) { return static_cast<double>(options.megabytes << 20) / 1e6 / s; };
    printf("transfer of %zu MiB through SSH on loopback, best of %d rounds (MB = 10^6 bytes):\n",
           options.megabytes, options.rounds);
    printf("  vxPutRemoteFile        %8.1f MB/s   scp up   %8.1f MB/s   ratio %.2f\n", rate(put),
           rate(scpPut), scpPut / put);
    printf("  vxGetRemoteFile        %8.1f MB/s   scp down %8.1f MB/s   ratio %.2f\n", rate(get),
           rate(scpGet), scpGet / get);
    const double putRatio = scpPut / put, getRatio = scpGet / get;
    printf("targets: (a) command median SSH/direct %.2f <= 3: %s; (b) transfer/scp up %.2f, down "
           "%.2f >= 0.5: %s\n",
           commandRatio, commandRatio <= 3 ? "met" : "NOT met", putRatio, getRatio,
           putRatio >= 0.5 && getRatio >= 0.5 ? "met" : "NOT met");
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    vxSshDisconnect();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const int value = atoi(argv[i + 1]);
        if (value <= 0) continue;
        if (name == "--mib") options.megabytes = static_cast<size_t>(value);
        if (name == "--rounds") options.rounds = value;
        if (name == "--exec-runs") options.execRuns = value;
    }
    return run(options);
}
