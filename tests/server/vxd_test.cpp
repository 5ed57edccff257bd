// End-to-end tests of the reference server: vxd over a real rpcbind, the lock programs, the tail.
#include <algorithm>
#include <crypt.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "raw_client.h"
#include "test_server.h"

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

    unsigned long second = askInstance();
    EXPECT_NE(second, inst);
    EXPECT_EQ(releaseInstance(second), RPC_SUCCESS);

    EXPECT_EQ(releaseInstance(inst), RPC_SUCCESS);
    EXPECT_EQ(testRegisteredPort(inst), 0);
    EXPECT_EQ(testRegisteredPort(second), 0);
    RawClient gone(inst);
    EXPECT_FALSE(gone.ok());
}

TEST_F(VxdTest, ProceduresAnswerOnlyAtTheirProgram) {
    // Instance procedures at the service number, service procedures at an instance.
    Reply exec = callString(VXPROG_MAIN, vxRPC_EXEC, "true");
    EXPECT_EQ(exec.status, RPC_PROCUNAVAIL);
    unsigned long inst = askInstance();
    ASSERT_NE(inst, 0u);
    Reply netdev = callString(inst, vxRPC_NETDEV, "xxx");
    EXPECT_EQ(netdev.status, RPC_PROCUNAVAIL);
    releaseInstance(inst);
}

TEST(VxdIdle, IdleInstanceIsDropped) {
    TestServerOptions options;
    options.idleSeconds = 1;
    TestServer server(options);
    ASSERT_TRUE(server.running()) << server.error();
    server.writeFile("/data/big", std::string(400000, 'x'));
    unsigned long inst = askInstance();
    ASSERT_NE(inst, 0u);
    // An upload left open by a console that died.
    {
        RawClient c(inst);
        EXPECT_EQ(callReply(c, vxFILOPEN_NEW, "/data/new").r.code, 0);
        EXPECT_EQ(writeBlock(c, "partial").r.code, 0);
    }
    bool dropped = false;
    for (int i = 0; i < 300 && !dropped; i++) { // at most 30 s
        dropped = testRegisteredPort(inst) == 0;
        if (!dropped) usleep(100000);
    }
    EXPECT_TRUE(dropped);
    EXPECT_FALSE(server.exists("/data/new"));
    // Only the data file is left: the dropped upload's temporary file went with it.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(server.local("/data")))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"big"});
}

TEST_F(VxdTest, ExecReturnsSignedExitStatusInWorkdir) {
    EXPECT_EQ(remoteExec("exit 0").r.value, 0);
    EXPECT_EQ(remoteExec("exit 3").r.value, 3);
    EXPECT_EQ(remoteExec("exit 255").r.value, -1);
    EXPECT_EQ(remoteExec("exit 128").r.value, -128);
    Reply r = remoteExec("echo \"$PWD|$VXD_ROOT|${PATH%%:*}\" > where.txt; test -d /tmp");
    EXPECT_EQ(r.status, RPC_SUCCESS);
    EXPECT_EQ(r.r.code, 0);
    // Commands naming /l or /tmp see the root at /.vxd-root (vxsh), with the root's /l and /tmp
    // in place; others run where the working directory really is.
    EXPECT_EQ(server.readFile("where.txt"), "/.vxd-root/srv|/.vxd-root|/.vxd-root/srv\n");
    EXPECT_EQ(remoteExec("echo \"$PWD|$VXD_ROOT\" > where.txt").r.value, 0);
    EXPECT_EQ(server.readFile("where.txt"), server.workdir() + "|" + server.root() + "\n");
    // A 129-byte command line cannot be encoded.
    EXPECT_EQ(remoteExec(std::string(129, 'x')).status, RPC_CANTENCODEARGS);
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
    // quoting, syntax errors, signals, and lines that hold a newline.
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
    auto workers = [&] {
        std::vector<int> pids;
        for (const auto& e : std::filesystem::directory_iterator("/proc")) {
            std::ifstream stat(e.path() / "stat");
            std::string pid, name, state;
            int ppid = 0;
            if (stat >> pid >> name >> state >> ppid && ppid == server.pid())
                pids.push_back(std::stoi(pid));
        }
        std::sort(pids.begin(), pids.end());
        return pids;
    };
    std::vector<int> before;
    for (int i = 0; i < 40 && before.empty(); i++) { // the spares start after the first answer
        usleep(50000);
        before = workers();
    }
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
    EXPECT_EQ(workers(), before);
}

