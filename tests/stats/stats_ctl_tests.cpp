// End-to-end tests of "orvelanctl stats" against a real rpcbind, vxd and getstats2: each kind's
// output and CSV form, super users, and the refusals.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/stats/access_log_lines.h"
#include "tests/support/console_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace fs = std::filesystem;

namespace {

TestServerOptions statsServer() {
    TestServerOptions options;
    options.statsTool = true;
    return options;
}

class StatsCtl : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.running()) << server.error();
        dir = fs::temp_directory_path() / ("vxctl-stats-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "work");
        ASSERT_TRUE(setUpConsoleRegistry(dir));
        ASSERT_TRUE(server.writeFile("orvelan.cnf", "USERPROC kaka\nGROUPPROC grouppen\n"));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/groups",
                                     "staff d \"/l/apache/etc/permit/staff.deny\"\r\n"));
        ASSERT_TRUE(
            server.writeFile("/l/apache/etc/users", "alice:staff::p:::\r\nboss:staff::p::s:\r\n"));
        time_t t = localTime(2024, 3, 1, 9, 0);
        ASSERT_TRUE(
            server.writeFile("/var/log/squid/access.log",
                             accessLogLine(t, 500, "alice", "http://www.index.hu/") +
                                 accessLogLine(t + 86400, 700, "boss", "http://secret.hu/") +
                                 accessLogLine(t + 86400 + 60, 800, "alice", "http://a.hu/x,y")));
    }
    void TearDown() override {
        clearConsoleRegistry();
        fs::remove_all(dir);
    }

    CtlRun ctl(const std::string& args) { return runConsoleProgram(ORVELANCTL, dir, args); }
    static std::string read(const fs::path& path) { return readFileBytes(path.string()); }

    TestServer server{statsServer()};
    fs::path dir;
};

TEST_F(StatsCtl, DataUrlAndSiteWithTheirCsvForms) {
    CtlRun r = ctl("stats data --from '2024-03-01 00:00' --to '2024-03-03 23:59' --resolution day");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "2024 03.01 00:00  500\n2024 03.02 00:00  1500\n2024 03.03 00:00  0\n");
    EXPECT_EQ(read(dir / "work" / "statin.txt"),
              "2024-03-01 00:00:00\r\n2024-03-03 23:59:00\r\n3\r\n");
    r = ctl("stats data --from '2024-03-01 00:00' --to '2024-03-01 23:59' --resolution day --csv");
    EXPECT_EQ(r.out, "2024 03.01 00:00,500\n");

    // The super user's lines are dropped.
    r = ctl("stats url --from '2024-03-01 00:00' --to '2024-03-03 23:59'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "           alice         1    http://www.index.hu/\n"
                     "           alice         1    http://a.hu/x,y\n");
    r = ctl("stats site --from '2024-03-01 00:00' --to '2024-03-03 23:59' --user alice --csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "alice,1,www.index.hu\nalice,1,a.hu\n");
    r = ctl("stats url --from '2024-03-01 00:00' --to '2024-03-03 23:59' --csv");
    EXPECT_EQ(r.out, "alice,1,http://www.index.hu/\nalice,1,\"http://a.hu/x,y\"\n");
}

TEST_F(StatsCtl, AGroupUnderItsNameWithoutItsSuperUser) {
    ASSERT_TRUE(server.writeFile("/l/apache/etc/groups",
                                 "staff d \"/l/apache/etc/permit/staff.deny\"\r\n"
                                 "empty d \"/l/apache/etc/permit/empty.deny\"\r\n"));
    CtlRun r = ctl("stats data --from '2024-03-01 00:00' --to '2024-03-02 23:59' --resolution day "
                   "--group staff");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "2024 03.01 00:00  500\n2024 03.02 00:00  800\n"); // boss's 700 left out
    EXPECT_EQ(read(dir / "work" / "statin.txt"),
              "2024-03-01 00:00:00\r\n2024-03-02 23:59:00\r\n3\r\n\r\ngroup staff\r\n");
    r = ctl("stats site --from '2024-03-01 00:00' --to '2024-03-03 23:59' --group staff --csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "staff,1,www.index.hu\nstaff,1,a.hu\n");
    r = ctl("stats site --from '2024-03-01 00:00' --to '2024-03-03 23:59' --group empty");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");

    r = ctl("stats site --from '2024-03-01 00:00' --to '2024-03-03 23:59' --group nobody");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "orvelanctl: no group nobody\n");
    EXPECT_EQ(ctl("stats site --from '2024-03-01 00:00' --to '2024-03-03 23:59' --group staff "
                  "--user alice")
                  .status,
              64);
}

// The tool's progress goes to a terminal only: standard error here is a file.
class StatsCtlSlow : public StatsCtl {
  protected:
    static void SetUpTestSuite() { setenv("ORVELAN_STATS_SLOW_MS", "1200", 1); }
    static void TearDownTestSuite() { unsetenv("ORVELAN_STATS_SLOW_MS"); }
};

TEST_F(StatsCtlSlow, NoProgressWhenStandardErrorIsNoTerminal) {
    const auto started = std::chrono::steady_clock::now();
    CtlRun r = ctl("stats data --from '2024-03-01 00:00' --to '2024-03-03 23:59' --resolution day");
    ASSERT_EQ(r.status, 0) << r.err;
    // Long enough that a terminal would have been told.
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
    EXPECT_EQ(r.out, "2024 03.01 00:00  500\n2024 03.02 00:00  1500\n2024 03.03 00:00  0\n");
    EXPECT_EQ(r.err, "");
}

// On a terminal the progress is one line, rewritten in place and cleared at the end.
TEST_F(StatsCtlSlow, ProgressOnATerminalsStandardError) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string command = "cd '" + (dir / "work").string() + "' && '" ORVELANCTL "' stats " +
                                "data --from '2024-03-01 00:00' --to '2024-03-03 23:59' >out";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(slave, 2);
        close(master);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(slave);
    ASSERT_GT(pid, 0);
    std::string seen;
    char buf[256];
    ssize_t n;
    while ((n = ::read(master, buf, sizeof buf)) > 0) // ends when the last holder of the slave goes
        seen.append(buf, static_cast<size_t>(n));
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    const std::string line = "Olvasva: 100% (0 / 0 MB)";
    EXPECT_EQ(seen, "\r" + line + std::string(40 - line.size(), ' ') + "\r" + std::string(40, ' ') +
                        "\r");
}

TEST_F(StatsCtl, SuperUserAndBadArgumentsAreRefused) {
    CtlRun r = ctl("stats url --from '2024-03-01 00:00' --to '2024-03-03 23:59' --user boss");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "Szuper user !!!\n");
    EXPECT_FALSE(fs::exists(dir / "work" / "statin.txt"));
    EXPECT_EQ(ctl("stats url --from 2024-03-01 --to '2024-03-03 23:59'").status, 64);
    EXPECT_EQ(ctl("stats url --from '2024-03-01 00:00'").status, 64);
    EXPECT_EQ(ctl("stats bytes --from '2024-03-01 00:00' --to '2024-03-01 00:00'").status, 64);
    EXPECT_EQ(ctl("stats data --from '2024-03-01 00:00' --to '2024-03-01 00:00' --resolution "
                  "minute")
                  .status,
              64);
    // The server's tool refuses a date the calendar does not have.
    r = ctl("stats data --from '2024-02-30 00:00' --to '2024-03-01 00:00'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "Hiba a proxy szerveren");
}

} // namespace
