// The statistics tool's log summaries: built in pieces as in one go, written and loaded back,
// refused when damaged, and counted into queries exactly as the lines they summarise.
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "server/stats_collector.h"
#include "server/stats_index.h"
#include "server/stats_inflate.h"
#include "tests/stats/access_log_lines.h"

namespace {

// Log text handed out in pieces of a given size.
class TextStream : public StatsByteStream {
  public:
    TextStream(std::string_view text, size_t piece) : m_text(text), m_piece(piece) {}
    ssize_t read(char* buf, size_t size, std::string*) override {
        size_t n = std::min({size, m_piece, m_text.size() - m_at});
        memcpy(buf, m_text.data() + m_at, n);
        m_at += n;
        return static_cast<ssize_t>(n);
    }
    std::string skipped() const override { return ""; }

  private:
    std::string_view m_text;
    size_t m_piece;
    size_t m_at = 0;
};

// The text of the log itself, for the hours a summary covers only in part.
class TextOf : public StatsTextReader {
  public:
    explicit TextOf(const std::string& text) : m_text(text) {}
    bool read(uint64_t from, uint64_t to, StatsCollector* collector, std::string*) override {
        EXPECT_LE(from, to);
        EXPECT_LE(to, m_text.size());
        collector->addText(m_text.data() + from, m_text.data() + to);
        ++reads;
        return true;
    }
    int reads = 0;

  private:
    const std::string& m_text;
};

StatsIndex build(const std::string& text, size_t piece = 1 << 20, bool final = true) {
    StatsIndexBuilder builder{StatsIndex{}};
    TextStream stream(text, piece);
    std::string error;
    EXPECT_TRUE(builder.read(&stream, final, &error)) << error;
    return builder.take();
}

std::string serialised(const StatsIndex& index) {
    std::string out;
    statsIndexWrite(index, &out);
    return out;
}

// A day of requests of a few users to a few sites, in time order, some seconds apart.
std::string dayOfLines(unsigned seed, time_t from, int lines) {
    std::mt19937 random(seed);
    const char* users[] = {"anna", "bela", "vendeg%20egy", "-", "csaba"};
    std::string text;
    time_t t = from;
    for (int i = 0; i < lines; ++i) {
        t += static_cast<time_t>(random() % 90);
        const unsigned site = random() % 12;
        const std::string url = random() % 5 == 0 ? "www.s" + std::to_string(site) + ".hu:443"
                                                  : "http://www.s" + std::to_string(site) +
                                                        ".hu/p?q=" + std::to_string(random() % 4);
        text += accessLogLine(t, random() % 5000, users[random() % 5], url,
                              url.find("://") == std::string::npos ? "CONNECT" : "GET");
        if (random() % 50 == 0) text += "\n"; // an empty line is no request
    }
    return text;
}

std::string timeText(time_t t) {
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", localtime(&t));
    return buf;
}

// The answer of reading the text, and of its summary.
struct Answers {
    std::string read, summary, loaded; // loaded: of the summary loaded for the range only
};

Answers answer(StatsKind kind, const std::string& queryText, const std::string& text,
               const StatsIndex& index, int* partialReads = nullptr) {
    StatsQuery q;
    std::string error;
    EXPECT_TRUE(statsParseQuery(queryText, &q, &error)) << error;
    if (!q.group.empty()) q.members = {"anna", "vendeg egy"};
    std::vector<time_t> bounds;
    EXPECT_TRUE(statsBuckets(q, &bounds, &error)) << error;
    Answers a;
    StatsCollector byText(kind, q, bounds);
    byText.addText(text.data(), text.data() + text.size());
    std::move(byText).write(&a.read);
    StatsCollector bySummary(kind, q, bounds);
    TextOf reader(text);
    EXPECT_TRUE(statsIndexCount(index, kind == StatsKind::Site, &bySummary, &reader, &error));
    std::move(bySummary).write(&a.summary);
    if (partialReads) *partialReads = reader.reads;
    if (bounds.empty()) {
        a.loaded = a.summary;
        return a;
    }
    StatsIndex loaded;
    loaded.length = index.length;
    EXPECT_TRUE(statsIndexRead(serialised(index), StatsIndex::kAll, &loaded, bounds.front(),
                               bounds.back()));
    StatsCollector byLoaded(kind, q, bounds);
    EXPECT_TRUE(statsIndexCount(loaded, kind == StatsKind::Site, &byLoaded, &reader, &error));
    std::move(byLoaded).write(&a.loaded);
    return a;
}

} // namespace

TEST(StatsIndexTest, BuiltInPiecesAsInOneGoAndContinuedFromWhereItStopped) {
    const std::string text = dayOfLines(1, localTime(2024, 10, 26, 22, 0), 3000);
    const std::string whole = serialised(build(text));
    for (size_t piece : {size_t(1), size_t(77), size_t(4096)})
        EXPECT_EQ(serialised(build(text, piece)), whole) << piece;

    // A summary of a growing log stops before a line still being written, and goes on from
    // there once the line is whole, mid-hour and mid-minute.
    for (size_t cut : {size_t(1), text.size() / 3, text.size() / 2 + 17, text.size() - 5}) {
        StatsIndex first = build(text.substr(0, cut), 1 << 20, false);
        ASSERT_TRUE(first.usable);
        ASSERT_LE(first.length, cut);
        ASSERT_TRUE(first.length == 0 || text[first.length - 1] == '\n');
        StatsIndex loaded;
        loaded.length = first.length;
        loaded.lastTime = first.lastTime;
        ASSERT_TRUE(statsIndexRead(serialised(first), StatsIndex::kAll, &loaded));
        StatsIndexBuilder more(std::move(loaded));
        TextStream rest(std::string_view(text).substr(first.length), 333);
        std::string error;
        ASSERT_TRUE(more.read(&rest, true, &error));
        EXPECT_EQ(serialised(more.take()), whole) << cut;
    }
}

