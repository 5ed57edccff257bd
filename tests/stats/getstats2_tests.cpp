// Tests of the server's statistics tool: query parsing, buckets, log lines, the collector, and
// the program over small logs (rotated and compressed ones among them) written by the test.
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <signal.h>
#include <string>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "server/stats_collector.h"
#include "tests/stats/access_log_lines.h"
#include "tests/stats/getstats2_run.h"
#include "tests/stats/gzip_member.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Every test runs in the server's local time of Budapest (clock changes on the last Sundays of
// March and October).
const bool kZone = (setenv("TZ", "Europe/Budapest", 1), tzset(), true);

StatsQuery parse(const std::string& text) {
    StatsQuery q;
    std::string error;
    EXPECT_TRUE(statsParseQuery(text, &q, &error)) << error;
    return q;
}

std::string parseError(const std::string& text) {
    StatsQuery q;
    std::string error;
    EXPECT_FALSE(statsParseQuery(text, &q, &error));
    return error;
}

TEST(StatsQueryFile, LinesUserAndRefusals) {
    StatsQuery q = parse("2024-02-29 10:05:00\r\n2024-03-01 23:59:00\r\n2\r\nkiss janos\r\n");
    EXPECT_EQ(q.start.tm_year, 124);
    EXPECT_EQ(q.start.tm_mon, 1);
    EXPECT_EQ(q.start.tm_mday, 29);
    EXPECT_EQ(q.start.tm_min, 5);
    EXPECT_EQ(q.end.tm_hour, 23);
    EXPECT_EQ(q.resolution, 2);
    EXPECT_EQ(q.user, "kiss janos");
    EXPECT_EQ(parse("2024-01-01 00:00:00\n2024-01-01 00:09:00\n1\n").user, "");
    EXPECT_EQ(parse("2024-01-01 00:00:00\n2024-01-01 00:09:00\n1").resolution, 1);

    EXPECT_EQ(parseError("   0-00-00 00:00:00\r\n   0-00-00 00:00:00\r\n0\r\n"),
              "bad start date-time:    0-00-00 00:00:00");
    EXPECT_EQ(parseError("2023-02-29 00:00:00\n2023-03-01 00:00:00\n3\n"),
              "bad start date-time: 2023-02-29 00:00:00");
    EXPECT_EQ(parseError("2024-01-01 00:00:00\n2024-13-01 00:00:00\n3\n"),
              "bad end date-time: 2024-13-01 00:00:00");
    EXPECT_EQ(parseError("2024-01-01 00:00:00\n2024-01-01 24:00:00\n3\n"),
              "bad end date-time: 2024-01-01 24:00:00");
    EXPECT_EQ(parseError("2024-01-01 00:00:00\n2024-01-02 00:00:00\n5\n"),
              "bad resolution (0-4): 5");
    EXPECT_EQ(parseError("2024-01-01 00:00:00\n"),
              "the query needs a start, an end and a resolution line");
    EXPECT_EQ(parseError("2024-01-01 00:00:00\n2024-01-02 00:00:00\n3\n" + std::string(300, 'u')),
              "user name too long");
    // Numbers that do not fit are refused, not wrapped round (2^32 + 2000 is no year 2000).
    EXPECT_EQ(parseError("4294969296-01-01 00:00:00\n2024-01-02 00:00:00\n3\n"),
              "bad start date-time: 4294969296-01-01 00:00:00");
    EXPECT_EQ(parseError("2024-01-01 00:00:00\n2024-4294967297-02 00:00:00\n3\n"),
              "bad end date-time: 2024-4294967297-02 00:00:00");
    EXPECT_EQ(parseError("2024-01-01 00:00:00\n2024-01-02 00:00:-4294967296\n3\n"),
              "bad end date-time: 2024-01-02 00:00:-4294967296");
    EXPECT_EQ(parse("02024-1-01 00:00:00\n2024-01-02 0:0:0\n3\n").start.tm_year, 124);
}

TEST(StatsQueryFile, GroupAndLineLimitLines) {
    const std::string head = "2024-05-10 00:00:00\r\n2024-05-10 23:59:00\r\n3\r\n";
    StatsQuery q = parse(head + "\r\ngroup Könyvelés és pénzügy\r\nlines 99999\r\n");
    EXPECT_EQ(q.user, "");
    EXPECT_EQ(q.group, "Könyvelés és pénzügy");
    EXPECT_EQ(q.lineLimit, 99999u);
    q = parse(head + "kiss janos\r\nlines 0\r\n");
    EXPECT_EQ(q.user, "kiss janos");
    EXPECT_EQ(q.group, "");
    EXPECT_EQ(q.lineLimit, 0u);
    // Older files: no limit, no group; an empty line 4 is all users.
    EXPECT_EQ(parse(head + "kiss janos\r\n").lineLimit, UINT64_MAX);
    EXPECT_EQ(parse(head + "\r\n").user, "");

    EXPECT_EQ(parseError(head + "anna\r\ngroup staff\r\n"),
              "a query names a user or a group, not both");
    EXPECT_EQ(parseError(head + "\r\nlines -1\r\n"), "bad query line: lines -1");
    EXPECT_EQ(parseError(head + "\r\nlines 12x\r\n"), "bad query line: lines 12x");
    EXPECT_EQ(parseError(head + "\r\ngroup\r\n"), "bad query line: group");
    EXPECT_EQ(parseError(head + "\r\ncsoport staff\r\n"), "bad query line: csoport staff");

    q.group = "staff";
    q.user = "";
    q.members = {"anna", "kiss janos"};
    EXPECT_TRUE(statsAdmits(q, "kiss janos"));
    EXPECT_FALSE(statsAdmits(q, "kiss"));
    q.members.clear(); // a group without users counts nothing, not everyone
    EXPECT_FALSE(statsAdmits(q, "anna"));
}

std::vector<time_t> buckets(const std::string& start, const std::string& end, int resolution) {
    std::vector<time_t> b;
    std::string error;
    EXPECT_TRUE(statsBuckets(parse(start + "\n" + end + "\n" + std::to_string(resolution) + "\n"),
                             &b, &error))
        << error;
    return b;
}

TEST(StatsBuckets, WidthsAndTheEndMinute) {
    std::vector<time_t> day = buckets("2024-05-10 00:00:00", "2024-05-10 23:59:00", 1);
    ASSERT_EQ(day.size(), 145u); // 144 ten-minute buckets
    EXPECT_EQ(day.front(), localTime(2024, 5, 10, 0, 0));
    EXPECT_EQ(day.back(), localTime(2024, 5, 11, 0, 0));
    EXPECT_EQ(buckets("2024-05-10 10:00:00", "2024-05-10 10:59:00", 2).size(), 2u);
    EXPECT_EQ(buckets("2024-05-10 10:00:00", "2024-05-10 11:00:00", 2).size(), 3u);
    EXPECT_EQ(buckets("2024-05-10 10:00:30", "2024-05-10 10:00:00", 0).size(), 2u);
    EXPECT_TRUE(buckets("2024-05-10 10:01:00", "2024-05-10 10:00:00", 0).empty());

    // Days across the leap day and across the spring clock change (a 23-hour day).
    std::vector<time_t> leap = buckets("2024-02-28 06:00:00", "2024-03-01 05:59:00", 3);
    ASSERT_EQ(leap.size(), 3u);
    EXPECT_EQ(leap[1], localTime(2024, 2, 29, 6, 0));
    EXPECT_EQ(leap[2], localTime(2024, 3, 1, 6, 0));
    std::vector<time_t> spring = buckets("2024-03-31 00:00:00", "2024-03-31 23:59:00", 3);
    ASSERT_EQ(spring.size(), 2u);
    EXPECT_EQ(spring[1] - spring[0], 23 * 3600);

    // Months keep the start day where the month has it, and clamp it to the month's end.
    std::vector<time_t> months = buckets("2024-01-31 00:00:00", "2024-04-30 00:00:00", 4);
    ASSERT_EQ(months.size(), 5u);
    EXPECT_EQ(months[1], localTime(2024, 2, 29, 0, 0));
    EXPECT_EQ(months[2], localTime(2024, 3, 31, 0, 0));
    EXPECT_EQ(months[3], localTime(2024, 4, 30, 0, 0));
    EXPECT_EQ(months[4], localTime(2024, 4, 30, 0, 1)); // the end minute closes the last
    std::vector<time_t> year = buckets("2023-12-01 00:00:00", "2024-01-01 00:00:00", 4);
    ASSERT_EQ(year.size(), 3u);
    EXPECT_EQ(year[2], localTime(2024, 1, 1, 0, 1));

    std::vector<time_t> b;
    std::string error;
    EXPECT_FALSE(statsBuckets(parse("2000-01-01 00:00:00\n2024-01-01 00:00:00\n0\n"), &b, &error));
    EXPECT_EQ(error, "too many buckets: 12623041");
}

StatsLogLine line(const std::string& text, bool* ok) {
    static std::string keep;
    keep = text;
    StatsLogLine l;
    *ok = statsParseLine(keep.data(), keep.data() + keep.size(), &l);
    return l;
}

