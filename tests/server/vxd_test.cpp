// End-to-end tests of the reference server: vxd over a real rpcbind, the lock programs, the tail.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <crypt.h>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <regex>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "server/vxd_tools.h"
#include "tests/server/raw_client.h"
#include "tests/support/loopback.h"
#include "tests/support/test_server.h"

namespace {

class VxdTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.running()) << server.error(); }
    TestServer server;
};

TEST_F(VxdTest, InstanceIsRegisteredUntilReleased) {
    unsigned long inst = askInstance();
    ASSERT_GE(inst, VX_INSTANCE_FIRST);
    ASSERT_LE(inst, VX_INSTANCE_LAST);
    EXPECT_NE(testRegisteredPort(inst), 0);
    EXPECT_EQ(testRegisteredPort(VXPROG_ALT), testRegisteredPort(VXPROG_MAIN));
    // Service procedures do not answer at an instance.
    EXPECT_EQ(callString(inst, vxRPC_NETDEV, "xxx").status, RPC_PROCUNAVAIL);
    EXPECT_EQ(releaseInstance(inst), RPC_SUCCESS);
    EXPECT_EQ(testRegisteredPort(inst), 0);
    EXPECT_FALSE(RawClient(inst).ok());
}

TEST_F(VxdTest, OnlyCommandsNamingRootPathsGetTheRootView) {
    // Commands naming /l or /tmp, and plain calls of a server program, see the root at
    // /.vxd-root (vxsh) with the root's /l and /tmp in place; others run in the plain shell,
    // where the working directory really is.
    Reply r = remoteExec("echo \"$PWD|$VXD_ROOT|${PATH%%:*}\" > where.txt; test -d /tmp");
    EXPECT_EQ(r.status, RPC_SUCCESS);
    EXPECT_EQ(r.r.value, 0);
    EXPECT_EQ(server.readFile("where.txt"), "/.vxd-root/srv|/.vxd-root|/.vxd-root/srv\n");
    EXPECT_EQ(remoteExec("echo \"$PWD|$VXD_ROOT\" > where.txt").r.value, 0);
    EXPECT_EQ(server.readFile("where.txt"), server.workdir() + "|" + server.root() + "\n");
    EXPECT_EQ(remoteExec("test -e /.vxd-root").r.value, 1);
    server.writeFile("/l/apache/etc/users", "");
    EXPECT_EQ(remoteExec("./cpin2 /l/apache/etc/users").r.value, 0);
    server.writeFile("/tmp/seen", "x");
    EXPECT_EQ(remoteExec("test -f /tmp/seen").r.value, 0);
}

// The exit status of sh -c command run here, as the service reports it (a signed byte), and
// what it wrote to "o" in dir.
std::pair<int, std::string> localShell(const std::string& command, const std::string& dir) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                    const_cast<char*>(command.c_str()), nullptr};
    pid_t pid = -1;
    int status = 0;
    if (posix_spawn(&pid, "/bin/sh", &fa, nullptr, argv, environ) != 0) return {-999, ""};
    posix_spawn_file_actions_destroy(&fa);
    waitpid(pid, &status, 0);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(dir + "/o");
    std::stringstream text;
    text << in.rdbuf();
    unlink((dir + "/o").c_str());
    return {static_cast<int8_t>(code & 0xff), text.str()};
}

TEST_F(VxdTest, CommandLinesRunAsUnderShDashC) {
    // Each worker keeps a shell started ahead of its next command; what a command sees must not
    // tell it from a shell started for it: arguments, variables, descriptors, standard input,
    // quoting, syntax errors, signals, priority, and lines that hold a newline.
    const std::string cases[] = {
        "echo \"$0|$#|${vxd_command-none}|${IFS+set}|$-\" > o",
        "read x; echo \"read $? [$x]\" > o",
        "for fd in 3 4 5; do test -e /proc/$$/fd/$fd && echo \"$fd open\"; done > o; true",
        "printf '%s|' 'a\\b' \"c\\\"d\" '$HOME' > o",
        "  echo ' lead and trail '  > o  ",
        "set -- a b; shift; echo \"$# $1\" > o; exit 7",
        "echo start > o; if true; then",
        "echo one > o\necho two >> o",
        "echo bye > o; kill -TERM $$",
        "nice > o",
        "",
    };
    char dir[] = "/tmp/orvelan-shell-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    for (const std::string& command : cases) {
        SCOPED_TRACE(command);
        Reply remote = remoteExec(command);
        ASSERT_EQ(remote.status, RPC_SUCCESS);
        auto [code, text] = localShell(command, dir);
        EXPECT_EQ(remote.r.value, code);
        EXPECT_EQ(server.exists("o") ? server.readFile("o") : "", text);
        unlink(server.local("o").c_str());
    }
    rmdir(dir);
}

