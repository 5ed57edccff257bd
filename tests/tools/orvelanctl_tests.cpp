// End-to-end tests of orvelanctl against a real rpcbind and reference server: every subcommand's
// effect on the server's files, its messages and its exit status.
#include <chrono>
#include <crypt.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/console_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "winlib/vx_reg.h"

namespace fs = std::filesystem;

namespace {

class OrvelanctlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.running()) << server.error();
        ASSERT_TRUE(tmp.ok());
        dir = tmp.path();
        fs::create_directories(dir / "work");
        ASSERT_TRUE(setUpConsoleRegistry(dir));
        ASSERT_TRUE(server.writeFile("orvelan.cnf", "USERPROC kaka\nGROUPPROC grouppen\n"));
        // The server's list directories exist on a real installation.
        ASSERT_TRUE(server.writeFile("/l/apache/etc/permit/README", "permit lists\n"));
    }
    void TearDown() override { clearConsoleRegistry(); }

    // Runs orvelanctl in the test's working directory with the given standard input.
    CtlRun ctl(const std::string& args, const std::string& input = "") {
        return runConsoleProgram(ORVELANCTL, dir, args, input);
    }
    // The same for a command that must succeed.
    CtlRun ok(const std::string& args, const std::string& input = "") {
        CtlRun r = ctl(args, input);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
        return r;
    }
    // The lists of a server with one group (staff) that has one user (anna) and one URL.
    void seedLists() {
        ASSERT_TRUE(server.writeFile("/l/apache/etc/groups", "staff d\r\n"));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/users", "anna:staff::p:::\r\n"));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/userdata", "anna :Anna : : : : \r\n"));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/permit/staff.deny", "www.example.org\n"));
    }
    static std::string read(const fs::path& path) { return readFileBytes(path.string()); }
    std::string write(const std::string& name, const std::string& content) {
        std::ofstream(dir / "work" / name, std::ios::binary) << content;
        return name;
    }

    TestServer server;
    TempDir tmp{"vxctl"};
    fs::path dir;
};

// The server files that the editing subcommands may touch, with their contents ("-" missing).
std::string serverFiles(const TestServer& server) {
    std::string all;
    for (const char* path :
         {"/l/apache/etc/users", "/l/apache/etc/userdata", "/l/apache/etc/groups",
          "/l/apache/etc/permit/staff.deny", "/l/apache/etc/permit/guests.allow",
          "/l/apache/etc/permit/guests.deny", "/etc/squid/orvelan/passwd"}) {
        all += std::string(path) + "=" + (server.exists(path) ? server.readFile(path) : "-") + "\n";
        EXPECT_FALSE(server.exists(std::string(path) + "._vx_lck_")) << path;
    }
    return all;
}

TEST_F(OrvelanctlTest, GroupsImportSavesRunsGrouppenAndListsBack) {
    write("groups.txt", "staff d\r\nguests a\n");
    CtlRun r = ok("groups import groups.txt");
    EXPECT_EQ(r.out, "OK !\n");
    EXPECT_EQ(server.readFile("/l/apache/etc/groups"),
              "guests a \"/l/apache/etc/permit/guests.allow\"\r\n"
              "staff d \"/l/apache/etc/permit/staff.deny\"\r\n");
    EXPECT_FALSE(server.exists("/l/apache/etc/groups._vx_lck_")); // released
    EXPECT_FALSE(fs::exists(dir / "work" / "vx_groups.txt"));
    // The post-save command built the proxy configuration.
    EXPECT_NE(server.readFile("/etc/squid/orvelan/orvelan.conf").find("acl orvelan_g_staff"),
              std::string::npos);

    EXPECT_EQ(ok("groups list").out, "guests a\r\nstaff d\r\n");
    ok("groups export exported.txt");
    EXPECT_EQ(read(dir / "work" / "exported.txt"), "guests a\r\nstaff d\r\n");
}