TEST(StatsLogLines, NativeFormatVariants) {
    bool ok = false;
    StatsLogLine l = line("1714000000.123    250 192.168.1.20 TCP_MISS/200 5120 GET "
                          "http://www.index.hu/ kiss%20janos DIRECT/1.2.3.4 text/html",
                          &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.time, 1714000000);
    EXPECT_EQ(l.bytes, 5120u);
    EXPECT_EQ(l.method, "GET");
    EXPECT_EQ(l.url, "http://www.index.hu/");
    EXPECT_EQ(l.user, "kiss%20janos");

    l = line("1714000001.000 60012 10.0.0.5 TCP_TUNNEL/200 6442450944 CONNECT github.com:443 - "
             "TIMEOUT_HIER_DIRECT/140.82.121.4 -",
             &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.bytes, 6442450944u);
    EXPECT_EQ(l.user, "-");
    EXPECT_EQ(statsSite(l.method, l.url), "github.com");

    line("1714000001 1 10.0.0.5 NONE_NONE/000 0 NONE error:transaction-end-before-headers - "
         "HIER_NONE/- -",
         &ok);
    EXPECT_TRUE(ok);
    // Runs of blanks and tabs, a URL across the 64-byte blocks the fields are found in, a CR LF
    // end; the line ends at its LF.
    const std::string longUrl = "http://www.index.hu/" + std::string(150, 'a');
    for (const std::string& text :
         {"1714000002.000\t\t7  10.0.0.5 \tTCP_MISS/200   77 GET " + longUrl + " \t anna",
          "1714000002 7 10.0.0.5 TCP_MISS/200 77 GET " + longUrl + " anna\r\n",
          "1714000002 7 10.0.0.5 TCP_MISS/200 77 GET " + longUrl + " anna\nnext line"}) {
        l = line(text, &ok);
        ASSERT_TRUE(ok) << text;
        EXPECT_EQ(l.time, 1714000002);
        EXPECT_EQ(l.bytes, 77u);
        EXPECT_EQ(l.url, longUrl);
        EXPECT_EQ(l.user, "anna");
    }
    for (const char* bad :
         {"", "garbage", "1714000001.5 1 10.0.0.5 TCP_MISS/200 12x GET http://a/ u",
          "17140a0001.5 1 10.0.0.5 TCP_MISS/200 12 GET http://a/ u",
          "1714000001.5x 1 10.0.0.5 TCP_MISS/200 12 GET http://a/ u",
          ".5 1 10.0.0.5 TCP_MISS/200 12 GET http://a/ u",
          "17140000011714000001 1 10.0.0.5 TCP_MISS/200 12 GET http://a/ u",
          "1714000001.5 1 10.0.0.5 TCP_MISS 12 GET http://a/ u",
          "1714000001.5 1 10.0.0.5 TCP_MISS/200 12 GET http://a/",
          "1714000001.5 1 10.0.0.5 TCP_MISS/200 12 GET http://a/ \r",
          "1714000001.5 1 10.0.0.5 TCP_MISS/200 12 GET http://a/\nu",
          "1714000001.5 1 10.0.0.5 TCP_MISS/200 99999999999999999999 GET x u"}) {
        line(bad, &ok);
        EXPECT_FALSE(ok) << bad;
    }
}

TEST(StatsLogLines, UsersAndSites) {
    std::string out;
    EXPECT_TRUE(statsDecodeUser("kiss%20janos", &out));
    EXPECT_EQ(out, "kiss janos");
    EXPECT_TRUE(statsDecodeUser("a%2", &out));
    EXPECT_EQ(out, "a%2");
    EXPECT_TRUE(statsDecodeUser("%e1gnes%zz", &out));
    EXPECT_EQ(out, "\xe1gnes%zz");
    EXPECT_FALSE(statsDecodeUser(std::string(300, 'x'), &out));

    for (const char* url : {"http://www.index.hu/hirek?x=1", "http://www.index.hu?x=/1",
                            "http://www.index.hu#a/b", "http://user:pw@www.index.hu:8080/"})
        EXPECT_EQ(statsSite("GET", url), "www.index.hu") << url;
    EXPECT_EQ(statsSite("GET", "https://[2001:db8::1]:443/x"), "[2001:db8::1]");
    EXPECT_EQ(statsSite("CONNECT", "mail.pelda-kft.hu:993"), "mail.pelda-kft.hu");
    EXPECT_EQ(statsSite("GET", "www.example.org"), "www.example.org");
    EXPECT_EQ(statsSite("NONE", "error:invalid-request"), "error");
}

std::string collect(StatsKind kind, const std::string& query, const std::string& log,
                    uint64_t* malformed = nullptr) {
    StatsQuery q = parse(query);
    std::vector<time_t> b;
    std::string error;
    EXPECT_TRUE(statsBuckets(q, &b, &error));
    StatsCollector c(kind, q, b);
    c.addText(log.data(), log.data() + log.size());
    if (malformed) *malformed = c.malformed();
    std::string out;
    std::move(c).write(&out);
    return out;
}

TEST(StatsCollect, BytesLandInTheirBuckets) {
    const std::string hourly = "2024-05-10 10:00:00\n2024-05-10 12:30:00\n2\n";
    std::string log =
        accessLogLine(localTime(2024, 5, 10, 9, 59, 59), 1, "a") +     // before
        accessLogLine(localTime(2024, 5, 10, 10, 0, 0), 10, "a") +     // bucket 0 starts
        accessLogLine(localTime(2024, 5, 10, 10, 59, 59), 20, "b") +   // bucket 0 ends
        accessLogLine(localTime(2024, 5, 10, 11, 0, 0), 300, "-") +    // bucket 1
        accessLogLine(localTime(2024, 5, 10, 12, 30, 59), 4000, "a") + // the end minute
        accessLogLine(localTime(2024, 5, 10, 12, 31, 0), 50000, "a");  // after
    EXPECT_EQ(collect(StatsKind::Data, hourly, log), "30\n300\n4000\n");
    EXPECT_EQ(collect(StatsKind::Data, hourly + "a\n", log), "10\n0\n4000\n");
    EXPECT_EQ(collect(StatsKind::Data, hourly + "-\n", log), "0\n300\n0\n");

    // Month ends and the leap day, daily and monthly.
    std::string days = accessLogLine(localTime(2024, 2, 28, 23, 59, 59), 1, "a") +
                       accessLogLine(localTime(2024, 2, 29, 0, 0, 0), 2, "a") +
                       accessLogLine(localTime(2024, 2, 29, 23, 59, 59), 4, "a") +
                       accessLogLine(localTime(2024, 3, 1, 0, 0, 0), 8, "a") +
                       accessLogLine(localTime(2024, 3, 31, 23, 59, 0), 16, "a") +
                       accessLogLine(localTime(2024, 4, 1, 0, 0, 0), 32, "a");
    EXPECT_EQ(collect(StatsKind::Data, "2024-02-28 00:00:00\n2024-03-01 23:59:00\n3\n", days),
              "1\n6\n8\n");
    EXPECT_EQ(collect(StatsKind::Data, "2024-02-01 00:00:00\n2024-04-30 23:59:00\n4\n", days),
              "7\n24\n32\n");
    // A line out of time order still lands in its own bucket.
    std::string unordered = accessLogLine(localTime(2024, 5, 10, 11, 30, 0), 5, "a") +
                            accessLogLine(localTime(2024, 5, 10, 10, 30, 0), 7, "a");
    EXPECT_EQ(collect(StatsKind::Data, hourly, unordered), "7\n5\n0\n");
    // Sizes beyond 32 bits add up.
    std::string big = accessLogLine(localTime(2024, 5, 10, 10, 1, 0), 6442450944ull, "a") +
                      accessLogLine(localTime(2024, 5, 10, 10, 2, 0), 6442450944ull, "b");
    EXPECT_EQ(collect(StatsKind::Data, hourly, big), "12884901888\n0\n0\n");
    EXPECT_EQ(collect(StatsKind::Data, "2024-05-10 10:00:00\n2024-05-10 09:00:00\n2\n", log), "");
}

