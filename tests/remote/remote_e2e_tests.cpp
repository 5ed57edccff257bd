// End-to-end tests of the remote link against a real rpcbind and vxd: commands, transfers,
// encryption, counters, the server-side ping and the failure paths of the link.
#include <chrono>
#include <crypt.h>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace {

const char* const HOST = TestServer::host();

bool localExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Bytes that differ from position to position, so a misplaced block shows.
std::string patterned(size_t size) {
    std::string data(size, '\0');
    uint32_t x = 2463534242u;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = static_cast<char>(x);
    }
    return data;
}

class RemoteLink : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.running()) << m_server.error();
        ASSERT_TRUE(m_tmp.ok());
        m_local = m_tmp.str();
        ASSERT_TRUE(m_server.writeFile("/data/.keep", ""));
        vxClearError();
    }

    std::string localPath(const char* name) const { return m_local + "/" + name; }

    // Every instance vxd handed out (its daemon log's ASK) was released and is gone from rpcbind.
    // The server logs and unregisters a release just after its reply, so this waits for it (5 s
    // at most).
    void expectAllInstancesReleased() const {
        const InstanceLedger ledger = waitForReleases(m_server);
        const std::set<std::string>& asked = ledger.asked;
        const std::set<std::string>& released = ledger.released;
        EXPECT_FALSE(asked.empty());
        EXPECT_EQ(asked, released);
        for (const std::string& number : asked)
            EXPECT_EQ(testRegisteredPort(std::stoul(number, nullptr, 16)), 0) << number;
    }

    TestServer m_server;
    TempDir m_tmp{"orvelan-remote"};
    std::string m_local;
};

// The procedures vxd served (number and name, "refused" for a caller it turned away), in order,
// from its daemon log.
std::string servedProcedures(const TestServer& server) {
    std::istringstream log(server.logText());
    std::regex request(" 0x[0-9a-f]{8} ([0-9]+) ([A-Za-z_?]+|refused)( ([0-9]+) bytes)?");
    std::string out;
    std::smatch match;
    for (std::string line; std::getline(log, line);) {
        if (!std::regex_search(line, match, request)) continue;
        out += match[1].str() + " " + match[2].str();
        if (match[4].matched) out += " " + match[4].str();
        out += "\n";
    }
    return out;
}