TEST_F(OrvelanctlTest, UsersImportRoundTripsByteForByte) {
    ASSERT_TRUE(server.writeFile("/l/apache/etc/groups",
                                 "staff d \"/l/apache/etc/permit/staff.deny\"\r\n"));
    // Windows-1250 bytes: "Kovács János", "megjegyzés".
    const std::string line = "kovacs:staff:wjAbCdEfGhIjK:p:e::Kov\xe1"
                             "cs J\xe1nos :123 :12 :456 :megjegyz\xe9s \r\n";
    write("users.txt", line + "nagy:::::s:Nagy Anna : : : : \r\n");
    ok("users import users.txt");
    EXPECT_EQ(server.readFile("/l/apache/etc/users"), "kovacs:staff:wjAbCdEfGhIjK:p:e:::\r\n"
                                                      "nagy:::::s::\r\n");
    EXPECT_EQ(server.readFile("/l/apache/etc/userdata"),
              "kovacs :Kov\xe1"
              "cs J\xe1nos :123 :12 :456 :megjegyz\xe9s \r\n"
              "nagy :Nagy Anna : : : : \r\n");
    EXPECT_EQ(server.readFile("/etc/squid/orvelan/passwd"), "kovacs:wjAbCdEfGhIjK\n");

    ok("users export back.txt");
    EXPECT_EQ(read(dir / "work" / "back.txt"), line + "nagy:::::s:Nagy Anna : : : : \r\n");
    CtlRun r = ctl("--utf8 users list");
    EXPECT_NE(r.out.find("Kovács János"), std::string::npos) << r.out;
}

TEST_F(OrvelanctlTest, AFailingPostSaveCommandIsNamedAndTheListRestoredAndReleased) {
    write("users.txt", "bela:::::::\r\n");
    const struct {
        const char* param;
        const char* list;
        const char* content;
        const char* args;
    } cases[] = {
        {"USERPROC", "users", "anna::::::\r\n", "users import users.txt"},
        {"GROUPPROC", "groups", "staff d\r\n", "groups add guests --allow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string list = std::string("/l/apache/etc/") + c.list;
        ASSERT_TRUE(server.writeFile("orvelan.cnf", std::string(c.param) + " false\n"));
        ASSERT_TRUE(server.writeFile(list, c.content));
        CtlRun r = ctl(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Hiba a proxy szerveren !\n"
                         "  post-save command \"false\" failed with exit status 1\n");
        EXPECT_EQ(server.readFile(list), c.content);
        serverFiles(server); // no lock is left
        EXPECT_FALSE(fs::exists(dir / "work" / ("vx_" + std::string(c.list) + ".txt")));
    }
}

TEST_F(OrvelanctlTest, ReleaseDropsTheLocksThisDirectoryHolds) {
    ASSERT_TRUE(server.writeFile("/l/apache/etc/groups", "staff d\r\n"));
    ASSERT_TRUE(server.writeFile("/l/apache/etc/users", "a:staff::p:::\r\n"));
    // This working directory holds the group list and the user list, as a console that died
    // while editing would leave them.
    for (const char* file : {"groups", "users"}) {
        std::string path = std::string("/l/apache/etc/") + file;
        ASSERT_EQ(ctl("exec ./cpout " + path).status, 0);
        ASSERT_EQ(ctl("get " + path + "._vx_lck_ vx_" + file + ".txt").status, 0);
    }
    ok("release");
    EXPECT_FALSE(server.exists("/l/apache/etc/groups._vx_lck_"));
    EXPECT_FALSE(server.exists("/l/apache/etc/users._vx_lck_"));
    EXPECT_FALSE(fs::exists(dir / "work" / "vx_groups.txt"));
    EXPECT_FALSE(fs::exists(dir / "work" / "vx_users.txt"));
}

TEST_F(OrvelanctlTest, ConsolePasswordsFromStandardInput) {
    ok("passwd check admin", "\n"); // no password file: the empty password passes
    ok("passwd set admin", "titok\n");
    EXPECT_EQ(server.readFile("/l/apache/etc/ampasswd"), crypt("titok", "wj"));
    ok("passwd check admin", "titok\n");
    CtlRun r = ctl("passwd check 1", "rossz\n");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "Hibás jelszó !\n");
    EXPECT_EQ(ctl("passwd check user", "titok\n").status, 5); // user level: no file, not empty
    EXPECT_EQ(ctl("passwd check 2", "x\n").status, 64);
}

TEST_F(OrvelanctlTest, HoursExecAndTransfers) {
    ok("hours set 8:00 16:30");
    EXPECT_EQ(server.readFile("attandance.txt"), "08:00 - 16:30\r\n");
    EXPECT_EQ(ok("hours get").out, "08:00 - 16:30\n");
    EXPECT_EQ(ctl("hours set 8 16:30").status, 64);

    CtlRun r = ctl("exec 'exit 3'");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "3\n");
    write("up.bin", std::string("\0\1\2 bytes", 9));
    ok("put up.bin /l/up.bin");
    EXPECT_EQ(server.readFile("/l/up.bin"), std::string("\0\1\2 bytes", 9));
    ok("get /l/up.bin down.bin");
    EXPECT_EQ(read(dir / "work" / "down.bin"), std::string("\0\1\2 bytes", 9));
    r = ctl("get /nonexistent x.bin");
    EXPECT_EQ(r.status, 5);
    EXPECT_FALSE(fs::exists(dir / "work" / "x.bin"));
}