TEST(StatsCollect, UrlAndSiteListsSortedAndQuoted) {
    const std::string query = "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n";
    time_t t = localTime(2024, 5, 10, 12, 0);
    std::string log = accessLogLine(t, 1, "zoli", "http://www.index.hu/a") +
                      accessLogLine(t, 1, "kiss%20janos", "http://www.hvg.hu/") +
                      accessLogLine(t, 1, "zoli", "http://www.index.hu/b") +
                      accessLogLine(t, 1, "zoli", "http://www.index.hu/b") +
                      accessLogLine(t, 1, "-", "github.com:443", "CONNECT") +
                      accessLogLine(t, 1, "zoli", "http://x.hu/it's") + "not a log line\n" +
                      accessLogLine(t, 1, "zoli", "mail.pelda-kft.hu:993", "CONNECT");
    uint64_t malformed = 0;
    EXPECT_EQ(collect(StatsKind::Url, query, log, &malformed), "- 1 github.com:443\n"
                                                               "'kiss janos' 1 http://www.hvg.hu/\n"
                                                               "zoli 2 http://www.index.hu/b\n"
                                                               "zoli 1 http://www.index.hu/a\n"
                                                               "zoli 1 http://x.hu/it%27s\n"
                                                               "zoli 1 mail.pelda-kft.hu:993\n");
    EXPECT_EQ(malformed, 1u);
    EXPECT_EQ(collect(StatsKind::Site, query, log), "- 1 github.com\n"
                                                    "'kiss janos' 1 www.hvg.hu\n"
                                                    "zoli 3 www.index.hu\n"
                                                    "zoli 1 x.hu\n"
                                                    "zoli 1 mail.pelda-kft.hu\n");
    EXPECT_EQ(collect(StatsKind::Site, query + "kiss janos\n", log), "'kiss janos' 1 www.hvg.hu\n");
    // A very long URL is cut, so that the result line stays one line of the console.
    std::string longUrl = "http://x.hu/" + std::string(1000, 'p');
    EXPECT_EQ(collect(StatsKind::Url, query, accessLogLine(t, 1, "a", longUrl)),
              "a 1 " + longUrl.substr(0, 400) + "\n");
}

TEST(StatsCollect, TextSplitIntoLines) {
    const std::string query = "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n";
    const std::string t = std::to_string(localTime(2024, 5, 10, 12, 0));
    const std::string head = t + ".1 5 10.0.0.1 TCP_MISS/200 9 GET http://a.hu/";
    const struct {
        std::string log;
        std::string out;
        uint64_t malformed;
    } cases[] = {
        // A short line does not borrow its fields from the next one.
        {head + "x\n" + head + "y anna -\n", "anna 1 http://a.hu/y\n", 1},
        {head + "y\n" + head + "y anna", "anna 1 http://a.hu/y\n", 1}, // the last without LF
        {"\n\r\n" + head + "y anna\r\n\r\n\n" + head + "y\tanna\r", "anna 2 http://a.hu/y\n", 0},
        {head + "y anna\n   \n\t\n", "anna 1 http://a.hu/y\n", 2},
        // A line with a damaged time far past the range does not end the reading.
        {head + "y anna\n99999999999" + head.substr(t.size()) + "y anna\n" + head + "y anna\n",
         "anna 2 http://a.hu/y\n", 0},
        {head + std::string(200, 'z') + " \t anna\n",
         "anna 1 http://a.hu/" + std::string(200, 'z').substr(0, 400 - 12) + "\n", 0},
    };
    for (const auto& c : cases) {
        uint64_t malformed = 0;
        EXPECT_EQ(collect(StatsKind::Url, query, c.log, &malformed), c.out) << c.log;
        EXPECT_EQ(malformed, c.malformed) << c.log;
    }
}

// Collects with the query's group made of members.
std::string collectGroup(StatsKind kind, const std::string& query, const std::string& log,
                         std::vector<std::string> members) {
    StatsQuery q = parse(query);
    q.members = std::move(members);
    std::vector<time_t> b;
    std::string error;
    EXPECT_TRUE(statsBuckets(q, &b, &error));
    StatsCollector c(kind, q, b);
    c.addText(log.data(), log.data() + log.size());
    std::string out;
    std::move(c).write(&out);
    return out;
}

TEST(StatsCollect, AGroupCountsItsUsersUnderItsName) {
    const std::string query = "2024-05-10 00:00:00\n2024-05-10 23:59:00\n2\n\ngroup Iroda\n";
    time_t t = localTime(2024, 5, 10, 12, 0);
    std::string log = accessLogLine(t, 1, "zoli", "http://www.index.hu/a") +
                      accessLogLine(t, 10, "kiss%20janos", "http://www.index.hu/a") +
                      accessLogLine(t, 100, "anna", "http://www.hvg.hu/") +
                      accessLogLine(t + 3600, 1000, "zoli", "http://www.hvg.hu/");
    EXPECT_EQ(collectGroup(StatsKind::Site, query, log, {"kiss janos", "zoli"}),
              "Iroda 2 www.index.hu\nIroda 1 www.hvg.hu\n");
    EXPECT_EQ(collectGroup(StatsKind::Url, query, log, {"anna"}), "Iroda 1 http://www.hvg.hu/\n");
    std::string hours;
    for (int h = 0; h < 24; ++h)
        hours += h == 12 ? "11\n" : h == 13 ? "1000\n" : "0\n";
    EXPECT_EQ(collectGroup(StatsKind::Data, query, log, {"kiss janos", "zoli"}), hours);
    EXPECT_EQ(collectGroup(StatsKind::Site, query, log, {}), "");
    // A group name holding blanks is one field of the console's lines.
    EXPECT_EQ(collectGroup(StatsKind::Site,
                           "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n\ngroup Kis iroda\n", log,
                           {"anna"}),
              "'Kis iroda' 1 www.hvg.hu\n");
}

TEST(StatsCollect, ALineLimitEndsTheListWithWhatWasLeftOut) {
    const std::string day = "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n";
    time_t t = localTime(2024, 5, 10, 12, 0);
    std::string log;
    for (int i = 0; i < 3; ++i)
        log += accessLogLine(t, 1, "b", "http://b.hu/");
    log += accessLogLine(t, 1, "b", "http://c.hu/") + accessLogLine(t, 1, "a", "http://a.hu/");
    for (int i = 0; i < 5; ++i)
        log += accessLogLine(t, 1, "c", "http://c.hu/" + std::to_string(i % 2));
    const std::string all = collect(StatsKind::Site, day, log);
    EXPECT_EQ(all, "a 1 a.hu\nb 3 b.hu\nb 1 c.hu\nc 5 c.hu\n");
    EXPECT_EQ(collect(StatsKind::Site, day + "\nlines 4\n", log), all); // exactly the limit
    EXPECT_EQ(collect(StatsKind::Site, day + "\nlines 2\n", log),
              "a 1 a.hu\nb 3 b.hu\n"
              "A lista csonka: tov\xe1"
              "bbi 2 sor (6 k\xe9r\xe9s) kimaradt.\n");
    EXPECT_EQ(collect(StatsKind::Url, day + "\nlines 0\n", log),
              "A lista csonka: tov\xe1"
              "bbi 5 sor (10 k\xe9r\xe9s) kimaradt.\n");
    // The traffic kind has no lines to cut.
    EXPECT_EQ(collect(StatsKind::Data, day + "\nlines 0\n", log), "10\n");
}

TEST(StatsCollect, EveryLineLimitCutsTheWholeListAndCountsTheRest) {
    // Users of many lines and of few, URLs asked once and several times, in mixed order.
    std::string log;
    const time_t t = localTime(2024, 5, 10, 12, 0);
    for (int i = 0; i < 3000; ++i) {
        const int user = (i * 7919) % 13 == 0 ? 12 : (i * 31) % 6;
        const int page = i % 5 == 0 ? i % 17 : i;
        log += accessLogLine(t + i, 1, "u" + std::to_string(user),
                             "http://s" + std::to_string(i % 7) + ".hu/p" + std::to_string(page));
    }
    const std::string day = "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n";
    for (StatsKind kind : {StatsKind::Url, StatsKind::Site}) {
        const std::string whole = collect(kind, day, log);
        std::vector<std::string> lines;
        std::vector<uint64_t> counts;
        for (size_t at = 0; at < whole.size();) {
            size_t nl = whole.find('\n', at);
            lines.push_back(whole.substr(at, nl + 1 - at));
            counts.push_back(std::stoull(lines.back().substr(lines.back().find(' ') + 1)));
            at = nl + 1;
        }
        ASSERT_GT(lines.size(), 20u);
        uint64_t requests = 0;
        for (uint64_t c : counts)
            requests += c;
        // Every limit up to 50, then every 37th, and those about the list's end.
        std::vector<uint64_t> writtenBefore(1, 0); // requests of the first n lines
        for (uint64_t c : counts)
            writtenBefore.push_back(writtenBefore.back() + c);
        std::set<size_t> limits;
        for (size_t limit = 0; limit <= lines.size() + 1; limit += limit < 50 ? 1 : 37)
            limits.insert(limit);
        for (size_t back = 0; back <= 3; ++back)
            limits.insert(lines.size() + 1 - back);
        for (size_t limit : limits) {
            const uint64_t written = writtenBefore[std::min(limit, lines.size())];
            std::string expected;
            for (size_t i = 0; i < limit && i < lines.size(); ++i)
                expected += lines[i];
            if (limit < lines.size())
                expected += "A lista csonka: tov\xe1"
                            "bbi " +
                            std::to_string(lines.size() - limit) + " sor (" +
                            std::to_string(requests - written) + " k\xe9r\xe9s) kimaradt.\n";
            ASSERT_EQ(collect(kind, day + "\nlines " + std::to_string(limit) + "\n", log), expected)
                << "limit " << limit;
        }
    }
}

