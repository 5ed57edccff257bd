// The server's statistics tool "getstats2": traffic, URL and site statistics over the proxy's
// access log in Squid's native format, for the console's statistics query.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

enum class StatsKind { Data, Url, Site };

// The query file: start and end ("YYYY-MM-DD HH:MM:SS", local time of the server), the
// resolution code (0 minute, 1 ten minutes, 2 hour, 3 day, 4 calendar month) and an optional
// user name. Lines end with LF or CR LF.
struct StatsQuery {
    std::tm start{};
    std::tm end{};
    int resolution = 1;
    std::string user; // empty: all users
};

// Parses the query file's text. true, or false with a reason in error.
bool statsParseQuery(std::string_view text, StatsQuery* query, std::string* error);

// Upper bound of buckets of one query (a month per minute is 44,640).
constexpr size_t STATS_BUCKETS_MAX = 1000000;

// The bucket boundaries of a query: bucket i covers [bounds[i], bounds[i+1]). The first starts
// at the start minute; each is as wide as the resolution (days and months follow the local
// calendar); the last is the first that covers the end minute. An end before the start gives
// no bucket. false with a reason when the count exceeds STATS_BUCKETS_MAX.
bool statsBuckets(const StatsQuery& query, std::vector<time_t>* bounds, std::string* error);

// One request of the access log. The views point into the line.
struct StatsLogLine {
    time_t time = 0;    // completion time, whole seconds
    uint64_t bytes = 0; // bytes delivered to the client
    std::string_view method;
    std::string_view url;
    std::string_view user; // as logged: URL-encoded, "-" for none
};

// Parses one line of Squid's native format ("time elapsed client code/status bytes method URL
// user hierarchy/peer type", separated by runs of blanks and tabs). The line ends at end or at
// its first LF (a CR before it is dropped). false for a malformed line.
bool statsParseLine(const char* begin, const char* end, StatsLogLine* line);

// Decodes %XX escapes of a logged user name into out; false when it does not fit.
bool statsDecodeUser(std::string_view logged, std::string* out);

// The site of a request: the host of the URL ("CONNECT host:443": host), without port, user
// information or path.
std::string_view statsSite(std::string_view method, std::string_view url);

// Interned byte strings: each distinct string is stored once in an arena of 4 MB blocks and
// numbered from 0 in the order of first appearance.
class StatsStrings {
  public:
    StatsStrings();
    ~StatsStrings();
    StatsStrings(const StatsStrings&) = delete;
    StatsStrings& operator=(const StatsStrings&) = delete;
    // Strings are at most 65534 bytes (longer ones are cut).
    uint32_t intern(std::string_view s) { return intern(s, hash(s)); }
    // The same with the string's hash (of hash()) computed beforehand.
    uint32_t intern(std::string_view s, uint32_t hash);
    static uint32_t hash(std::string_view s);
    // Ask for the table slot of a hash, and then for the string that slot names, to be brought
    // into the cache ahead of intern() (a batch of lookups then waits for memory once).
    void prefetchSlot(uint32_t hash) const {
        __builtin_prefetch(&m_slots[hash & (m_slots.size() - 1)]);
    }
    void prefetchText(uint32_t hash) const {
        const Slot& e = m_slots[hash & (m_slots.size() - 1)];
        if (e.ref != kNoRef && e.hash == hash) __builtin_prefetch(record(e.ref));
    }
    // Ask for the text of a string to be brought into the cache ahead of at().
    void prefetch(uint32_t id) const { __builtin_prefetch(record(m_refs[id])); }
    std::string_view at(uint32_t id) const;
    size_t size() const { return m_refs.size(); }
    // The numbers of all strings, in the order of first appearance.
    std::vector<uint32_t> ids() const;

