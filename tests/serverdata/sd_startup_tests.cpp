// Tests of the start-up sequence: the set mark, the parameter source, the server's answers.
#include <gtest/gtest.h>
#include <string>

#include "serverdata/startup.h"
#include "tests/support/demo_root.h"
#include "tests/support/sd_fixture.h"
#include "winlib/vx_reg.h"

namespace {

class StartupTest : public DataDirTest {
  protected:
    void SetUp() override {
        DataDirTest::SetUp();
        noServer = 0;
    }
    static void setMark(const char* value) {
        std::string path = std::string(ORVELAN_REGISTRY_ROOT) + "\\Setup\\Set";
        ASSERT_GE(vxWriteRegistryKey(nullptr, 0, path.c_str(), value, REG_SZ), 0);
    }
    static void expectSilentNoServer(const StartupResult& r) {
        EXPECT_EQ(r.messageText, nullptr);
        EXPECT_EQ(r.exitCode, -1);
        EXPECT_EQ(r.noServer, 1);
        EXPECT_EQ(noServer, 1);
    }
};

TEST_F(StartupTest, AnythingButExactlyXOrNoServerNameLeavesTheServerAloneSilently) {
    put("p.cnf", "ProxyServerName 127.0.0.1\n");
    EXPECT_FALSE(SetMarkDone()); // no registry store at all
    expectSilentNoServer(RunStartup("p.cnf"));
    for (const char* mark : {"x", "X ", "", "XX"}) {
        SCOPED_TRACE(mark);
        noServer = 0;
        setMark(mark);
        EXPECT_FALSE(SetMarkDone());
        expectSilentNoServer(RunStartup("p.cnf"));
        EXPECT_FALSE(exists("orvelan.cnf"));
        EXPECT_STREQ(serverData.session.host, "");
    }
    setMark("X");
    EXPECT_TRUE(SetMarkDone());

    // A missing ProxyServerName is silent too; only the first word of the command line counts.
    noServer = 0;
    put("first.cnf", "USERPROC kaka\n");
    put("second.cnf", "ProxyServerName 127.0.0.1\n");
    expectSilentNoServer(RunStartup("  first.cnf second.cnf"));
    EXPECT_STREQ(serverData.session.host, "");
    // A command line of blanks: the registry's Setup key is the source, and it has no
    // ProxyServerName.
    noServer = 0;
    expectSilentNoServer(RunStartup(" \t "));
    EXPECT_STREQ(vxLastError().text, "No parameter ProxyServerName in parameter file !");
}

TEST_F(StartupTest, ReachableServerIsConfiguredAndPingedTwice) {
    TestServer server;
    ASSERT_TRUE(server.running()) << server.error();
    ASSERT_TRUE(buildDemoRoot(server));
    setMark("X");
    std::string key = std::string(ORVELAN_REGISTRY_ROOT) + "\\Setup\\ProxyServerName";
    ASSERT_GE(vxWriteRegistryKey(nullptr, 0, key.c_str(), "127.0.0.1", REG_SZ), 0);
    StartupResult r = RunStartup("");
    EXPECT_EQ(r.messageText, nullptr);
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(r.noServer, 0);
    EXPECT_STREQ(serverData.session.host, "127.0.0.1");
    EXPECT_STREQ(vxGetParam("USERPROC"), "./post_ok");
    EXPECT_EQ(get("orvelan.cnf"), server.readFile("orvelan.cnf"));
}

TEST_F(StartupTest, ServerThatDoesNotAnswerGivesTheTwoMarkMessage) {
    setMark("X");
    // 127.0.0.2 answers pings, but no service listens there.
    put("p.cnf", "ProxyServerName 127.0.0.2\n");
    put("orvelan.cnf", "USERPROC from-an-earlier-run\n");
    StartupResult r = RunStartup("p.cnf");
    EXPECT_STREQ(r.messageText, "Hiba a proxy szerveren !!");
    EXPECT_STREQ(r.messageTitle, "ERROR !");
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(r.noServer, 1);
    EXPECT_EQ(vxGetParam("USERPROC"), nullptr); // the old local copy was not read
}

} // namespace