TEST(StatsCollect, TooManyUsersForTheListsIsSaid) {
    StatsCollector c(StatsKind::Site, parse("2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n"),
                     buckets("2024-05-10 00:00:00", "2024-05-10 23:59:00", 3));
    time_t t = localTime(2024, 5, 10, 12, 0);
    for (int i = 0; i < 0xffff; ++i) {
        std::string l = accessLogLine(t, 1, "u" + std::to_string(i));
        c.addLine(l.data(), l.data() + l.size() - 1);
    }
    EXPECT_FALSE(c.overflow());
    std::string l = accessLogLine(t, 1, "one-too-many");
    c.addLine(l.data(), l.data() + l.size() - 1);
    EXPECT_TRUE(c.overflow());
}

// Lines of n users named prefix0, prefix1, ... at t, one each.
std::string linesOfUsers(time_t t, int n, const std::string& prefix) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += accessLogLine(t, 1, prefix + std::to_string(i));
    return text;
}

TEST(StatsCollect, OnceTheListsCannotBeMadeTheFileIsReadNoFurther) {
    // 70,000 users (about 7 MB, past the first 4 MB read), then 5 MB of one user's lines, then
    // malformed lines: counted only when the reading goes on past the block of the overflow.
    TempDir dir{"overflow"};
    const time_t t = localTime(2024, 5, 10, 12, 0);
    std::string rest;
    while (rest.size() < 5u << 20)
        rest += accessLogLine(t, 1, "u1");
    for (int i = 0; i < 1000; ++i)
        rest += "broken line\n";
    dir.write("access.log", linesOfUsers(t, 70000, "u") + rest);
    StatsCollector c(StatsKind::Site, parse("2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n"),
                     buckets("2024-05-10 00:00:00", "2024-05-10 23:59:00", 3));
    int fd = open(dir.file("access.log").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string error;
    EXPECT_TRUE(c.addFile(fd, &error)) << error;
    close(fd);
    EXPECT_TRUE(c.overflow());
    EXPECT_EQ(c.malformed(), 0u);

    // The same file within the limit is read to its end.
    StatsCollector fits(StatsKind::Site, parse("2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n"),
                        buckets("2024-05-10 00:00:00", "2024-05-10 23:59:00", 3));
    dir.write("access.log", linesOfUsers(t, 60000, "u") + rest);
    fd = open(dir.file("access.log").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fits.addFile(fd, &error)) << error;
    close(fd);
    EXPECT_FALSE(fits.overflow());
    EXPECT_EQ(fits.malformed(), 1000u);
}

TEST(StatsStringsTable, NumbersAcrossArenaBlocksInFirstAppearanceOrder) {
    StatsStrings strings;
    std::vector<uint32_t> ids;
    for (int i = 0; i < 300000; ++i)
        ids.push_back(strings.intern("http://host/" + std::to_string(i)));
    EXPECT_EQ(strings.intern("http://host/7"), ids[7]);
    EXPECT_EQ(strings.size(), 300000u);
    EXPECT_EQ(strings.ids(), ids); // more than one 4 MB block, in order
    EXPECT_EQ(strings.at(ids[299999]), "http://host/299999");
    EXPECT_EQ(strings.at(strings.intern("")), "");
    EXPECT_EQ(strings.at(strings.intern(std::string(70000, 'x'))).size(), 0xfffeu);
}

TEST(StatsStringsTable, TextsKeptAsTheirPlaceInAFileAreReadBackAndKeptOnceTheyRecur) {
    TempDir dir{"places"};
    const std::string text = "/a?x=1/b/a?x=1/c'd/a?x=2";
    dir.write("log", text);
    int fd = open(dir.file("log").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<int> fds = {fd};
    StatsStrings strings;
    strings.setFiles(&fds);
    auto at = [&](size_t offset, size_t size) {
        std::string_view s(text.data() + offset, size);
        return strings.intern(s, StatsStrings::hash(s), StatsStrings::place(0, offset, size));
    };
    const uint32_t a = at(0, 6);            // "/a?x=1" as a place
    const uint32_t b = at(6, 2);            // "/b"
    EXPECT_EQ(at(8, 6), a);                 // the same text elsewhere: read back, then kept
    EXPECT_EQ(strings.intern("/a?x=1"), a); // and found without the file
    const uint32_t c = strings.intern("/c'd");
    EXPECT_EQ(at(14, 4), c);       // a text kept first, met again as a place
    const uint32_t a2 = at(18, 6); // same size and start, other text
    EXPECT_NE(a2, a);
    EXPECT_EQ(strings.size(), 4u);
    EXPECT_EQ(strings.at(b), "/b");
    EXPECT_EQ(strings.at(a2), "/a?x=2");
    EXPECT_EQ(strings.at(a), "/a?x=1");
    EXPECT_FALSE(strings.placesLost());
    // What a place cannot tell is kept as text.
    EXPECT_EQ(StatsStrings::place(StatsStrings::kFiles, 0, 1), StatsStrings::kNoPlace);
    EXPECT_EQ(StatsStrings::place(0, 0, 2048), StatsStrings::kNoPlace);
    // A file cut short: the place cannot be read back, and that is said.
    ASSERT_EQ(truncate(dir.file("log").c_str(), 7), 0);
    EXPECT_EQ(strings.at(a2), "");
    EXPECT_TRUE(strings.placesLost());
    EXPECT_EQ(strings.at(a), "/a?x=1"); // kept when it recurred
    close(fd);
}

TEST(StatsStringsTable, TextsSpiltToAScratchFileAreReadBackAlsoWhenTheFileCannotBeWritten) {
    TempDir dir{"spill"};
    // A scratch file that takes the blocks, and one that refuses every write (as a full disk
    // would): the blocks then stay in memory.
    for (bool writable : {true, false}) {
        dir.write("scratch", "");
        int fd = open(dir.file("scratch").c_str(), writable ? O_RDWR : O_RDONLY);
        ASSERT_GE(fd, 0);
        StatsSpill spill(fd);
        StatsStrings strings;
        strings.setSpill(&spill);
        std::vector<uint32_t> ids;
        std::vector<std::string> texts;
        for (int i = 0; i < 80000; ++i) { // about 3 MB: blocks of 1 MB, texts across their ends
            texts.push_back("/p?q=" + std::to_string(i * 7919) + std::string(i % 41, 'x'));
            ids.push_back(strings.intern(texts.back()));
        }
        EXPECT_EQ(strings.intern(texts[12345]), ids[12345]); // read back, then kept
        EXPECT_EQ(strings.size(), texts.size());
        for (size_t i = 0; i < texts.size(); i += 7)
            ASSERT_EQ(strings.at(ids[i]), texts[i]) << i;
        EXPECT_FALSE(strings.placesLost());
        EXPECT_GT(spill.size(), 2u << 20);
        EXPECT_EQ(spill.inMemory() < (1u << 20), writable) << spill.inMemory();
        struct stat st;
        ASSERT_EQ(stat(dir.file("scratch").c_str(), &st), 0);
        EXPECT_EQ(st.st_size >= (2 << 20), writable);
    }
}

// A url list of a log read from its file (its URLs kept as their places in it), of its text
// handed over with a scratch file (a list of a line limit keeps its URLs there), and of its
// text handed over (kept in memory).
std::vector<std::string> urlsOfFileAndText(const std::string& query, const std::string& path) {
    const std::string log = readFileBytes(path);
    StatsQuery q = parse(query);
    std::vector<time_t> b;
    std::string error;
    EXPECT_TRUE(statsBuckets(q, &b, &error));
    StatsCollector c(StatsKind::Url, q, b);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_TRUE(c.addFile(fd, &error)) << error;
    close(fd); // the collector keeps its own
    EXPECT_TRUE(c.placesKept());
    std::string fromFile;
    std::move(c).write(&fromFile);
    StatsCollector spilt(StatsKind::Url, q, b);
    const std::string scratch = path + ".scratch";
    spilt.spillTo(open(scratch.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    spilt.addText(log.data(), log.data() + log.size());
    std::string fromScratch;
    std::move(spilt).write(&fromScratch);
    unlink(scratch.c_str());
    return {fromFile, fromScratch, collect(StatsKind::Url, query, log)};
}

TEST(StatsCollect, AUrlListOfALogFileIsThatOfItsText) {
    TempDir dir{"urls"};
    std::string log;
    const time_t t = localTime(2024, 5, 10, 0, 0);
    const std::string odd[] = {"/q?a='b'", "/%20x", "/" + std::string(500, 'l'), "", "/"};
    for (int i = 0; i < 20000; ++i) {
        const int user = (i * 37) % 9;
        const int site = (i * 11) % 23;
        std::string rest = i % 7 == 0 ? odd[i % 5] : "/p" + std::to_string((i * 13) % 4001);
        log += accessLogLine(t + i * 4, 1, "u" + std::to_string(user),
                             "http://s" + std::to_string(site) + ".hu" + rest);
    }
    // More than a read block of the reader, so that places lie in several of its blocks.
    while (log.size() < (5u << 20))
        log += accessLogLine(t + 86000, 1, "late",
                             "http://z.hu/z?session=" + std::to_string(log.size() * 7919) +
                                 std::string(40, 's'));
    dir.write("access.log", log);
    // Lists of a line limit keep their URLs out of memory; one without keeps them in.
    for (const char* query : {"2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n\nlines 999999\n",
                              "2024-05-10 03:00:00\n2024-05-10 20:59:00\n3\n\nlines 5000\n",
                              "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\nu4\nlines 99\n",
                              "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n"}) {
        const std::vector<std::string> lists = urlsOfFileAndText(query, dir.file("access.log"));
        EXPECT_GT(lists[2].size(), 1000u);
        EXPECT_TRUE(lists[0] == lists[2]) << query;
        EXPECT_TRUE(lists[1] == lists[2]) << query;
    }
}

TEST(StatsCollect, AUrlListSaysWhenItsLogChangedWhileItWasRead) {
    TempDir dir{"changed"};
    const time_t t = localTime(2024, 5, 10, 12, 0);
    std::string log;
    for (int i = 0; i < 3000; ++i)
        log += accessLogLine(t + i, 1, "u", "http://s.hu/p?id=" + std::to_string(i));
    const std::string query = "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n\nlines 99999\n";
    // 0: appended to, which keeps every place; 1: cut short; 2: rotated by copying and written
    // again past where it was read.
    for (int change = 0; change < 3; ++change) {
        dir.write("access.log", log);
        StatsQuery q = parse(query);
        std::vector<time_t> b;
        std::string error;
        ASSERT_TRUE(statsBuckets(q, &b, &error));
        StatsCollector c(StatsKind::Url, q, b);
        int fd = open(dir.file("access.log").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_TRUE(c.addFile(fd, &error)) << error;
        close(fd);
        const std::string later = accessLogLine(t + 5000, 1, "v", "http://t.hu/q");
        if (change == 0) {
            dir.write("access.log", log + later);
        } else if (change == 1) {
            ASSERT_EQ(truncate(dir.file("access.log").c_str(), 1000), 0);
        } else {
            std::string again;
            while (again.size() < log.size() + 100)
                again += later;
            ASSERT_EQ(truncate(dir.file("access.log").c_str(), 0), 0);
            dir.write("access.log", again);
        }
        EXPECT_EQ(c.placesKept(), change == 0) << change;
    }
}

// The program ----------------------------------------------------------------------------------

class Getstats2 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.ok());
        m_root = m_tmp.str();
        fs::create_directories(m_root + "/srv");
        fs::create_directories(m_root + "/var/log/squid");
    }
    // Files of the tool's root, named by their absolute path there.
    void write(const std::string& path, const std::string& bytes) const {
        m_tmp.write(path.substr(1), bytes);
    }
    void writeGz(const std::string& path, const std::string& bytes) const {
        gzFile gz = gzopen((m_root + path).c_str(), "wb");
        gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size()));
        gzclose(gz);
    }
    std::string read(const std::string& path) const { return readFileBytes(m_root + path); }
    // Runs "getstats2 data" as start() does, stopped at its exit (ptrace) to read the peak of
    // its own memory (VmHWM: the process after exec, not the test that forked it, which
    // getrusage would count); the exit status.
    int runWatched(long* peakKb) const {
        std::string root = "VXD_ROOT=" + m_root, err = m_root + "/err", dir = m_root + "/srv";
        pid_t pid = fork();
        if (pid == 0) {
            int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 2) < 0 || chdir(dir.c_str()) != 0) _exit(126);
            char* argv[] = {const_cast<char*>(GETSTATS2_PATH), const_cast<char*>("data"), nullptr};
            // LeakSanitizer cannot work under ptrace (the other runs check for leaks).
            char* envp[] = {root.data(), const_cast<char*>("TZ=Europe/Budapest"),
                            const_cast<char*>("ASAN_OPTIONS=detect_leaks=0"), nullptr};
            ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
            execve(GETSTATS2_PATH, argv, envp);
            _exit(127);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) return -1;
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
        ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
            if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
                std::string proc = readFileBytes("/proc/" + std::to_string(pid) + "/status");
                size_t at = proc.find("VmHWM:");
                if (at != std::string::npos) *peakKb = atol(proc.c_str() + at + 6);
            }
            int signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
            ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(signal)));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Starts the tool "getstats2 data" in the working directory srv, its standard error to the
    // root's file "err", with a further variable of the environment; its process.
    pid_t start(const char* extraEnv = nullptr, const char* moreEnv = nullptr) const {
        std::string env = std::string(extraEnv ? extraEnv : "") + " " + (moreEnv ? moreEnv : "");
        return getstats2Start(m_root, {"data"}, getstats2Words(env), m_root + "/err");
    }
    // Runs the tool in the working directory srv (env: settings of its environment); the exit
    // status, stderr in m_stderr.
    int run(const std::string& args, const std::string& env = "") {
        int status = getstats2Wait(
            getstats2Start(m_root, getstats2Words(args), getstats2Words(env), m_root + "/err"));
        m_stderr = read("/err");
        return status;
    }

    TempDir m_tmp{"getstats2"};
    std::string m_root;
    std::string m_stderr;
};

