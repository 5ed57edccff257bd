// End-to-end tests of the statistics query against a real rpcbind, vxd and getstats2: each kind's
// result file and the failure paths.
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "stats/stat_progress.h"
#include "stats/stat_query.h"
#include "stats/stat_result.h"
#include "tests/stats/access_log_lines.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace fs = std::filesystem;

namespace {

const char* const HOST = TestServer::host();

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
        ASSERT_TRUE(m_local.ok());
        fs::current_path(m_local.path());
        time_t t = localTime(2024, 5, 10, 10, 5);
        ASSERT_TRUE(m_server.writeFile(
            "/var/log/squid/access.log",
            accessLogLine(t, 1000, "alice", "http://www.index.hu/a") +
                accessLogLine(t + 60, 2000, "alice", "http://www.index.hu/b") +
                accessLogLine(t + 3600, 4000, "kiss%20janos", "http://www.hvg.hu/") +
                accessLogLine(t + 3660, 8000, "root", "secret.hu:443", "CONNECT") +
                accessLogLine(t + 7200, 16000, "alice", "http://www.index.hu/a")));
    }
    void TearDown() override { fs::current_path(m_previous); }

    StatRequest request(int kind, int scope, const char* user = nullptr) const {
        return StatRequest{
            StatQuery{kind, STAT_RES_HOUR, scope, 2024, 5, 10, 10, 0, 2024, 5, 10, 12, 59}, user,
            false};
    }

    TestServer m_server{statsServer()};
    fs::path m_previous = fs::current_path();
    TempDir m_local{"orvelan-stats-e2e"};
};

// The query file reaches the server's /tmp and the tool at /l/tools runs on the root's log.
TEST_F(StatsRemote, EachKindFetchesItsResultAndCleansUp) {
    StatResult result;
    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_TRAFFIC, STAT_SCOPE_ALL), &result),
              StatOutcome::Chart);
    EXPECT_EQ(readFileBytes("statout.txt"), "3000\n12000\n16000\n");
    EXPECT_EQ(readFileBytes("statin.txt"), "2024-05-10 10:00:00\r\n2024-05-10 12:59:00\r\n2\r\n");
    EXPECT_EQ(result.query.kind, STAT_KIND_TRAFFIC);
    EXPECT_EQ(result.query.endHour, 12);
    EXPECT_EQ(result.values, (std::vector<double>{3000, 12000, 16000}));
    EXPECT_EQ(result.labels.back(), "2024 05.10 12:00");
    EXPECT_FALSE(m_server.exists("/tmp/infile"));
    EXPECT_FALSE(m_server.exists("/tmp/outfile"));

    // The request's check of super users leaves their entries out of a table result.
    StatRequest urls = request(STAT_KIND_URL, STAT_SCOPE_ALL);
    urls.superCheck = [](const char* name, void*) { return std::string(name) == "root"; };
    EXPECT_EQ(RunStatQuery(HOST, urls, &result), StatOutcome::Table);
    EXPECT_EQ(readFileBytes("statout.txt"), "alice 2 http://www.index.hu/a\n"
                                            "alice 1 http://www.index.hu/b\n"
                                            "'kiss janos' 1 http://www.hvg.hu/\n"
                                            "root 1 secret.hu:443\n");
    EXPECT_EQ(result.lines.size(), 3u);
    EXPECT_EQ(result.lines[2], "      kiss janos         1    http://www.hvg.hu/");
    EXPECT_TRUE(result.values.empty());
    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_SITE, STAT_SCOPE_USER, "kiss janos"), &result),
              StatOutcome::Table);
    EXPECT_EQ(readFileBytes("statout.txt"), "'kiss janos' 1 www.hvg.hu\n");
    EXPECT_EQ(readFileBytes("statin.txt"),
              "2024-05-10 10:00:00\r\n2024-05-10 12:59:00\r\n2\r\nkiss janos\r\nlines 99999\r\n");
    EXPECT_EQ(result.query.scope, STAT_SCOPE_USER);
}

