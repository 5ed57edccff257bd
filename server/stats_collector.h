// The statistics tool's collector: the requests of one query counted, and the result written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/stats_line.h"
#include "server/stats_log.h"
#include "server/stats_query.h"
#include "server/stats_strings.h"

// The last line of a url or site list cut at the query's line limit: the lines and requests left
// out, in the console's language and code page (Windows-1250: "további ... kérés").
#define STATS_OMITTED_FORMAT                                                                       \
    "A lista csonka: tov\xe1"                                                                      \
    "bbi %llu sor (%llu k\xe9r\xe9s) kimaradt."

// A (user, site, rest) triple of the url and site lists with its request count.
struct __attribute__((packed)) StatsPair {
    static constexpr uint64_t kEmpty = ~0ull; // key of an unused table slot
    uint64_t key;                             // user << 48 | site << 24 | rest
    uint32_t count;
};

class StatsProgress;

// Collects the requests of one query.
class StatsCollector : private StatsLogSink {
  public:
    StatsCollector(StatsKind kind, const StatsQuery& query, std::vector<time_t> bounds);
    ~StatsCollector();
    StatsCollector(const StatsCollector&) = delete;
    StatsCollector& operator=(const StatsCollector&) = delete;

    // The time range worth reading: [first, last).
    time_t first() const { return m_bounds.empty() ? 0 : m_bounds.front(); }
    time_t last() const { return m_bounds.empty() ? 0 : m_bounds.back(); }
    const std::vector<time_t>& bounds() const { return m_bounds; }

    // Counts one line of the log (malformed lines are counted, not collected).
    void addLine(const char* begin, const char* end);
    // Counts the lines of a block of log text (LF or CR LF; the last line may lack its end).
    void addText(const char* begin, const char* end) {
        for (const char* p = begin; p < end;)
            p = addRange(p, end);
    }
    // Reads a whole log file (plain or gzip-compressed, by its content); false with a reason.
    // A plain file in time order is searched for the query's range instead of read whole.
    bool addFile(int fd, std::string* error, size_t lineMax = STATS_LINE_MAX);
    // Reads the inflated bytes of a compressed log file; false with a reason.
    bool addStream(StatsByteStream* stream, std::string* error, size_t lineMax = STATS_LINE_MAX);
    // Counts what a summary of the log holds, in the order the log would be read (so that equal
    // counts keep the order in which the log first names their site). addBytes: the bytes
    // delivered in the minute starting at minute by an admitted user, when the minute lies in
    // the query's range (whose bounds are whole minutes). The site lists: listUser and listSite
    // number an admitted user (listUser names a group query's users after the group) and a site, in
    // the order of first appearance; addPairCounts counts requests of n such pairs (their table
    // slots fetched from memory together). A number of STATS_NO_NUMBER (too many users or
    // sites) counts nothing and fails the query.
    void addBytes(time_t minute, uint64_t bytes);
    static constexpr uint32_t STATS_NO_NUMBER = ~0u;
    uint32_t listUser(std::string_view user);
    uint32_t listSite(std::string_view site);
    void addPairCounts(const uint32_t* users, const uint32_t* sites, const uint32_t* counts,
                       size_t n);
    // Makes room at once for n pairs about to be counted (a summary's), rather than growing the
    // table step by step; only for a query of all users, and while the table holds fewer than
    // n, so that the pairs of further files, which mostly repeat those counted, do not make it
    // larger than it needs to be.
    void expectPairs(size_t n);
    // Whether the query's user or group admits a (decoded) user.
    bool admits(std::string_view user) const;
    // Before the lines or summaries of the next file: a run past the end is the file's own.
    void beginFile() { m_pastEnd = 0; }
    // What of the file read last was skipped as damaged or cut short ("" when nothing was).
    const std::string& skipped() const { return m_skipped; }

    // url lists of at most this many lines (the console asks for 99,999) keep the text of URL
    // rests out of memory: a plain log's as their places in it, others' in a scratch file
    // (spillTo). Each line written reads its text back, a system call, which a list of every
    // URL would make millions of times: such lists keep the text in memory.
    static constexpr uint64_t STATS_PLACES_LINES = 1000000;
    bool keepsTextOut() const {
        return m_kind == StatsKind::Url && m_query.lineLimit <= STATS_PLACES_LINES;
    }
    // When keepsTextOut(): the text of URL rests that are not in a plain log read goes to the
    // scratch file fd (taken over: an empty file open for reading and writing).
    void spillTo(int fd);
    // Tells progress how much of each file's text was taken (nullptr: nobody).
    void setProgress(StatsProgress* progress) { m_progress = progress; }