TEST_F(VxdTest, PathsStayUnderTheRoot) {
    server.writeFile("/l/apache/etc/users", "alice\n");
    symlink("/etc", server.local("/l/outside").c_str());
    // Opening a FIFO for reading would block the whole service.
    mkfifo(server.local("/l/fifo").c_str(), 0644);
    symlink("../../..", server.local("/l/apache/up").c_str());
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

// Uploads data to a server path with procedures 7, 10, 8 in 300000-byte blocks.
void upload(unsigned long inst, const std::string& path, const std::string& data) {
    RawClient c(inst);
    ASSERT_EQ(callReply(c, vxFILOPEN_NEW, path).r.code, 0);
    size_t off = 0;
    for (;;) {
        std::string chunk = data.substr(off, VX_BLOCK_MAX);
        Reply r = writeBlock(c, chunk);
        ASSERT_EQ(r.status, RPC_SUCCESS);
        ASSERT_EQ(r.r.code, 0);
        off += chunk.size();
        if (chunk.size() < VX_BLOCK_MAX) break;
    }
    ASSERT_EQ(callReply(c, vxRPC_FILCLOS, path).r.code, 0);
}

// Fetches a server path with procedures 6, 11, 8; returns the block lengths seen.
std::vector<int> download(unsigned long inst, const std::string& path, std::string* data) {
    RawClient c(inst);
    std::vector<int> lengths;
    if (callReply(c, vxRPC_FILOPEN_RDONLY, path).r.code != 0) return lengths;
    for (int i = 0; i < 10; i++) {
        Block b = callBlock(c, vxRPC_READ, path);
        if (b.status != RPC_SUCCESS || b.b.status != 0) break;
        lengths.push_back(b.b.length);
        *data += b.data;
        if (b.b.length < static_cast<int>(VX_BLOCK_MAX)) break;
    }
    callReply(c, vxRPC_FILCLOS, path);
    return lengths;
}

TEST_F(VxdTest, FilesTravelInBlocks) {
    unsigned long inst = askInstance();
    ASSERT_NE(inst, 0u);
    std::string big;
    for (int i = 0; i < 300005; i++)
        big.push_back(static_cast<char>(i % 251));
    ASSERT_TRUE(server.writeFile("/l/keep", ""));
    upload(inst, "/l/big.bin", big);
    // Whole-content comparisons without printing 300 KB on a failure.
    EXPECT_TRUE(server.readFile("/l/big.bin") == big);
    std::string back;
    EXPECT_EQ(download(inst, "/l/big.bin", &back), (std::vector<int>{300000, 5}));
    EXPECT_EQ(back.size(), big.size());
    EXPECT_TRUE(back == big);

    upload(inst, "exact.bin", std::string(VX_BLOCK_MAX, 'e'));
    back.clear();
    EXPECT_EQ(download(inst, "exact.bin", &back), (std::vector<int>{300000, 0}));
    upload(inst, "empty.txt", "");
    back.clear();
    EXPECT_EQ(download(inst, "empty.txt", &back), (std::vector<int>{0}));
    EXPECT_TRUE(server.exists("empty.txt"));

    // Reading without an open file, or another path than the open one: EBADF as block status.
    RawClient c(inst);
    EXPECT_EQ(callBlock(c, vxRPC_READ, "/l/big.bin").b.status, EBADF);
    EXPECT_EQ(callReply(c, vxRPC_FILOPEN_RDONLY, "/l/big.bin").r.code, 0);
    EXPECT_EQ(callBlock(c, vxRPC_READ, "/l/other").b.status, EBADF);
    releaseInstance(inst);
}

TEST_F(VxdTest, UploadReplacesOnlyWhenClosed) {
    server.writeFile("/l/users", "old\n");
    unsigned long inst = askInstance();
    ASSERT_NE(inst, 0u);
    {
        RawClient c(inst);
        EXPECT_EQ(callReply(c, vxFILOPEN_NEW, "/l/users").r.code, 0);
        EXPECT_EQ(writeBlock(c, "new\n").r.code, 0);
        EXPECT_EQ(server.readFile("/l/users"), "old\n");
    }
    EXPECT_EQ(releaseInstance(inst), RPC_SUCCESS);
    EXPECT_EQ(server.readFile("/l/users"), "old\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(server.local("/l")),
                            std::filesystem::directory_iterator()),
              1);
    // Uploading into a missing directory is refused at the open.
    inst = askInstance();
    RawClient c(inst);
    Reply r = callReply(c, vxFILOPEN_NEW, "/nodir/x");
    EXPECT_EQ(r.r.code, 2);
    EXPECT_EQ(std::string(r.message), "No such file or directory (/nodir/x) !");
    EXPECT_EQ(writeBlock(c, "x").r.code, EBADF);
    releaseInstance(inst);
}

