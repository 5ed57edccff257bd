// The remote link's bounds against a server that does not answer: a reference server stopped
// with SIGSTOP and the hostile server's no-reply mode. Every kind of call ends within its limit
// with its recorded cause, leaves no partial local file and no instance registered; a cancel
// ends a wait at once; and a command on the server ends when its client gives up.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "tests/support/hostile_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char* const HOST = TestServer::host();
constexpr int kLimitMs = 1000;

bool localExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Runs op and returns how long it took; its result goes to *result.
milliseconds timed(const std::function<int()>& op, int* result) {
    const Clock::time_point start = Clock::now();
    *result = op();
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// Processes whose command line is exactly words (NUL-separated in /proc/PID/cmdline).
int countProcesses(const std::string& words) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(e.path() / "cmdline", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        n += text.str() == words;
    }
    return n;
}

bool waitFor(const std::function<bool()>& done, int ms) {
    const Clock::time_point end = Clock::now() + milliseconds(ms);
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

class Bounded : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.ok());
        vxSetCallTimeout(kLimitMs);
        vxSetCommandTimeout(kLimitMs);
        vxResetCancel();
        vxClearError();
    }
    void TearDown() override {
        vxSetCallTimeout(0);
        vxSetCommandTimeout(0);
    }
    TempDir m_tmp{"orvelan-bounded"};
};

struct Kind {
    const char* name;
    std::function<int(const std::string& local)> run;
};

std::vector<Kind> everyKind() {
    return {
        {"exec", [](const std::string&) { return vxRemoteExec(HOST, "true"); }},
        {"fetch",
         [](const std::string& local) { return vxGetRemoteFile(HOST, "f.txt", local.c_str()); }},
        {"upload",
         [](const std::string& local) { return vxPutRemoteFile(HOST, local.c_str(), "up.txt"); }},
        {"counters",
         [](const std::string&) {
             char out[256];
             return vxNetCountersProg(HOST, out, sizeof out, VXPROG_MAIN);
         }},
        {"crypt",
         [](const std::string&) {
             char out[64];
             return vxRemoteCrypt(HOST, "secret", "ab", out, sizeof out);
         }},
    };
}

// A stopped server: each kind fails within the limit (the ask or the call, then a release of
// at most the limit) as a call that timed out; once the server goes on, the link works again
// and nothing it handed out stays registered.
TEST_F(Bounded, AStoppedServerFailsEveryKindOfCallInTime) {
    TestServer server;
    ASSERT_TRUE(server.running()) << server.error();
    ASSERT_TRUE(server.writeFile("f.txt", "data"));
    const std::string upload = m_tmp.write("up.txt", "upload\n");
    server.pause();
    for (const Kind& kind : everyKind()) {
        SCOPED_TRACE(kind.name);
        const std::string local = kind.name == std::string("upload") ? upload : m_tmp.file("got");
        vxClearError();
        int rc = 0;
        milliseconds took = timed([&] { return kind.run(local); }, &rc);
        EXPECT_EQ(rc, -1);
        EXPECT_LT(took.count(), 2 * kLimitMs + 500);
        EXPECT_EQ(vxLastError().code, RPC_TIMEDOUT) << vxLastError().text;
        EXPECT_EQ(vxLastError().kind, VX_KIND_RPC);
        EXPECT_NE(std::string(vxLastError().text).find("RPC: Timed out ("), std::string::npos)
            << vxLastError().text;
        if (kind.name != std::string("upload")) {
            EXPECT_FALSE(localExists(local));
        }
    }
    // An instance held across the stop: its transfer calls and its release end in time too.
    server.resume();
    const unsigned long instance = vxAskServer(HOST, VXPROG_MAIN);
    ASSERT_NE(instance, 0u) << vxLastError().text;
    server.pause();
    const std::string got = m_tmp.file("held");
    int rc = 0;
    milliseconds took =
        timed([&] { return vxReceiveFile(HOST, "f.txt", got.c_str(), instance); }, &rc);
    EXPECT_EQ(rc, -1);
    EXPECT_LT(took.count(), kLimitMs + 500);
    EXPECT_STREQ(vxLastError().text, "RPC: Timed out (clnt_call vxRPC_FILOPEN_RDONLY) !");
    EXPECT_FALSE(localExists(got));
    took = timed([&] { return vxSendFile(HOST, upload.c_str(), "up.txt", instance); }, &rc);
    EXPECT_EQ(rc, -1);
    EXPECT_STREQ(vxLastError().text, "RPC: Timed out (clnt_call: vxFILOPEN_NEW) !");
    took = timed(
        [&] {
            vxReleaseServer(HOST, instance);
            return 0;
        },
        &rc);
    EXPECT_LT(took.count(), kLimitMs + 500);

    // Going on, the server takes the release that reached it and runs none of the calls whose
    // clients gave up; the link works as before.
    server.resume();
    EXPECT_EQ(vxRemoteExec(HOST, "true"), 0) << vxLastError().text;
    EXPECT_TRUE(waitFor([&] { return testRegisteredPort(instance) == 0; }, 5000));
    EXPECT_FALSE(server.exists("up.txt"));
    EXPECT_NE(server.logText().find("(client gone: not run)"), std::string::npos);
    const std::string log = server.logText();
    size_t asks = 0, releases = 0;
    for (size_t at = 0; (at = log.find(" 5 ASK -> ", at)) != std::string::npos; ++at)
        ++asks;
    for (size_t at = 0; (at = log.find(" released (", at)) != std::string::npos; ++at)
        ++releases;
    EXPECT_EQ(asks, releases) << log;
}