    uint64_t malformed() const { return m_malformed; }
    // Whether the URL rests kept as their places in the logs read (a url list of plain logs)
    // are still there: false when a log was cut short or its start rewritten since it was read
    // (rotated by copying, then written again), and the list would be wrong.
    bool placesKept() const;
    // Lines well past the query's end that were followed by lines of the range again (a clock
    // that jumped ahead for a while): skipped.
    uint64_t outOfOrder() const { return m_outOfOrder; }
    // More than 65,535 users or 16,777,215 sites or URL rests in the range: the lists cannot be
    // made, and nothing more is counted (the reading stops).
    bool overflow() const { return m_overflow; }

    // Writes the result: "data" one byte count a line per bucket; "url" and "site" lines of
    // user (a group query: the group), request count and URL or site, by user and then by count,
    // highest first (equal counts in the order the log first names their URL or site), at most
    // the query's line limit of them and then a line on the rest (STATS_OMITTED_FORMAT). false
    // when the stream fails.
    // The lists are sorted out of the collector's table, which is used up: the collector is
    // spent, as the && says (std::move(collector).write(out)).
    bool write(FILE* out) &&;
    // The same into a string (for small results).
    void write(std::string* out) &&;

  private:
    const char* addBlock(const char* begin, const char* end) override;
    size_t pastEndRun() const override { return m_pastEnd; }
    void skippedLongLine() override { ++m_malformed; }
    void skippedRest(const std::string& what) override { m_skipped = what; }
    // Once the lists cannot be made, the rest of the logs is not read.
    bool takesNoMore() const override { return m_overflow; }
    void textAt(const char* start, long long offset) override {
        m_textStart = start;
        m_textOffset = offset;
    }
    // The place in the file being read of a URL rest in the text at hand (kNoPlace: none).
    uint64_t placeOf(std::string_view rest);
    // Keeps the file being read for its places to be read back: its number in m_fds, or
    // kNotKept (too many files, or it cannot be read), which is tried once per file.
    int keepReadingFile();
    // Stops after every STATS_PAST_END_LINES-th line of a run well past the query's end;
    // returns where (end when it took them all).
    const char* addRange(const char* begin, const char* end);
    void count(const StatsLogLine& line);
    // The bucket of a time within the range (the one found last is looked at first).
    size_t bucketOf(time_t t);
    void countPair(uint64_t key);
    // Doubles the pair table, and again until atLeast pairs fit.
    void growPairs(size_t atLeast = 0);
    // url and site: requests are counted in batches, so that the table slots of a batch are
    // fetched from memory together rather than one cache miss after the other.
    void flushBatch();
    bool writeData(FILE* out) const;
    bool writeLists(FILE* out);

    StatsKind m_kind;
    StatsQuery m_query;
    StatsProgress* m_progress = nullptr;
    std::vector<time_t> m_bounds;
    std::vector<uint64_t> m_bytes;
    size_t m_cursor = 0;
    uint64_t m_malformed = 0;
    size_t m_pastEnd = 0; // lines in a row read past the query's end
    uint64_t m_outOfOrder = 0;
    std::string m_skipped;
    // url and site: users, sites and the rest of the URLs (path and query) interned to numbers,
    // and a table of (user, site, rest) with their request counts, so that a site's name is
    // kept once however many URLs and users it has.
    StatsStrings m_users;
    StatsStrings m_sites;
    StatsStrings m_rests;
    bool m_overflow = false;        // more users, sites or URL rests than a pair key holds
    std::vector<StatsPair> m_pairs; // open addressing; emptied by write()
    size_t m_pairCount = 0;
    std::string m_decoded;
    // url: the plain logs read, whose text need not be kept: their descriptors (duplicated, so
    // they outlive the reading), and for each the hash of its first bytes and the end of the
    // last rest taken from it, to see at the end that they are still what was read.
    struct KeptFile {
        uint32_t headSize;
        uint32_t headHash;
        uint64_t end;
    };
    std::vector<int> m_fds;
    std::unique_ptr<StatsSpill> m_spill;
    std::vector<KeptFile> m_kept;
    int m_readingFd = -1; // the file addFile reads
    static constexpr int kNotYet = -1;
    static constexpr int kNotKept = -2; // it could not be kept: its rests are kept as text
    int m_readingFile = kNotYet;        // its number in m_fds
    const char* m_textStart = nullptr;
    long long m_textOffset = -1;
    struct Pending {
        uint32_t user;
        uint32_t siteHash;
        uint32_t restHash;
        uint64_t key;
        std::string_view site; // into the text being read
        std::string_view rest; // the same; url only
        uint64_t restPlace;    // its place in the file being read (kNoPlace: none)
    };
    static constexpr size_t kBatch = 32;
    Pending m_batch[kBatch];
    size_t m_batchSize = 0;
};
