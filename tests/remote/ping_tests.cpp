// Tests of the ICMP echo probe over loopback and inside network namespaces the tests create.
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <net/if.h>
#include <regex>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "tests/support/loopback.h"

namespace {

constexpr int NAMESPACE_UNAVAILABLE = 77; // child exit status: no namespace could be made

// The whole content of a temporary stream, which is closed.
std::string readAndClose(FILE* out) {
    rewind(out);
    std::ostringstream collected;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, out)) > 0)
        collected.write(buffer, n);
    fclose(out);
    return collected.str();
}

// Pings host into a temporary file; returns fnPing's result and the text written.
int pingInto(const char* host, int count, std::string& text) {
    FILE* out = tmpfile();
    if (!out) return -100;
    int result = fnPing(host, out, count);
    text = readAndClose(out);
    return result;
}

bool writeProc(const char* path, const char* value) {
    std::ofstream out(path);
    out << value;
    out.close();
    return static_cast<bool>(out);
}

// Runs body in a child process inside a network namespace of its own (loopback up), which the
// kernel removes when the child ends. The child's fnPing output comes back in text; the result
// is body's return value, or NAMESPACE_UNAVAILABLE.
template <class Body> int inOwnNetworkNamespace(Body body, std::string& text) {
    FILE* out = tmpfile();
    if (!out) return -100;
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0 || !bringLoopbackUp()) _exit(NAMESPACE_UNAVAILABLE);
        _exit(body(out) & 0xFF);
    }
    int status = 0;
    waitpid(child, &status, 0);
    text = readAndClose(out);
    return WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : -101;
}

TEST(Ping, LoopbackAnswersEachRequestInOrder) {
    std::string text;
    int result = pingInto("127.0.0.1", 2, text);
    if (result == -1 && (vxLastError().code == EPERM || vxLastError().code == EACCES))
        GTEST_SKIP() << "this user may open neither a raw nor a datagram ICMP socket";
    EXPECT_EQ(result, 0) << vxLastError().text;
    // Another process pinging loopback at the same time (other tests run in parallel) shows up
    // on a raw socket as replies with a foreign identifier; they are neither answers nor losses.
    const std::string foreign = "someone else's packet!\n";
    for (size_t at; (at = text.find(foreign)) != std::string::npos;)
        text.erase(at, foreign.size());
    // The whole datagram: the 20-byte IP header and the 44-byte echo, on either socket.
    std::regex lines("64 bytes from 127\\.0\\.0\\.1: icmp_seq = 0\\.  time: [0-9]+ ms \n"
                     "64 bytes from 127\\.0\\.0\\.1: icmp_seq = 1\\.  time: [0-9]+ ms \n");
    EXPECT_TRUE(std::regex_match(text, lines)) << text;
}

TEST(Ping, InvalidHostIsRefused) {
    std::string text;
    for (const char* host : {"", " 127.0.0.1"}) {
        vxClearError();
        EXPECT_EQ(pingInto(host, 1, text), -1);
        EXPECT_EQ(vxLastError().code, 22);
        EXPECT_EQ(vxLastError().severity, 2);
        EXPECT_EQ(vxLastError().kind, 8);
        EXPECT_STREQ(vxLastError().text, "Invalid argument in fnping");
        EXPECT_EQ(text, "");
    }
}

TEST(Ping, UnansweredRequestCountsOneLoss) {
    // 10.200.77.1 exists only on the loopback of the child's namespace, which ignores echoes.
    std::string text;
    int result = inOwnNetworkNamespace(
        [](FILE* out) {
            if (std::system("ip addr add 10.200.77.1/32 dev lo") != 0 ||
                !writeProc("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"))
                return NAMESPACE_UNAVAILABLE;
            return fnPing("10.200.77.1", out, 1);
        },
        text);
    if (result == NAMESPACE_UNAVAILABLE)
        GTEST_SKIP() << "cannot create a network namespace (needs CAP_SYS_ADMIN and iproute2)";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(text, "timed out\n");
}

// Without CAP_NET_RAW the probe falls back to an ICMP datagram socket, which the kernel allows
// to the groups of ping_group_range (set inside the namespace only); its answer line reports the
// whole datagram as the raw socket does.
TEST(Ping, DatagramSocketServesWithoutRawRight) {
    std::string text;
    int result = inOwnNetworkNamespace(
        [](FILE* out) {
            if (!writeProc("/proc/sys/net/ipv4/ping_group_range", "0 2147483647"))
                return NAMESPACE_UNAVAILABLE;
            struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
            struct __user_cap_data_struct data[2] = {};
            if (syscall(SYS_capget, &header, data) != 0) return NAMESPACE_UNAVAILABLE;
            data[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
            data[CAP_NET_RAW / 32].permitted &= ~(1u << (CAP_NET_RAW % 32));
            if (syscall(SYS_capset, &header, data) != 0) return NAMESPACE_UNAVAILABLE;
            if (socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0) return 90; // still privileged
            return fnPing("127.0.0.1", out, 1);
        },
        text);
    if (result == NAMESPACE_UNAVAILABLE)
        GTEST_SKIP() << "cannot create a network namespace or drop CAP_NET_RAW";
    EXPECT_EQ(result, 0) << text;
    EXPECT_TRUE(std::regex_match(
        text, std::regex("64 bytes from 127\\.0\\.0\\.1: icmp_seq = 0\\.  time: [0-9]+ ms \n")))
        << text;
}

} // namespace