TEST_F(RemoteLink, TransfersKeepEveryByteAtBlockBoundaries) {
    // Largest first, so that every fetch replaces a longer local file (of another mode).
    const std::string up = localPath("up.bin"), down = localPath("down.bin");
    for (size_t size : {size_t{3000000}, size_t{300001}, size_t{300000}, size_t{1}, size_t{0}}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string data = patterned(size);
        std::ofstream(up, std::ios::binary) << data;

        const size_t before = servedProcedures(m_server).size();
        ASSERT_EQ(vxPutRemoteFile(HOST, up.c_str(), "/data/file.bin"), 0) << vxLastError().text;
        EXPECT_TRUE(m_server.readFile("/data/file.bin") == data);
        // Full blocks, then the first short one (an empty one after a whole number of blocks).
        std::string blocks;
        for (size_t i = 0; i < size / VX_BLOCK_MAX; i++)
            blocks += "10 WRITE 300000\n";
        blocks += "10 WRITE " + std::to_string(size % VX_BLOCK_MAX) + "\n";
        EXPECT_EQ(servedProcedures(m_server).substr(before),
                  "5 ASK\n7 FILOPEN_NEW\n" + blocks + "8 FILCLOS\n9 RELEASE\n");

        ASSERT_EQ(vxGetRemoteFile(HOST, "/data/file.bin", down.c_str()), 0) << vxLastError().text;
        EXPECT_TRUE(readFileBytes(down) == data);
        struct stat st;
        ASSERT_EQ(stat(down.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        chmod(down.c_str(), 0644);
    }
    expectAllInstancesReleased();
}

// A server that turns this caller away: the instance request fails, and nothing is released.
TEST(RemoteRefused, NoInstanceMeansNoRelease) {
    TestServerOptions options;
    options.extraArgs = {"--allow", "10.9.9.0/24"};
    TestServer server(options);
    ASSERT_TRUE(server.running()) << server.error();
    ASSERT_TRUE(server.writeFile("there.txt", "data"));
    EXPECT_EQ(vxRemoteExec(HOST, "touch made"), -1);
    EXPECT_EQ(vxLastError().kind, 7);
    TempDir local("orvelan-refused");
    ASSERT_TRUE(local.ok());
    const std::string down = local.file("there.txt");
    EXPECT_EQ(vxGetRemoteFile(HOST, "there.txt", down.c_str()), -1);
    EXPECT_FALSE(localExists(down));
    EXPECT_FALSE(server.exists("made"));
    EXPECT_EQ(servedProcedures(server), "5 refused\n5 refused\n");
}

// A block the server refuses (here one over its upload limit): the server's code comes back
// recorded with its message, the old file stays, and nothing is shown: standard output is
// orvelanctl's data channel.
TEST(RemoteRefused, RefusedBlockIsRecordedAndPrintsNothing) {
    TestServerOptions options;
    options.extraArgs = {"--max-upload", "1000"};
    TestServer server(options);
    ASSERT_TRUE(server.running()) << server.error();
    ASSERT_TRUE(server.writeFile("/data/list", "old\n"));
    TempDir local("orvelan-refused-block");
    ASSERT_TRUE(local.ok());
    const std::string big = local.write("big", std::string(1001, 'b'));
    vxClearError();
    testing::internal::CaptureStdout();
    int rc = vxPutRemoteFile(HOST, big.c_str(), "/data/list");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(rc, EFBIG);
    EXPECT_EQ(vxLastError().code, EFBIG);
    EXPECT_STREQ(vxLastError().text, "File too large (/data/list) !");
    EXPECT_EQ(server.readFile("/data/list"), "old\n");
    EXPECT_EQ(servedProcedures(server),
              "5 ASK\n7 FILOPEN_NEW\n10 WRITE 1001\n8 FILCLOS\n9 RELEASE\n");
}

// Procedure 31 answering value 1 with code 0 (the server's ping got no answer): -1, and the
// output file is not fetched. A stand-in "ping" first on vxd's PATH keeps every packet home.
TEST(RemotePingFails, ValueOneGivesMinusOneWithoutAFetch) {
    TempDir dir("orvelan-noping");
    ASSERT_TRUE(dir.ok());
    const std::string bin = dir.str();
    ASSERT_EQ(chmod(dir.write("ping", "#!/bin/sh\necho 'no answer'\nexit 1\n").c_str(), 0755), 0);
    const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (bin + ":" + path).c_str(), 1);
    TestServer server; // vxd takes this PATH along
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(server.running()) << server.error();
    vxClearError();
    const std::string out = bin + "/ping.txt";
    EXPECT_EQ(vxRemotePing(HOST, "127.0.0.1", out.c_str()), -1);
    EXPECT_FALSE(localExists(out));
    EXPECT_EQ(server.readFile("__vxPingFil.txt"), "no answer\n"); // the server did run it
    EXPECT_EQ(servedProcedures(server), "5 ASK\n31 PING\n9 RELEASE\n");
}

TEST_F(RemoteLink, FileErrorsOnEitherSideReleaseTheInstance) {
    // A missing server file: the server's error is recorded as it was sent.
    const std::string never = localPath("never.txt");
    EXPECT_EQ(vxGetRemoteFile(HOST, "/no/such/file", never.c_str()), 2);
    EXPECT_FALSE(localExists(never));
    EXPECT_EQ(vxLastError().code, 2);
    EXPECT_EQ(vxLastError().kind, 1);
    EXPECT_EQ(vxLastError().severity, 5);
    EXPECT_STREQ(vxLastError().text, vxLastReply().message);
    EXPECT_NE(std::string(vxLastError().text).find("No such file or directory"), std::string::npos)
        << vxLastError().text;

    ASSERT_TRUE(m_server.writeFile("there.txt", "data"));
    const std::string noDir = localPath("missing-dir/there.txt");
    EXPECT_EQ(vxGetRemoteFile(HOST, "there.txt", noDir.c_str()), -1);
    EXPECT_EQ(vxLastError().code, ENOENT);
    EXPECT_EQ(vxLastError().kind, 1);
    EXPECT_EQ(std::string(vxLastError().text), "No such file or directory (" + noDir + ") !");

    const std::string absent = localPath("absent.bin");
    EXPECT_EQ(vxPutRemoteFile(HOST, absent.c_str(), "/data/absent.bin"), -1);
    EXPECT_EQ(std::string(vxLastError().text), "No such file or directory (" + absent + ") !");
    EXPECT_FALSE(m_server.exists("/data/absent.bin"));

    // A directory opens for reading, and its first read fails: the server file stays.
    ASSERT_TRUE(m_server.writeFile("/data/kept.txt", "old"));
    EXPECT_EQ(vxPutRemoteFile(HOST, m_local.c_str(), "/data/kept.txt"), EISDIR);
    EXPECT_EQ(vxLastError().code, EISDIR);
    EXPECT_EQ(std::string(vxLastError().text), "Is a directory (" + m_local + ") !");
    EXPECT_EQ(m_server.readFile("/data/kept.txt"), "old");
    expectAllInstancesReleased();
}

TEST_F(RemoteLink, UploadThatCannotBeInstalledReportsTheServerError) {
    // While the upload waits on a pipe, a directory takes the target's name: the server cannot
    // install the file at the close.
    const std::string pipe = localPath("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::thread feeder([&] {
        int fd = open(pipe.c_str(), O_WRONLY);
        mkdir(m_server.local("/data/target").c_str(), 0755);
        if (fd >= 0) {
            EXPECT_EQ(write(fd, "abc", 3), 3);
            close(fd);
        }
    });
    EXPECT_EQ(vxPutRemoteFile(HOST, pipe.c_str(), "/data/target"), EISDIR);
    feeder.join();
    EXPECT_EQ(vxLastError().code, EISDIR);
    EXPECT_EQ(vxLastError().kind, 1);
    EXPECT_STREQ(vxLastError().text, vxLastReply().message);
    expectAllInstancesReleased();
}