TEST_F(Getstats2, RotatedAndCompressedLogsOfTheRange) {
    // access.log.2.gz: 8 May, access.log.1: 9 May, access.log: 10 May.
    writeGz("/var/log/squid/access.log.2.gz",
            accessLogLine(localTime(2024, 5, 8, 12, 0), 1, "a") +
                accessLogLine(localTime(2024, 5, 8, 13, 0), 2, "a"));
    write("/var/log/squid/access.log.1", accessLogLine(localTime(2024, 5, 9, 12, 0), 10, "a"));
    write("/var/log/squid/access.log", accessLogLine(localTime(2024, 5, 10, 12, 0), 100, "a") +
                                           "broken line\n" +
                                           accessLogLine(localTime(2024, 5, 10, 13, 0), 1000, "b"));
    write("/tmp/infile", "2024-05-08 00:00:00\r\n2024-05-10 23:59:00\r\n3\r\n");
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "3\n10\n1100\n");
    EXPECT_EQ(m_stderr, "getstats2: 1 malformed lines skipped\n");

    // A query of 8 May only reads the compressed file (the others lie after it).
    write("/tmp/infile", "2024-05-08 00:00:00\r\n2024-05-08 23:59:00\r\n3\r\n");
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "3\n");
    EXPECT_EQ(m_stderr, "");

    write("/tmp/infile", "2024-05-08 00:00:00\r\n2024-05-10 23:59:00\r\n3\r\nb\r\n");
    ASSERT_EQ(run("site"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "b 1 www.index.hu\n");

    // A rotated log behind a symbolic link: followed within the root; one that cannot be
    // opened is named, never counted as days without traffic.
    write("/archive/day9.log", accessLogLine(localTime(2024, 5, 9, 12, 0), 10, "a"));
    fs::remove(m_root + "/var/log/squid/access.log.1");
    fs::create_symlink("../../../archive/day9.log", m_root + "/var/log/squid/access.log.1");
    write("/tmp/infile", "2024-05-08 00:00:00\r\n2024-05-10 23:59:00\r\n3\r\n");
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "3\n10\n1100\n");
    TempDir outside{"outside"};
    outside.write("day9.log", accessLogLine(localTime(2024, 5, 9, 12, 0), 10, "a"));
    fs::remove(m_root + "/var/log/squid/access.log.1");
    fs::create_symlink(outside.file("day9.log"), m_root + "/var/log/squid/access.log.1");
    EXPECT_EQ(run("data"), 1);
    EXPECT_EQ(m_stderr, "getstats2: /var/log/squid/access.log.1: Permission denied (a symbolic "
                        "link leads out of the root " +
                            m_root + ")\n");
    EXPECT_EQ(read("/tmp/outfile"), "3\n10\n1100\n");
}

// A day of requests of a few users (one of them logged URL-encoded), most URLs with a query.
std::string dayOfLog(int day, int lines) {
    std::string text;
    const std::string users[] = {"a", "b", "kiss%20janos", "-", "c"};
    for (int i = 0; i < lines; ++i) {
        int user = (i * 7 + day) % 5;
        std::string url = "http://www.site" + std::to_string((i * 13 + day) % 37) +
                          ".hu/p?id=" + std::to_string((i * 31) % 211);
        text += accessLogLine(localTime(2024, 5, day, 0, 0) + i * 86399 / lines,
                              100 + static_cast<unsigned>(i % 1000), users[user], url);
    }
    return text;
}