TEST_F(VxdTest, ReleasedWorkerStartsItsNextInstanceAfresh) {
    server.writeFile("/data/f", "content");
    unsigned long first = askInstance();
    ASSERT_NE(first, 0u);
    RawClient held(first);
    ASSERT_TRUE(held.ok());
    EXPECT_EQ(callReply(held, vxRPC_FILOPEN_RDONLY, "/data/f").r.code, 0);
    EXPECT_EQ(held.call(vxRPC_RELEASE, xdrProc(xdr_void), nullptr, xdrProc(xdr_void), nullptr),
              RPC_SUCCESS);
    // The connection outlives the release; the number it named does not.
    EXPECT_EQ(callReply(held, vxRPC_EXEC, "true").status, RPC_PROGUNAVAIL);

    // Instances come and go without a process started for each, and none finds the open file.
    std::vector<pid_t> before; // the spares start after the first answer
    usleep(50000);
    waitFor([&] { return !(before = server.workers()).empty(); }, 2000);
    for (int i = 0; i < 20; i++) {
        unsigned long inst = askInstance();
        ASSERT_NE(inst, 0u);
        EXPECT_NE(inst, first);
        RawClient c(inst);
        EXPECT_EQ(callBlock(c, vxRPC_READ, "/data/f").b.status, EBADF);
        EXPECT_EQ(callReply(c, vxRPC_EXEC, "true").r.value, 0);
        EXPECT_EQ(releaseInstance(inst), RPC_SUCCESS);
    }
    usleep(200000);
    EXPECT_EQ(server.workers(), before);
}

TEST_F(VxdTest, PathsStayUnderTheRoot) {
    server.writeFile("/l/apache/etc/users", "alice\n");
    symlink("/etc", server.local("/l/outside").c_str());
    // Opening a FIFO for reading would block the whole service.
    mkfifo(server.local("/l/fifo").c_str(), 0644);
    symlink("../../..", server.local("/l/apache/up").c_str());
    symlink("etc/users", server.local("/l/apache/in").c_str());
    unsigned long inst = askInstance();
    ASSERT_NE(inst, 0u);
    RawClient c(inst);
    struct Case {
        const char* path;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"/l/apache/etc/users", 0, ""},
        {"/l/apache/in", 0, ""}, // a link that stays inside
        {"../users", 13, "Permission denied (../users) !"},
        {"/../../etc/passwd", 13, "Permission denied (/../../etc/passwd) !"},
        {"/l/outside/passwd", 13, "Permission denied (/l/outside/passwd) !"},
        {"/l/apache/up/etc/passwd", 13, "Permission denied (/l/apache/up/etc/passwd) !"},
        {"/l/none", 2, "No such file or directory (/l/none) !"},
        {"/l", 21, "Is a directory (/l) !"},
        {"/l/fifo", 22, "Invalid argument (/l/fifo) !"},
        {"", 22, "Invalid argument !"},
    };
    for (const Case& k : cases) {
        Reply r = callReply(c, vxRPC_FILOPEN_RDONLY, k.path);
        ASSERT_EQ(r.status, RPC_SUCCESS) << k.path;
        EXPECT_EQ(r.r.code, k.code) << k.path;
        EXPECT_EQ(std::string(r.message), k.message) << k.path;
        if (k.code) {
            EXPECT_EQ(r.r.kind, 1) << k.path;
            // Severities from the error table; codes without a row have 3.
            EXPECT_EQ(r.r.severity, k.code == 13 || k.code == 2 ? 5 : 3) << k.path;
        }
    }
    // Writing through an escaping link is refused too, and nothing is created outside.
    Reply w = callReply(c, vxFILOPEN_NEW, "/l/apache/up/x");
    EXPECT_EQ(w.r.code, 13);
    releaseInstance(inst);
}

