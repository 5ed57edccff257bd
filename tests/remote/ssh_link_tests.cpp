// End-to-end tests of the link over SSH: a real sshd on a loopback port of the test's own
// network, and behind it rpcbind and vxd in a network that only sshd reaches. The link itself,
// the data layer's edit sessions and orvelanctl go through it; host keys, authentication and a
// lost connection each fail with their own message.
#include <algorithm>
#include <chrono>
#include <crypt.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "lib/vx_err.h"
#include "params/def.h"
#include "remote/vx_remote.h"
#include "serverdata/edit_session.h"
#include "serverdata/server_data.h"
#include "stats/stat_query.h"
#include "stats/stat_result.h"
#include "tests/stats/access_log_lines.h"
#include "tests/support/console_run.h"
#include "tests/support/demo_root.h"
#include "tests/support/ssh_server.h"
#include "tests/support/temp_dir.h"
#include "winlib/vx_reg.h"

namespace fs = std::filesystem;

namespace {

int g_asked = 0;
std::string g_acceptOnly; // the fingerprint the question accepts ("" none)
int g_answerMs = 0;       // how long the person takes to answer

bool question(const char*, const char* fingerprint) {
    ++g_asked;
    std::this_thread::sleep_for(std::chrono::milliseconds(g_answerMs));
    return !g_acceptOnly.empty() && g_acceptOnly == fingerprint;
}

std::string bytes(size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
    return data;
}

class SshLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ssh.running()) << ssh.error();
        ASSERT_TRUE(tmp.ok());
        ASSERT_TRUE(buildDemoRoot(ssh.server(), rootOptions));
        home = fs::current_path();
        fs::create_directories(tmp.path() / "work");
        fs::current_path(tmp.path() / "work");
        setenv("ORVELAN_SSH_CONFIG", ssh.clientConfig().c_str(), 1);
        setenv("ORVELAN_SSH_RELAY", ORVELAN_SSH_RELAY_PROGRAM, 1);
        setenv("ORVELAN_REGISTRY", tmp.file("registry.reg").c_str(), 1);
        dest = ssh.destination();
        g_asked = 0;
        g_acceptOnly.clear();
        g_answerMs = 0;
        vxSetHostKeyQuestion(question);
        vxClearError();
    }
    void TearDown() override {
        vxSshDisconnect();
        vxSetHostKeyQuestion(nullptr);
        vxSetCallTimeout(0);
        fs::current_path(home);
        unsetenv("ORVELAN_SSH_CONFIG");
        unsetenv("ORVELAN_SSH_RELAY");
        unsetenv("ORVELAN_REGISTRY");
    }
    // The console connected to the server as its start-up does, through SSH.
    void connectConsole() {
        vxResetParams();
        serverData.Reset();
        ASSERT_TRUE(vxCopy(serverData.session.host, sizeof serverData.session.host, dest.c_str()));
        ASSERT_EQ(vxGetRemoteFile(dest.c_str(), "orvelan.cnf", "orvelan.cnf"), 0)
            << vxLastError().text;
        ASSERT_EQ(vxLoadParamFile("orvelan.cnf"), 0);
    }
    const TestServer& server() const { return ssh.server(); }
    std::string lastText() const { return vxLastError().text; }

    DemoRootOptions rootOptions;
    SshTestServer ssh;
    TempDir tmp{"sshlink"};
    fs::path home;
    std::string dest;
};

