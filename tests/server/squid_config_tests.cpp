// Tests of the Squid configuration that the post-save commands build from the proxy's lists.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

#include "params/def.h"
#include "server/squid_config.h"

namespace fs = std::filesystem;

namespace {

class SquidConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("vxsquid-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "srv");
        vxResetParams();
    }
    void TearDown() override { fs::remove_all(root); }

    void put(const std::string& path, const std::string& content) {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path, std::ios::binary) << content;
    }
    std::string get(const std::string& path) {
        std::ifstream in(root / path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    int build(std::string* error) {
        VxdRoot r;
        EXPECT_EQ(vxdOpenRoot(&r, root.c_str(), "srv"), 0);
        int rc = vxdWriteSquidConfig(r, error);
        close(r.rootFd);
        return rc;
    }
    fs::path root;
};

TEST_F(SquidConfigTest, ListsBecomePasswordAclAndRuleFiles) {
    put("l/apache/etc/groups", "staff d \"/l/apache/etc/permit/staff.deny\"\r\nguests a\r\n");
    put("l/apache/etc/users", "kovacs:staff:wjAAA:p:e:::\r\n"
                              "nagy:guests:wjBBB::e:s::\r\n"
                              "szabo::wjCCC:p:::x:\r\n"
                              "toth:staff::p:::\r\n");
    put("l/apache/etc/permit/staff.deny", "www.face.com\nbad.example.org/a?b\n");
    std::string error;
    ASSERT_EQ(build(&error), 0) << error;
    // Users with right P and a password; sorted.
    EXPECT_EQ(get("etc/squid/orvelan/passwd"), "kovacs:wjAAA\nszabo:wjCCC\n");
    EXPECT_EQ(get("etc/squid/orvelan/groups/staff.users"), "kovacs\ntoth\n");
    EXPECT_EQ(get("etc/squid/orvelan/groups/guests.users"), "nagy\n");
    EXPECT_EQ(get("etc/squid/orvelan/groups/staff.urls"),
              "bad\\.example\\.org/a\\?b\nwww\\.face\\.com\n");
    EXPECT_EQ(get("etc/squid/orvelan/groups/guests.urls"), ""); // no permit file yet
    std::string conf = get("etc/squid/orvelan/orvelan.conf");
    EXPECT_NE(conf.find("http_access deny orvelan_g_staff orvelan_s_staff\n"
                        "http_access allow orvelan_g_staff\n"),
              std::string::npos)
        << conf;
    EXPECT_NE(conf.find("http_access allow orvelan_g_guests orvelan_s_guests\n"
                        "http_access deny orvelan_g_guests all\n"),
              std::string::npos)
        << conf;

    // A deleted group's files go with it; files that are not a group's stay.
    put("etc/squid/orvelan/groups/README", "kept\n");
    put("l/apache/etc/groups", "staff d \"/l/apache/etc/permit/staff.deny\"\r\n");
    put("l/apache/etc/users", "kovacs:staff:wjAAA:p:e:::\r\n");
    ASSERT_EQ(build(&error), 0) << error;
    EXPECT_FALSE(fs::exists(root / "etc/squid/orvelan/groups/guests.users"));
    EXPECT_FALSE(fs::exists(root / "etc/squid/orvelan/groups/guests.urls"));
    EXPECT_EQ(get("etc/squid/orvelan/groups/staff.users"), "kovacs\n");
    EXPECT_TRUE(fs::exists(root / "etc/squid/orvelan/groups/staff.urls"));
    EXPECT_EQ(get("etc/squid/orvelan/groups/README"), "kept\n");
}

TEST_F(SquidConfigTest, InconsistentListsWriteNothing) {
    struct Case {
        const char* groups;
        const char* users;
        const char* error;
    } cases[] = {
        {"staff d\n", "kovacs:ghost:wjA:p:::\n",
         "/l/apache/etc/users:1: unknown group ghost of user kovacs"},
        {"staff d\n", "kovacs:staff:wjA:p:::\nkovacs::wjB:p:::\n",
         "/l/apache/etc/users:2: duplicate user kovacs"},
        {"staff d\nbad;rm d\n", "",
         "/l/apache/etc/groups:2: unsafe group name \"bad;rm\": ';' is not allowed in a name"},
        {"staff d\nstaff a\n", "", "/l/apache/etc/groups:2: duplicate group staff"},
        {"a^b d\n", "",
         "/l/apache/etc/groups:1: unsafe group name \"a^b\": '^' is not allowed in a name"},
        {"", ":staff:wjA:p:::\n", "/l/apache/etc/users:1: unsafe user name \"\": empty name"},
        {"", "a b:::p:::\n",
         "/l/apache/etc/users:1: unsafe user name \"a b\": blanks and control characters are "
         "not allowed in a name"},
        {"", "solo\n", "/l/apache/etc/users:1: fewer than three fields"},
    };
    for (const Case& c : cases) {
        put("l/apache/etc/groups", c.groups);
        put("l/apache/etc/users", c.users);
        std::string error;
        EXPECT_EQ(build(&error), 1) << c.error;
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(fs::exists(root / "etc/squid/orvelan"));
    }
}

TEST_F(SquidConfigTest, DirectoryFromTheServerParameters) {
    put("srv/orvelan.cnf", "SQUIDCONFDIR /opt/proxy/conf/\nUSERLISTFIL /data/u\n");
    put("data/u", "a::wjA:p:::\n");
    ASSERT_EQ(vxLoadParamFile((root / "srv/orvelan.cnf").c_str()), 0);
    std::string error;
    ASSERT_EQ(build(&error), 0) << error;
    EXPECT_EQ(get("opt/proxy/conf/passwd"), "a:wjA\n");
}

} // namespace