// A group's requests by the server's user list, under the group's name.
TEST_F(StatsRemote, AGroupQueryCountsTheGroupsUsersUnderItsName) {
    ASSERT_TRUE(m_server.writeFile("/l/apache/etc/users", "alice:Iroda::p:::\r\n"
                                                          "kiss janos:Iroda::p:::\r\n"
                                                          "root:Iroda::p::s:\r\n"));
    StatRequest sites = request(STAT_KIND_SITE, STAT_SCOPE_GROUP);
    sites.groupName = "Iroda";
    StatResult result;
    EXPECT_EQ(RunStatQuery(HOST, sites, &result), StatOutcome::Table);
    EXPECT_EQ(readFileBytes("statin.txt"), "2024-05-10 10:00:00\r\n2024-05-10 12:59:00\r\n2\r\n"
                                           "\r\ngroup Iroda\r\nlines 99999\r\n");
    EXPECT_EQ(result.query.scope, STAT_SCOPE_GROUP);
    EXPECT_EQ(result.scopeName, "Iroda");
    EXPECT_EQ(result.lines, (std::vector<std::string>{"           Iroda         3    www.index.hu",
                                                      "           Iroda         1    www.hvg.hu"}));
    StatRequest traffic = request(STAT_KIND_TRAFFIC, STAT_SCOPE_GROUP);
    traffic.groupName = "Iroda";
    EXPECT_EQ(RunStatQuery(HOST, traffic, &result), StatOutcome::Chart);
    EXPECT_EQ(result.values, (std::vector<double>{3000, 4000, 16000})); // root's 8000 left out
    EXPECT_FALSE(m_server.exists("/tmp/outfile"));
}

// Sets a variable of the environment while it lives (before the server it is to reach starts).
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(name) { setenv(name, value, 1); }
    ~ScopedEnv() { unsetenv(m_name); }

  private:
    const char* m_name;
};

// The server's tool pauses after each block of log text it reads: a query that runs for a while.
class StatsSlowTool : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_slowServer.running()) << m_slowServer.error();
        ASSERT_TRUE(m_local.ok());
        fs::current_path(m_local.path());
    }
    void TearDown() override { fs::current_path(m_previous); }

    ScopedEnv m_slow{"ORVELAN_STATS_SLOW_MS", "1500"};
    TestServer m_slowServer{statsServer()};
    fs::path m_previous = fs::current_path();
    TempDir m_local{"orvelan-stats-slow"};
};

struct Readings {
    std::vector<std::pair<uint64_t, uint64_t>> seen;
    std::thread::id thread;
};

void keepReading(uint64_t done, uint64_t total, void* context) {
    auto* r = static_cast<Readings*>(context);
    r->seen.emplace_back(done, total);
    r->thread = std::this_thread::get_id();
}

// A tool that runs longer than a second tells its progress, read beside the link's wait.
TEST_F(StatsSlowTool, ItsProgressIsToldWhileItRuns) {
    time_t t = localTime(2024, 5, 10, 10, 5);
    const std::string log = accessLogLine(t, 3000, "alice") + accessLogLine(t + 7200, 16000, "bob");
    ASSERT_TRUE(m_slowServer.writeFile("/var/log/squid/access.log", log));
    StatRequest traffic{StatQuery{STAT_KIND_TRAFFIC, STAT_RES_HOUR, STAT_SCOPE_ALL, 2024, 5, 10, 10,
                                  0, 2024, 5, 10, 12, 59},
                        nullptr, false};
    Readings readings;
    traffic.progress = keepReading;
    traffic.progressContext = &readings;
    StatResult result;
    vxClearError();
    EXPECT_EQ(RunStatQuery(HOST, traffic, &result), StatOutcome::Chart);
    EXPECT_EQ(result.values, (std::vector<double>{3000, 0, 16000}));
    EXPECT_EQ(vxLastError().code, 0) << vxLastError().text;
    ASSERT_FALSE(readings.seen.empty());
    EXPECT_EQ(readings.seen.back(), std::make_pair(uint64_t(log.size()), uint64_t(log.size())));
    EXPECT_NE(readings.thread, std::this_thread::get_id());
    EXPECT_FALSE(m_slowServer.exists("/tmp/outfile.progress"));
}