// The hostile server keeps every connection open without an answer: the same bounds.
TEST_F(Bounded, ANoReplyServerFailsEveryKindOfCallInTime) {
    HostileServer server(HostileMode::NoReply, 60000);
    ASSERT_TRUE(server.running()) << server.error();
    const std::string upload = m_tmp.write("up.txt", "upload\n");
    for (const Kind& kind : everyKind()) {
        SCOPED_TRACE(kind.name);
        const std::string local = kind.name == std::string("upload") ? upload : m_tmp.file("got");
        vxClearError();
        int rc = 0;
        milliseconds took = timed([&] { return kind.run(local); }, &rc);
        EXPECT_EQ(rc, -1);
        EXPECT_LT(took.count(), 2 * kLimitMs + 500);
        EXPECT_EQ(vxLastError().code, RPC_TIMEDOUT) << vxLastError().text;
        if (kind.name != std::string("upload")) {
            EXPECT_FALSE(localExists(local));
        }
    }
    EXPECT_TRUE(server.outstanding().empty());
}

// A cancel from another thread ends a wait at once, the instance is still released, and the
// next operation is not affected; a cancel that finds no wait fails the next one only.
TEST_F(Bounded, ACancelEndsTheWaitInProgressAtOnce) {
    vxSetCallTimeout(30000);
    vxSetCommandTimeout(30000);
    TestServer server;
    ASSERT_TRUE(server.running()) << server.error();
    std::thread canceller([] {
        std::this_thread::sleep_for(milliseconds(300));
        vxCancel();
    });
    int rc = 0;
    milliseconds took = timed([] { return vxRemoteExec(HOST, "sleep 20"); }, &rc);
    canceller.join();
    EXPECT_EQ(rc, -1);
    EXPECT_LT(took.count(), 300 + 1500);
    EXPECT_EQ(vxLastError().code, VX_CANCELLED);
    EXPECT_STREQ(vxLastError().text, "RPC: Cancelled (clnt_call (4 function)) !");
    EXPECT_EQ(vxRemoteExec(HOST, "exit 4"), 4);

    vxCancel();
    EXPECT_EQ(vxRemoteExec(HOST, "true"), -1);
    EXPECT_EQ(vxLastError().code, VX_CANCELLED);
    EXPECT_EQ(vxRemoteExec(HOST, "true"), 0);
    vxCancel();
    vxResetCancel();
    EXPECT_EQ(vxRemoteExec(HOST, "true"), 0);
    EXPECT_TRUE(waitFor(
        [] {
            return countProcesses(std::string("sleep\0"
                                              "20\0",
                                              9)) == 0;
        },
        3000));
}

// A command that outlives its client's limit: the call fails as timed out, and the server
// ends the command (its process group) when the client's connection closes.
TEST_F(Bounded, ACommandEndsWhenItsClientGivesUp) {
    TestServer server;
    ASSERT_TRUE(server.running()) << server.error();
    const std::string sleeper("sleep\0"
                              "31.5\0",
                              11);
    int rc = 0;
    milliseconds took = timed([] { return vxRemoteExec(HOST, "sleep 31.5"); }, &rc);
    EXPECT_EQ(rc, -1);
    EXPECT_GE(took.count(), kLimitMs - 50);
    EXPECT_LT(took.count(), 2 * kLimitMs + 500);
    EXPECT_EQ(vxLastError().code, RPC_TIMEDOUT);
    EXPECT_TRUE(waitFor([&] { return countProcesses(sleeper) == 0; }, 3000));
    EXPECT_NE(server.logText().find("client gone: killed sleep 31.5"), std::string::npos)
        << server.logText();
    EXPECT_EQ(vxRemoteExec(HOST, "true"), 0) << vxLastError().text;
}

} // namespace