TEST_F(VxdTest, CheckoutLockPrograms) {
    const std::string users = "/l/apache/etc/users";
    server.writeFile(users, "v1\n");
    EXPECT_EQ(remoteExec("./cpout " + users).r.value, 0);
    EXPECT_EQ(server.readFile(users + "._vx_lck_"), "v1\n");
    // A second console finds it checked out.
    EXPECT_EQ(remoteExec("./cpout " + users).r.value, -1);
    EXPECT_EQ(server.readFile(users + "._vx_lck_"), "v1\n");

    // Check in the edited lock copy: the file changes, the lock stays.
    server.writeFile(users + "._vx_lck_", "v2\n");
    EXPECT_EQ(remoteExec("./cpin " + users).r.value, 0);
    EXPECT_EQ(server.readFile(users), "v2\n");
    EXPECT_TRUE(server.exists(users + "._vx_lck_"));
    // A failed post-save command: back to the content before the check-in.
    EXPECT_EQ(remoteExec("./cprestore " + users).r.value, 0);
    EXPECT_EQ(server.readFile(users), "v1\n");

    EXPECT_EQ(remoteExec("./cpin2 " + users).r.value, 0);
    EXPECT_FALSE(server.exists(users + "._vx_lck_"));
    EXPECT_EQ(remoteExec("./cpin2 " + users).r.value, 0);
    EXPECT_EQ(remoteExec("./cpout " + users).r.value, 0);
}

TEST_F(VxdTest, CheckoutOfMissingFile) {
    const std::string permit = "/l/apache/etc/permit/newgroup";
    server.writeFile("/l/apache/etc/permit/other", "x\n");
    // No file: success without a lock copy, so the console's fetch reports 2.
    EXPECT_EQ(remoteExec("./cpout " + permit).r.value, 0);
    EXPECT_FALSE(server.exists(permit + "._vx_lck_"));
    // The console uploads the new list as the lock copy and checks it in.
    server.writeFile(permit + "._vx_lck_", "site\n");
    EXPECT_EQ(remoteExec("./cpin " + permit).r.value, 0);
    EXPECT_EQ(server.readFile(permit), "site\n");
    // Restoring brings back "no file".
    EXPECT_EQ(remoteExec("./cprestore " + permit).r.value, 0);
    EXPECT_FALSE(server.exists(permit));
    // Without a lock copy there is nothing to check in; outside the root nothing is touched.
    EXPECT_EQ(remoteExec("./cpin /l/none").r.value, 1);
    EXPECT_EQ(remoteExec("./cpout /l/../../escape").r.value, 1);
    EXPECT_EQ(remoteExec("./cprestore /l/apache/etc/permit/other").r.value, 1);
    EXPECT_EQ(remoteExec("./cpout /l/nodir/file").r.value, 1);
}

