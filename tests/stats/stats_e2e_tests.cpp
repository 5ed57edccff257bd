// End-to-end tests of the statistics query against a real rpcbind, vxd and getstats2: the
// commands see the root at /l and /tmp, each kind's result file, and the failure paths.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

#include "access_log_lines.h"
#include "stat_query.h"
#include "test_server.h"
#include "vx_err.h"
#include "vx_remote.h"

namespace fs = std::filesystem;

namespace {

const char* const HOST = TestServer::host();

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TestServerOptions statsServer() {
    TestServerOptions options;
    options.statsTool = true;
    return options;
}

// The console's working directory is a temporary directory of the test.
class StatsRemote : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.running()) << m_server.error();
        char dir[] = "/tmp/orvelan-stats-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_local = dir;
        ASSERT_EQ(getcwd(m_previous, sizeof m_previous), m_previous);
        ASSERT_EQ(chdir(m_local.c_str()), 0);
        vxSelectProgram(1);
        time_t t = localTime(2024, 5, 10, 10, 5);
        ASSERT_TRUE(m_server.writeFile(
            "/var/log/squid/access.log",
            accessLogLine(t, 1000, "alice", "http://www.index.hu/a") +
                accessLogLine(t + 60, 2000, "alice", "http://www.index.hu/b") +
                accessLogLine(t + 3600, 4000, "kiss%20janos", "http://www.hvg.hu/") +
                accessLogLine(t + 3660, 8000, "root", "secret.hu:443", "CONNECT") +
                accessLogLine(t + 7200, 16000, "alice", "http://www.index.hu/a")));
    }
    void TearDown() override {
        EXPECT_EQ(chdir(m_previous), 0);
        fs::remove_all(m_local);
    }

    StatRequest request(int kind, int scope, const char* user = nullptr) const {
        return StatRequest{
            StatQuery{kind, STAT_RES_HOUR, scope, 2024, 5, 10, 10, 0, 2024, 5, 10, 12, 59}, user,
            false};
    }

    TestServer m_server{statsServer()};
    std::string m_local;
    char m_previous[4096];
};

TEST_F(StatsRemote, CommandsSeeTheRootAtLAndTmp) {
    ASSERT_TRUE(m_server.writeFile("/tmp/marker", "x"));
    EXPECT_EQ(vxRemoteExec(HOST, "test -f /tmp/marker && test -x /l/tools/getstats2 && "
                                 "test \"$VXD_ROOT\" = /.vxd-root && pwd > /tmp/where"),
              0);
    EXPECT_EQ(m_server.readFile("/tmp/where"), "/.vxd-root/srv\n");
    EXPECT_EQ(vxRemoteExec(HOST, "rm /tmp/marker /tmp/where"), 0);
    EXPECT_FALSE(m_server.exists("/tmp/marker"));
    // The server programs of the working directory still find the root's files.
    ASSERT_TRUE(m_server.writeFile("/l/apache/etc/users", "a:b\n"));
    EXPECT_EQ(vxRemoteExec(HOST, "./cpout /l/apache/etc/users"), 0);
    EXPECT_EQ(m_server.readFile("/l/apache/etc/users._vx_lck_"), "a:b\n");
    EXPECT_EQ(vxRemoteExec(HOST, "./cpin2 /l/apache/etc/users"), 0);
}

TEST_F(StatsRemote, EachKindFetchesItsResultAndCleansUp) {
    StatQuery record{};
    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_TRAFFIC, STAT_SCOPE_ALL), &record),
              StatOutcome::Chart);
    EXPECT_EQ(slurp("statout.txt"), "3000\n12000\n16000\n");
    EXPECT_EQ(slurp("statin.txt"), "2024-05-10 10:00:00\r\n2024-05-10 12:59:00\r\n2\r\n");
    EXPECT_EQ(record.kind, STAT_KIND_TRAFFIC);
    EXPECT_EQ(record.endHour, 12);
    EXPECT_FALSE(m_server.exists("/tmp/infile"));
    EXPECT_FALSE(m_server.exists("/tmp/outfile"));

    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_URL, STAT_SCOPE_ALL), &record),
              StatOutcome::Table);
    EXPECT_EQ(slurp("statout.txt"), "alice 2 http://www.index.hu/a\n"
                                    "alice 1 http://www.index.hu/b\n"
                                    "'kiss janos' 1 http://www.hvg.hu/\n"
                                    "root 1 secret.hu:443\n");
    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_SITE, STAT_SCOPE_USER, "kiss janos"), &record),
              StatOutcome::Table);
    EXPECT_EQ(slurp("statout.txt"), "'kiss janos' 1 www.hvg.hu\n");
    EXPECT_EQ(slurp("statin.txt"),
              "2024-05-10 10:00:00\r\n2024-05-10 12:59:00\r\n2\r\nkiss janos\r\n");
    EXPECT_EQ(record.scope, STAT_SCOPE_USER);
    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_SITE, STAT_SCOPE_GROUP), &record),
              StatOutcome::Table);
    EXPECT_EQ(record.scope, STAT_SCOPE_GROUP);
    EXPECT_EQ(slurp("statin.txt"), "2024-05-10 10:00:00\r\n2024-05-10 12:59:00\r\n2\r\n");
}

TEST_F(StatsRemote, ToolFailureKeepsTheOldResultAndTheServerFiles) {
    std::ofstream("statout.txt") << "previous\n";
    fs::remove(m_server.local("/var/log/squid/access.log"));
    StatQuery record{};
    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_URL, STAT_SCOPE_ALL), &record),
              StatOutcome::ServerFailed);
    EXPECT_EQ(record.kind, STAT_KIND_URL); // the record already describes the new query
    EXPECT_EQ(slurp("statout.txt"), "previous\n");
    EXPECT_TRUE(m_server.exists("/tmp/infile")); // no cleanup after a failure
    EXPECT_EQ(std::string(StatOutcomeMessage(StatOutcome::ServerFailed)), "Hiba a proxy szerveren");
}

TEST_F(StatsRemote, SuperUserAndMissingDirectoryOnTheServer) {
    StatQuery record{};
    StatRequest super = request(STAT_KIND_URL, STAT_SCOPE_USER, "root");
    super.userIsSuper = true;
    EXPECT_EQ(RunStatQuery(HOST, super, &record), StatOutcome::SuperUser);
    EXPECT_FALSE(fs::exists("statin.txt"));
    EXPECT_EQ(record.kind, 0);

    fs::remove_all(m_server.local("/tmp"));
    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_URL, STAT_SCOPE_ALL), &record),
              StatOutcome::RemoteWrite);
    EXPECT_TRUE(fs::exists("statin.txt"));
    EXPECT_EQ(record.kind, STAT_KIND_URL);
}

} // namespace