TEST_F(SshLinkTest, EverythingGoesThroughOneSshConnectionAndNothingAroundIt) {
    ASSERT_TRUE(ssh.trustHostKey());
    // Nothing of the server listens in this network: the direct link finds no portmapper.
    EXPECT_EQ(vxAskServer("127.0.0.1", VXPROG_MAIN), 0u);
    EXPECT_EQ(vxLastError().code, 111);

    char encrypted[64];
    ASSERT_EQ(vxRemoteCrypt(dest.c_str(), "titok", "wj", encrypted, sizeof encrypted), 0)
        << lastText();
    EXPECT_STREQ(encrypted, crypt("titok", "wj"));
    EXPECT_EQ(vxRemoteExec(dest.c_str(), "exit 3"), 3);

    const std::string up = bytes(3 * 1024 * 1024 + 17, 1);
    const std::string local = tmp.write("up.bin", up);
    ASSERT_EQ(vxPutRemoteFile(dest.c_str(), local.c_str(), "/l/up.bin"), 0) << lastText();
    EXPECT_TRUE(server().readFile("/l/up.bin") == up);
    ASSERT_EQ(vxGetRemoteFile(dest.c_str(), "/l/up.bin", tmp.file("down.bin").c_str()), 0);
    EXPECT_TRUE(readFileBytes(tmp.file("down.bin")) == up);

    char counters[4096];
    ASSERT_EQ(vxNetCounters(dest.c_str(), counters, sizeof counters), 0) << lastText();
    EXPECT_EQ(std::string(counters).rfind("lo ", 0), 0u) << counters;

    // A users page: load and save under the checkout locks.
    ASSERT_TRUE(server().writeFile("/l/apache/etc/groups", "staff d\n"));
    ASSERT_TRUE(server().writeFile("/l/apache/etc/users", "anna:staff:::::\n"));
    ASSERT_TRUE(server().writeFile("/l/apache/etc/userdata", "anna :Anna : : : : \n"));
    connectConsole();
    ASSERT_EQ(serverData.groups.Load(false), 1) << lastText();
    {
        EditSession session;
        ASSERT_EQ(session.Begin(SdList::Users), SD_DONE) << lastText();
        EXPECT_TRUE(server().exists("/l/apache/etc/users._vx_lck_"));
        UserRecord bela{};
        std::snprintf(bela.name, sizeof bela.name, "bela");
        bela.group = -1;
        ASSERT_EQ(serverData.users.Add(bela), 1);
        EXPECT_EQ(session.Commit(), SD_DONE) << lastText();
    }
    EXPECT_EQ(server().readFile("/l/apache/etc/users"), "anna:staff::::::\r\nbela:::::::\r\n");
    EXPECT_FALSE(server().exists("/l/apache/etc/users._vx_lck_"));
    EXPECT_FALSE(server().exists("/l/apache/etc/userdata._vx_lck_"));

    // All of it went through one master connection, and the host key was known: no question.
    EXPECT_EQ(ssh.clientProcesses().size(), 1u);
    EXPECT_EQ(g_asked, 0);
}

TEST_F(SshLinkTest, UnknownHostKeyIsAskedOnceAndAChangedOneIsAlwaysRefused) {
    const std::string fingerprint = ssh.hostFingerprint();
    ASSERT_EQ(fingerprint.rfind("SHA256:", 0), 0u);
    // Refused: the key is named by its fingerprint and nothing is written.
    EXPECT_EQ(vxRemoteExec(dest.c_str(), "true"), -1);
    EXPECT_EQ(lastText(), "SSH: Unknown host key " + fingerprint + "; refused (" + dest + ") !");
    EXPECT_EQ(vxLastError().code, 111);
    EXPECT_EQ(g_asked, 1);
    EXPECT_EQ(readFileBytes(ssh.knownHosts()), "");

    // Accepted once: known_hosts holds it, and a new connection does not ask again. The time
    // the answer takes is not counted against the call limit.
    g_acceptOnly = fingerprint;
    g_answerMs = 1500;
    vxSetCallTimeout(1000);
    EXPECT_EQ(vxRemoteExec(dest.c_str(), "true"), 0) << lastText();
    g_answerMs = 0;
    EXPECT_EQ(g_asked, 2);
    EXPECT_NE(readFileBytes(ssh.knownHosts()).find("[127.0.0.1]:" + std::to_string(ssh.port())),
              std::string::npos);
    vxSshDisconnect();
    EXPECT_EQ(vxRemoteExec(dest.c_str(), "true"), 0) << lastText();
    EXPECT_EQ(g_asked, 2);

    // A changed key is refused without a question, whatever the question would answer.
    ASSERT_TRUE(ssh.changeHostKey());
    g_acceptOnly = ssh.hostFingerprint();
    vxSshDisconnect();
    EXPECT_EQ(vxRemoteExec(dest.c_str(), "true"), -1);
    EXPECT_EQ(lastText(),
              "SSH: The server's host key has changed; refused (see known_hosts) (" + dest + ") !");
    EXPECT_EQ(g_asked, 2);
    EXPECT_TRUE(ssh.clientProcesses().empty());
}