TEST(VxdUploads, AnUploadReplacesTheFileOnlyWhenClosed) {
    TestServerOptions options;
    options.idleSeconds = 1;
    TestServer server(options);
    ASSERT_TRUE(server.running()) << server.error();
    server.writeFile("/l/users", "old\n");
    // One upload ended by a release before its close, one left open by a console that died.
    unsigned long released = askInstance(), dropped = askInstance();
    ASSERT_NE(released, 0u);
    ASSERT_NE(dropped, 0u);
    for (unsigned long inst : {released, dropped}) {
        RawClient c(inst);
        EXPECT_EQ(callReply(c, vxFILOPEN_NEW, "/l/users").r.code, 0);
        EXPECT_EQ(writeBlock(c, "new\n").r.code, 0);
        EXPECT_EQ(server.readFile("/l/users"), "old\n");
    }
    EXPECT_EQ(releaseInstance(released), RPC_SUCCESS);
    EXPECT_TRUE(waitFor([&] { return testRegisteredPort(dropped) == 0; }, 30000)); // idle drop
    // The old file, and the temporary files of both uploads went with them.
    EXPECT_EQ(server.readFile("/l/users"), "old\n");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(server.local("/l")))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"users"});

    // Uploading into a missing directory is refused at the open.
    unsigned long inst = askInstance();
    RawClient c(inst);
    Reply r = callReply(c, vxFILOPEN_NEW, "/nodir/x");
    EXPECT_EQ(r.r.code, 2);
    EXPECT_EQ(std::string(r.message), "No such file or directory (/nodir/x) !");
    EXPECT_EQ(writeBlock(c, "x").r.code, EBADF);
    // Reading another path than the open one: EBADF as the block status.
    EXPECT_EQ(callReply(c, vxRPC_FILOPEN_RDONLY, "/l/users").r.code, 0);
    EXPECT_EQ(callBlock(c, vxRPC_READ, "/l/other").b.status, EBADF);
    releaseInstance(inst);
}

// An instance's idle time counts from its hand-out, not from when its worker became a spare:
// a spare two and a half seconds old (still handed out: younger than half the idle time) lives
// the full idle time after the hand-out. The spare's own clock would have dropped it about
// seven seconds after the service started.
TEST(VxdInstances, IdleTimeCountsFromTheHandOut) {
    using Clock = std::chrono::steady_clock;
    TestServerOptions options;
    options.idleSeconds = 7;
    TestServer server(options);
    const Clock::time_point started = Clock::now(); // the first spares start just before
    ASSERT_TRUE(server.running()) << server.error();
    std::this_thread::sleep_until(started + std::chrono::milliseconds(2500));
    const unsigned long inst = askInstance();
    ASSERT_NE(inst, 0u);
    std::this_thread::sleep_until(started + std::chrono::milliseconds(8700));
    RawClient c(inst);
    Reply r = callReply(c, vxRPC_EXEC, "true");
    EXPECT_EQ(r.status, RPC_SUCCESS) << server.logText();
    EXPECT_EQ(r.r.value, 0);
    EXPECT_EQ(server.logText().find("released (idle)"), std::string::npos) << server.logText();
    releaseInstance(inst);
}

// The idle clock starts again when a call ends: a command that runs longer than the idle time
// does not lose its instance the moment it answers.
TEST(VxdInstances, ACommandLongerThanTheIdleTimeKeepsItsInstance) {
    TestServerOptions options;
    options.idleSeconds = 1;
    TestServer server(options);
    ASSERT_TRUE(server.running()) << server.error();
    const unsigned long inst = askInstance();
    ASSERT_NE(inst, 0u);
    RawClient c(inst);
    EXPECT_EQ(callReply(c, vxRPC_EXEC, "sleep 2").r.value, 0);
    RawClient again(inst);
    Reply r = callReply(again, vxRPC_EXEC, "exit 3");
    EXPECT_EQ(r.status, RPC_SUCCESS) << server.logText();
    EXPECT_EQ(r.r.value, 3);
    EXPECT_EQ(releaseInstance(inst), RPC_SUCCESS);
}

