// Tests of the Squid configuration that the post-save commands build from the proxy's lists.
#include <climits>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

#include "params/def.h"
#include "server/squid_config.h"
#include "server/squid_url.h"

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

TEST(SquidUrl, InternationalHostsInIdnaFormAndTheRestPercentEncodedUtf8) {
    std::string out, error;
    // "www.árvíztűrő.hu/út?ő=1" in Windows-1250, with and without a scheme and a port.
    const std::string hu = "www.\xe1rv\xedzt\xfbr\xf5.hu";
    ASSERT_TRUE(vxdClientUrl(hu + "/\xfat?\xf5=1", &out, &error)) << error;
    EXPECT_EQ(out, "www.xn--rvztr-wqa0gx3bwi.hu/%C3%BAt?%C5%91=1");
    ASSERT_TRUE(vxdClientUrl("http://" + hu + ":8080/a", &out, &error)) << error;
    EXPECT_EQ(out, "http://www.xn--rvztr-wqa0gx3bwi.hu:8080/a");
    // Capitals fold as a browser folds them; an ASCII host keeps an accented path encoded.
    ASSERT_TRUE(vxdClientUrl("\xc1RV\xcdZ.hu", &out, &error)) << error;
    EXPECT_EQ(out, "xn--rvz-dla6d.hu");
    ASSERT_TRUE(vxdClientUrl("pelda.hu/k\xe9p\x80", &out, &error)) << error;
    EXPECT_EQ(out, "pelda.hu/k%C3%A9p%E2%82%AC");
    // ASCII stays byte for byte, whatever it holds.
    ASSERT_TRUE(vxdClientUrl("WWW.Face.com/A%41", &out, &error));
    EXPECT_EQ(out, "WWW.Face.com/A%41");
    // No valid international name: refused with the reason.
    const std::string tooLong = "\xe1" + std::string(70, 'a') + ".hu"; // a label over 63 bytes
    EXPECT_FALSE(vxdClientUrl(tooLong, &out, &error));
    EXPECT_NE(error.find("no international domain name"), std::string::npos) << error;
    EXPECT_EQ(vxdCp1250ToUtf8("\x8a\x81\xff"), "\xc5\xa0\xc2\x81\xcb\x99");
}

TEST_F(SquidConfigTest, AccentedUrlsBecomeTheFormClientsSend) {
    put("l/apache/etc/groups", "staff d \"/l/apache/etc/permit/staff.deny\"\r\n");
    put("l/apache/etc/users", "kovacs:staff:wjAAA:p:e:::\r\n");
    put("l/apache/etc/permit/staff.deny", "www.\xe1rv\xedzt\xfbr\xf5.hu\n");
    std::string error;
    ASSERT_EQ(build(&error), 0) << error;
    EXPECT_EQ(get("etc/squid/orvelan/groups/staff.urls"), "www\\.xn--rvztr-wqa0gx3bwi\\.hu\n");
    put("l/apache/etc/permit/staff.deny", "ok.hu\n\xe1" + std::string(70, 'a') + ".hu\n");
    EXPECT_EQ(build(&error), 1);
    EXPECT_NE(error.find("staff.deny:2"), std::string::npos) << error;
    EXPECT_EQ(get("etc/squid/orvelan/groups/staff.urls"), "www\\.xn--rvztr-wqa0gx3bwi\\.hu\n");
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

// The post-save command reconfigures Squid with the command its parameter file names; a file it
// cannot read whole (a line too long before that command) fails it, so that a save is not
// reported done while Squid keeps the old lists.
TEST_F(SquidConfigTest, PostSaveCommandFailsOnAParameterFileItCannotRead) {
    put("l/apache/etc/groups", "staff a\n");
    put("l/apache/etc/users", "kovacs:staff:wjAAA:p:::\n");
    const std::string reconfigure = "SQUIDRECONFIGURE \"touch " + (root / "done").string() + "\"\n";
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir((root / "srv").c_str()), 0);
    setenv("VXD_ROOT", root.c_str(), 1);
    char name[] = "kaka";
    char* argv[] = {name, nullptr};
    put("srv/orvelan.cnf", "# " + std::string(5000, ' ') + "x\n" + reconfigure);
    EXPECT_EQ(vxdSquidMain("kaka", 1, argv), 1);
    EXPECT_FALSE(fs::exists(root / "done"));
    vxResetParams();
    put("srv/orvelan.cnf", "# a comment\n" + reconfigure);
    EXPECT_EQ(vxdSquidMain("kaka", 1, argv), 0);
    EXPECT_TRUE(fs::exists(root / "done"));
    unsetenv("VXD_ROOT");
    ASSERT_EQ(chdir(cwd), 0);
}

} // namespace