TEST_F(SshLinkTest, AuthenticationAndReachFailuresHaveTheirOwnMessages) {
    ASSERT_TRUE(ssh.trustHostKey());
    ASSERT_TRUE(ssh.useWrongUserKey());
    EXPECT_EQ(vxAskServer(dest.c_str(), VXPROG_MAIN), 0u);
    EXPECT_EQ(lastText(), "SSH: Authentication failed (" + dest + ") !");

    // A port where nothing listens.
    unsigned short closed = 0;
    close(listenLoopback(&closed));
    const std::string nowhere = "ssh://root@127.0.0.1:" + std::to_string(closed);
    EXPECT_EQ(vxRemoteExec(nowhere.c_str(), "true"), -1);
    EXPECT_EQ(lastText().rfind("SSH: Host unreachable: ", 0), 0u) << lastText();
    EXPECT_NE(lastText().find("Connection refused"), std::string::npos) << lastText();
    EXPECT_EQ(g_asked, 0);
    EXPECT_TRUE(ssh.clientProcesses().empty());
}

// The master's command line, its arguments separated by spaces.
std::string commandLine(pid_t pid) {
    std::string text = readFileBytes("/proc/" + std::to_string(pid) + "/cmdline");
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

TEST_F(SshLinkTest, TheRelayServesUnlessTheConfigurationHasAProxyCommand) {
    ASSERT_TRUE(ssh.trustHostKey());
    ASSERT_EQ(vxRemoteExec(dest.c_str(), "true"), 0) << lastText();
    ASSERT_EQ(ssh.clientProcesses().size(), 1u);
    EXPECT_NE(commandLine(ssh.clientProcesses()[0])
                  .find("ProxyCommand='" + std::string(ORVELAN_SSH_RELAY_PROGRAM) +
                        "' '127.0.0.1' '" + std::to_string(ssh.port()) + "' "),
              std::string::npos)
        << commandLine(ssh.clientProcesses()[0]);
    EXPECT_EQ(ssh.relayProcesses().size(), 1u);
    vxSshDisconnect();
    for (int i = 0; i < 200 && !ssh.relayProcesses().empty(); ++i)
        usleep(10000);
    EXPECT_TRUE(ssh.relayProcesses().empty()); // it ends with its master

    // The administrator's own ProxyCommand (here a copy of the relay under another name, after
    // it leaves a mark) is what ssh uses; the link adds nothing.
    const std::string own = tmp.file("own-proxy");
    fs::copy_file(ORVELAN_SSH_RELAY_PROGRAM, own);
    ASSERT_TRUE(ssh.addClientConfig("  ProxyCommand /bin/sh -c 'echo used >> " + tmp.file("mark") +
                                    "; exec " + own + " %h %p'\n"));
    EXPECT_EQ(vxRemoteExec(dest.c_str(), "exit 4"), 4) << lastText();
    EXPECT_EQ(readFileBytes(tmp.file("mark")), "used\n");
    ASSERT_EQ(ssh.clientProcesses().size(), 1u);
    EXPECT_EQ(commandLine(ssh.clientProcesses()[0]).find("ProxyCommand="), std::string::npos)
        << commandLine(ssh.clientProcesses()[0]);
    EXPECT_TRUE(ssh.relayProcesses().empty());

    // A failed connect of the relay still names its cause.
    vxSshDisconnect();
    unsigned short closed = 0;
    close(listenLoopback(&closed));
    unsetenv("ORVELAN_SSH_CONFIG");
    const std::string nowhere = "ssh://root@127.0.0.1:" + std::to_string(closed);
    EXPECT_EQ(vxRemoteExec(nowhere.c_str(), "true"), -1);
    EXPECT_EQ(lastText(), "SSH: Host unreachable: connect to host 127.0.0.1 port " +
                              std::to_string(closed) + ": Connection refused (" + nowhere + ") !");
}

TEST_F(SshLinkTest, SshdKilledMidUploadLeavesTheFileWholeAndTheNextOperationReconnects) {
    ASSERT_TRUE(ssh.trustHostKey());
    const std::string old = "old content\n";
    ASSERT_TRUE(server().writeFile("/l/big.bin", old));
    const std::string big = bytes(64 * 1024 * 1024, 2);
    const std::string local = tmp.write("big.bin", big);
    ASSERT_EQ(vxRemoteExec(dest.c_str(), "true"), 0) << lastText(); // the master is up
    int result = 0;
    std::thread upload(
        [&] { result = vxPutRemoteFile(dest.c_str(), local.c_str(), "/l/big.bin"); });
    // Killed once the upload is under way: its temporary file beside the target has data (on a
    // busy machine the thread may start late, and a kill before the upload only makes the
    // upload start a new connection). 64 MiB take far longer than this wait at any speed.
    const std::filesystem::path dir = server().local("/l");
    bool underWay = false;
    for (int wait = 0; wait < 2000 && !underWay; ++wait) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
            if (entry.path().filename().string().rfind(".vxtmp.", 0) == 0 &&
                entry.file_size(ec) > 0)
                underWay = true;
        if (!underWay) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(underWay);
    ssh.killSessions();
    upload.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(lastText(), "SSH: Connection lost (" + dest + ") !");
    const std::string now = server().readFile("/l/big.bin");
    EXPECT_TRUE(now == old || now == big) << now.size();
    // A new master connection serves the next operation.
    EXPECT_EQ(vxRemoteExec(dest.c_str(), "true"), 0) << lastText();
}

class SshSaveTest : public SshLinkTest {
  protected:
    SshSaveTest() { rootOptions.userProc = "./post_slow"; }
};

TEST_F(SshSaveTest, SshdKilledMidSaveLeavesTheListWholeAndTheLocksReleasable) {
    ASSERT_TRUE(ssh.trustHostKey());
    ASSERT_TRUE(server().writeFile("post_slow", "#!/bin/sh\nsleep 2\n"));
    ASSERT_EQ(chmod(server().local("post_slow").c_str(), 0755), 0);
    ASSERT_TRUE(server().writeFile("/l/apache/etc/groups", "staff d\n"));
    ASSERT_TRUE(server().writeFile("/l/apache/etc/users", "anna:staff:::::\n"));
    ASSERT_TRUE(server().writeFile("/l/apache/etc/userdata", "anna :Anna : : : : \n"));
    connectConsole();
    ASSERT_EQ(serverData.groups.Load(false), 1) << lastText();
    EditSession session;
    ASSERT_EQ(session.Begin(SdList::Users), SD_DONE) << lastText();
    UserRecord bela{};
    std::snprintf(bela.name, sizeof bela.name, "bela");
    bela.group = -1;
    ASSERT_EQ(serverData.users.Add(bela), 1);
    // The connection goes while the post-save command runs.
    std::thread killer([this] {
        for (int i = 0; i < 300 && serverCommands(server()).find("post_slow") == std::string::npos;
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ssh.killSessions();
    });
    const SdResult saved = session.Commit();
    killer.join();
    EXPECT_EQ(saved, SD_SERVER) << lastText();
    const std::string users = server().readFile("/l/apache/etc/users");
    EXPECT_TRUE(users == "anna:staff:::::\n" || users == "anna:staff::::::\r\nbela:::::::\r\n")
        << users;
    // The console still holds the locks it believes it holds, and gives them back.
    EXPECT_TRUE(session.IsOpen());
    EXPECT_TRUE(server().exists("/l/apache/etc/users._vx_lck_"));
    EXPECT_EQ(session.Abandon(), SD_DONE) << lastText();
    EXPECT_FALSE(server().exists("/l/apache/etc/users._vx_lck_"));
    EXPECT_FALSE(server().exists("/l/apache/etc/userdata._vx_lck_"));
}

TEST(SshStats, AStatisticsQueryRunsThroughSsh) {
    TestServerOptions options;
    options.statsTool = true;
    SshTestServer ssh(options);
    ASSERT_TRUE(ssh.running()) << ssh.error();
    ASSERT_TRUE(ssh.trustHostKey());
    TempDir local("sshstats");
    const fs::path previous = fs::current_path();
    fs::current_path(local.path());
    setenv("ORVELAN_SSH_CONFIG", ssh.clientConfig().c_str(), 1);
    const time_t t = localTime(2024, 5, 10, 10, 5);
    ASSERT_TRUE(ssh.server().writeFile("/var/log/squid/access.log",
                                       accessLogLine(t, 1000, "alice", "http://www.index.hu/a") +
                                           accessLogLine(t + 3600, 4000, "bob", "http://hvg.hu/")));
    const StatRequest request{StatQuery{STAT_KIND_TRAFFIC, STAT_RES_HOUR, STAT_SCOPE_ALL, 2024, 5,
                                        10, 10, 0, 2024, 5, 10, 11, 59},
                              nullptr, false};
    StatResult result;
    EXPECT_EQ(RunStatQuery(ssh.destination().c_str(), request, &result), StatOutcome::Chart)
        << vxLastError().text;
    EXPECT_EQ(result.values, (std::vector<double>{1000, 4000}));
    EXPECT_FALSE(ssh.server().exists("/tmp/infile"));
    vxSshDisconnect();
    unsetenv("ORVELAN_SSH_CONFIG");
    fs::current_path(previous);
}

// A command's release goes over the connection of its last call; one that the server has closed
// meanwhile (here after a second without a call) gives the release to a new connection.
TEST(SshRelease, TheCommandsConnectionTakesItsReleaseOrANewOneWhenTheServerClosedIt) {
    TestServerOptions options;
    options.extraArgs = {"--connection-timeout", "1"};
    SshTestServer ssh(options);
    ASSERT_TRUE(ssh.running()) << ssh.error();
    ASSERT_TRUE(ssh.trustHostKey());
    setenv("ORVELAN_SSH_CONFIG", ssh.clientConfig().c_str(), 1);
    setenv("ORVELAN_SSH_RELAY", ORVELAN_SSH_RELAY_PROGRAM, 1);
    const std::string dest = ssh.destination();
    EXPECT_EQ(vxRemoteExec(dest.c_str(), "exit 5"), 5) << vxLastError().text;
    const unsigned long instance = vxAskServer(dest.c_str(), VXPROG_MAIN);
    ASSERT_NE(instance, 0u) << vxLastError().text;
    EXPECT_EQ(vxExec(dest.c_str(), "true", instance), 0) << vxLastError().text;
    bool dropped = false;
    for (int i = 0; i < 500 && !dropped; ++i) {
        dropped =
            ssh.server().logText().find("dropped after 1 s without a call") != std::string::npos;
        if (!dropped) usleep(10000);
    }
    EXPECT_TRUE(dropped) << ssh.server().logText();
    vxReleaseServer(dest.c_str(), instance);
    const InstanceLedger ledger = waitForReleases(ssh.server());
    EXPECT_EQ(ledger.asked.size(), 2u);
    EXPECT_EQ(ledger.asked, ledger.released);
    vxSshDisconnect();
    unsetenv("ORVELAN_SSH_CONFIG");
    unsetenv("ORVELAN_SSH_RELAY");
}

class SshCtlTest : public SshLinkTest {
  protected:
    void SetUp() override {
        SshLinkTest::SetUp();
        ASSERT_TRUE(
            vxWriteRegistryKey(nullptr, 0, (kConsoleSetupKey + "Set").c_str(), "X", REG_SZ) == 1 &&
            vxWriteRegistryKey(nullptr, 0, (kConsoleSetupKey + "ProxyServerName").c_str(),
                               dest.c_str(), REG_SZ) == 1);
        ASSERT_TRUE(server().writeFile("/l/apache/etc/groups", "staff d\r\n"));
        ASSERT_TRUE(server().writeFile("/l/apache/etc/users", "anna:staff::p:::\r\n"));
        ASSERT_TRUE(server().writeFile("/l/apache/etc/userdata", "anna :Anna : : : : \r\n"));
    }
    CtlRun ctl(const std::string& args, const std::string& input = "") {
        return runConsoleProgram(ORVELANCTL, tmp.path(), args, input);
    }
};

TEST_F(SshCtlTest, OrvelanctlRefusesAnUnknownKeyUnlessItsFingerprintIsGiven) {
    const std::string fingerprint = ssh.hostFingerprint();
    CtlRun r = ctl("exec true");
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("SSH: Unknown host key " + fingerprint + "; refused"), std::string::npos)
        << r.err;
    r = ctl("--accept-host-key SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA exec true");
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(readFileBytes(ssh.knownHosts()), "");
    r = ctl("--accept-host-key " + fingerprint + " exec true");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0\n");

    // Known now: every command goes through.
    EXPECT_EQ(ctl("users add bela --full-name Bela").status, 0);
    r = ctl("users list");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("bela:"), std::string::npos) << r.out;
    EXPECT_FALSE(server().exists("/l/apache/etc/users._vx_lck_"));
    EXPECT_EQ(ctl("passwd set admin", "titok\n").status, 0);
    EXPECT_EQ(ctl("passwd check admin", "titok\n").status, 0);
    EXPECT_EQ(ctl("passwd check admin", "rossz\n").status, 5);
    tmp.write("work/up.bin", bytes(300001, 3));
    EXPECT_EQ(ctl("put up.bin /l/up.bin").status, 0);
    EXPECT_EQ(ctl("get /l/up.bin down.bin").status, 0);
    EXPECT_TRUE(readFileBytes(tmp.file("work/down.bin")) == bytes(300001, 3));
    r = ctl("counters");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ssh.clientProcesses().empty()); // each run's master ended with it
}