TEST_F(Getstats2, RotatedFilesReadAtOnceGiveTheResultOfReadingThemInTurn) {
    // Days 1 to 6 of May: .5.gz .. .2.gz compressed (.4.gz in two members, as a file appended
    // to after compression), .1 plain, the current log plain.
    const std::string log = "/var/log/squid/access.log";
    std::string days[7];
    for (int d = 1; d <= 6; ++d)
        days[d] = dayOfLog(d, 4000);
    auto writeRotated = [&](bool compressed) {
        for (int n = 2; n <= 5; ++n) {
            std::string name = log + "." + std::to_string(n);
            fs::remove(m_root + name);
            fs::remove(m_root + name + ".gz");
            const std::string& text = days[6 - n];
            if (!compressed)
                write(name, text);
            else if (n == 4)
                write(name + ".gz",
                      gzipMember(text.substr(0, 150000)) + gzipMember(text.substr(150000)));
            else
                write(name + ".gz", gzipMember(text));
        }
        write(log + ".1", days[5]);
        write(log, days[6]);
    };
    const char* queries[] = {
        "2024-05-01 00:00:00\n2024-05-06 23:59:00\n2\n",
        "2024-05-01 00:00:00\n2024-05-06 23:59:00\n2\n\nlines 5000\n",
        "2024-05-02 13:10:00\n2024-05-04 07:29:00\n1\n",
        "2024-05-01 00:00:00\n2024-05-06 23:59:00\n3\nkiss janos\n",
    };
    const char* settings[] = {"GETSTATS2_INFLATE=zlib GETSTATS2_JOBS=1", "GETSTATS2_JOBS=1",
                              "GETSTATS2_JOBS=2", "GETSTATS2_JOBS=3", ""};
    writeRotated(false);
    for (const char* query : queries) {
        write("/tmp/infile", query);
        for (const char* kind : {"data", "site", "url"}) {
            writeRotated(false);
            ASSERT_EQ(run(kind), 0) << m_stderr;
            const std::string plain = read("/tmp/outfile");
            EXPECT_GT(plain.size(), 20u);
            writeRotated(true);
            for (const char* env : settings) {
                ASSERT_EQ(run(kind, env), 0) << m_stderr;
                EXPECT_TRUE(read("/tmp/outfile") == plain) << query << kind << " " << env;
                EXPECT_EQ(m_stderr, "");
            }
        }
    }
    // All six days counted: the bytes of the whole period.
    write("/tmp/infile", "2024-05-01 00:00:00\n2024-05-06 23:59:00\n4\n");
    ASSERT_EQ(run("data"), 0) << m_stderr;
    unsigned long long total = 0;
    for (int i = 0; i < 4000; ++i)
        total += 100 + i % 1000;
    EXPECT_EQ(read("/tmp/outfile"), std::to_string(6 * total) + "\n");
}

TEST_F(Getstats2, DamagedCompressedLogsAreCountedUpToTheDamageAndSaid) {
    const std::string log = "/var/log/squid/access.log";
    const std::string day1 = dayOfLog(1, 3000), day2 = dayOfLog(2, 3000), day3 = dayOfLog(3, 3000);
    const std::string firstHalf = day2.substr(0, day2.find('\n', day2.size() / 2) + 1);
    const std::string second = gzipMember(day2.substr(firstHalf.size()));
    write(log, day3);
    write(log + ".2.gz", gzipMember(day1));
    write("/tmp/infile", "2024-05-01 00:00:00\n2024-05-03 23:59:00\n3\n");
    // The expected result: the file as far as it is whole.
    write(log + ".1", firstHalf);
    ASSERT_EQ(run("url"), 0) << m_stderr;
    const std::string urls = read("/tmp/outfile");
    ASSERT_EQ(run("data"), 0) << m_stderr;
    const std::string bytes = read("/tmp/outfile");
    fs::remove(m_root + log + ".1");

    // Cut short within the second member's header, and within its data.
    const size_t cutShort = gzipMember(firstHalf).size() + 20;
    write(log + ".1.gz", (gzipMember(firstHalf) + second).substr(0, cutShort));
    for (const char* env : {"GETSTATS2_INFLATE=zlib GETSTATS2_JOBS=1", ""}) {
        ASSERT_EQ(run("url", env), 0) << m_stderr;
        EXPECT_TRUE(read("/tmp/outfile") == urls) << env;
        EXPECT_EQ(m_stderr, "getstats2: " + log + ".1.gz: cut short: its last member ends early " +
                                "at byte " + std::to_string(cutShort) +
                                " (its last partial line is skipped)\n");
    }
    // Cut within its data: the lines whole in what was inflated count, the partial last one not.
    const std::string cut = gzipMember(firstHalf) + second.substr(0, second.size() / 2);
    std::string inflated = gunzipPrefix(cut);
    ASSERT_GT(inflated.size(), firstHalf.size() + 1000);
    ASSERT_NE(inflated.back(), '\n');
    write(log + ".1", inflated.substr(0, inflated.rfind('\n') + 1));
    ASSERT_EQ(run("url"), 0) << m_stderr;
    const std::string urlsOfCut = read("/tmp/outfile");
    fs::remove(m_root + log + ".1");
    write(log + ".1.gz", cut);
    for (const char* env : {"GETSTATS2_INFLATE=zlib GETSTATS2_JOBS=1", ""}) {
        ASSERT_EQ(run("url", env), 0) << m_stderr;
        EXPECT_TRUE(read("/tmp/outfile") == urlsOfCut) << env;
        EXPECT_EQ(m_stderr, "getstats2: " + log + ".1.gz: cut short: its last member ends early " +
                                "at byte " + std::to_string(cut.size()) +
                                " (its last partial line is skipped)\n");
    }
    std::string out;

    // Damaged data in the middle of the second member: the rest of the file is skipped, the
    // other files are counted whole.
    std::string damaged = gzipMember(firstHalf) + second;
    for (size_t i = 0; i < 32; ++i)
        damaged[damaged.size() - second.size() / 2 + i] ^= 0x33;
    write(log + ".1.gz", damaged);
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_NE(m_stderr.find("getstats2: " + log + ".1.gz: compressed data damaged at byte "),
              std::string::npos)
        << m_stderr;
    EXPECT_NE(m_stderr.find(" of " + std::to_string(damaged.size()) +
                            ": the rest of the file is skipped\n"),
              std::string::npos)
        << m_stderr;
    out = read("/tmp/outfile");
    EXPECT_EQ(out.substr(0, out.find('\n')), bytes.substr(0, bytes.find('\n')));
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2)),
              bytes.substr(bytes.rfind('\n', bytes.size() - 2)));
}

TEST_F(Getstats2, OlderFilesAreLeftUnreadOnceTheListsCannotBeMade) {
    // The newest file names 70,000 users; the older ones are damaged and would be said to be.
    const std::string log = "/var/log/squid/access.log";
    write(log, linesOfUsers(localTime(2024, 5, 10, 12, 0), 70000, "u"));
    const std::string day9 = accessLogLine(localTime(2024, 5, 9, 12, 0), 1, "a");
    std::string damaged = gzipMember(day9 + day9) + gzipMember(day9 + day9 + day9);
    for (size_t i = 0; i < 8; ++i)
        damaged[damaged.size() - 16 + i] ^= 0x5a;
    write(log + ".1.gz", damaged);
    write(log + ".2.gz", gzipMember(day9) + gzipMember(day9 + day9).substr(0, 30));
    write("/tmp/infile", "2024-05-08 00:00:00\r\n2024-05-10 23:59:00\r\n3\r\n");
    const std::string refusal = "getstats2: more than 65535 users or 16777215 sites or URLs in "
                                "the range: query a shorter period or one user\n";
    for (const char* kind : {"site", "url"}) {
        for (const char* env : {"GETSTATS2_JOBS=1", "GETSTATS2_JOBS=3", "GETSTATS2_CACHE=off"}) {
            EXPECT_EQ(run(kind, env), 1) << kind << " " << env;
            EXPECT_EQ(m_stderr, refusal) << kind << " " << env;
        }
    }
    // Within the limit, the damaged files are read and said.
    write(log, linesOfUsers(localTime(2024, 5, 10, 12, 0), 100, "u"));
    ASSERT_EQ(run("site", "GETSTATS2_CACHE=off"), 0) << m_stderr;
    EXPECT_NE(m_stderr.find("getstats2: " + log + ".1.gz: "), std::string::npos) << m_stderr;
    EXPECT_NE(m_stderr.find("getstats2: " + log + ".2.gz: "), std::string::npos) << m_stderr;
}