TEST_F(OrvelanctlTest, ProbesOfTheServerAndFromHere) {
    CtlRun r = ok("ping 1");
    EXPECT_NE(r.out.find("from 127.0.0.1: icmp_seq = 0."), std::string::npos) << r.out;
    r = ok("remote-ping 127.0.0.1");
    EXPECT_NE(r.out.find("127.0.0.1"), std::string::npos) << r.out;
    r = ctl("remote-ping '127.0.0.1;touch x'");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(server.exists("x"));
    r = ok("counters");
    // "name transmitted received" triples; the loopback interface is always there.
    EXPECT_TRUE(r.out.rfind("lo ", 0) == 0 || r.out.find(" lo ") != std::string::npos) << r.out;
}

TEST_F(OrvelanctlTest, StartupChecksDecideBeforeAnyCommand) {
    ASSERT_EQ(vxWriteRegistryKey(nullptr, 0, (kConsoleSetupKey + "Set").c_str(), "x", REG_SZ), 0);
    CtlRun r = ctl("groups list");
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.err.rfind("orvelanctl: no server", 0), 0u) << r.err;
    EXPECT_EQ(ctl("frobnicate").status, 64);
    r = ctl("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("users import FILE"), std::string::npos);
    EXPECT_NE(r.out.find("  users add NAME [FIELDS]"), std::string::npos);
    EXPECT_NE(r.out.find("  urls add|delete GROUP URL..."), std::string::npos);
}

TEST_F(OrvelanctlTest, UsersAddSetDeleteRoundTrip) {
    ASSERT_TRUE(server.writeFile("/l/apache/etc/groups", "guests a\r\nstaff d\r\n"));
    // Windows-1250 "Kovács"; the password comes from standard input.
    CtlRun r = ok("users add kovacs --group staff --full-name 'Kov\xe1"
                  "cs' --phone 123 --proxy --mail kovi --password",
                  "titok\n");
    EXPECT_EQ(r.out, "OK !\n");
    EXPECT_EQ(r.err, "");
    const std::string encrypted = crypt("titok", "wj"); // the server's crypt, the fixed salt
    EXPECT_EQ(server.readFile("/l/apache/etc/users"),
              "kovacs:staff:" + encrypted + ":p:e::kovi:\r\n");
    EXPECT_EQ(server.readFile("/l/apache/etc/userdata"), "kovacs :Kov\xe1"
                                                         "cs :123 : : : \r\n");
    EXPECT_EQ(server.readFile("/etc/squid/orvelan/passwd"), "kovacs:" + encrypted + "\n");

    // A second user; then only the options given change, and a text too long for its field is
    // cut as the user data dialog cuts it.
    ok("users add anna --super");
    r = ok("users set kovacs --group guests --no-proxy --no-mail --room 1234567890123456789 "
           "--comment 'second floor'");
    EXPECT_EQ(r.err, "orvelanctl: --room cut to 15 bytes\n");
    EXPECT_EQ(server.readFile("/l/apache/etc/users"),
              "anna:::::s::\r\nkovacs:guests:" + encrypted + ":::::\r\n");
    EXPECT_EQ(server.readFile("/l/apache/etc/userdata"),
              "anna : : : : : \r\n"
              "kovacs :Kov\xe1"
              "cs :123 :123456789012345 : :second floor \r\n");
    EXPECT_EQ(ctl("users list").out, "anna:::::s: : : : : \r\nkovacs:guests:" + encrypted +
                                         "::::Kov\xe1"
                                         "cs :123 :123456789012345 : :second floor \r\n");

    // A new password for a user without the proxy right: only the user list holds it.
    ok("users set kovacs --password", "uj\n");
    EXPECT_EQ(server.readFile("/l/apache/etc/users"),
              "anna:::::s::\r\nkovacs:guests:" + std::string(crypt("uj", "wj")) + ":::::\r\n");

    ok("users delete kovacs");
    EXPECT_EQ(server.readFile("/l/apache/etc/users"), "anna:::::s::\r\n");
    EXPECT_EQ(server.readFile("/l/apache/etc/userdata"), "anna : : : : : \r\n");
    serverFiles(server); // no lock copy is left

    // A name from before the rule was checked cannot be saved again, but it can be deleted.
    ASSERT_TRUE(server.writeFile("/l/apache/etc/users", "anna:::::s::\r\nbad;x:::::::\r\n"));
    EXPECT_EQ(ctl("users set anna --room 1").status, 2);
    ok("users delete 'bad;x'");
    EXPECT_EQ(server.readFile("/l/apache/etc/users"), "anna:::::s::\r\n");
    for (const char* local : {"vx_users.txt", "vx_userdata.txt", "vx_groups.txt"})
        EXPECT_FALSE(fs::exists(dir / "work" / local)) << local;
}

