// Tests of the statistics query file and of the result readers for the table and the chart.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "lib/vx_err.h"
#include "stats/stat_query.h"
#include "stats/stat_result.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class StatFiles : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_tmp.ok()); }
    std::string path(const char* name) const { return m_tmp.file(name); }
    std::string read(const char* name) const { return readFileBytes(path(name)); }
    void write(const char* name, const std::string& bytes) const { m_tmp.write(name, bytes); }

    TempDir m_tmp{"orvelan-stats"};
};

StatQuery query(int kind, int resolution, int scope, int y, int mo, int d, int h, int mi) {
    return StatQuery{kind, resolution, scope, y, mo, d, h, mi, y, mo, d, 23, 59};
}

TEST_F(StatFiles, QueryFileLinesAndLineEnds) {
    StatQuery all = query(STAT_KIND_TRAFFIC, STAT_RES_10MIN, STAT_SCOPE_ALL, 2001, 3, 5, 0, 0);
    ASSERT_EQ(WriteStatInput(path("statin.txt").c_str(), all, ""), 0);
    EXPECT_EQ(read("statin.txt"), "2001-03-05 00:00:00\r\n2001-03-05 23:59:00\r\n1\r\n");

    StatQuery one = query(STAT_KIND_TRAFFIC, STAT_RES_DAY, STAT_SCOPE_USER, 2024, 12, 31, 7, 5);
    ASSERT_EQ(WriteStatInput(path("statin.txt").c_str(), one, "kiss janos"), 0);
    EXPECT_EQ(read("statin.txt"),
              "2024-12-31 07:05:00\r\n2024-12-31 23:59:00\r\n3\r\nkiss janos\r\n");
    // URL and site lists carry the table's line limit, after the user line (empty: all users).
    one.kind = STAT_KIND_URL;
    ASSERT_EQ(WriteStatInput(path("statin.txt").c_str(), one, "kiss janos"), 0);
    EXPECT_EQ(read("statin.txt"), "2024-12-31 07:05:00\r\n2024-12-31 23:59:00\r\n3\r\n"
                                  "kiss janos\r\nlines 99999\r\n");
    all.kind = STAT_KIND_SITE;
    ASSERT_EQ(WriteStatInput(path("statin.txt").c_str(), all, nullptr), 0);
    EXPECT_EQ(read("statin.txt"),
              "2001-03-05 00:00:00\r\n2001-03-05 23:59:00\r\n1\r\n\r\nlines 99999\r\n");

    // A group: an empty user line and the group's name (Windows-1250 as the lists hold it).
    StatQuery group = query(STAT_KIND_SITE, STAT_RES_HOUR, STAT_SCOPE_GROUP, 2024, 1, 2, 3, 4);
    ASSERT_EQ(WriteStatInput(path("statin.txt").c_str(), group, "ignored", "M\xfbhely"), 0);
    EXPECT_EQ(read("statin.txt"), "2024-01-02 03:04:00\r\n2024-01-02 23:59:00\r\n2\r\n"
                                  "\r\ngroup M\xfbhely\r\nlines 99999\r\n");
    group.kind = STAT_KIND_TRAFFIC;
    ASSERT_EQ(WriteStatInput(path("statin.txt").c_str(), group, nullptr, "Iroda"), 0);
    EXPECT_EQ(read("statin.txt"), "2024-01-02 03:04:00\r\n2024-01-02 23:59:00\r\n2\r\n"
                                  "\r\ngroup Iroda\r\n");
    // The zero record of a fresh run keeps its widths.
    StatQuery zero{};
    zero.scope = STAT_SCOPE_ALL;
    ASSERT_EQ(WriteStatInput(path("statin.txt").c_str(), zero, nullptr), 0);
    EXPECT_EQ(read("statin.txt"), "   0-00-00 00:00:00\r\n   0-00-00 00:00:00\r\n0\r\n");
}

