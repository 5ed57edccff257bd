// Tests of the data layer that need no server: export and import formats, refusals of text that
// would corrupt a list file or reach a server command, table bounds, and "setup.bin".
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "serverdata/line_speeds.h"
#include "serverdata/sd_text.h"
#include "tests/support/sd_fixture.h"

namespace {

using FilesTest = DataDirTest;

UserRecord fullUser(const char* name, int group, int p, int e, int s) {
    UserRecord u = DataDirTest::user(name);
    u.group = group, u.proxy = p, u.mail = e, u.super = s;
    return u;
}

// The user table as the export writes it.
std::string exportedUsers() {
    EXPECT_EQ(serverData.users.Export("check.exp"), 1);
    return readFileBytes("check.exp");
}

TEST_F(FilesTest, ExportUsersWritesEveryRightCombinationAndImportReadsItBack) {
    ASSERT_EQ(serverData.groups.Add("staff", "d", ""), 0);
    ASSERT_EQ(serverData.groups.Add("guests", "a", ""), 1);
    UserRecord anna = fullUser("anna", 0, 1, 1, 1);
    std::strcpy(anna.password, "wjABCDEFGHIJK");
    std::strcpy(anna.fullName, "Kiss Anna");
    std::strcpy(anna.phone, "123");
    std::strcpy(anna.room, "12");
    std::strcpy(anna.workPhone, "456");
    std::strcpy(anna.comment, "boss");
    std::strcpy(anna.mailName, "anna.kiss"); // not exported
    ASSERT_EQ(serverData.users.Add(anna), 0);
    ASSERT_EQ(serverData.users.Add(fullUser("bela", -1, 0, 0, 0)), 1);
    ASSERT_EQ(serverData.users.Add(fullUser("cecil", 1, 0, 1, 0)), 2);
    ASSERT_EQ(serverData.users.Add(fullUser("dora", 7, 1, 0, 1)), 3); // group not in the table
    const std::string expected = "anna:staff:wjABCDEFGHIJK:p:e:s:Kiss Anna :123 :12 :456 :boss \r\n"
                                 "bela:::::: : : : : \r\n"
                                 "cecil:guests:::e:: : : : : \r\n"
                                 "dora:::p::s: : : : : \r\n";
    EXPECT_EQ(exportedUsers(), expected);
    EXPECT_FALSE(exists("check.exp.tmp"));

    // Read back into an empty table: the same records, empty values stay empty.
    serverData.users.Clear();
    EXPECT_EQ(serverData.users.Import("check.exp"), 1);
    ASSERT_EQ(serverData.users.Count(), 4);
    EXPECT_EQ(serverData.users[0].group, 0);
    EXPECT_STREQ(serverData.users[0].mailName, "");
    EXPECT_EQ(exportedUsers(), expected);
}

TEST_F(FilesTest, ImportUsersMapsFieldsSkipsKnownNamesAndStopsAtBadLines) {
    serverData.groups.Add("staff", "d", "");
    ASSERT_EQ(serverData.users.Add(user("old")), 0);
    put("imp.txt", "eva:staff:pw:s:p::Eva Full:1:2:3:4\n"
                   "old:staff:changed::::\n"
                   "lonely\n"
                   "\n"
                   "fred:nogroup\r\n"
                   "a:b:c:d:e:f:g:h:i:j:k:l\n"
                   "never:staff\n");
    EXPECT_EQ(serverData.users.Import("imp.txt"), -4);
    EXPECT_STREQ(vxLastError().text, "imp.txt: more than 11 fields");
    EXPECT_EQ(serverData.users.modified, 1);
    // The known name was skipped; a group that is not in the table leaves the user without one.
    EXPECT_EQ(exportedUsers(), "old:::::: : : : : \r\n"
                               "eva:staff:pw:p::s:Eva Full :1 :2 :3 :4 \r\n"
                               "fred:::::: : : : : \r\n");

    struct {
        std::string text;
        const char* message;
    } refused[] = {
        {"ok:staff\nx:" + std::string(129, 'g') + "\n", "imp.txt: field too long"},
        // The splitter's quotes would carry a colon into a name, or make "foo'bar" a user foo
        // of the group bar: a user field holds no quote, so the line is refused.
        {"'a:b':staff\n", "imp.txt:1: a quote (') in a list line"},
        {"ok:staff\nfoo'bar\n", "imp.txt:2: a quote (') in a list line"},
        {"anna:staff:wj'A:B'x:p\n", "imp.txt:1: a quote (') in a list line"},
        {"frank:g:pw:p:e:s:Frank:" + std::string(40, '1') + "\n",
         "frank: field too long for its member"},
        {"gus:g:pw::::Gus\tTab\n", "gus: control characters and line ends are not allowed"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.text);
        put("imp.txt", c.text);
        EXPECT_EQ(serverData.users.Import("imp.txt"), -4);
        EXPECT_STREQ(vxLastError().text, c.message);
    }
    EXPECT_EQ(serverData.users.Count(), 4); // only "ok" came in
}

TEST_F(FilesTest, UserTextThatWouldCorruptTheListsIsRefused) {
    UserRecord comment = user("ok"), mailName = user("ok");
    std::strcpy(comment.comment, "two\r\nlines");
    std::strcpy(mailName.mailName, "o'k");
    struct {
        UserRecord record;
        const char* message;
    } cases[] = {
        {user("a:b"), "a:b: ':' is not allowed in a name"},
        {user("john smith"), "john smith: blanks and control characters are not allowed in a name"},
        {comment, "ok: control characters and line ends are not allowed"},
        {mailName, "ok: a single quote is not allowed"},
        {user(""), ": empty name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(serverData.users.Add(c.record), -1);
        EXPECT_STREQ(vxLastError().text, c.message);
    }
    ASSERT_EQ(serverData.users.Add(user("ok")), 0);
    ASSERT_EQ(serverData.users.Add(user("other")), 1);
    EXPECT_EQ(serverData.users.Set(1, user("ok")), -1);
    EXPECT_STREQ(vxLastError().text, "ok: user already exists");
    EXPECT_EQ(serverData.users.Set(1, user("renamed")), 1);
    EXPECT_STREQ(serverData.users[1].name, "renamed");
}

// Each check answers with the code whose English reason is what is recorded and printed; the
// bounds are tried on both sides.
TEST(RefusalTest, EachCheckAnswersWithTheCodeOfItsReason) {
    UserRecord unended = DataDirTest::user("ok");
    std::memset(unended.room, 'r', sizeof unended.room);
    const std::string group31(31, 'g'), group32(32, 'g'), path243(243, 'p'), path244(244, 'p'),
        url511(511, 'u'), url512(512, 'u');
    using R = SdRefusal;
    struct {
        SdRefusal code, expected;
        const char* refused;
        const char* reason;
    } cases[] = {
        {sdUserFieldProblem("abc", 4), R::None, "abc", nullptr},
        {sdUserFieldProblem("abc", 3), R::TooLong, "abc", "text too long"},
        {sdUserFieldProblem("a:b", 8), R::Separator, "a:b", "':' is not allowed"},
        {sdUserFieldProblem("o'k", 8), R::Quote, "o'k", "a single quote is not allowed"},
        {sdUserFieldProblem("a\x7f", 8), R::Control, "a\x7f",
         "control characters and line ends are not allowed"},
        {sdUserRecordProblem(unended), R::TooLong, "ok", "text too long"},
        {sdUserNameProblem("-x"), R::Name, "-x", "a name must not begin with '.' or '-'"},
        {sdGroupNameProblem(group31.c_str()), R::None, group31.c_str(), nullptr},
        {sdGroupNameProblem(group32.c_str()), R::GroupNameTooLong, group32.c_str(),
         "group name longer than 31 bytes"},
        {sdGroupNameProblem("a|b"), R::Name, "a|b", "'|' is not allowed in a name"},
        {sdKindProblem("1234567"), R::None, "1234567", nullptr},
        {sdKindProblem("12345678"), R::KindLength, "12345678",
         "list kind must be 1 to 7 characters"},
        {sdKindProblem(""), R::KindLength, "", "list kind must be 1 to 7 characters"},
        {sdKindProblem("a\""), R::KindCharacter, "a\"", "bad character in list kind"},
        {sdShellPathProblem(""), R::PathEmpty, "", "empty path"},
        {sdShellPathProblem(path243.c_str()), R::None, path243.c_str(), nullptr},
        {sdShellPathProblem(path244.c_str()), R::PathTooLong, path244.c_str(), "path too long"},
        {sdShellPathProblem("-rf"), R::PathDash, "-rf", "path must not begin with '-'"},
        {sdShellPathProblem("/a;b"), R::PathCharacters, "/a;b",
         "blanks, quotes, control characters and shell metacharacters are not allowed in a "
         "server path"},
        {sdUrlProblem(""), R::UrlEmpty, "", "empty URL"},
        {sdUrlProblem(url511.c_str()), R::None, url511.c_str(), nullptr},
        {sdUrlProblem(url512.c_str()), R::UrlTooLong, url512.c_str(),
         "URL longer than 511 characters"},
        {sdUrlProblem("a\tb"), R::UrlCharacters, "a\tb",
         "blanks and control characters are not allowed in a URL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason ? c.reason : c.refused);
        EXPECT_EQ(c.code, c.expected);
        EXPECT_STREQ(sdRefusalReason(c.code, c.refused), c.reason);
    }
    EXPECT_EQ(sdRefuse(-3, "what", R::Name, "a b"), -3);
    EXPECT_STREQ(vxLastError().text,
                 "what: blanks and control characters are not allowed in a name");
}

TEST_F(FilesTest, GroupsImportDerivesPermitPathsAndExportsNameAndKind) {
    params("PERMITDIR /srv/permit\n");
    put("groups.imp", "staff\r\n"
                      "guests a\r\n"
                      "lab d \"/l/custom/lab.txt\"\r\n"
                      "staff a\r\n"
                      "\r\n");
    EXPECT_EQ(serverData.groups.Import("groups.imp"), 1);
    ASSERT_EQ(serverData.groups.Count(), 3);
    EXPECT_STREQ(serverData.groups[0].permitPath, "/srv/permit/staff.deny");
    EXPECT_STREQ(serverData.groups[1].permitPath, "/srv/permit/guests.allow");
    EXPECT_STREQ(serverData.groups[2].permitPath, "/l/custom/lab.txt");
    EXPECT_EQ(serverData.groups.Export("groups.exp"), 1);
    EXPECT_EQ(get("groups.exp"), "staff d\r\nguests a\r\nlab d\r\n");
}

TEST_F(FilesTest, GroupNamesAndPathsThatReachFilesOrShellsAreRefused) {
    struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"\"a b\" d\n", "a b: blanks and control characters are not allowed in a name"},
        {"../etc d\n", "../etc: a name must not begin with '.' or '-'"},
        {"a;rm d\n", "a;rm: ';' is not allowed in a name"},
        {"a$(x) d\n", "a$(x): '$' is not allowed in a name"},
        {"a'b d\n", "a'b: ''' is not allowed in a name"},
        {"a:b d\n", "a:b: ':' is not allowed in a name"},
        {"a`b` d\n", "a`b`: '`' is not allowed in a name"},
        // What the post-save commands cannot put into the proxy configuration.
        {"a,b d\n", "a,b: ',' is not allowed in a name"},
        {"a=b d\n", "a=b: '=' is not allowed in a name"},
        {"a%b d\n", "a%b: '%' is not allowed in a name"},
        {"-a d\n", "-a: a name must not begin with '.' or '-'"},
        {"gggggggggggggggggggggggggggggggg\n",
         "gggggggggggggggggggggggggggggggg: group name longer than 31 bytes"},
        {"ok d \"/l/a b;reboot\"\n", "/l/a b;reboot: blanks, quotes, control characters and "
                                     "shell metacharacters are not allowed in a server path"},
        {"ok deny-list\n", "ok: list kind must be 1 to 7 characters"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        put("bad.imp", c.line);
        EXPECT_EQ(serverData.groups.Import("bad.imp"), -4);
        EXPECT_STREQ(vxLastError().text, c.message);
    }
    EXPECT_EQ(serverData.groups.Count(), 0);
    EXPECT_EQ(serverData.groups.Add("x\ty", "d", ""), -1);
    EXPECT_STREQ(vxLastError().text,
                 "x\ty: blanks and control characters are not allowed in a name");
    // Windows-1250 letters are name bytes like any other.
    EXPECT_EQ(serverData.groups.Add("di\xe1kok", "d", ""), 0);
}

TEST_F(FilesTest, TablesStopAtTheirSizes) {
    struct {
        int size;
        std::function<int(const char*)> import;
        std::function<int()> count;
        const char* lineEnd;
        const char* message;
    } tables[] = {
        {SD_MAX_USERS, [](const char* f) { return serverData.users.Import(f); },
         [] { return serverData.users.Count(); }, ":g\n",
         "u2000: user table full (at most 1000 users)"},
        {SD_MAX_GROUPS, [](const char* f) { return serverData.groups.Import(f); },
         [] { return serverData.groups.Count(); }, "\n",
         "u1128: group table full (at most 128 groups)"},
        {SD_MAX_URLS, [](const char* f) { return serverData.urls.Import(f); },
         [] { return serverData.urls.Count(); }, "\n", "u2024: URL table full (at most 1024 URLs)"},
    };
    for (const auto& t : tables) {
        SCOPED_TRACE(t.message);
        std::string text;
        for (int i = 0; i <= t.size; i++)
            text += "u" + std::to_string(1000 + i) + t.lineEnd;
        put("many.imp", text);
        EXPECT_EQ(t.import("many.imp"), -4);
        EXPECT_EQ(t.count(), t.size);
        EXPECT_STREQ(vxLastError().text, t.message);
    }

    // The URL pool fills before the table: 66 * 491 bytes fit below 32758, a 67th does not.
    serverData.urls.Clear();
    std::string text;
    for (int i = 0; i < 70; i++)
        text += std::to_string(10 + i) + std::string(488, 'u') + "\n";
    put("big.imp", text);
    EXPECT_EQ(serverData.urls.Import("big.imp"), -4);
    EXPECT_EQ(serverData.urls.Count(), 66);
    EXPECT_EQ(std::string(vxLastError().text),
              "76" + std::string(78, 'u') + ": URL pool full (32758 bytes)");
}

TEST_F(FilesTest, DeletingAGroupMovesItsUsersAndTheCurrentGroupAlong) {
    for (const char* name : {"g0", "g1", "g2", "g3", "g4", "g5"})
        serverData.groups.Add(name, "d", "");
    UserRecord a = user("a"), b = user("b");
    a.group = 1, b.group = 5;
    serverData.users.Add(a);
    serverData.users.Add(b);
    serverData.urls.currentGroup = 5;
    serverData.groups.Delete(1);
    EXPECT_EQ(serverData.users[0].group, -1);
    EXPECT_EQ(serverData.users[1].group, 4);
    EXPECT_EQ(serverData.urls.currentGroup, 4);
    EXPECT_STREQ(serverData.groups[4].name, "g5");
}

TEST_F(FilesTest, UrlImportTrimsSkipsDuplicatesAndExportsCrLf) {
    put("urls.imp", "b.example.com\r\na.example.com   \n\n   \nb.example.com\nlast.org");
    EXPECT_EQ(serverData.urls.Import("urls.imp"), 1);
    EXPECT_EQ(serverData.urls.Export("urls.exp"), 1);
    EXPECT_EQ(get("urls.exp"), "b.example.com\r\na.example.com\r\nlast.org\r\n");

    // The longest URL that a permit file holds survives an export and an import (CR LF ends not
    // counted); one byte more stops the import.
    serverData.urls.Clear();
    ASSERT_EQ(serverData.urls.Add(std::string(511, 'x').c_str()), 0);
    ASSERT_EQ(serverData.urls.Add(std::string(499, 'w').c_str()), 1);
    ASSERT_EQ(serverData.urls.Export("long.exp"), 1);
    serverData.urls.Clear();
    EXPECT_EQ(serverData.urls.Import("long.exp"), 1);
    ASSERT_EQ(serverData.urls.Count(), 2);
    EXPECT_EQ(serverData.urls[0], std::string(511, 'x'));
    EXPECT_EQ(serverData.urls[1], std::string(499, 'w'));
    put("edge.imp", "y.org\r\n" + std::string(512, 'y') + "\r\nafter\n");
    EXPECT_EQ(serverData.urls.Import("edge.imp"), -4);
    EXPECT_STREQ(vxLastError().text, "edge.imp: line longer than 511 characters");
    EXPECT_EQ(serverData.urls.Count(), 3);
    EXPECT_EQ(serverData.urls.Add(std::string(512, 'z').c_str()), -1);
    EXPECT_EQ(std::string(vxLastError().text),
              std::string(80, 'z') + ": URL longer than 511 characters");
    put("blank.imp", "a b.com\n");
    EXPECT_EQ(serverData.urls.Import("blank.imp"), -4);
    EXPECT_STREQ(vxLastError().text,
                 "a b.com: blanks and control characters are not allowed in a URL");
    EXPECT_EQ(serverData.urls.Import("missing.imp"), -2);
    EXPECT_STREQ(vxLastError().text, "No such file or directory (missing.imp) !");
}

// A NUL byte ended the URL there (or dropped a line that starts with one) while the import
// reported success; the import stops at that line and names it.
TEST_F(FilesTest, UrlImportRefusesANulByteWithItsLineNumber) {
    put("nul.imp", std::string("a.org\r\n\0hidden.org\r\nb.org\r\n", 27));
    EXPECT_EQ(serverData.urls.Import("nul.imp"), -4);
    EXPECT_STREQ(vxLastError().text, "nul.imp:2: a NUL byte");
    ASSERT_EQ(serverData.urls.Count(), 1);
    EXPECT_STREQ(serverData.urls[0], "a.org");
    put("cut.imp", std::string("c.org\nd.org\0tail", 16));
    EXPECT_EQ(serverData.urls.Import("cut.imp"), -4);
    EXPECT_STREQ(vxLastError().text, "cut.imp:2: a NUL byte");
    EXPECT_EQ(serverData.urls.Count(), 2);
}

TEST_F(FilesTest, SetupBinBitForBitAndAShortFileIsNone) {
    LineSpeeds s{};
    EXPECT_EQ(ReadLineSpeeds(s), 1);
    DefaultLineSpeeds(s);
    s.intranetTotal = 0.1;
    EXPECT_EQ(WriteLineSpeeds(s), 0);
    std::string bytes = get("setup.bin");
    ASSERT_EQ(bytes.size(), 72u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\0\0\0\0\0\0\x60\x40", 8));              // 128.0
    EXPECT_EQ(bytes.substr(8, 8), std::string("\0\0\0\0\0\x88\xc3\x40", 8));            // 10000.0
    EXPECT_EQ(bytes.substr(64, 8), std::string("\x9a\x99\x99\x99\x99\x99\xb9\x3f", 8)); // 0.1
    LineSpeeds back{};
    EXPECT_EQ(ReadLineSpeeds(back), 0);
    EXPECT_EQ(std::memcmp(&back, &s, sizeof s), 0);

    put("setup.bin", bytes.substr(0, 40));
    LineSpeeds untouched = back;
    EXPECT_EQ(ReadLineSpeeds(untouched), 1);
    EXPECT_EQ(std::memcmp(&untouched, &back, sizeof back), 0);
}

} // namespace