TEST(VxdUploads, AFailedWriteFailsTheUploadAndKeepsTheOldFile) {
    // A full disk, in a mount namespace of this test's own that the server it starts shares.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        GTEST_SKIP() << "no mount namespace here: " << strerror(errno);
    TestServer server;
    ASSERT_TRUE(server.running()) << server.error();
    const std::string full = server.local("/full");
    std::filesystem::create_directories(full);
    ASSERT_EQ(mount("tmpfs", full.c_str(), "tmpfs", 0, "size=400k"), 0) << strerror(errno);
    server.writeFile("/full/list", "old\n");

    // Blocks are answered before they are written: the block that did not fit is refused at
    // the next block, and the close refuses the file, keeping the old one and no leftovers.
    unsigned long inst = askInstance();
    ASSERT_NE(inst, 0u);
    RawClient c(inst);
    ASSERT_EQ(callReply(c, vxFILOPEN_NEW, "/full/list").r.code, 0);
    const std::string block(VX_BLOCK_MAX, 'x');
    EXPECT_EQ(writeBlock(c, block).r.code, 0);
    EXPECT_EQ(writeBlock(c, block).r.code, 0); // does not fit, answered first
    EXPECT_EQ(writeBlock(c, block).r.code, ENOSPC);
    Reply closed = callReply(c, vxRPC_FILCLOS, "/full/list");
    EXPECT_EQ(closed.r.code, ENOSPC);
    EXPECT_EQ(server.readFile("/full/list"), "old\n");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(full))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"list"});
    releaseInstance(inst);
    server.stop();
    umount(full.c_str());
}

// The rpcbind of this network namespace (the machine's own runs in another); 0 when none.
pid_t rpcbindHere() {
    char mine[64] = "", theirs[64] = "";
    if (readlink("/proc/self/ns/net", mine, sizeof mine - 1) <= 0) return 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        std::ifstream comm(e.path() / "comm");
        std::string name;
        if (!(comm >> name) || name != "rpcbind") continue;
        ssize_t n = readlink((e.path() / "ns/net").c_str(), theirs, sizeof theirs - 1);
        if (n > 0 && std::string(theirs, static_cast<size_t>(n)) == mine)
            return std::stoi(e.path().filename().string());
    }
    return 0;
}

TEST(VxdRpcbind, InstancesComeAndGoAcrossARestartOfRpcbind) {
    // Workers keep one connection to rpcbind for their numbers. A restarted rpcbind keeps the
    // registrations (warm start) but breaks that connection. The rpcbind here is this test's
    // own, in network and mount namespaces of its own, with a /run of its own.
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !bringLoopbackUp() ||
        mount("tmpfs", "/run", "tmpfs", 0, "size=1m,mode=0755") != 0)
        GTEST_SKIP() << "no namespaces here: " << strerror(errno);
    // rpcbind keeps its warm-start files as _rpc, in the directory the system gives it.
    mkdir("/run/rpcbind", 0755);
    if (passwd* rpc = getpwnam("_rpc")) chown("/run/rpcbind", rpc->pw_uid, 0);
    {
        TestServer server;
        ASSERT_TRUE(server.running()) << server.error();
        auto comeAndGo = [&](int round) {
            SCOPED_TRACE(round);
            unsigned long inst = askInstance();
            ASSERT_NE(inst, 0u);
            EXPECT_EQ(callString(inst, vxRPC_EXEC, "true").r.value, 0);
            EXPECT_EQ(releaseInstance(inst), RPC_SUCCESS);
            EXPECT_EQ(testRegisteredPort(inst), 0);
        };
        for (int round = 0; round < 3; round++)
            comeAndGo(round);
        pid_t old = rpcbindHere();
        ASSERT_GT(old, 0);
        kill(old, SIGTERM);
        ASSERT_TRUE(waitFor([&] { return kill(old, 0) != 0; }, 5000));
        std::string error;
        ASSERT_TRUE(ensureRpcbind(&error)) << error;
        ASSERT_NE(testRegisteredPort(VXPROG_MAIN), 0)
            << "rpcbind started without its registrations";
        // Every worker meets the broken connection once; each number still comes and goes.
        for (int round = 3; round < 8; round++)
            comeAndGo(round);
        EXPECT_EQ(server.logText().find("cannot register"), std::string::npos) << server.logText();
        server.stop();
    }
    if (pid_t ours = rpcbindHere()) kill(ours, SIGKILL);
}