TEST_F(StatFiles, QueryFileRefusesBrokenNamesAndKeepsTheOldFile) {
    StatQuery one = query(STAT_KIND_URL, STAT_RES_DAY, STAT_SCOPE_USER, 2024, 1, 1, 0, 0);
    write("statin.txt", "old");
    EXPECT_EQ(WriteStatInput(path("statin.txt").c_str(), one, "evil\r\nname"), -1);
    EXPECT_STREQ(vxLastError().text, "Invalid user or group name for the statistics query");
    EXPECT_EQ(WriteStatInput(path("statin.txt").c_str(), one, nullptr), -1);
    EXPECT_EQ(WriteStatInput(path("statin.txt").c_str(), one, std::string(256, 'x').c_str()), -1);
    StatQuery group = one;
    group.scope = STAT_SCOPE_GROUP;
    EXPECT_EQ(WriteStatInput(path("statin.txt").c_str(), group, nullptr, "a\nlines 1"), -1);
    EXPECT_EQ(WriteStatInput(path("statin.txt").c_str(), group, "a", nullptr), -1);
    EXPECT_EQ(WriteStatInput(path("statin.txt").c_str(), group, nullptr, ""), -1);
    EXPECT_EQ(read("statin.txt"), "old");
    EXPECT_EQ(WriteStatInput(path("nodir/statin.txt").c_str(), one, "a"), -1);
    // Only the file itself is left in the directory, no temporary file.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_tmp.path()), fs::directory_iterator{}), 1);
}

TEST(StatOutcomes, MessagesAndCommands) {
    EXPECT_STREQ(StatOutcomeMessage(StatOutcome::Chart), "Lépjen a Grafikonra");
    EXPECT_STREQ(StatOutcomeMessage(StatOutcome::Table), "Lépjen a Táblázatra");
    EXPECT_STREQ(StatOutcomeMessage(StatOutcome::NoServerName), "ProxyServerName !");
    EXPECT_STREQ(StatOutcomeMessage(StatOutcome::SuperUser), "Szuper user !!!");
    EXPECT_STREQ(StatOutcomeMessage(StatOutcome::LocalFile), "Lokális file olvasási hiba");
    EXPECT_STREQ(StatOutcomeMessage(StatOutcome::RemoteWrite), "Távoli file írási hiba");
    EXPECT_STREQ(StatOutcomeMessage(StatOutcome::ServerFailed), "Hiba a proxy szerveren");
    EXPECT_STREQ(StatToolCommand(0), "/l/tools/getstats2 data");
    EXPECT_STREQ(StatToolCommand(1), "/l/tools/getstats2 url");
    EXPECT_STREQ(StatToolCommand(2), "/l/tools/getstats2 site");
    EXPECT_STREQ(StatToolCommand(7), "/l/tools/getstats2 site");
}

TEST(StatQueryRun, RefusesBeforeWriting) {
    // Checks that fail before the query file is written leave the result and the file alone.
    StatResult result;
    result.lines = {"previous"};
    StatRequest request{query(1, 2, STAT_SCOPE_USER, 2024, 1, 1, 0, 0), "root", true};
    EXPECT_EQ(RunStatQuery("127.0.0.1", request, &result), StatOutcome::SuperUser);
    request.userName = nullptr;
    EXPECT_EQ(RunStatQuery("127.0.0.1", request, &result), StatOutcome::NoUser);
    request.userName = "";
    EXPECT_EQ(RunStatQuery("127.0.0.1", request, &result), StatOutcome::NoUser);
    EXPECT_EQ(RunStatQuery(nullptr, request, &result), StatOutcome::NoServerName);
    EXPECT_EQ(RunStatQuery("", request, &result), StatOutcome::NoServerName);
    request.query.scope = STAT_SCOPE_GROUP;
    EXPECT_EQ(RunStatQuery("127.0.0.1", request, &result), StatOutcome::NoGroup);
    request.groupName = "";
    EXPECT_EQ(RunStatQuery("127.0.0.1", request, &result), StatOutcome::NoGroup);
    EXPECT_STREQ(StatOutcomeMessage(StatOutcome::NoGroup), "Nincs kiválasztott csoport !");
    EXPECT_EQ(result.query.kind, 0);
    EXPECT_EQ(result.lines, std::vector<std::string>{"previous"});
    EXPECT_FALSE(fs::exists(STAT_INPUT_FILE));
}

// Table lines ----------------------------------------------------------------------------------

bool superByName(const char* name, void*) {
    return std::string(name) == "root" || std::string(name) == "boss";
}