TEST_F(VxdTest, CheckinKeepsFileModeAndIsOneRename) {
    const std::string pw = "/l/apache/etc/passwd";
    server.writeFile(pw, "root:x\n");
    chmod(server.local(pw).c_str(), 0600);
    struct stat before;
    ASSERT_EQ(stat(server.local(pw).c_str(), &before), 0);
    EXPECT_EQ(remoteExec("./cpout " + pw).r.value, 0);
    server.writeFile(pw + "._vx_lck_", "root:y\n");
    EXPECT_EQ(remoteExec("./cpin " + pw).r.value, 0);
    struct stat after;
    ASSERT_EQ(stat(server.local(pw).c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    // A new inode: the old file was replaced whole, never rewritten in place.
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(server.readFile(pw), "root:y\n");
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
    // The daemon log, relative to the working directory.
    EXPECT_EQ(remoteExec("./vxtail ./tcp_srvr.log 1").r.value, 0);
    EXPECT_NE(server.readFile("vxtail.tmp").find(" 4 EXEC ./vxtail ./tcp_srvr.log 1\n"),
              std::string::npos);

    EXPECT_EQ(remoteExec("./vxtail /var/log/missing 50").r.value, 1);
    EXPECT_EQ(remoteExec("./vxtail /var/log/tty12 0").r.value, 1);
    EXPECT_EQ(remoteExec("./vxtail /var/log/tty12 5x").r.value, 1);
    EXPECT_EQ(remoteExec("./vxtail /../etc/passwd 5").r.value, 1);
    mkfifo(server.local("/var/log/fifo").c_str(), 0644);
    EXPECT_EQ(remoteExec("./vxtail /var/log/fifo 5").r.value, 1);
}

TEST_F(VxdTest, CryptMatchesCrypt3) {
    RawClient c(VXPROG_MAIN);
    Block b = callBlock(c, vxRPC_CRYPT, "absecret");
    ASSERT_EQ(b.status, RPC_SUCCESS);
    crypt_data data{};
    EXPECT_EQ(b.b.status, 0);
    EXPECT_EQ(b.data, crypt_r("secret", "ab", &data));
    EXPECT_EQ(b.data, "abNANd1rDfiNc");
    // No password: the salt alone still encrypts the empty password.
    EXPECT_EQ(callBlock(c, vxRPC_CRYPT, "ab").data, crypt_r("", "ab", &data));
    EXPECT_NE(callBlock(c, vxRPC_CRYPT, "a").b.status, 0);
    EXPECT_NE(callBlock(c, vxRPC_CRYPT, "!!secret").b.status, 0);
    // The password never reaches the daemon log.
    EXPECT_EQ(server.logText().find("secret"), std::string::npos);
    EXPECT_NE(server.logText().find(" 0x48000003 29 CRYPT ab\n"), std::string::npos);
}

TEST_F(VxdTest, NetdevReportsWholeTriples) {
    Reply r = callString(VXPROG_MAIN, vxRPC_NETDEV, "xxx");
    ASSERT_EQ(r.status, RPC_SUCCESS);
    EXPECT_EQ(r.r.code, 0);
    std::string text = r.text;
    EXPECT_LE(text.size(), 128u);
    EXPECT_TRUE(std::regex_match(text, std::regex("([^ ]+ [0-9]+ [0-9]+)( [^ ]+ [0-9]+ [0-9]+)*")))
        << text;
    EXPECT_NE((" " + text).find(" lo "), std::string::npos) << text;
}

// lo's transmitted and received byte counts from /proc/net/dev.
std::pair<unsigned long long, unsigned long long> loopbackCounters() {
    std::ifstream in("/proc/net/dev");
    std::string line;
    unsigned long long v[9] = {};
    while (std::getline(in, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        name.erase(0, name.find_first_not_of(' '));
        if (name != "lo") continue;
        std::istringstream s(line.substr(colon + 1));
        for (unsigned long long& x : v)
            s >> x;
        break;
    }
    return {v[8], v[0]};
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

TEST(VxdNetdev, MalformedAliasStopsTheStart) {
    for (const char* bad : {"eth1", "=lo", "eth1=", "eth 1=lo", "averyverylongname=lo"}) {
        std::string command =
            testServerBinDir() + "/vxd --root /tmp --netdev-alias '" + bad + "' 2>&1";
        FILE* p = popen(command.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char out[256] = {};
        size_t n = fread(out, 1, sizeof out - 1, p);
        out[n] = '\0';
        EXPECT_EQ(pclose(p), 2 << 8) << bad;
        EXPECT_EQ(std::string(out),
                  std::string("vxd: bad --netdev-alias value (want NAME=INTERFACE): ") + bad +
                      "\n");
    }
}

TEST_F(VxdTest, OnlyCommandsNamingRootPathsGetTheRootView) {
    // Without "/l" or "/tmp" in the line, or as a plain call of a server program, the command
    // runs in the plain shell; otherwise in the view that shows the root there.
    EXPECT_EQ(remoteExec("test -e /.vxd-root").r.value, 1);
    EXPECT_EQ(remoteExec("test -e /.vxd-root && test -d /tmp").r.value, 0);
    server.writeFile("/l/apache/etc/users", "");
    EXPECT_EQ(remoteExec("./cpin2 /l/apache/etc/users").r.value, 0);
    server.writeFile("/tmp/seen", "x");
    EXPECT_EQ(remoteExec("test -f /tmp/seen").r.value, 0);
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

    Reply ok = callString(inst, vxRPC_PING, "127.0.0.1");
    EXPECT_EQ(ok.r.code, 0);
    EXPECT_EQ(ok.r.value, 0);
    EXPECT_NE(server.readFile("__vxPingFil.txt").find("3 packets transmitted, 3 received"),
              std::string::npos)
        << server.readFile("__vxPingFil.txt");
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

// Runs vxd with args (no shell), returns its exit status and stderr.
int runVxd(const std::vector<std::string>& args, const std::string& errFile) {
    std::vector<std::string> all = {testServerBinDir() + "/vxd"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (const std::string& a : all)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), nullptr);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(VxdTest, SecondServerNeedsReplace) {
    std::string err = server.root() + "/../second.err";
    unsigned short port = testRegisteredPort(VXPROG_MAIN);
    EXPECT_EQ(runVxd({"--root", server.root()}, err), 1);
    std::ifstream in(err);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "vxd: program 1207959555 (0x48000003) is registered and answering at port " +
                        std::to_string(port) + "; stop that service or start with --replace");
    EXPECT_EQ(testRegisteredPort(VXPROG_MAIN), port);
    EXPECT_EQ(runVxd({"--root", server.root(), "--idle", "0"}, err), 2);
}

TEST(VxdTakeover, ReplacedServerLeavesNewRegistration) {
    TestServer first;
    ASSERT_TRUE(first.running()) << first.error();
    unsigned short firstPort = testRegisteredPort(VXPROG_MAIN);
    TestServer second;
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