TEST(StatsIndexTest, OnlyWellFormedLinesInTimeOrderAreSummarised) {
    const time_t t = localTime(2024, 3, 1, 12, 0);
    const std::string good = accessLogLine(t, 10, "anna") + accessLogLine(t + 5, 20, "bela");
    EXPECT_TRUE(build(good).usable);
    EXPECT_TRUE(build(good + accessLogLine(t + 5, 1, "anna")).usable)
        << "an equal time is in order";
    EXPECT_FALSE(build(good + accessLogLine(t + 4, 1, "anna")).usable) << "out of order";
    EXPECT_FALSE(build(good + "not a log line\n").usable);
    EXPECT_FALSE(build(good + accessLogLine(t + 9, 1, std::string(300, 'x') + "%20")).usable)
        << "a user name too long to decode";
    StatsIndex unusable = build(accessLogLine(t, 1, "a") + "x\n" + good);
    EXPECT_FALSE(unusable.usable);
    EXPECT_TRUE(unusable.counts.empty() && unusable.bytes.empty() && unusable.users.empty());
}

TEST(StatsIndexTest, LoadsWhatWasWrittenAndRefusesEveryDamage) {
    const std::string text = dayOfLines(2, localTime(2024, 6, 1, 0, 0), 400);
    const StatsIndex index = build(text);
    const std::string bytes = serialised(index);

    StatsIndex all;
    all.length = index.length;
    ASSERT_TRUE(statsIndexRead(bytes, StatsIndex::kAll, &all));
    EXPECT_EQ(serialised(all), bytes);
    StatsIndex minutes;
    minutes.length = index.length;
    ASSERT_TRUE(statsIndexRead(bytes, StatsIndex::kMinutes, &minutes));
    EXPECT_EQ(minutes.bytes.size(), index.bytes.size());
    EXPECT_TRUE(minutes.hours.empty() && minutes.sites.empty());

    for (size_t at = 0; at < bytes.size(); ++at) {
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x21);
        StatsIndex out;
        out.length = index.length;
        EXPECT_FALSE(statsIndexRead(damaged, StatsIndex::kAll, &out)) << "byte " << at;
    }
    for (size_t size : {size_t(0), size_t(10), bytes.size() / 2, bytes.size() - 1}) {
        StatsIndex out;
        out.length = index.length;
        EXPECT_FALSE(statsIndexRead(bytes.substr(0, size), StatsIndex::kAll, &out)) << size;
    }
    StatsIndex shorter;
    shorter.length = index.hours.back().offset; // a summary of more text than the file holds
    EXPECT_FALSE(statsIndexRead(bytes, StatsIndex::kAll, &shorter));
}

TEST(StatsIndexTest, QueriesCountedFromTheSummaryAreThoseOfTheLines) {
    // Two days across the change from summer time, and random ranges, resolutions, users and
    // groups; equal counts keep the order in which the lines first name their site.
    const time_t start = localTime(2024, 10, 26, 0, 0);
    const std::string text = dayOfLines(3, start, 4000);
    const StatsIndex index = build(text);
    ASSERT_TRUE(index.usable);
    std::mt19937 random(4);
    int partial = 0, whole = 0;
    for (int i = 0; i < 600; ++i) {
        time_t from = start - 3600 + static_cast<time_t>(random() % (2 * 86400 + 7200));
        time_t to =
            from + static_cast<time_t>(random() % 3 == 0 ? random() % 7200 : random() % 200000);
        if (random() % 4 == 0) from -= from % 3600; // a whole hour
        if (i % 10 == 0) {                          // every hour of the file
            from = start - 7200 - static_cast<time_t>(random() % 7200);
            to = start + 4 * 86400;
        }
        std::string q =
            timeText(from) + "\n" + timeText(to) + "\n" + std::to_string(random() % 5) + "\n";
        const unsigned who = random() % 4;
        q += who == 0 ? "anna\n" : who == 1 ? "vendeg egy\n" : who == 2 ? "\ngroup gr\n" : "\n";
        if (random() % 3 == 0) q += "lines " + std::to_string(random() % 20) + "\n";
        for (StatsKind kind : {StatsKind::Data, StatsKind::Site}) {
            int reads = 0;
            Answers a = answer(kind, q, text, index, &reads);
            EXPECT_EQ(a.summary, a.read) << q;
            EXPECT_EQ(a.loaded, a.read) << q;
            (reads ? partial : whole)++;
        }
    }
    // Both ways of counting an hour were taken.
    EXPECT_GT(partial, 50);
    EXPECT_GT(whole, 50);
}