std::string tableLine(std::string piece) {
    char out[STAT_LINE_MAX];
    if (StatTableLine(piece.data(), superByName, nullptr, out, sizeof out) == 0) return "<none>";
    return out;
}

TEST(StatTable, EntriesFreeTextAndSkippedPieces) {
    EXPECT_EQ(tableLine("alice 12 www.pelda.hu\n"), "           alice        12    www.pelda.hu");
    EXPECT_EQ(tableLine("alice\t12\twww.pelda.hu\tmore fields\r\n"),
              "           alice        12    www.pelda.hu");
    EXPECT_EQ(tableLine("root 5 www.pelda.hu\n"), "<none>");
    EXPECT_EQ(tableLine("Root 5 x\n"), "            Root         5    x");
    EXPECT_EQ(tableLine("Total: 1234\n"), "Total:");
    EXPECT_EQ(tableLine(" Total: 1234\n"), "");
    EXPECT_EQ(tableLine("\x01Total 1\n"), "");
    EXPECT_EQ(tableLine("'quoted' 1\n"), "");
    EXPECT_EQ(tableLine("header\n"), "header");
    EXPECT_EQ(tableLine("\n"), "<none>");
    EXPECT_EQ(tableLine("   \t  \r\n"), "<none>");
    EXPECT_EQ(tableLine(""), "<none>");
}

TEST(StatTable, QuotesCountsAndWideFields) {
    EXPECT_EQ(tableLine("'kiss janos' 3 'http://x/a b'\n"),
              "      kiss janos         3    http://x/a b");
    EXPECT_EQ(tableLine("a '' site\n"), "               a         0    site");
    EXPECT_EQ(tableLine("a x12 site\n"), "               a         0    site");
    EXPECT_EQ(tableLine("a -7z site\n"), "               a        -7    site");
    EXPECT_EQ(tableLine("a +42 site\n"), "               a        42    site");
    EXPECT_EQ(tableLine("a 123456789012 site\n"), "               a  2147483647    site");
    EXPECT_EQ(tableLine("a -99999999999 site\n"), "               a  -2147483648    site");
    EXPECT_EQ(tableLine("a_very_long_user_name_over_16 1 s\n"),
              "a_very_long_user_name_over_16         1    s");
    // Windows-1250 bytes are field bytes.
    EXPECT_EQ(tableLine("Kov\xe1\x63s 2 h\xfa.hu\n"),
              "          Kov\xe1\x63s         2    h\xfa.hu");
}

TEST(StatTable, PieceWithMoreFieldsThanTheSplitterHolds) {
    // 256 one-byte fields in a 511-character piece: the splitter stops at its capacity.
    std::string piece = "u 9 s";
    for (int i = 3; i < 256; ++i)
        piece += " x";
    ASSERT_EQ(piece.size(), 511u);
    EXPECT_EQ(tableLine(piece), "               u         9    s");
}

struct Collected {
    std::vector<std::string> lines;
};

void collect(const char* line, void* context) {
    static_cast<Collected*>(context)->lines.emplace_back(line);
}

TEST_F(StatFiles, TableReaderSplitsLongLinesIntoPieces) {
    // A line of 600 characters is two pieces: 511 characters, then the rest.
    std::string longUrl(600 - 8, 'u');
    write("statout.txt",
          "bob 1 " + longUrl + "\r\nroot 9 secret.hu\n\nfree text\n" + "carol 2 last.hu");
    Collected got;
    EXPECT_EQ(ReadStatTable(path("statout.txt").c_str(), superByName, nullptr, collect, &got), 4);
    ASSERT_EQ(got.lines.size(), 4u);
    EXPECT_EQ(got.lines[0], "             bob         1    " + longUrl.substr(0, 511 - 6));
    // The second piece of the long line holds one field only and begins with it.
    EXPECT_EQ(got.lines[1], longUrl.substr(511 - 6));
    EXPECT_EQ(got.lines[2], "free");
    EXPECT_EQ(got.lines[3], "           carol         2    last.hu");
    // A limit stops the reading at the first shown line beyond it (the super user's and the
    // empty line do not count).
    Collected first;
    bool truncated = false;
    EXPECT_EQ(ReadStatTable(path("statout.txt").c_str(), superByName, nullptr, collect, &first, 3,
                            &truncated),
              3);
    EXPECT_TRUE(truncated);
    EXPECT_EQ(first.lines.size(), 3u);
    Collected all;
    EXPECT_EQ(ReadStatTable(path("statout.txt").c_str(), superByName, nullptr, collect, &all, 4,
                            &truncated),
              4);
    EXPECT_FALSE(truncated);
    Collected none;
    vxClearError();
    EXPECT_EQ(ReadStatTable(path("missing.txt").c_str(), nullptr, nullptr, collect, &none), -1);
    EXPECT_NE(vxLastError().code, 0);
    EXPECT_TRUE(none.lines.empty());
}