TEST_F(OrvelanctlTest, GroupsAndUrlsAddSetDeleteRoundTrip) {
    ASSERT_TRUE(server.writeFile("/l/apache/etc/groups", "staff d\r\n"));
    ok("groups add guests --allow");
    EXPECT_EQ(server.readFile("/l/apache/etc/groups"),
              "guests a \"/l/apache/etc/permit/guests.allow\"\r\n"
              "staff d \"/l/apache/etc/permit/staff.deny\"\r\n");

    ok("urls add guests www.example.org intranet.local/wiki");
    EXPECT_EQ(server.readFile("/l/apache/etc/permit/guests.allow"),
              "intranet.local/wiki\nwww.example.org\n");
    EXPECT_EQ(ctl("urls list guests").out, "intranet.local/wiki\r\nwww.example.org\r\n");
    ok("urls delete guests www.example.org");
    EXPECT_EQ(server.readFile("/l/apache/etc/permit/guests.allow"), "intranet.local/wiki\n");
    EXPECT_FALSE(fs::exists(dir / "work" / "sites_of_guests.txt"));

    // The kind changes the permit file the group names, as the groups page saves it.
    ok("groups set guests --deny");
    EXPECT_EQ(server.readFile("/l/apache/etc/groups"),
              "guests d \"/l/apache/etc/permit/guests.deny\"\r\n"
              "staff d \"/l/apache/etc/permit/staff.deny\"\r\n");
    ok("groups delete guests");
    EXPECT_EQ(server.readFile("/l/apache/etc/groups"),
              "staff d \"/l/apache/etc/permit/staff.deny\"\r\n");
    EXPECT_EQ(ctl("groups list").out, "staff d\r\n");
    serverFiles(server);
}

TEST_F(OrvelanctlTest, RefusedEditsChangeNothingAndReleaseTheLocks) {
    seedLists();
    const std::string before = serverFiles(server);
    write("bad.txt", "ok d\nbad;rm d\n");

    const struct {
        const char* args;
        int status;
        const char* err;
    } cases[] = {
        {"groups import bad.txt", 4, nullptr},
        {"users add 'bad;name'", 5, "orvelanctl: bad;name: ';' is not allowed in a name\n"},
        {"users add bela -x", 64, "orvelanctl: users: unexpected -x\nTry 'orvelanctl --help'.\n"},
        {"users add anna", 5, "A user már szerepel a listában\n  anna\n"},
        {"users set nobody --room 1", 5, "orvelanctl: no user named nobody on the server\n"},
        {"users delete nobody", 5, "orvelanctl: no user named nobody on the server\n"},
        {"users add bela --group nosuch", 5, "orvelanctl: no group named nosuch on the server\n"},
        {"users add bela --comment 'a:b'", 5, nullptr},
        {"groups add staff --allow", 5, "A csoport már szerepel a listában\n  staff\n"},
        {"groups add newgroup", 64, nullptr},
        {"groups set nosuch --allow", 5, "orvelanctl: no group named nosuch on the server\n"},
        {"groups delete nosuch", 5, "orvelanctl: no group named nosuch on the server\n"},
        {"groups delete staff", 5,
         "staff csoport nem törölhető !\n  users still belong to the group\n"},
        {"urls add staff www.example.org", 5,
         "Az URL már szerepel a listában\n  www.example.org\n"},
        {"urls delete staff new.example.org", 5,
         "orvelanctl: no URL new.example.org in the list\n"},
        {"urls add nosuch a.example.org", 64, "orvelanctl: no group named nosuch on the server\n"},
        {"urls list nosuch", 64, "orvelanctl: no group named nosuch on the server\n"},
    };
    for (const auto& c : cases) {
        CtlRun r = ctl(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err, c.err           ? std::string(c.err)
                         : r.err.empty() ? "(a reason)"
                                         : r.err)
            << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_EQ(serverFiles(server), before) << c.args;
        for (const auto& entry : fs::directory_iterator(dir / "work"))
            EXPECT_EQ(entry.path().filename().string().rfind("vx_", 0), std::string::npos)
                << c.args << ": " << entry.path();
        EXPECT_FALSE(fs::exists(dir / "work" / "sites_of_staff.txt")) << c.args;
    }
}