TEST_F(RemoteLink, ExecReturnsCommandResultAndCommandsTravelUpTo128Bytes) {
    EXPECT_EQ(vxRemoteExec(HOST, "true"), 0);
    EXPECT_EQ(vxRemoteExec(HOST, "exit 7"), 7);
    EXPECT_EQ(vxRemoteExec(HOST, "exit 255"), -1); // indistinguishable from a failed link
    const std::string command = "echo " + std::string(124, 'x') + ">o"; // 131 bytes
    EXPECT_EQ(vxRemoteExec(HOST, command.c_str()), -1);
    EXPECT_EQ(vxLastError().code, RPC_CANTENCODEARGS);
    EXPECT_EQ(vxLastError().severity, 4);
    EXPECT_EQ(vxLastError().kind, 7);
    EXPECT_STREQ(vxLastError().text, "RPC: Can't encode arguments (clnt_call (4 function)) !");
    EXPECT_EQ(vxRemoteExec(HOST, (command.substr(0, 126) + ">o").c_str()), 0); // 128 bytes
    EXPECT_EQ(m_server.readFile("o"), std::string(121, 'x') + "\n");
    expectAllInstancesReleased();
}

TEST_F(RemoteLink, CryptCountersAndPing) {
    char out[VX_STRING_MAX + 1];
    ASSERT_EQ(vxRemoteCrypt(HOST, "titok123", "ab", out, sizeof out), 0) << vxLastError().text;
    EXPECT_STREQ(out, crypt("titok123", "ab"));
    // Only the first two characters of the salt count (callers pass a stored password).
    ASSERT_EQ(vxRemoteCrypt(HOST, "titok123", out, out, sizeof out), 0);
    EXPECT_STREQ(out, crypt("titok123", "ab"));

    char small[4];
    EXPECT_EQ(vxRemoteCrypt(HOST, "titok123", "ab", small, sizeof small), -1);
    EXPECT_EQ(vxLastError().code, 22);
    EXPECT_EQ(vxRemoteCrypt(HOST, std::string(126, 'p').c_str(), "ab", out, sizeof out), -1);
    EXPECT_STREQ(vxLastError().text, "Invalid argument in vxCryptProg");

    // Counters: name and two counters for each interface.
    EXPECT_EQ(vxNetCounters(HOST, out, sizeof out), 0);
    EXPECT_TRUE(std::regex_search(out, std::regex("(^| )lo [0-9]+ [0-9]+"))) << out;

    // The server's ping of loopback, its output fetched; a target it refuses fetches nothing.
    const std::string ping = localPath("ping.txt");
    ASSERT_EQ(vxRemotePing(HOST, "127.0.0.1", ping.c_str()), 0) << vxLastError().text;
    EXPECT_EQ(readFileBytes(ping), m_server.readFile("__vxPingFil.txt"));
    EXPECT_NE(readFileBytes(ping).find("127.0.0.1"), std::string::npos) << readFileBytes(ping);
    const std::string refused = localPath("refused.txt");
    EXPECT_EQ(vxRemotePing(HOST, "-f;rm", refused.c_str()), -1);
    EXPECT_FALSE(localExists(refused));
    expectAllInstancesReleased();
}