// Chart values and texts -----------------------------------------------------------------------

TEST(StatChart, ValueParsing) {
    const std::pair<const char*, double> cases[] = {
        {"12345 ", 12345.0}, {"  \t-2.5e3xyz", -2500.0},
        {"+.5", 0.5},        {"8589934592 ", 8589934592.0},
        {"", 0.0},           {"abc", 0.0},
        {"0x10", 0.0},       {"inf", 0.0},
        {"nan", 0.0},        {"1,5", 1.0},
        {"7e", 7.0},         {"1e999", HUGE_VAL},
        {"1e-999", 0.0}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(StatValue(text), value) << text;
}

TEST_F(StatFiles, ValuesOnePerPieceEmptyLinesAndTheCapacity) {
    write("statout.txt", "5\n\n7.5\r\nbogus\n3");
    double values[8] = {};
    bool truncated = true;
    ASSERT_EQ(ReadStatValues(path("statout.txt").c_str(), values, 8, &truncated), 5);
    EXPECT_FALSE(truncated);
    EXPECT_EQ(values[0], 5.0);
    EXPECT_EQ(values[1], 0.0);
    EXPECT_EQ(values[2], 7.5);
    EXPECT_EQ(values[3], 0.0);
    EXPECT_EQ(values[4], 3.0);

    std::string many;
    for (int i = 0; i < STAT_POINTS_MAX + 5; ++i)
        many += std::to_string(i) + "\n";
    write("statout.txt", many);
    std::vector<double> big(STAT_POINTS_MAX + 1, -1.0);
    ASSERT_EQ(ReadStatValues(path("statout.txt").c_str(), big.data(), STAT_POINTS_MAX, &truncated),
              STAT_POINTS_MAX);
    EXPECT_TRUE(truncated);
    EXPECT_EQ(big[STAT_POINTS_MAX - 1], STAT_POINTS_MAX - 1.0);
    EXPECT_EQ(big[STAT_POINTS_MAX], -1.0);

    write("statout.txt", "");
    EXPECT_EQ(ReadStatValues(path("statout.txt").c_str(), values, 8, &truncated), 0);
    EXPECT_EQ(ReadStatValues(path("missing").c_str(), values, 8, nullptr), -1);
}

std::vector<std::string> labels(const StatQuery& q, int count) {
    std::vector<char[STAT_LABEL_SIZE]> slots(static_cast<size_t>(count));
    StatChartLabels(q, count, slots.data());
    return std::vector<std::string>(slots.begin(), slots.end());
}

using Labels = std::vector<std::string>;

TEST(StatChart, LabelsAcrossFebruaryAndMonths) {
    EXPECT_EQ(labels(query(0, STAT_RES_HOUR, 5, 2001, 2, 28, 23, 0), 3),
              (Labels{"2001 02.28 23:00", "2001 03.01 00:00", "2001 03.01 01:00"}));
    EXPECT_EQ(labels(query(0, STAT_RES_HOUR, 5, 2000, 2, 28, 23, 0), 2),
              (Labels{"2000 02.28 23:00", "2000 02.29 00:00"}));
    EXPECT_EQ(labels(query(0, STAT_RES_MONTH, 5, 2001, 11, 15, 0, 0), 3),
              (Labels{"2001 12.15 00:00", "2002 01.15 00:00", "2002 02.15 00:00"}));
    EXPECT_EQ(labels(query(0, STAT_RES_DAY, 5, 2024, 12, 30, 6, 45), 3),
              (Labels{"2024 12.30 06:45", "2024 12.31 06:45", "2025 01.01 06:45"}));
    EXPECT_EQ(labels(query(0, STAT_RES_10MIN, 5, 2024, 4, 30, 23, 50), 3),
              (Labels{"2024 04.30 23:50", "2024 05.01 00:00", "2024 05.01 00:10"}));
    EXPECT_EQ(labels(query(0, STAT_RES_MINUTE, 5, 2024, 4, 30, 23, 59), 2),
              (Labels{"2024 04.30 23:59", "2024 05.01 00:00"}));
    // The zero record of a fresh run: odd labels, no crash.
    EXPECT_EQ(labels(StatQuery{}, 2), (Labels{"   0 00.00 00:00", "   0 00.00 00:01"}));
    EXPECT_TRUE(labels(query(0, STAT_RES_DAY, 5, 2024, 1, 1, 0, 0), 0).empty());
}

TEST(StatChart, TenThousandDailyLabelsStayInTheirSlots) {
    Labels got = labels(query(0, STAT_RES_DAY, 5, 2000, 1, 1, 0, 0), STAT_POINTS_MAX);
    EXPECT_EQ(got.front(), "2000 01.01 00:00");
    EXPECT_EQ(got.back(), "2027 05.18 00:00");
    // A label longer than its slot is cut to 19 characters.
    Labels wide = labels(query(0, STAT_RES_MONTH, 5, 21474836, 12, 1, 0, 0), 2);
    EXPECT_EQ(wide[0], "21474837 01.01 00:0");
}

TEST(StatChart, PeriodTotalAndRange) {
    char text[600];
    StatQuery q{0, STAT_RES_HOUR, 5, 2001, 2, 28, 23, 0, 2001, 3, 1, 1, 59};
    StatPeriodLine(q, text, sizeof text);
    EXPECT_STREQ(text, "2001.02.28 23:00                 1/óra                 2001.03.01 01:59");
    q.resolution = STAT_RES_MONTH;
    StatPeriodLine(q, text, sizeof text);
    EXPECT_STREQ(text, "2001.02.28 23:00                 1/hónap                 2001.03.01 01:59");
    EXPECT_STREQ(StatResolutionName(0), "1/ perc");
    EXPECT_STREQ(StatResolutionName(1), "1/ 10perc");
    EXPECT_STREQ(StatResolutionName(3), "1/nap");
    EXPECT_STREQ(StatResolutionName(9), "");

    double low = 0;
    double high = 0;
    StatValueRange(nullptr, 0, &low, &high);
    EXPECT_EQ(low, 1000000.0);
    EXPECT_EQ(high, -1.0);
    StatTotalLine(0.0, text, sizeof text);
    EXPECT_STREQ(text, "Adatforgalom:          0");

    const double values[] = {5, 7, 3};
    StatValueRange(values, 3, &low, &high);
    EXPECT_EQ(low, 3.0);
    EXPECT_EQ(high, 7.0);
    StatTotalLine(15.0, text, sizeof text);
    EXPECT_STREQ(text, "Adatforgalom:         15");
    const double large[] = {2e6, 5e6};
    StatValueRange(large, 2, &low, &high);
    EXPECT_EQ(low, 1000000.0);
    EXPECT_EQ(high, 5e6);
    StatTotalLine(12345678901.4, text, sizeof text);
    EXPECT_STREQ(text, "Adatforgalom: 12345678901");
}

// The result value ------------------------------------------------------------------------------

TEST_F(StatFiles, ResultOfATableQueryHoldsTheShownLines) {
    write("statout.txt", "alice 12 www.pelda.hu\nroot 9 secret.hu\nTotal: 21\n");
    StatResult r;
    r.values = {1.0}; // what a result held before is replaced
    const StatQuery q = query(STAT_KIND_SITE, STAT_RES_DAY, 5, 2024, 1, 2, 0, 0);
    ASSERT_TRUE(ReadStatResult(path("statout.txt").c_str(), q, superByName, nullptr, &r));
    EXPECT_TRUE(r.read);
    EXPECT_EQ(r.query.kind, STAT_KIND_SITE);
    EXPECT_EQ(r.query.startDay, 2);
    EXPECT_EQ(r.lines,
              (std::vector<std::string>{"           alice        12    www.pelda.hu", "Total:"}));
    EXPECT_TRUE(r.values.empty());
    EXPECT_TRUE(r.labels.empty());

    // The tool's line on what it left out is held apart, whole, beyond the page's limit too.
    const std::string note = "A lista csonka: tov\xe1"
                             "bbi 12 sor (345 k\xe9r\xe9s) kimaradt.";
    std::string lines;
    for (int i = 0; i < STAT_TABLE_LINES_MAX; ++i)
        lines += "alice 1 a" + std::to_string(i) + ".hu\n";
    write("statout.txt", lines + note + "\r\n");
    ASSERT_TRUE(ReadStatResult(path("statout.txt").c_str(), q, superByName, nullptr, &r));
    EXPECT_EQ(r.omitted, note);
    EXPECT_EQ(r.lines.size(), static_cast<size_t>(STAT_TABLE_LINES_MAX));
    EXPECT_FALSE(r.truncated);
    EXPECT_TRUE(StatOmittedLine(note.c_str()));
    // Only that line: not one with more after it, nor another count, nor an entry line.
    EXPECT_FALSE(StatOmittedLine((note + " x").c_str()));
    EXPECT_FALSE(StatOmittedLine("A lista csonka: tov\xe1"
                                 "bbi x sor (345 k\xe9r\xe9s) kimaradt."));
    EXPECT_FALSE(StatOmittedLine("A 1 lista"));
    write("statout.txt", "alice 1 a.hu\n" + note + "\nbob 2 b.hu\n"); // not last: a text line
    ASSERT_TRUE(ReadStatResult(path("statout.txt").c_str(), q, superByName, nullptr, &r));
    EXPECT_EQ(r.omitted, "");
    EXPECT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[1], note);

    vxClearError();
    EXPECT_FALSE(ReadStatResult(path("missing").c_str(), q, nullptr, nullptr, &r));
    EXPECT_FALSE(r.read);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_NE(vxLastError().code, 0);
}