  private:
    static constexpr unsigned kBlockBits = 22;
    static constexpr uint32_t kNoRef = ~0u;
    // A string in the arena: its size (2 bytes), its number (4 bytes), its bytes.
    static constexpr size_t kHeader = 6;
    struct Slot {
        uint32_t hash;
        uint32_t ref; // arena place of the string; kNoRef: unused
    };
    const char* record(uint32_t ref) const {
        return m_blocks[ref >> kBlockBits] + (ref & ((1u << kBlockBits) - 1));
    }
    std::vector<Slot> m_slots;
    std::vector<uint32_t> m_refs; // arena place of each string: block << 22 | offset
    std::vector<char*> m_blocks;
    size_t m_used = size_t(1) << kBlockBits; // bytes used in the last block (full: none yet)
};

// Collects the requests of one query.
class StatsCollector {
  public:
    StatsCollector(StatsKind kind, const StatsQuery& query, std::vector<time_t> bounds);
    ~StatsCollector();
    StatsCollector(const StatsCollector&) = delete;
    StatsCollector& operator=(const StatsCollector&) = delete;

    // The time range worth reading: [first, last).
    time_t first() const { return m_bounds.empty() ? 0 : m_bounds.front(); }
    time_t last() const { return m_bounds.empty() ? 0 : m_bounds.back(); }

    // Counts one line of the log (malformed lines are counted, not collected).
    void addLine(const char* begin, const char* end);
    // Counts the lines of a block of log text (LF or CR LF; the last line may lack its end) until
    // a run of lines lies well past the query's end.
    void addText(const char* begin, const char* end) { addRange(begin, end); }
    // Reads a whole log file (plain or gzip-compressed, by its content); false with a reason.
    // A plain file in time order is searched for the query's range instead of read whole.
    bool addFile(int fd, std::string* error);

    uint64_t malformed() const { return m_malformed; }
    // More than 65,535 users or 16,777,215 sites or URL rests in the range: the lists cannot be
    // made.
    bool overflow() const { return m_overflow; }

    // Writes the result: "data" one byte count a line per bucket; "url" and "site" lines of
    // user, request count and URL or site, by user and then by count, highest first (equal
    // counts in the order the log first names their URL or site). false
    // when the stream fails.
    bool write(FILE* out) const;
    // The same into a string (for small results). Either write may be called once only.
    void write(std::string* out) const;

  private:
    bool addRange(const char* begin, const char* end); // false: well past the query's end
    bool addStream(int fd, off_t from, void* gz, std::string* error);
    void count(const StatsLogLine& line);
    void countPair(uint64_t key);
    void growPairs();
    // url and site: requests are counted in batches, so that the table slots of a batch are
    // fetched from memory together rather than one cache miss after the other.
    void flushBatch();

    StatsKind m_kind;
    StatsQuery m_query;
    std::vector<time_t> m_bounds;
    std::vector<uint64_t> m_bytes;
    size_t m_cursor = 0;
    uint64_t m_malformed = 0;
    int m_pastEnd = 0; // lines in a row read past the query's end
    // url and site: users, sites and the rest of the URLs (path and query) interned to numbers,
    // and a table of (user, site, rest) with their request counts, so that a site's name is
    // kept once however many URLs and users it has.
    StatsStrings m_users;
    StatsStrings m_sites;
    StatsStrings m_rests;
    bool m_overflow = false; // more users, sites or URL rests than a pair key holds
    struct __attribute__((packed)) Pair {
        uint64_t key; // user << 48 | site << 24 | rest; kEmptyPair when unused
        uint32_t count;
    };
    mutable std::vector<Pair> m_pairs; // emptied by write()
    size_t m_pairCount = 0;
    std::string m_decoded;
    struct Pending {
        uint32_t user;
        uint32_t siteHash;
        uint32_t restHash;
        uint64_t key;
        std::string_view site; // into the text being read
        std::string_view rest; // the same; url only
    };
    static constexpr size_t kBatch = 32;
    Pending m_batch[kBatch];
    size_t m_batchSize = 0;
};

// Time of the first line of a log file (plain or gzip-compressed), or -1 when none is read.
time_t statsFirstTime(int fd);