// The console's use of the lock programs (check-out, concurrent use, check-in, restore after a
// failed post-save command, release) is tested through the data layer; here what only the
// programs themselves show.
TEST_F(VxdTest, LockProgramsReplaceFilesWholeAndRefuseWhatTheyCannotDo) {
    const std::string users = "/l/apache/etc/users", lock = users + "._vx_lck_";
    server.writeFile(users, "v1\n");
    chmod(server.local(users).c_str(), 0600);
    struct stat before, after;
    ASSERT_EQ(stat(server.local(users).c_str(), &before), 0);
    EXPECT_EQ(remoteExec("./cpout " + users).r.value, 0);
    EXPECT_EQ(remoteExec("./cpout " + users).r.value, -1);
    EXPECT_EQ(server.readFile(lock), "v1\n");
    server.writeFile(lock, "v2\n");
    EXPECT_EQ(remoteExec("./cpin " + users).r.value, 0);
    EXPECT_EQ(server.readFile(users), "v2\n");
    // The mode kept, and a new inode: the old file was replaced whole, never rewritten in place.
    ASSERT_EQ(stat(server.local(users).c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(remoteExec("./cprestore " + users).r.value, 0);
    EXPECT_EQ(server.readFile(users), "v1\n");
    EXPECT_EQ(remoteExec("./cpin2 " + users).r.value, 0);
    EXPECT_FALSE(server.exists(lock));

    // A list that did not exist: restoring after its check-in brings back "no file".
    const std::string permit = "/l/apache/etc/permit/newgroup";
    server.writeFile(permit + "._vx_lck_", "site\n");
    EXPECT_EQ(remoteExec("./cpin " + permit).r.value, 0);
    EXPECT_EQ(server.readFile(permit), "site\n");
    EXPECT_EQ(remoteExec("./cprestore " + permit).r.value, 0);
    EXPECT_FALSE(server.exists(permit));

    // No lock copy to check in, a path outside the root, no backup to restore, no directory.
    server.writeFile("/l/apache/etc/permit/other", "x\n");
    for (const char* command : {"./cpin /l/none", "./cpout /l/../../escape",
                                "./cprestore /l/apache/etc/permit/other", "./cpout /l/nodir/f"})
        EXPECT_EQ(remoteExec(command).r.value, 1) << command;
}

TEST_F(VxdTest, VxtailWritesLastLines) {
    server.writeFile("/var/log/tty12", "one\ntwo\nthree\nfour\nfive\n");
    EXPECT_EQ(remoteExec("./vxtail /var/log/tty12 3").r.value, 0);
    EXPECT_EQ(server.readFile("vxtail.tmp"), "three\nfour\nfive\n");
    EXPECT_EQ(remoteExec("./vxtail /var/log/tty12 50").r.value, 0);
    EXPECT_EQ(server.readFile("vxtail.tmp"), "one\ntwo\nthree\nfour\nfive\n");
    server.writeFile("/var/log/nolf", "a\r\nb\r\nc");
    EXPECT_EQ(remoteExec("./vxtail /var/log/nolf 2").r.value, 0);
    EXPECT_EQ(server.readFile("vxtail.tmp"), "b\r\nc");
    server.writeFile("/var/log/empty", "");
    EXPECT_EQ(remoteExec("./vxtail /var/log/empty 50").r.value, 0);
    EXPECT_EQ(server.readFile("vxtail.tmp"), "");
    // Few line ends: the copy holds the last bytes within the bound, not the whole file.
    std::string longLines = "head\n" + std::string(3 * VXD_TAIL_LINE_BYTES, 'x') + "\n";
    longLines += std::string(VXD_TAIL_LINE_BYTES, 'y') + "end";
    server.writeFile("/var/log/long", longLines);
    EXPECT_EQ(remoteExec("./vxtail /var/log/long 2").r.value, 0);
    EXPECT_EQ(server.readFile("vxtail.tmp"),
              longLines.substr(longLines.size() - 2 * VXD_TAIL_LINE_BYTES));

    mkfifo(server.local("/var/log/fifo").c_str(), 0644);
    for (const char* args : {"/var/log/missing 50", "/var/log/tty12 0", "/var/log/tty12 5x",
                             "/../etc/passwd 5", "/var/log/fifo 5"})
        EXPECT_EQ(remoteExec(std::string("./vxtail ") + args).r.value, 1) << args;
}

TEST_F(VxdTest, CryptMatchesCrypt3) {
    RawClient c(VXPROG_MAIN);
    Block b = callBlock(c, vxRPC_CRYPT, "absecret");
    ASSERT_EQ(b.status, RPC_SUCCESS);
    crypt_data data{};
    EXPECT_EQ(b.b.status, 0);
    EXPECT_EQ(b.data, crypt_r("secret", "ab", &data));
    // No password: the salt alone still encrypts the empty password.
    EXPECT_EQ(callBlock(c, vxRPC_CRYPT, "ab").data, crypt_r("", "ab", &data));
    EXPECT_NE(callBlock(c, vxRPC_CRYPT, "a").b.status, 0);
    EXPECT_NE(callBlock(c, vxRPC_CRYPT, "!!secret").b.status, 0);
    // The password never reaches the daemon log.
    EXPECT_EQ(server.logText().find("secret"), std::string::npos);
    EXPECT_NE(server.logText().find(" 0x48000003 29 CRYPT ab\n"), std::string::npos);
}

// lo's transmitted and received byte counts from /proc/net/dev.
std::pair<unsigned long long, unsigned long long> loopbackCounters() {
    std::ifstream in("/proc/net/dev");
    unsigned long long rx = 0, tx = 0;
    for (std::string line; std::getline(in, line);)
        if (sscanf(line.c_str(), " lo: %llu %*u %*u %*u %*u %*u %*u %*u %llu", &rx, &tx) == 2)
            break;
    return {tx, rx};
}

TEST(VxdNetdev, AliasesReportInterfacesUnderOtherNames) {
    TestServerOptions options;
    options.extraArgs = {"--netdev-alias", "eth1=lo", "--netdev-alias", "ppp0=lo"};
    TestServer server(options);
    ASSERT_TRUE(server.running()) << server.error();
    auto before = loopbackCounters();
    Reply r = callString(VXPROG_MAIN, vxRPC_NETDEV, "xxx");
    auto after = loopbackCounters();
    ASSERT_EQ(r.status, RPC_SUCCESS);
    std::istringstream words(r.text);
    std::string name1, name2;
    unsigned long long tx1, rx1, tx2, rx2;
    ASSERT_TRUE(words >> name1 >> tx1 >> rx1 >> name2 >> tx2 >> rx2) << r.text;
    // The aliases first, in their order, each with lo's counters; lo itself is not reported.
    EXPECT_EQ(name1, "eth1");
    EXPECT_EQ(name2, "ppp0");
    EXPECT_EQ(tx1, tx2);
    EXPECT_EQ(rx1, rx2);
    EXPECT_GE(tx1, before.first);
    EXPECT_LE(tx1, after.first);
    EXPECT_GE(rx1, before.second);
    EXPECT_LE(rx1, after.second);
    EXPECT_EQ((" " + std::string(r.text) + " ").find(" lo "), std::string::npos) << r.text;
    EXPECT_LE(strlen(r.text), 128u);
}

// Runs vxd with args (a shell line); its exit status and what it wrote.
std::pair<int, std::string> runVxd(const std::string& args) {
    FILE* p = popen((testServerBinDir() + "/vxd " + args + " 2>&1 </dev/null").c_str(), "r");
    if (!p) return {-1, ""};
    std::string out;
    char buf[256];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(VxdOptions, BadValuesStopTheStart) {
    const std::pair<std::string, std::string> cases[] = {
        {"--idle 0", "bad --idle value (want 1 to 604800): 0"},
        {"--netdev-alias eth1", "bad --netdev-alias value (want NAME=INTERFACE): eth1"},
        {"--netdev-alias =lo", "bad --netdev-alias value (want NAME=INTERFACE): =lo"},
        {"--netdev-alias eth1=", "bad --netdev-alias value (want NAME=INTERFACE): eth1="},
        {"--netdev-alias 'eth 1=lo'", "bad --netdev-alias value (want NAME=INTERFACE): eth 1=lo"},
        {"--netdev-alias averyverylongname=lo",
         "bad --netdev-alias value (want NAME=INTERFACE): averyverylongname=lo"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args);
        EXPECT_EQ(runVxd("--root /tmp " + args), std::make_pair(2, "vxd: " + message + "\n"));
    }
    // --help names each limit with the default the start-up log line shows.
    auto [code, text] = runVxd("--help");
    EXPECT_EQ(code, 0);
    for (const char* line : {"  --max-instances         instances handed out at once (64)\n",
                             "  --idle                  seconds an instance may go without a call "
                             "(600)\n",
                             "  --connection-timeout    seconds a connection may go without a call "
                             "(30)\n",
                             "  --command-timeout       seconds a command may run (none)\n",
                             "  --max-upload            bytes of one uploaded file (1073741824)\n"})
        EXPECT_NE(text.find(line), std::string::npos) << text;
}

TEST_F(VxdTest, PingRunsWithoutShell) {
    unsigned long inst = askInstance();
    ASSERT_NE(inst, 0u);
    for (const char* bad : {"127.0.0.1;touch x", "-f", "$(touch x)", "a b", "127.0.0.1|touch x"}) {
        Reply r = callString(inst, vxRPC_PING, bad);
        ASSERT_EQ(r.status, RPC_SUCCESS);
        EXPECT_EQ(r.r.value, 1) << bad;
        EXPECT_EQ(r.r.code, 22) << bad;
        EXPECT_EQ(std::string(r.message), "Invalid argument (ping target) !");
    }
    EXPECT_EQ(callString(inst, vxRPC_PING, std::string(65, 'a')).r.code, 22);
    EXPECT_FALSE(server.exists("x"));
    EXPECT_FALSE(server.exists("__vxPingFil.txt"));
    releaseInstance(inst);
}

TEST_F(VxdTest, LogHasALinePerRequest) {
    remoteExec("true\necho injected");
    std::string log = server.logText();
    EXPECT_TRUE(std::regex_search(
        log, std::regex("\n[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} 127\\.0\\.0\\.1 0x48000003 5 ASK "
                        "-> 0x[0-9a-f]{8}\n")))
        << log;
    EXPECT_NE(log.find(" 4 EXEC true\\x0aecho injected\n"), std::string::npos) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(" 0x[0-9a-f]{8} 9 RELEASE \n"))) << log;
}

TEST(VxdClients, OtherClientsAreRefused) {
    TestServerOptions options;
    options.extraArgs = {"--allow", "10.1.0.0/16"};
    TestServer server(options);
    ASSERT_TRUE(server.running()) << server.error();
    RawClient c(VXPROG_MAIN);
    vx_instance inst{};
    EXPECT_EQ(c.call(vxRPC_ASK, xdrProc(xdr_void), nullptr, xdrProc(xdr_vxinstance), &inst),
              RPC_AUTHERROR);
    EXPECT_NE(server.logText().find("127.0.0.1 0x48000003 5 refused\n"), std::string::npos);
}

TEST(VxdTakeover, SecondServerNeedsReplaceAndThenHoldsTheRegistration) {
    TestServer first;
    ASSERT_TRUE(first.running()) << first.error();
    unsigned short firstPort = testRegisteredPort(VXPROG_MAIN);
    auto [status, out] = runVxd("--root '" + first.root() + "'");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out.substr(0, out.find('\n')),
              "vxd: program 1207959555 (0x48000003) is registered and answering at port " +
                  std::to_string(firstPort) + "; stop that service or start with --replace");
    EXPECT_EQ(testRegisteredPort(VXPROG_MAIN), firstPort);

    TestServer second; // started with --replace
    ASSERT_TRUE(second.running()) << second.error();
    unsigned short secondPort = testRegisteredPort(VXPROG_MAIN);
    EXPECT_NE(secondPort, firstPort);
    first.stop();
    EXPECT_EQ(testRegisteredPort(VXPROG_MAIN), secondPort);
    second.stop();
    EXPECT_EQ(testRegisteredPort(VXPROG_MAIN), 0);
    EXPECT_EQ(testRegisteredPort(VXPROG_ALT), 0);
    // A stopped server refuses: no client can be made.
    RawClient c(VXPROG_MAIN);
    EXPECT_FALSE(c.ok());
    EXPECT_TRUE(second.restart()) << second.error();
    EXPECT_EQ(remoteExec("exit 7").r.value, 7);
}

} // namespace