TEST_F(StatFiles, ResultOfATrafficQueryHoldsTheSeriesAndItsTexts) {
    write("statout.txt", "5\n7\n3\n");
    StatQuery q{0, STAT_RES_HOUR, 5, 2001, 2, 28, 23, 0, 2001, 3, 1, 1, 59};
    StatResult r;
    ASSERT_TRUE(ReadStatResult(path("statout.txt").c_str(), q, superByName, nullptr, &r));
    EXPECT_EQ(r.values, (std::vector<double>{5, 7, 3}));
    EXPECT_EQ(r.labels, (Labels{"2001 02.28 23:00", "2001 03.01 00:00", "2001 03.01 01:00"}));
    EXPECT_EQ(r.lowest, 3.0);
    EXPECT_EQ(r.highest, 7.0);
    EXPECT_EQ(r.total, 15.0);
    EXPECT_FALSE(r.truncated);
    EXPECT_EQ(r.periodLine,
              "2001.02.28 23:00                 1/óra                 2001.03.01 01:59");
    EXPECT_EQ(r.totalLine, "Adatforgalom:         15");
    EXPECT_TRUE(r.lines.empty());

    // An empty result: the range's starting bounds; too many buckets: the first ones, flagged.
    write("statout.txt", "");
    ASSERT_TRUE(ReadStatResult(path("statout.txt").c_str(), q, nullptr, nullptr, &r));
    EXPECT_TRUE(r.values.empty());
    EXPECT_EQ(r.lowest, 1000000.0);
    EXPECT_EQ(r.highest, -1.0);
    EXPECT_EQ(r.totalLine, "Adatforgalom:          0");
    write("statout.txt", std::string(2 * (STAT_POINTS_MAX + 3), '\n').replace(0, 1, "2"));
    ASSERT_TRUE(ReadStatResult(path("statout.txt").c_str(), q, nullptr, nullptr, &r));
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.values.size(), size_t(STAT_POINTS_MAX));
    EXPECT_EQ(r.labels.size(), size_t(STAT_POINTS_MAX));
    EXPECT_EQ(r.total, 2.0);
}

} // namespace
