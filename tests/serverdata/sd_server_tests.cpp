// End-to-end tests of the data layer against the reference server: the lock protocol between two
// consoles, the list files byte for byte, passwords through the server's crypt, working hours.
#include <crypt.h>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "remote/vx_remote.h"
#include "serverdata/console_password.h"
#include "serverdata/edit_session.h"
#include "tests/support/demo_root.h"
#include "tests/support/sd_fixture.h"

// A post-save command as the console runs it: its standard error kept for the console.
#define POST_SAVE(command) "(" command ") 2>vxpost.err; s=$?; cat vxpost.err >&2; exit $s\n"

namespace {

class ServerTest : public DataDirTest {
  protected:
    void SetUp() override {
        DataDirTest::SetUp();
        ASSERT_TRUE(server.running()) << server.error();
        ASSERT_TRUE(buildDemoRoot(server, rootOptions));
        ASSERT_TRUE(connectConsole(server));
    }
    // Switches to the working directory of console 1 or 2.
    void console(int n) {
        auto d = dir / ("console" + std::to_string(n));
        std::filesystem::create_directories(d);
        std::filesystem::current_path(d);
    }
    // Commands the server ran since the last call.
    std::string newCommands() {
        std::string all = serverCommands(server);
        std::string fresh = all.substr(seen);
        seen = all.size();
        return fresh;
    }
    TestServer server;
    DemoRootOptions rootOptions; // a subclass's constructor may change them
    size_t seen = 0;
};

constexpr const char* USERS = "/l/apache/etc/users";
constexpr const char* USERDATA = "/l/apache/etc/userdata";
constexpr const char* GROUPS = "/l/apache/etc/groups";

TEST_F(ServerTest, CheckoutOfAMissingFileDropsTheLockAndKeepsNoCopy) {
    newCommands();
    EXPECT_EQ(serverData.lock.Checkout("/l/apache/etc/none", "none.txt"), 0);
    EXPECT_FALSE(exists("none.txt"));
    EXPECT_EQ(serverData.lock.Release("/l/apache/etc/none", "none.txt"), 0);
    EXPECT_EQ(newCommands(), "./cpout /l/apache/etc/none\n./cpin2 /l/apache/etc/none\n");
    EXPECT_FALSE(server.exists("/l/apache/etc/none._vx_lck_"));

    // No user list on the server: editing starts empty and the first save creates both files.
    EXPECT_EQ(serverData.users.Load(true), 1);
    EXPECT_EQ(serverData.users.Count(), 0);
    UserRecord u = user("zoe");
    std::strcpy(u.fullName, "Zoe");
    ASSERT_EQ(serverData.users.Add(u), 0);
    EXPECT_EQ(serverData.users.Save(), 1);
    EXPECT_EQ(server.readFile(USERS), "zoe:::::::\r\n");
    EXPECT_EQ(server.readFile(USERDATA), "zoe :Zoe : : : : \r\n");
}

TEST_F(ServerTest, UserFilesRoundTripByteForByte) {
    server.writeFile(GROUPS, "staff d\nguests a\n");
    server.writeFile(USERS, "dora:staff:wjXYZ:s:p::dora.m:\n"
                            "anna:guests:wjABC:p:e:s:anna:\r\n"
                            "cecil:gone:::e:::\n"
                            "bela:staff::::::\n");
    server.writeFile(USERDATA, "anna :Kiss Anna :123 :12 :456 :boss \r\n"
                               "bela : : :7 : : \n"
                               "nobody :x :y :z :w :v \n");
    ASSERT_EQ(serverData.groups.Load(false), 1);
    EXPECT_FALSE(exists("vx_groups.txt"));
    ASSERT_EQ(serverData.users.Load(true), 1);
    ASSERT_EQ(serverData.users.Count(), 4);
    EXPECT_EQ(serverData.users[0].super + serverData.users[0].proxy, 2);
    EXPECT_EQ(serverData.users[2].group, -1);
    EXPECT_STREQ(serverData.users[3].room, "7");
    EXPECT_STREQ(serverData.users[3].fullName, "");
    serverData.users.modified = 1;
    newCommands();
    EXPECT_EQ(serverData.users.Save(), 1);
    EXPECT_EQ(server.readFile(USERS), "anna:guests:wjABC:p:e:s:anna:\r\n"
                                      "bela:staff::::::\r\n"
                                      "cecil::::e:::\r\n"
                                      "dora:staff:wjXYZ:p::s:dora.m:\r\n");
    EXPECT_EQ(server.readFile(USERDATA), "anna :Kiss Anna :123 :12 :456 :boss \r\n"
                                         "bela : : :7 : : \r\n"
                                         "cecil : : : : : \r\n"
                                         "dora : : : : : \r\n");
    EXPECT_EQ(newCommands(),
              "./cpin /l/apache/etc/users\n./cpin /l/apache/etc/userdata\n" POST_SAVE(
                  "./post_ok") "./cpin2 /l/apache/etc/users\n./cpin2 /l/apache/etc/userdata\n");
    EXPECT_FALSE(exists("vx_users.txt"));
    EXPECT_FALSE(exists("vx_userdata.txt"));
    EXPECT_EQ(serverData.users.modified, 0);

    // Viewing takes no lock and leaves no local copy.
    EXPECT_EQ(serverData.users.Load(false), 1);
    EXPECT_EQ(serverData.users.Count(), 4);
    EXPECT_FALSE(exists("vx_users.txt"));
    EXPECT_EQ(newCommands(), "");
}

TEST_F(ServerTest, SavingWithoutChangesSendsNoFile) {
    server.writeFile(USERS, "anna::::::\n");
    ASSERT_EQ(serverData.users.Load(true), 1);
    std::string before = server.logText();
    newCommands();
    EXPECT_EQ(serverData.users.Save(), 0); // (no user data file: its checkout held nothing)
    EXPECT_EQ(newCommands(), "./cpin2 /l/apache/etc/users\n");
    EXPECT_EQ(server.logText().substr(before.size()).find("FILOPEN_NEW"), std::string::npos);
    EXPECT_EQ(server.readFile(USERS), "anna::::::\n");
}

struct FailingProcTest : ServerTest {
    FailingProcTest() {
        rootOptions.userProc = rootOptions.groupProc = rootOptions.proxyProc = "./post_fail";
    }
};

TEST_F(FailingProcTest, FailingPostSaveRestoresEachFileInOrderAndKeepsTheLocks) {
    server.writeFile(USERS, "anna::::::\n");
    server.writeFile(USERDATA, "anna :A : : : : \n");
    console(1);
    ASSERT_EQ(serverData.users.Load(true), 1);
    ASSERT_EQ(serverData.users.Add(user("bela")), 1);
    newCommands();
    EXPECT_EQ(serverData.users.Save(), -1);
    EXPECT_EQ(newCommands(),
              "./cpin /l/apache/etc/users\n./cpin /l/apache/etc/userdata\n" POST_SAVE(
                  "./post_fail") "./cprestore /l/apache/etc/users\n"
                                 "./cprestore /l/apache/etc/userdata\n");
    EXPECT_EQ(server.readFile(USERS), "anna::::::\n");
    EXPECT_EQ(server.readFile(USERDATA), "anna :A : : : : \n");
    EXPECT_TRUE(server.exists("/l/apache/etc/users._vx_lck_"));
    EXPECT_TRUE(exists("vx_users.txt"));
    console(2);
    EXPECT_EQ(serverData.users.Load(true), -3);
    console(1);
    EXPECT_EQ(serverData.users.Release(), 0);
    EXPECT_FALSE(server.exists("/l/apache/etc/users._vx_lck_"));
    EXPECT_FALSE(server.exists("/l/apache/etc/userdata._vx_lck_"));
}

struct PermitDirTest : ServerTest {
    PermitDirTest() { rootOptions.permitDir = "/l/perm"; }
};

TEST_F(PermitDirTest, GroupsDerivePathsAndSortingKeepsUsersInTheirGroups) {
    server.writeFile(GROUPS, "staff\r\nguests a\r\nlab d \"/l/custom/lab\"\r\n");
    server.writeFile(USERS, "anna:staff:::::\n");
    ASSERT_EQ(serverData.groups.Load(true), 1);
    ASSERT_EQ(serverData.users.Load(false), 1);
    ASSERT_EQ(serverData.users[0].group, 0);
    newCommands();
    EXPECT_EQ(serverData.groups.Save(), 1);
    EXPECT_EQ(server.readFile(GROUPS), "guests a \"/l/perm/guests.allow\"\r\n"
                                       "lab d \"/l/custom/lab\"\r\n"
                                       "staff d \"/l/perm/staff.deny\"\r\n");
    EXPECT_EQ(newCommands(), "./cpin /l/apache/etc/groups\n" POST_SAVE(
                                 "./post_ok") "./cpin2 /l/apache/etc/groups\n");
    EXPECT_EQ(serverData.users[0].group, 2);
    EXPECT_STREQ(serverData.groups[serverData.users[0].group].name, "staff");
}

TEST_F(PermitDirTest, PermitFilesAreWrittenInByteOrderWithLineFeeds) {
    server.writeFile(GROUPS, "staff\nguests a\n");
    server.writeFile("/l/perm/guests.allow", "b.com a.com\n\xe1rv.hu\nZ.org\n");
    ASSERT_EQ(serverData.groups.Load(false), 1);
    serverData.urls.currentGroup = serverData.groups.Find("guests");
    ASSERT_EQ(serverData.urls.Load(true), 1);
    ASSERT_EQ(serverData.urls.Count(), 4);
    EXPECT_STREQ(serverData.urls[1], "a.com");
    ASSERT_EQ(serverData.urls.Add("c.com"), 4);
    newCommands();
    EXPECT_EQ(serverData.urls.Save(), 1);
    EXPECT_EQ(server.readFile("/l/perm/guests.allow"), "Z.org\na.com\nb.com\nc.com\n\xe1rv.hu\n");
    EXPECT_EQ(newCommands(), "./cpin /l/perm/guests.allow\n" POST_SAVE(
                                 "./post_ok") "./cpin2 /l/perm/guests.allow\n");

    // Releasing after editing one group's list releases exactly that file.
    ASSERT_EQ(serverData.urls.Load(true), 1);
    newCommands();
    EXPECT_EQ(serverData.urls.Release(), 0);
    EXPECT_EQ(newCommands(), "./cpin2 /l/perm/guests.allow\n");
    serverData.urls.currentGroup = serverData.groups.Find("staff"); // no permit file yet
    EXPECT_EQ(serverData.urls.Load(false), 1);
    EXPECT_EQ(serverData.urls.Count(), 0);
}

TEST_F(ServerTest, EditSessionRunsTheWholeCycleAndEveryPathReleases) {
    server.writeFile(GROUPS, "staff d\n");
    server.writeFile(USERS, "anna:staff:::::\n");
    server.writeFile(USERDATA, "anna :Anna : : : : \n");
    ASSERT_EQ(serverData.groups.Load(false), 1);
    newCommands();
    {
        EditSession session;
        ASSERT_EQ(session.Begin(SdList::Users), SD_DONE);
        EXPECT_TRUE(session.IsOpen());
        EXPECT_EQ(session.Begin(SdList::Groups), SD_CONCURRENT); // one list per session
        EXPECT_STREQ(vxLastError().text, "an edit session is already open");
        ASSERT_EQ(serverData.users.Add(user("bela")), 1);
        EXPECT_EQ(session.Commit(), SD_DONE);
        EXPECT_FALSE(session.IsOpen());
    }
    EXPECT_EQ(newCommands(),
              "./cpout /l/apache/etc/userdata\n./cpout /l/apache/etc/users\n"
              "./cpin /l/apache/etc/users\n./cpin /l/apache/etc/userdata\n" POST_SAVE(
                  "./post_ok") "./cpin2 /l/apache/etc/users\n./cpin2 /l/apache/etc/userdata\n");
    EXPECT_EQ(server.readFile(USERS), "anna:staff::::::\r\nbela:::::::\r\n");

    // A session that ends without a commit releases in its destructor; abandoning twice is
    // harmless.
    {
        EditSession session;
        ASSERT_EQ(session.Begin(SdList::Groups), SD_DONE);
        EXPECT_TRUE(exists("vx_groups.txt"));
    }
    EXPECT_EQ(newCommands(), "./cpout /l/apache/etc/groups\n./cpin2 /l/apache/etc/groups\n");
    EXPECT_FALSE(server.exists("/l/apache/etc/groups._vx_lck_"));
    EditSession session;
    EXPECT_EQ(session.Abandon(), SD_DONE);
    EXPECT_EQ(newCommands(), "");

    // The URL list of a group: an import marks the list modified, so the commit saves it.
    put("urls.txt", "b.org\r\na.org\n");
    EXPECT_EQ(session.Begin(SdList::Urls, 7), SD_NOTHING);
    EXPECT_FALSE(session.IsOpen());
    ASSERT_EQ(session.Begin(SdList::Urls, 0), SD_DONE);
    EXPECT_EQ(session.Import("urls.txt"), SD_DONE);
    EXPECT_EQ(session.Commit(), SD_DONE);
    EXPECT_EQ(server.readFile("/l/apache/etc/permit/staff.deny"), "a.org\nb.org\n");
    EXPECT_FALSE(exists("sites_of_staff.txt"));

    // Another console holds the list: nothing is held afterwards, and the detail says why.
    newCommands();
    console(2);
    ASSERT_EQ(serverData.lock.Checkout(GROUPS, "vx_groups.txt"), 1);
    console(1);
    vxSetError(22, 2, VX_KIND_LIB, "stale"); // what an earlier step left recorded
    EXPECT_EQ(session.Begin(SdList::Groups), SD_CONCURRENT);
    EXPECT_FALSE(session.IsOpen());
    EXPECT_STREQ(vxLastError().text, "/l/apache/etc/groups: checked out by another console");
    EXPECT_STREQ(SdResultText(SD_CONCURRENT), "Konkurens használat !");
    EXPECT_FALSE(exists("vx_groups.txt"));
    // The other console's release drops its copy; a second release is harmless.
    console(2);
    EXPECT_EQ(newCommands(), "./cpout /l/apache/etc/groups\n./cpout /l/apache/etc/groups\n");
    EXPECT_EQ(serverData.lock.Release(GROUPS, "vx_groups.txt"), 1);
    EXPECT_FALSE(exists("vx_groups.txt"));
    EXPECT_EQ(serverData.lock.Release(GROUPS, "vx_groups.txt"), 0);
    EXPECT_EQ(newCommands(), "./cpin2 /l/apache/etc/groups\n"); // the second one sent nothing
    EXPECT_FALSE(server.exists("/l/apache/etc/groups._vx_lck_"));
}

TEST_F(ServerTest, AViewingLoadNeverTouchesTheCopiesThatMarkTheLocks) {
    // A viewing load in the directory of a console that edits (the users page showing the groups,
    // "orvelanctl users list" run there): the working copies and the locks they mark stay, so
    // abandoning the edit still releases every file.
    server.writeFile(GROUPS, "staff d\n");
    server.writeFile(USERS, "anna:staff:::::\n");
    server.writeFile(USERDATA, "anna :Anna : : : : \n");
    server.writeFile("/l/apache/etc/permit/staff.deny", "a.org\n");
    struct Case {
        SdList list;
        std::vector<std::string> copies;
        std::string released;
    } cases[] = {
        {SdList::Groups, {"vx_groups.txt"}, "./cpin2 /l/apache/etc/groups\n"},
        {SdList::Users,
         {"vx_users.txt", "vx_userdata.txt"},
         "./cpin2 /l/apache/etc/users\n./cpin2 /l/apache/etc/userdata\n"},
        {SdList::Urls, {"sites_of_staff.txt"}, "./cpin2 /l/apache/etc/permit/staff.deny\n"},
    };
    ASSERT_EQ(serverData.groups.Load(false), 1);
    serverData.urls.currentGroup = 0;
    for (const Case& c : cases) {
        EditSession session;
        ASSERT_EQ(session.Begin(c.list, 0), SD_DONE);
        EXPECT_EQ(serverData.groups.Load(false), 1);
        EXPECT_EQ(serverData.users.Load(false), 1);
        EXPECT_EQ(serverData.urls.Load(false), 1);
        for (const std::string& copy : c.copies)
            EXPECT_TRUE(exists(copy)) << copy;
        newCommands();
        EXPECT_EQ(session.Abandon(), SD_DONE);
        EXPECT_EQ(newCommands(), c.released);
        for (const std::string& copy : c.copies)
            EXPECT_FALSE(exists(copy)) << copy;
        EXPECT_FALSE(server.exists("/l/apache/etc/groups._vx_lck_"));
        EXPECT_FALSE(server.exists("/l/apache/etc/users._vx_lck_"));
        EXPECT_FALSE(server.exists("/l/apache/etc/permit/staff.deny._vx_lck_"));
    }
    // A password check leaves nothing that a later release would take for a held lock.
    server.writeFile("/l/apache/etc/empasswd", crypt("pw", "ab") + std::string("\n"));
    EXPECT_EQ(serverData.passwords.Check("pw"), 1);
    EXPECT_FALSE(exists("empasswd.txt"));
}

TEST_F(FailingProcTest, AFailedCommitKeepsTheSessionOpenAndNamesTheCommand) {
    server.writeFile(GROUPS, "staff d\n");
    EditSession session;
    ASSERT_EQ(session.Begin(SdList::Groups), SD_DONE);
    ASSERT_EQ(serverData.groups.Add("guests", "a", ""), 1);
    newCommands();
    EXPECT_EQ(session.Commit(), SD_SERVER);
    EXPECT_EQ(newCommands(), "./cpin /l/apache/etc/groups\n" POST_SAVE(
                                 "./post_fail") "./cprestore /l/apache/etc/groups\n");
    EXPECT_STREQ(vxLastError().text, "post-save command \"./post_fail\" failed with exit status 1");
    EXPECT_TRUE(session.IsOpen());
    EXPECT_TRUE(server.exists("/l/apache/etc/groups._vx_lck_"));
    EXPECT_EQ(server.readFile(GROUPS), "staff d\n");
    EXPECT_EQ(session.Abandon(), SD_DONE);
    EXPECT_FALSE(session.IsOpen());
    EXPECT_EQ(newCommands(), "./cpin2 /l/apache/etc/groups\n");
    EXPECT_FALSE(server.exists("/l/apache/etc/groups._vx_lck_"));
}

TEST_F(ServerTest, ReleaseUsersTriesBothFilesAndReportsTheFailure) {
    // The user list lies in a directory the server does not have: its release fails.
    vxResetParams();
    params("USERLISTFIL /l/nodir/users\n");
    put("vx_users.txt", "anna::::::\r\n");
    put("vx_userdata.txt", "anna : : : : : \r\n");
    serverData.users.modified = 1;
    newCommands();
    EXPECT_EQ(serverData.users.Release(), -1);
    EXPECT_EQ(newCommands(), "./cpin2 /l/nodir/users\n./cpin2 /l/apache/etc/userdata\n");
    EXPECT_TRUE(exists("vx_users.txt")); // kept, so that a later release can try again
    EXPECT_FALSE(exists("vx_userdata.txt"));
    EXPECT_EQ(serverData.users.modified, 1);
    EXPECT_STREQ(vxLastError().text, "\"./cpin2 /l/nodir/users\" failed with exit status 1");
}

TEST_F(ServerTest, ListsThatBreakTheNameRuleLoadWholeAndSavingFailsClosed) {
    // Lists as another tool may have left them: a name the proxy cannot take, a duplicate, a
    // user line whose name field is empty. Everything loads; nothing is dropped silently.
    server.writeFile(GROUPS, "staff d\r\na,b d\r\nstaff a\r\n");
    server.writeFile(USERS, "john smith:staff:::::\r\n:staff:wjX:p:::\r\nanna:staff:::::\r\n\r\n");
    ASSERT_EQ(serverData.groups.Load(true), 1);
    ASSERT_EQ(serverData.groups.Count(), 3);
    EXPECT_STREQ(serverData.groups[1].name, "a,b");
    EXPECT_STREQ(serverData.groups[2].kind, "a");
    ASSERT_EQ(serverData.users.Load(true), 1);
    ASSERT_EQ(serverData.users.Count(), 3);
    EXPECT_STREQ(serverData.users[1].name, "");
    EXPECT_STREQ(serverData.users[1].password, "wjX");
    newCommands();

    // Saving names the first entry the proxy configuration could not take, sends nothing and
    // keeps the locks, so that the list can be mended and saved.
    EXPECT_EQ(serverData.groups.Save(), -2);
    EXPECT_STREQ(vxLastError().text, "group \"a,b\": ',' is not allowed in a name");
    serverData.groups.Delete(serverData.groups.Find("a,b"));
    EXPECT_EQ(serverData.groups.Save(), -2);
    EXPECT_STREQ(vxLastError().text, "group \"staff\": the name is in the list twice");
    serverData.users.modified = 1;
    EXPECT_EQ(serverData.users.Save(), -2);
    EXPECT_STREQ(vxLastError().text, "user \"\": empty name");
    serverData.users.Delete(serverData.users.Find(""));
    EXPECT_EQ(serverData.users.Save(), -2);
    EXPECT_STREQ(vxLastError().text,
                 "user \"john smith\": blanks and control characters are not allowed in a name");
    EXPECT_EQ(newCommands(), "");
    EXPECT_TRUE(server.exists("/l/apache/etc/groups._vx_lck_"));
    EXPECT_EQ(server.readFile(GROUPS), "staff d\r\na,b d\r\nstaff a\r\n");

    serverData.groups.Delete(1);
    EXPECT_EQ(serverData.groups.Save(), 1);
    EXPECT_EQ(server.readFile(GROUPS), "staff d \"/l/apache/etc/permit/staff.deny\"\r\n");
    EXPECT_EQ(serverData.users.Release(), 0);
}

TEST_F(ServerTest, PermitFileWordsUpTo511BytesOnLinesOfAnyLength) {
    server.writeFile(GROUPS, "staff d\n");
    std::string longLine;
    for (int i = 0; i < 500; i++)
        longLine += "site" + std::to_string(1000 + i) + ".hu ";
    server.writeFile("/l/apache/etc/permit/staff.deny",
                     std::string(511, 'w') + "\n" + longLine + "\nlast.hu");
    ASSERT_EQ(serverData.groups.Load(false), 1);
    serverData.urls.currentGroup = 0;
    ASSERT_EQ(serverData.urls.Load(true), 1);
    ASSERT_EQ(serverData.urls.Count(), 502);
    EXPECT_EQ(serverData.urls[0], std::string(511, 'w'));
    EXPECT_STREQ(serverData.urls[500], "site1499.hu");
    EXPECT_STREQ(serverData.urls[501], "last.hu");
    EXPECT_EQ(serverData.urls.Release(), 0);

    // A longer word fails the load: the lock is dropped again and the table stays as it was.
    server.writeFile("/l/apache/etc/permit/staff.deny", "new.hu " + std::string(512, 'v') + "\n");
    newCommands();
    EXPECT_EQ(serverData.urls.Load(true), -2);
    EXPECT_EQ(std::string(vxLastError().text),
              std::string(80, 'v') + ": permit file word longer than 511 characters");
    EXPECT_EQ(newCommands(), "./cpout /l/apache/etc/permit/staff.deny\n"
                             "./cpin2 /l/apache/etc/permit/staff.deny\n");
    ASSERT_EQ(serverData.urls.Count(), 502);
    EXPECT_STREQ(serverData.urls[501], "last.hu");
}

// Lines whose values the list formats cannot hold are refused on load with their line number
// (the lock dropped again), rather than loaded and then changed by the next save: a line with a
// NUL byte, a quote (the splitter would take it as grouping), a line ended by CR alone.
TEST_F(ServerTest, ListLinesTheFormatCannotHoldAreRefusedOnLoad) {
    server.writeFile(GROUPS, "staff d\n");
    ASSERT_EQ(serverData.groups.Load(false), 1);
    const std::string good = "anna:staff:wjA:p:::\r\n";
    const struct {
        std::string users;
        const char* error;
    } cases[] = {
        {good + std::string("\0bela:staff:wjB:p:::\r\n", 21), "vx_users.txt:2: a NUL byte"},
        {good + "bela:staff:wj'A:B'x:p:::\r\n", "vx_users.txt:2: a quote (') in a list line"},
        {"anna:staff:wjA:p:::\rbela:staff:wjB:p:::\r", "vx_users.txt:1: a line ended by CR alone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        server.writeFile(USERS, c.users);
        newCommands();
        EXPECT_EQ(serverData.users.Load(true), -2);
        EXPECT_STREQ(vxLastError().text, c.error);
        EXPECT_FALSE(server.exists(std::string(USERS) + "._vx_lck_"));
        EXPECT_EQ(server.readFile(USERS), c.users);
    }
    // A permit word starting with a NUL byte.
    serverData.urls.currentGroup = 0;
    const std::string permit = std::string("a.hu\n\0b.hu c.hu\n", 17);
    server.writeFile("/l/apache/etc/permit/staff.deny", permit);
    EXPECT_EQ(serverData.urls.Load(true), -2);
    EXPECT_STREQ(vxLastError().text, "permit file:2: a NUL byte");
    EXPECT_FALSE(server.exists("/l/apache/etc/permit/staff.deny._vx_lck_"));
    // Lines ended by CR LF, LF or nothing at the end load, and save back in the list's form.
    server.writeFile(USERS, "anna:staff:wjA:p::::\r\nbela:staff:wjB:::s:b.m:\nzoli:staff:wjC::::");
    ASSERT_EQ(serverData.users.Load(true), 1) << vxLastError().text;
    serverData.users.modified = 1;
    ASSERT_EQ(serverData.users.Save(), 1) << vxLastError().text;
    EXPECT_EQ(server.readFile(USERS), "anna:staff:wjA:p::::\r\nbela:staff:wjB:::s:b.m:\r\n"
                                      "zoli:staff:wjC:::::\r\n");
}

TEST_F(ServerTest, AFailedGroupLoadKeepsTheTable) {
    server.writeFile(GROUPS, "staff d\nguests a\n");
    ASSERT_EQ(serverData.groups.Load(false), 1);
    server.writeFile(GROUPS, "other d\n" + std::string(5000, 'g') + "\n");
    EXPECT_EQ(serverData.groups.Load(false), -2);
    EXPECT_STREQ(vxLastError().text, "vx_groups.txt: line too long");
    ASSERT_EQ(serverData.groups.Count(), 2);
    EXPECT_STREQ(serverData.groups[0].name, "staff");
    EXPECT_STREQ(serverData.groups[1].name, "guests");
    EXPECT_FALSE(exists("vx_groups.txt"));
}

TEST_F(ServerTest, ConsolePasswordsThroughTheServersCrypt) {
    // No password file: only the empty password passes; the first change creates it directly.
    EXPECT_EQ(serverData.passwords.Check(""), 1);
    EXPECT_EQ(serverData.passwords.Check("x"), 0);
    EXPECT_EQ(serverData.passwords.ChangeConsole(nullptr, "secret", 0), 1);
    EXPECT_EQ(server.readFile("/l/apache/etc/empasswd"), crypt("secret", "wj"));
    EXPECT_EQ(serverData.passwords.Check("secret"), 1);
    EXPECT_EQ(serverData.passwords.Check("Secret"), 0);

    // Another salt with CR LF, at the administrator level.
    const std::string other = crypt("adm", "ab");
    server.writeFile("/l/apache/etc/ampasswd", other + "\r\n");
    serverData.session.SelectedLevel = 1;
    EXPECT_EQ(serverData.passwords.Check("adm"), 1);
    EXPECT_EQ(serverData.passwords.ChangeConsole("wrong", "new", 1), 0);
    EXPECT_EQ(server.readFile("/l/apache/etc/ampasswd"), other + "\r\n");
    EXPECT_FALSE(server.exists("/l/apache/etc/ampasswd._vx_lck_"));
    EXPECT_EQ(serverData.passwords.ChangeConsole("adm", "new", 1), 1);
    EXPECT_EQ(server.readFile("/l/apache/etc/ampasswd").substr(0, 2), "wj");
    EXPECT_FALSE(server.exists("/l/apache/etc/ampasswd._vx_lck_"));
    EXPECT_EQ(serverData.passwords.Check("new"), 1);
}

TEST_F(ServerTest, GroupsPagePasswordCommandTellsWhatToShow) {
    params("ProxyServerName 127.0.0.1\n");
    ConsoleMessage m = ChangeConsolePasswordCommand("", "a", "b");
    EXPECT_EQ(m.messageBox, 1);
    EXPECT_STREQ(m.text, "Az ellenorzo password megadasa hibas!");
    EXPECT_STREQ(m.title, "Hiba !!!");
    // The command needs an existing file; the lock is dropped again.
    m = ChangeConsolePasswordCommand("", "first", "first");
    EXPECT_EQ(m.messageBox, 0);
    EXPECT_STREQ(m.text, "Távoli file olvasási hiba !");
    EXPECT_FALSE(server.exists("/l/apache/etc/empasswd._vx_lck_"));
    server.writeFile("/l/apache/etc/empasswd", crypt("old", "ab") + std::string("\n"));
    newCommands();
    m = ChangeConsolePasswordCommand("old", "first", "first");
    EXPECT_STREQ(m.text, "");
    EXPECT_EQ(newCommands(), "./cpout /l/apache/etc/empasswd\n./cpin /l/apache/etc/empasswd\n"
                             "./cpin2 /l/apache/etc/empasswd\n");
    std::string stored = server.readFile("/l/apache/etc/empasswd");
    EXPECT_EQ(stored, crypt("first", "ab")); // the stored salt is kept
    m = ChangeConsolePasswordCommand("wrong", "x", "x");
    EXPECT_STREQ(m.text, "Hibás jelszó !");
    EXPECT_EQ(server.readFile("/l/apache/etc/empasswd"), stored);
    EXPECT_FALSE(server.exists("/l/apache/etc/empasswd._vx_lck_"));
    console(2); // another console holds the file
    ASSERT_EQ(serverData.lock.Checkout("/l/apache/etc/empasswd", "empasswd.txt"), 1);
    m = ChangeConsolePasswordCommand("first", "x", "x");
    EXPECT_STREQ(m.text, "Konkurens használat !");
    EXPECT_EQ(serverData.lock.Release("/l/apache/etc/empasswd", "empasswd.txt"), 1);
    EXPECT_STREQ(ChangeConsolePasswordCommand("first", "x", "x").text, "");
    EXPECT_FALSE(exists("emmodpasswd.txt"));
}

TEST_F(ServerTest, WorkingHoursFile) {
    EXPECT_EQ(serverData.hours.Save("8", " 0", "16", "30x"), 0);
    EXPECT_EQ(server.readFile("attandance.txt"), "08:00 - 16:30\r\n");
    server.writeFile("attandance.txt", "8:5 - 16:30\n");
    int v[4] = {};
    EXPECT_EQ(serverData.hours.Load(&v[0], &v[1], &v[2], &v[3]), 0);
    EXPECT_EQ(v[0] * 1000000 + v[1] * 10000 + v[2] * 100 + v[3], 8051630);
    server.stop();
    std::memset(v, 0, sizeof v);
    EXPECT_EQ(serverData.hours.Load(&v[0], &v[1], &v[2], &v[3]), -1);
    EXPECT_EQ(v[0] * 1000000 + v[1] * 10000 + v[2] * 100 + v[3], 8001630);
}

} // namespace