TEST_F(RemoteLink, ServerDyingMidUploadFailsTheCall) {
    // The local file is a pipe, so the server can be killed between two blocks for certain.
    const std::string pipe = localPath("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::thread feeder([&] {
        int fd = open(pipe.c_str(), O_WRONLY);
        const std::string block(VX_BLOCK_MAX, 'b');
        bool ok = fd >= 0 && write(fd, block.data(), block.size()) == ssize_t(block.size());
        // Wait (10 s at most) until the server took the first block, then kill it.
        for (int wait = 0; ok && wait < 1000; ++wait) {
            if (m_server.logText().find(" 10 WRITE 300000 bytes") != std::string::npos) break;
            usleep(10000);
        }
        usleep(100000);
        m_server.crash();
        if (ok) ok = write(fd, block.data(), block.size()) == ssize_t(block.size());
        if (fd >= 0) close(fd);
    });
    // The building block, so that the release (which cannot reach the dead server and records
    // that) does not replace the error of the write.
    const unsigned long instance = vxAskServer(HOST, VXPROG_MAIN);
    ASSERT_NE(instance, 0u);
    EXPECT_EQ(vxSendFile(HOST, pipe.c_str(), "/data/cut.bin", instance), -1);
    feeder.join();
    EXPECT_EQ(vxLastError().kind, 7);
    EXPECT_TRUE(std::regex_match(vxLastError().text,
                                 std::regex("RPC: Unable to (send|receive); errno = [A-Za-z ]+ "
                                            "\\(clnt_call: vxRPC_WRITE\\) !")))
        << vxLastError().text;
    EXPECT_FALSE(m_server.exists("/data/cut.bin"));
}

TEST_F(RemoteLink, StoppedServerRefusesAtOnceOrAfterRetries) {
    // An instance number of the stopped server: nobody serves it any more, even when another
    // vxd on this machine has taken over the main program number meanwhile.
    const unsigned long instance = vxAskServer(HOST, VXPROG_MAIN);
    ASSERT_NE(instance, 0u) << vxLastError().text;
    m_server.stop();
    const std::string subject = std::to_string(static_cast<int>(instance));

    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(vxAskServer(HOST, instance), 0u);
    auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(vxLastError().code, 111);
    EXPECT_EQ(vxLastError().kind, 7);
    EXPECT_EQ(vxLastError().severity, 2);
    EXPECT_STREQ(vxLastError().text, "RPC: Program not registered (127.0.0.1) !");

    EXPECT_EQ(vxExec(HOST, "true", instance), -1);
    auto called = std::chrono::steady_clock::now();
    EXPECT_EQ(vxLastError().code, 111);
    EXPECT_EQ(std::string(vxLastError().text),
              "RPC: Program not registered (127.0.0.1: " + subject + ") !");
    // 101 pauses of 20 ms lie between the attempts: the retrying call takes at least 2 s and
    // the single attempt less than that.
    EXPECT_GE(called - asked, std::chrono::milliseconds(2020));
    EXPECT_LT(asked - started, called - asked);

    const std::string down = localPath("x");
    EXPECT_EQ(vxReceiveFile(HOST, "x", down.c_str(), instance), -1);
    EXPECT_STREQ(vxLastError().text, "RPC: Program not registered (127.0.0.1) !");
    EXPECT_FALSE(localExists(down));
}

} // namespace