TEST_F(OrvelanctlTest, EditsOfAListHeldElsewhereAreConcurrentUse) {
    seedLists();
    // A second working directory: another console that holds a list while it edits.
    fs::create_directories(dir / "other");
    const std::string other = "-C '" + (dir / "other").string() + "' ";
    const struct {
        const char* held;
        const char* edit;
    } cases[] = {
        {"/l/apache/etc/userdata", "users add bela"}, // the first of the two checkouts
        {"/l/apache/etc/users", "users delete anna"}, // the second: the first is released
        {"/l/apache/etc/groups", "groups add guests --allow"},
        {"/l/apache/etc/permit/staff.deny", "urls add staff a.example.org"},
    };
    for (const auto& c : cases) {
        const std::string before = serverFiles(server);
        std::string held = c.held;
        ASSERT_EQ(ctl(other + "exec ./cpout " + held).status, 0) << held;
        CtlRun r = ctl(c.edit);
        EXPECT_EQ(r.status, 3) << c.edit;
        EXPECT_EQ(r.err, "Konkurens használat !\n  " + held + ": checked out by another console\n")
            << c.edit;
        EXPECT_TRUE(server.exists(held + "._vx_lck_")) << c.edit; // the other one's lock stays
        ASSERT_EQ(ctl(other + "exec ./cpin2 " + held).status, 0) << held;
        EXPECT_EQ(serverFiles(server), before) << c.edit;
        // Once the other console is done, the edit goes through.
        r = ctl(c.edit);
        EXPECT_EQ(r.status, 0) << c.edit << "\n" << r.err;
        EXPECT_NE(serverFiles(server), before) << c.edit;
        seedLists();
    }
}

// --timeout bounds every wait, a remote command's included; a malformed one is a usage error.
TEST_F(OrvelanctlTest, TimeoutBoundsARemoteCommand) {
    const auto start = std::chrono::steady_clock::now();
    CtlRun r = ctl("--timeout 1 exec sleep 4");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 5) << r.err; // exec cannot tell a failed link from a failed command
    EXPECT_NE(r.err.find("RPC: Timed out (clnt_call (4 function)) !"), std::string::npos) << r.err;
    EXPECT_LT(took, std::chrono::milliseconds(3500));
    EXPECT_EQ(ctl("--timeout 0 exec true").status, 64);
    EXPECT_EQ(ctl("--timeout x exec true").status, 64);
    EXPECT_EQ(ok("--timeout 0.5 exec true").out, "0\n");
}

// SIGINT while a remote command runs: the wait ends at once, the instance is released, the
// command on the server ends with it, and the status is 128 + 2.
TEST_F(OrvelanctlTest, AnInterruptEndsTheRunCleanly) {
    const std::string program = ORVELANCTL;
    const std::string work = (dir / "work").string(), err = (dir / "err").string();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addchdir_np(&files, work.c_str());
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const char* argv[] = {program.c_str(), "exec", "sleep", "23", nullptr};
    pid_t pid = -1;
    ASSERT_EQ(
        posix_spawn(&pid, program.c_str(), &files, &attributes, const_cast<char**>(argv), environ),
        0);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    for (int i = 0; i < 500 && server.logText().find(" EXEC sleep 23") == std::string::npos; ++i)
        usleep(20000);
    usleep(200000);
    const auto signalled = std::chrono::steady_clock::now();
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::milliseconds(2500));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(read(err).find("orvelanctl: interrupted"), std::string::npos) << read(err);
    // The server killed the command and took the release.
    std::string log;
    for (int i = 0; i < 250; ++i) {
        log = server.logText();
        if (log.find(" released (released)") != std::string::npos) break;
        usleep(20000);
    }
    EXPECT_NE(log.find("client gone: killed sleep 23"), std::string::npos) << log;
    EXPECT_NE(log.find(" 9 RELEASE"), std::string::npos) << log;
}

} // namespace