TEST(StatProgress, LinesAndTheirText) {
    uint64_t done = 0, total = 0;
    EXPECT_TRUE(StatParseProgress("125829120 314572800\n", &done, &total));
    EXPECT_EQ(StatProgressText(done, total), "Olvasva: 40% (120 / 300 MB)");
    EXPECT_EQ(StatProgressText(0, 0), "Olvasva: 0% (0 / 0 MB)");
    EXPECT_FALSE(StatParseProgress("12 10\n", &done, &total)); // more read than there is
    EXPECT_FALSE(StatParseProgress("12\n", &done, &total));
    EXPECT_FALSE(StatParseProgress("1 2 3\n", &done, &total));
}

// The look beside the link: its own instance and records, no error recorded; a cancel that
// finds only its wait is kept for the link's next wait.
TEST_F(StatsRemote, APeekBesideTheLinkLeavesTheLinksRecordsAndCancels) {
    ASSERT_TRUE(m_server.writeFile("/tmp/outfile.progress", "10 20\n"));
    char text[64];
    vxClearError();
    EXPECT_EQ(vxPeekRemoteFile(HOST, "/tmp/outfile.progress", text, sizeof text), 6);
    EXPECT_STREQ(text, "10 20\n");
    EXPECT_EQ(vxPeekRemoteFile(HOST, "/tmp/outfile.progress", text, 4), 3);
    EXPECT_STREQ(text, "10 ");
    EXPECT_EQ(vxPeekRemoteFile(HOST, "/tmp/missing", text, sizeof text), -1);
    EXPECT_EQ(vxLastError().code, 0) << vxLastError().text;

    m_server.pause();
    int got = 0;
    std::thread side([&] { got = vxPeekRemoteFile(HOST, "/tmp/outfile.progress", text, 64); });
    usleep(300000); // the peek waits on the stopped server
    vxCancel();
    side.join();
    m_server.resume();
    EXPECT_EQ(got, -1);
    EXPECT_EQ(vxRemoteExec(HOST, "true"), -1); // the link's next wait takes the cancel
    EXPECT_EQ(vxLastError().code, VX_CANCELLED) << vxLastError().text;
    vxResetCancel();
    EXPECT_EQ(vxRemoteExec(HOST, "true"), 0) << vxLastError().text;
}

TEST_F(StatsRemote, ToolFailureOrNoServerTmpKeepsTheOldResult) {
    m_local.write("statout.txt", "previous\n");
    fs::remove(m_server.local("/var/log/squid/access.log"));
    StatResult result;
    result.lines = {"previous"};
    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_URL, STAT_SCOPE_ALL), &result),
              StatOutcome::ServerFailed);
    EXPECT_EQ(readFileBytes("statout.txt"), "previous\n");
    EXPECT_TRUE(m_server.exists("/tmp/infile")); // no cleanup after a failure

    fs::remove_all(m_server.local("/tmp"));
    EXPECT_EQ(RunStatQuery(HOST, request(STAT_KIND_SITE, STAT_SCOPE_ALL), &result),
              StatOutcome::RemoteWrite);
    EXPECT_EQ(readFileBytes("statout.txt"), "previous\n");
    EXPECT_TRUE(fs::exists("statin.txt"));
    // A failed run hands over no result: the one held before stays.
    EXPECT_EQ(result.query.kind, STAT_KIND_TRAFFIC);
    EXPECT_EQ(result.lines, std::vector<std::string>{"previous"});
}

} // namespace