TEST_F(Getstats2, AGroupByTheServersUserListAtTheTimeOfTheQuery) {
    write("/apache/etc/users", "anna:Iroda:x:p:::\r\n"
                               "kiss janos :Iroda :y:p:e::\r\n"
                               "boss:Iroda:z:p::s:\r\n" // a super user: never counted one by one
                               "zoli:Műhely:w:p:::\r\n");
    write("/srv/orvelan.cnf", "USERLISTFIL /apache/etc/users\n");
    time_t t = localTime(2024, 5, 10, 12, 0);
    write("/var/log/squid/access.log", accessLogLine(t, 1, "anna", "http://a.hu/") +
                                           accessLogLine(t, 20, "kiss%20janos", "http://a.hu/") +
                                           accessLogLine(t, 300, "boss", "http://b.hu/") +
                                           accessLogLine(t, 4000, "zoli", "http://a.hu/"));
    const std::string day = "2024-05-10 00:00:00\r\n2024-05-10 23:59:00\r\n3\r\n";
    write("/tmp/infile", day + "\r\ngroup Iroda\r\n");
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "21\n");
    ASSERT_EQ(run("site"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "Iroda 2 a.hu\n");

    // The list as it is when the query runs: zoli moved to Iroda.
    write("/apache/etc/users", "anna:Iroda:x:p:::\nzoli:Iroda:w:p:::\n");
    write("/tmp/infile", day + "\r\ngroup Iroda\r\nlines 0\r\n");
    ASSERT_EQ(run("url"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "A lista csonka: tov\xe1"
                                    "bbi 1 sor (2 k\xe9r\xe9s) kimaradt.\n");
    write("/tmp/infile", day + "\r\ngroup Raktár\r\n"); // no users: no traffic
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "0\n");

    // Without the user list the group cannot be told: a failure, the old result stays.
    fs::remove(m_root + "/apache/etc/users");
    EXPECT_EQ(run("data"), 1);
    EXPECT_EQ(m_stderr, "getstats2: /apache/etc/users: No such file or directory\n");
    EXPECT_EQ(read("/tmp/outfile"), "0\n");
}

// The progress file beside the result while the logs are read (a test pause after each block
// of log text keeps the tool running), gone at the end.
TEST_F(Getstats2, ProgressBesideTheResultWhileReading) {
    // The rotated file begins before the range: the older one is not read.
    std::string current, rotated = accessLogLine(localTime(2024, 5, 8, 12, 0), 8, "b");
    for (int i = 0; i < 200; ++i) {
        current += accessLogLine(localTime(2024, 5, 10, 12, 0) + i, 1, "a");
        rotated += accessLogLine(localTime(2024, 5, 9, 12, 0) + i, 2, "b");
    }
    write("/var/log/squid/access.log", current);
    writeGz("/var/log/squid/access.log.1.gz", rotated);
    write("/var/log/squid/access.log.2", accessLogLine(localTime(2024, 5, 1, 12, 0), 4, "c"));
    const uint64_t plain = current.size();
    const uint64_t gz = fs::file_size(m_root + "/var/log/squid/access.log.1.gz");
    const std::string total = std::to_string(plain + gz);
    write("/tmp/infile", "2024-05-09 00:00:00\n2024-05-10 23:59:00\n3\n");
    // Read, not summarised (the summaries' progress is told below).
    pid_t pid = start("ORVELAN_STATS_SLOW_MS=400", "GETSTATS2_CACHE=off");
    ASSERT_GT(pid, 0);
    std::vector<std::string> seen;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        std::string now = read("/tmp/outfile.progress");
        if (!now.empty() && (seen.empty() || seen.back() != now)) seen.push_back(now);
        usleep(10000);
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read("/err");
    EXPECT_EQ(read("/tmp/outfile"), "400\n200\n");
    EXPECT_FALSE(fs::exists(m_root + "/tmp/outfile.progress"));
    // The current log first, then the compressed one, each to its end; nothing else is left.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), std::to_string(plain) + " " + total + "\n");
    EXPECT_EQ(seen.back(), total + " " + total + "\n");
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(m_root + "/tmp"))
        left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"infile", "outfile"}));
}

TEST_F(Getstats2, SummariesOfGoneLogsGoButNotForALogNamedOnTheCommandLine) {
    const time_t t = localTime(2024, 5, 10, 12, 0);
    write("/var/log/squid/access.log", accessLogLine(t, 5, "a"));
    write("/var/log/squid/access.log.1", accessLogLine(t - 86400, 7, "a"));
    write("/other/access.log", accessLogLine(t, 11, "b"));
    write("/tmp/infile", "2024-05-09 00:00:00\n2024-05-10 23:59:00\n3\n");
    auto summaries = [&] {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(m_root + "/var/cache/orvelan"))
            n += e.path().extension() == ".idx";
        return n;
    };
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "7\n5\n");
    EXPECT_EQ(summaries(), 2u);
    // Another log set in the same cache keeps the server's summaries.
    ASSERT_EQ(run("--log /other/access.log data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "0\n11\n");
    EXPECT_EQ(summaries(), 3u);
    // The server's query removes what is not its own, and a rotated-away file's summary.
    fs::remove(m_root + "/var/log/squid/access.log.1");
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "0\n5\n");
    EXPECT_EQ(summaries(), 1u);
}

TEST_F(Getstats2, ProgressWhileTheSummariesAreMade) {
    // Summaries of a plain and a compressed log made at once on two threads: the progress goes
    // up to the total of both files; with the summaries kept, the next query has nothing to read.
    std::string current, rotated;
    for (int i = 0; i < 3000; ++i) {
        current += accessLogLine(localTime(2024, 5, 10, 12, 0) + i, 1, "a");
        rotated += accessLogLine(localTime(2024, 5, 9, 12, 0) + i, 2, "b");
    }
    write("/var/log/squid/access.log", current);
    writeGz("/var/log/squid/access.log.1.gz", rotated);
    const uint64_t total =
        current.size() + fs::file_size(m_root + "/var/log/squid/access.log.1.gz");
    write("/tmp/infile", "2024-05-09 00:00:00\n2024-05-10 23:59:00\n3\n");
    for (int run = 0; run < 2; ++run) {
        pid_t pid = start("ORVELAN_STATS_SLOW_MS=100", "GETSTATS2_JOBS=2");
        ASSERT_GT(pid, 0);
        std::vector<std::pair<uint64_t, uint64_t>> seen;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            unsigned long long done = 0, all = 0;
            std::string now = read("/tmp/outfile.progress");
            if (sscanf(now.c_str(), "%llu %llu", &done, &all) == 2 &&
                (seen.empty() || seen.back() != std::make_pair(uint64_t(done), uint64_t(all))))
                seen.emplace_back(done, all);
            usleep(5000);
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read("/err");
        EXPECT_EQ(read("/tmp/outfile"), "6000\n3000\n") << run;
        ASSERT_FALSE(seen.empty()) << run;
        for (size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].second, total) << run;
            if (i > 0) {
                EXPECT_GE(seen[i].first, seen[i - 1].first) << run;
            }
        }
        EXPECT_EQ(seen.back().first, total) << run;
        if (run == 0) {
            EXPECT_GE(seen.size(), 2u) << "the summaries are told as they are made";
        }
    }
    EXPECT_TRUE(fs::exists(m_root + "/var/cache/orvelan/lock"));
}

TEST_F(Getstats2, LogFromTheParameterFileAndFailures) {
    write("/srv/orvelan.cnf", "USERPROC kaka\nACCESSLOG /data/squid.log\n");
    write("/data/squid.log", accessLogLine(localTime(2024, 5, 10, 12, 0), 7, "a"));
    write("/tmp/infile", "2024-05-10 12:00:00\n2024-05-10 12:09:00\n1\n");
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "7\n");

    // Failures leave the old result file in place.
    write("/tmp/infile", "2024-05-10 12:00:00\n");
    EXPECT_EQ(run("data"), 1);
    EXPECT_EQ(m_stderr, "getstats2: /tmp/infile: the query needs a start, an end and a resolution "
                        "line\n");
    EXPECT_EQ(read("/tmp/outfile"), "7\n");
    fs::remove(m_root + "/data/squid.log");
    write("/tmp/infile", "2024-05-10 12:00:00\n2024-05-10 12:09:00\n1\n");
    EXPECT_EQ(run("url"), 1);
    EXPECT_EQ(m_stderr, "getstats2: /data/squid.log: No such file or directory\n");
    fs::remove(m_root + "/tmp/infile");
    EXPECT_EQ(run("url"), 1);
    EXPECT_EQ(m_stderr, "getstats2: /tmp/infile: No such file or directory\n");
    EXPECT_EQ(run("bytes"), 2);
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(read("/tmp/outfile"), "7\n");
}

TEST_F(Getstats2, SymbolicLinksToTheLogWithinTheRoot) {
    write("/data/squid.log", accessLogLine(localTime(2024, 5, 10, 12, 0), 7, "a"));
    write("/tmp/infile", "2024-05-10 12:00:00\n2024-05-10 12:09:00\n1\n");
    const std::string log = m_root + "/var/log/squid/access.log";
    for (const std::string& target :
         {std::string("../../../data/squid.log"), m_root + "/data/squid.log",
          m_root + "/data/../data/squid.log"}) {
        fs::remove(log);
        fs::create_symlink(target, log);
        ASSERT_EQ(run("data"), 0) << target << ": " << m_stderr;
        EXPECT_EQ(read("/tmp/outfile"), "7\n");
    }
    // Out of the root, absolutely or relatively: refused, and said why.
    TempDir outside{"outside"};
    outside.write("squid.log", accessLogLine(localTime(2024, 5, 10, 12, 0), 7, "a"));
    for (const std::string& target :
         {outside.file("squid.log"),
          fs::relative(outside.file("squid.log"), fs::path(log).parent_path()).string()}) {
        fs::remove(log);
        fs::create_symlink(target, log);
        EXPECT_EQ(run("data"), 1) << target;
        EXPECT_EQ(m_stderr, "getstats2: /var/log/squid/access.log: Permission denied (a symbolic "
                            "link leads out of the root " +
                                fs::canonical(m_root).string() + ")\n");
    }
    // A FIFO or a device inside is still no log.
    fs::remove(log);
    fs::create_symlink("/dev/zero", log);
    EXPECT_EQ(run("data"), 1);
    EXPECT_EQ(m_stderr, "getstats2: /var/log/squid/access.log: Permission denied (a symbolic link "
                        "leads out of the root " +
                            fs::canonical(m_root).string() + ")\n");
}