TEST_F(SshCtlTest, AKilledOrvelanctlLeavesNoSshBehind) {
    ASSERT_TRUE(ssh.trustHostKey());
    unsetenv("ORVELAN_SSH_RELAY"); // orvelanctl finds the relay beside itself
    const std::string program = ORVELANCTL;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {program.c_str(), "exec", "sleep", "23", nullptr};
    pid_t pid = -1;
    ASSERT_EQ(
        posix_spawn(&pid, program.c_str(), &files, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    for (int i = 0; i < 500 && server().logText().find(" EXEC sleep 23") == std::string::npos; ++i)
        usleep(20000);
    ASSERT_EQ(ssh.clientProcesses().size(), 1u);
    EXPECT_EQ(ssh.relayProcesses().size(), 1u);
    kill(pid, SIGKILL);
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    usleep(1000000);
    EXPECT_TRUE(ssh.clientProcesses().empty());
    EXPECT_TRUE(ssh.relayProcesses().empty());
}

#ifdef ORVELAN_CONSOLE
// The console started on an SSH server: its master connection lives while the console runs,
// and goes when the console is killed.
TEST_F(SshCtlTest, AKilledConsoleLeavesNoSshBehind) {
    ASSERT_TRUE(ssh.trustHostKey());
    ASSERT_TRUE(server().writeFile("orvelan.cnf", "USERPROC kaka\nGROUPPROC grouppen\n"));
    const std::string program = ORVELAN_CONSOLE;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addchdir_np(&files, tmp.file("work").c_str());
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {program.c_str(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(
        posix_spawn(&pid, program.c_str(), &files, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    // The start-up fetches the server's configuration through the master.
    for (int i = 0; i < 500 && !fs::exists(tmp.file("work/orvelan.cnf")); ++i)
        usleep(20000);
    EXPECT_TRUE(fs::exists(tmp.file("work/orvelan.cnf")));
    EXPECT_EQ(ssh.clientProcesses().size(), 1u);
    EXPECT_EQ(ssh.relayProcesses().size(), 1u);
    kill(pid, SIGKILL);
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    usleep(1000000);
    EXPECT_TRUE(ssh.clientProcesses().empty());
    EXPECT_TRUE(ssh.relayProcesses().empty());
    unsetenv("QT_QPA_PLATFORM");
}
#endif

} // namespace