TEST_F(Getstats2, SearchesALargeOrderedLogForTheRange) {
    // A day of lines every 10 seconds; a ten-minute query in the middle.
    std::string log;
    time_t t0 = localTime(2024, 5, 10, 0, 0);
    for (time_t t = t0; t < t0 + 86400; t += 10)
        log += accessLogLine(t, 1, "a");
    write("/var/log/squid/access.log", "garbage first line\n" + log + "garbage last line\n");
    write("/tmp/infile", "2024-05-10 12:00:00\n2024-05-10 12:19:00\n1\n");
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "60\n60\n");
    EXPECT_EQ(m_stderr, ""); // the garbage lies outside the searched range
}

// The requests of a log larger than one read block (4 MB), counted in batches, against a plain
// model: counts per user and URL, users in byte order, counts highest first, equal counts in the
// order the log first names their site and then their path.
TEST_F(Getstats2, LargeLogListsMatchAPlainCount) {
    const char* users[] = {"zoli", "kiss%20janos", "-", "anna", "bela"};
    time_t t0 = localTime(2024, 5, 10, 0, 0);
    std::string log;
    std::map<std::string, std::map<std::pair<std::string, std::string>, int>> urls, sites;
    std::map<std::string, int> siteOrder, restOrder, firstSite;
    uint64_t x = 12345;
    for (int i = 0; i < 60000; ++i) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        std::string user = users[(x >> 33) % 5];
        std::string site = "www.h" + std::to_string((x >> 40) % 700) + ".hu";
        std::string rest = "/p" + std::to_string(((x >> 20) % 97) * ((x >> 50) % 3));
        bool tunnel = (x >> 13) % 7 == 0;
        std::string url = tunnel ? site + ":443" : "http://" + site + rest;
        log += accessLogLine(t0 + i, 1, user, url, tunnel ? "CONNECT" : "GET");
        std::string name = user == "kiss%20janos" ? "kiss janos" : user; // by the decoded name
        std::string urlSite = tunnel ? url : "http://" + site;
        std::string urlRest = tunnel ? "" : rest;
        siteOrder.emplace(urlSite, static_cast<int>(siteOrder.size()));
        restOrder.emplace(urlRest, static_cast<int>(restOrder.size()));
        firstSite.emplace(site, static_cast<int>(firstSite.size()));
        ++urls[name][{urlSite, urlRest}];
        ++sites[name][{site, ""}];
    }
    ASSERT_GT(log.size(), size_t(5) << 20);
    auto quoted = [](const std::string& name) {
        return name.find(' ') == std::string::npos ? name : "'" + name + "'";
    };
    auto expected = [&](const auto& counts, const std::map<std::string, int>& order) {
        std::string out;
        for (const auto& [name, pairs] : counts) {
            std::vector<std::tuple<int, int, int, std::string>> lines;
            for (const auto& [target, n] : pairs)
                lines.emplace_back(-n, order.at(target.first), restOrder.at(target.second),
                                   target.first + target.second);
            std::sort(lines.begin(), lines.end());
            for (const auto& [n, first, rest, text] : lines)
                out += quoted(name) + " " + std::to_string(-n) + " " + text + "\n";
        }
        return out;
    };
    write("/var/log/squid/access.log", log);
    write("/tmp/infile", "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n");
    ASSERT_EQ(run("url"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), expected(urls, siteOrder));
    ASSERT_EQ(run("site"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), expected(sites, firstSite));
}

// A thousand requests of 1000 bytes, one every 10 seconds from 10 May 00:00, with extra text
// inserted before the lines of the map's keys (the total stays 1,000,000 whatever they are).
std::string thousandLines(const std::map<size_t, std::string>& extra) {
    std::string log;
    time_t t0 = localTime(2024, 5, 10, 0, 0);
    for (size_t i = 0; i < 1000; ++i) {
        if (extra.count(i)) log += extra.at(i);
        log += accessLogLine(t0 + static_cast<time_t>(i) * 10, 1000, "a");
    }
    return log;
}

TEST_F(Getstats2, DamagedTimesNeitherMoveTheStartNorEndTheReading) {
    write("/tmp/infile", "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n");
    // One line with a damaged time just after the middle, where the range search looks first.
    std::string damaged = "0000000005.123    120 192.168.1.20 TCP_MISS/200 7 GET http://x.hu/ a "
                          "DIRECT/80.99.1.1 text/html\n";
    write("/var/log/squid/access.log", thousandLines({{501, damaged}}));
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "1000000\n");
    // 16 lines of a clock a year ahead in the middle: the lines after them are still read, and
    // the skipped ones are said.
    std::string ahead;
    for (int i = 0; i < 16; ++i)
        ahead += accessLogLine(localTime(2025, 5, 10, 0, i), 5, "a");
    write("/var/log/squid/access.log", thousandLines({{300, ahead}}));
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "1000000\n");
    EXPECT_EQ(m_stderr, "getstats2: 16 lines out of time order skipped\n");
    // Two such runs and one at the very end, which lies past the range as the rest of a log does.
    write("/var/log/squid/access.log", thousandLines({{100, ahead}, {700, ahead}}) + ahead);
    ASSERT_EQ(run("data"), 0) << m_stderr;
    EXPECT_EQ(read("/tmp/outfile"), "1000000\n");
    EXPECT_EQ(m_stderr, "getstats2: 32 lines out of time order skipped\n");
}

// A log of one request at 12:00, size bytes of zeros (a sparse hole, no line end) and one request
// at 12:01; the query is that day by day.
void writeHoleLog(const std::string& path, off_t hole) {
    std::string first = accessLogLine(localTime(2024, 5, 10, 12, 0), 10, "a");
    std::string last = "\n" + accessLogLine(localTime(2024, 5, 10, 12, 1), 20, "a");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    ASSERT_EQ(pwrite(fd, last.data(), last.size(), static_cast<off_t>(first.size()) + hole),
              static_cast<ssize_t>(last.size()));
    close(fd);
}

TEST_F(Getstats2, AHugeLineWithoutALineEndTakesBoundedMemory) {
    writeHoleLog(m_root + "/var/log/squid/access.log", off_t(512) << 20);
    write("/tmp/infile", "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n");
    long peakKb = -1;
    ASSERT_EQ(runWatched(&peakKb), 0) << read("/err");
    EXPECT_EQ(read("/tmp/outfile"), "30\n");
    EXPECT_EQ(read("/err"), "getstats2: 1 malformed lines skipped\n");
    EXPECT_GT(peakKb, 0);
    EXPECT_LT(peakKb, 160 * 1024) << "kB";
}

// A log truncated (as copytruncate rotates it) while the tool searches and reads it: the tool
// answers from what it read instead of dying of a fault.
TEST_F(Getstats2, ALogTruncatedWhileReadIsNoFault) {
    const std::string log = m_root + "/var/log/squid/access.log";
    write("/tmp/infile", "2024-05-10 00:00:00\n2024-05-10 23:59:00\n3\n");
    for (int delayMs : {2, 10, 30, 80}) {
        writeHoleLog(log, off_t(1) << 30);
        pid_t pid = start();
        ASSERT_GT(pid, 0);
        usleep(static_cast<useconds_t>(delayMs) * 1000);
        EXPECT_EQ(truncate(log.c_str(), 100), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << " after " << delayMs;
        EXPECT_EQ(WEXITSTATUS(status), 0) << delayMs;
    }
}

TEST_F(Getstats2, CommandShellShowsTheRootAtLAndTmp) {
    write("/tmp/mine", "root's tmp");
    write("/l/tools/x", "");
    auto shell = [&](const std::string& env, const std::string& command) {
        std::string cmd = "cd " + m_root + "/srv && " + env + " " VXSH_PATH " -c '" + command +
                          "' > " + m_root + "/srv/out 2>&1";
        int status = system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read("/srv/out");
        return read("/srv/out");
    };
    EXPECT_EQ(shell("VXD_ROOT=" + m_root, "pwd; cat /tmp/mine; echo; ls /l; echo $VXD_ROOT"),
              "/.vxd-root/srv\nroot's tmp\ntools\n/.vxd-root\n");
    // A root of "/" and no root at all: the plain shell, nothing mapped.
    EXPECT_EQ(shell("VXD_ROOT=/", "pwd"), m_root + "/srv\n");
    EXPECT_EQ(shell("env -u VXD_ROOT", "pwd"), m_root + "/srv\n");
}

} // namespace
