// Tests of the statistics tool's summary cache, through its command line alone: over rotated
// logs generated from a seed, every query answered with the cache and without it
// (GETSTATS2_CACHE=off) gives the same exit status, result bytes and standard error (less the
// lines about the cache) while the logs are appended to, rotated, truncated and replaced and the
// cache files are damaged; the cache directory's modes, two runs at once on a cold cache and a
// full disk under the cache.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/stats/access_log_lines.h"
#include "tests/stats/getstats2_run.h"
#include "tests/stats/gzip_member.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// The server's local time of Budapest: the logs cross the clock change of 27 October 2024.
const bool kZone = (setenv("TZ", "Europe/Budapest", 1), tzset(), true);

const std::string kLog = "/var/log/squid/access.log";
const std::string kCache = "/var/cache/orvelan"; // the default cache directory below the root

// The seeds of the logs and of the queries: fixed, or STATS_CACHE_SEED to explore others.
uint64_t seed() {
    const char* v = getenv("STATS_CACHE_SEED");
    return v ? strtoull(v, nullptr, 0) : 20241027;
}

struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed * 0x9e3779b97f4a7c15ull + 1) {}
    uint64_t next() { // xorshift64*
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 2685821657736338717ull;
    }
    // 0 .. n - 1
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    bool chance(double p) { return static_cast<double>(next() >> 11) / 9007199254740992.0 < p; }
};

// Users as the log names them; the console names "vendeg%20001" "vendeg 001".
const char* const kUsers[] = {
    "anna",         "bela",         "cecil",        "dora", "ede",  "feri",  "gabi", "hajni",
    "ilona",        "jozsi",        "kata",         "laci", "mari", "nandi", "ottó", "peti",
    "kiss%20janos", "vendeg%20001", "vendeg%20002", "-",    "rozi", "sanyi", "teri", "zoli"};
// Users of the queries: the decoded names and one the logs never name.
const char* const kQueryUsers[] = {"anna", "zoli", "kiss janos", "vendeg 001", "vendeg 002",
                                   "-",    "ottó", "mari",       "senki"};
// The server's user list: Iroda has a super user (never counted one by one), Raktár no users.
const char kUserList[] = "anna:Iroda:x:p:::\r\n"
                         "kiss janos:Iroda:x:p:::\r\n"
                         "vendeg 001:Iroda:x:p:::\r\n"
                         "zoli:Iroda:x:p::s:\r\n"
                         "mari:Műhely:x:p:::\r\n"
                         "peti:Műhely:x:p:::\r\n"
                         "vendeg 002:Műhely:x:p:::\r\n";
const char* const kGroups[] = {"Iroda", "Műhely", "Raktár"};

// One request at t (milliseconds after the second): a skewed choice of user and site, a URL
// with a query string, a plain page or a CONNECT tunnel, now and then a size beyond 4 GB.
std::string requestLine(Random& r, time_t t, int ms) {
    const char* user = kUsers[std::min(r.below(24), r.below(24))];
    int site = std::min(r.below(400), r.below(400));
    char url[160];
    std::string method = "GET";
    int kind = r.below(10);
    if (kind == 0) {
        method = "CONNECT";
        snprintf(url, sizeof url, "www.site%03d.hu:443", site);
    } else if (kind < 7) {
        snprintf(url, sizeof url, "http://www.site%03d.hu/p/%d?q=%d&sid=%x", site, r.below(40),
                 r.below(100), static_cast<unsigned>(r.below(1 << 20)));
    } else {
        snprintf(url, sizeof url, "http://www.site%03d.hu/p/%d.html", site, r.below(60));
    }
    unsigned long long bytes = 200 + r.next() % 300000;
    if (r.below(5000) == 0) bytes += 5000000000ull;
    char line[400];
    snprintf(line, sizeof line,
             "%lld.%03d %6d 192.168.1.%d %s %llu %s %s %s HIER_DIRECT/93.184.216.%d text/html\n",
             static_cast<long long>(t), ms, r.below(60000), 2 + r.below(200),
             r.below(20) ? "TCP_MISS/200" : "TCP_DENIED/403", bytes, method.c_str(), url, user,
             r.below(250));
    return line;
}

// What a file of the generated logs holds besides ordered requests.
enum class Flaw { None, Malformed, OutOfOrder };

// n requests in time order from `from` to `to` (seconds), with the flaw's few lines among them.
std::string requests(Random& r, time_t from, time_t to, int n, Flaw flaw = Flaw::None) {
    std::string text;
    const double step = static_cast<double>(to - from) * 1000.0 / n;
    double ms = static_cast<double>(from) * 1000.0;
    for (int i = 0; i < n; ++i) {
        ms += step * static_cast<double>(r.below(1901)) / 1000.0; // 0.95 of the span on average
        long long at = std::min(static_cast<long long>(ms), static_cast<long long>(to) * 1000);
        std::string line =
            requestLine(r, static_cast<time_t>(at / 1000), static_cast<int>(at % 1000));
        if (flaw == Flaw::Malformed && i % (n / 5) == n / 10) {
            // A line of garbage, a line cut short, a size that is no number.
            const int k = i / (n / 5);
            text += k % 3 == 0   ? std::string("not a log line at all\n")
                    : k % 3 == 1 ? line.substr(0, line.size() / 2) + "\n"
                                 : line.substr(0, line.find(' ')) +
                                       " 5 10.0.0.1 TCP_MISS/200 12x GET http://a.hu/ anna -\n";
        }
        if (flaw == Flaw::OutOfOrder && i % (n / 4) == n / 8) {
            // Lines of a clock set back by half an hour, and one of a clock a day ahead.
            text += requestLine(r, static_cast<time_t>(at / 1000) - 1800, 0);
            text += requestLine(r, static_cast<time_t>(at / 1000) - 1790, 0);
            if (i > n / 2) text += requestLine(r, static_cast<time_t>(at / 1000) + 86400, 0);
        }
        text += line;
    }
    return text;
}

// The time of a local day's start, d days after 24 October 2024 (the 27th has 25 hours).
time_t day(int d) {
    return localTime(2024, 10, 24 + d, 0, 0);
}

std::string stamp(time_t t) {
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", localtime(&t));
    return buf;
}

// One query of the console: its kind and the query file's text.
struct Query {
    std::string kind;
    std::string text;
    time_t start = 0; // its first and last minute
    time_t end = 0;
};

// A span of time the logs changed in; {0, 0} for none.
using Span = std::pair<time_t, time_t>;

// A random query around the times of interest (the logs' first and last lines, midnights, the
// clock change) or within the span that changed last: a start minute near one of them, anywhere,
// inside an hour or outside all logs; an end up to a week later or before the start; any
// resolution; all users, a user, a group; for lists sometimes a line limit.
Query randomQuery(Random& r, const std::vector<time_t>& times, Span changed) {
    time_t start = 0;
    time_t end = 0;
    int pick = r.below(20);
    if (pick < 10 && changed.second > 0) { // up to three hours before the span, or in it
        start = changed.first - 180 * 60 +
                r.below(static_cast<int>(changed.second - changed.first) / 60 + 181) * 60;
    } else if (pick < 7) {
        start = times[static_cast<size_t>(r.below(static_cast<int>(times.size())))] +
                (r.below(181) - 90) * 60;
    } else if (pick < 16) {
        start = day(-1) + r.below(9 * 86400);
    } else if (pick < 18) {
        start = day(r.below(8) - 1) + r.below(24) * 3600; // within one hour
        end = start + r.below(60) * 60;
    } else {
        start = r.below(2) ? localTime(2023, 1 + r.below(12), 1 + r.below(28), 0, 0)
                           : localTime(2025, 1 + r.below(12), 1 + r.below(28), 0, 0);
    }
    if (pick < 16 || pick >= 18) {
        int span = r.below(20);
        end = span < 5    ? start + r.below(61) * 60
              : span < 12 ? start + r.below(1441) * 60
              : span < 18 ? start + r.below(7 * 1441) * 60
                          : start - r.below(3000) * 60;
        if (pick < 10 && changed.second > 0 && end >= start) // into the span
            end = std::max(end, changed.first + r.below(120) * 60);
    }
    int resolution = r.below(5);
    if (resolution == 0 && end - start > 3 * 86400) resolution = 1; // keep the results small
    Query q;
    q.start = start - start % 60;
    q.end = end - end % 60;
    q.kind = std::vector<std::string>{"data", "url", "site"}[static_cast<size_t>(r.below(3))];
    q.text = stamp(q.start + r.below(60)) + "\r\n" + stamp(q.end) + "\r\n" +
             std::to_string(resolution) + "\r\n";
    int scope = r.below(20);
    std::string user, more;
    if (scope >= 8 && scope < 15)
        user = kQueryUsers[r.below(static_cast<int>(std::size(kQueryUsers)))];
    else if (scope >= 15)
        more += std::string("group ") + kGroups[r.below(3)] + "\r\n";
    if (q.kind != "data" ? r.below(3) == 0 : r.below(10) == 0)
        more += "lines " + std::to_string(r.below(4) == 0 ? 99999 : r.below(30)) + "\r\n";
    if (!user.empty() || !more.empty()) q.text += user + "\r\n" + more;
    return q;
}

// Standard error less the lines about the cache.
std::string withoutCacheLines(const std::string& text) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        std::string line = text.substr(at, end - at), lower = line;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lower.find("cache") == std::string::npos) out += line;
        at = end;
    }
    return out;
}

// The first line where two texts differ, with its number, for a failure message.
std::string firstDifference(const std::string& a, const std::string& b) {
    size_t at = 0, line = 1;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        if (a[at++] == '\n') ++line;
    size_t from = a.rfind('\n', at ? at - 1 : 0);
    from = from == std::string::npos || at == 0 ? 0 : from + 1;
    auto lineOf = [&](const std::string& s) { return s.substr(from, s.find('\n', from) - from); };
    return "line " + std::to_string(line) + ": with the cache \"" + lineOf(a) + "\", without \"" +
           lineOf(b) + "\" (" + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
           " bytes)";
}

// A file's permission bits in octal.
std::string octal(mode_t mode) {
    char text[8];
    snprintf(text, sizeof text, "%o", static_cast<unsigned>(mode & 07777));
    return text;
}

struct Outcome {
    int status = -1;
    std::string result;
    std::string err;
};

class StatsCache : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.ok());
        m_root = m_tmp.str();
        fs::create_directories(m_root + "/srv");
        fs::create_directories(m_root + "/var/log/squid");
        fs::create_directories(m_root + "/tmp");
        fs::create_directories(m_root + "/var/cache"); // as on a server: the tool makes orvelan
        write("/apache/etc/users", kUserList);
        write("/srv/orvelan.cnf", "USERLISTFIL /apache/etc/users\n");
    }

    void write(const std::string& path, const std::string& bytes) const {
        m_tmp.write(path.substr(1), bytes);
    }
    void append(const std::string& path, const std::string& bytes) const {
        FILE* f = fopen((m_root + path).c_str(), "ab");
        ASSERT_NE(f, nullptr) << path;
        ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        ASSERT_EQ(fclose(f), 0);
    }
    std::string read(const std::string& path) const { return readFileBytes(m_root + path); }

    // The generated logs: six days from 24 October, 3,000 to 9,000 requests a day starting and
    // ending a few minutes off midnight; the current log and access.log.1 and .3 plain, .2.gz,
    // .4.gz and .5.gz gzipped; .4.gz holds a few malformed lines, .1 a few out of time order.
    void writeLogs(Random& r) {
        const Flaw flaws[6] = {Flaw::None, Flaw::OutOfOrder, Flaw::None,
                               Flaw::None, Flaw::Malformed,  Flaw::None};
        for (int age = 5; age >= 0; --age) {
            std::string text =
                requests(r, day(5 - age) + r.below(1200), day(6 - age) - 1 - r.below(1200),
                         3000 + r.below(6000), flaws[age]);
            noteTimes(text);
            if (age == 0)
                write(kLog, text);
            else if (age == 1 || age == 3)
                write(kLog + "." + std::to_string(age), text);
            else
                write(kLog + "." + std::to_string(age) + ".gz", gzipMember(text));
        }
    }
    // Keeps the times of a text's first and last line for the queries.
    void noteTimes(const std::string& text) {
        m_times.push_back(atoll(text.c_str()));
        size_t last = text.rfind('\n', text.size() - 2);
        m_times.push_back(atoll(text.c_str() + (last == std::string::npos ? 0 : last + 1)));
    }

    // Runs the query with the cache and with GETSTATS2_CACHE=off, both at once (the second
    // neither reads nor writes the cache); their outcomes.
    std::pair<Outcome, Outcome> runBoth(const Query& q) {
        write("/tmp/infile", q.text);
        const std::string args[2] = {"/tmp/out.cache", "/tmp/out.plain"};
        pid_t pid[2];
        for (int i = 0; i < 2; ++i) {
            unlink((m_root + args[i]).c_str());
            pid[i] = getstats2Start(m_root, {"--output", args[i], q.kind},
                                    i ? std::vector<std::string>{"GETSTATS2_CACHE=off"}
                                      : std::vector<std::string>{},
                                    m_root + "/err" + std::to_string(i));
        }
        Outcome o[2];
        for (int i = 0; i < 2; ++i) {
            o[i].status = getstats2Wait(pid[i]);
            o[i].result = read(args[i]);
            o[i].err = read("/err" + std::to_string(i));
        }
        return {o[0], o[1]};
    }

    // Checks that the query's outcomes agree; false (and a failure naming the seed, the step and
    // the query file) when they do not.
    bool agree(const Query& q, const std::string& step) {
        auto [cached, plain] = runBoth(q);
        std::string why;
        if (cached.status != plain.status)
            why = "exit status " + std::to_string(cached.status) + " with the cache, " +
                  std::to_string(plain.status) + " without";
        else if (cached.result != plain.result)
            why = "results differ at " + firstDifference(cached.result, plain.result);
        else if (withoutCacheLines(cached.err) != plain.err)
            why = "standard error with the cache:\n" + cached.err + "without:\n" + plain.err;
        if (why.empty()) {
            ++m_agreed;
            if (plain.status == 0) ++m_answered;
            if (plain.result.find_first_not_of("0\n") != std::string::npos) ++m_traffic;
            if (!plain.err.empty()) ++m_skipsSaid;
            return true;
        }
        ADD_FAILURE() << "seed " << seed() << ", " << step << ": getstats2 " << q.kind
                      << " of the query file\n"
                      << q.text << "\n"
                      << why;
        return false;
    }
    // Runs n random queries; stops at the third disagreement.
    // Runs n random queries, half of them about the span that changed last; stops at the third
    // disagreement. A third of them at least meet the span.
    void randomQueries(Random& r, int n, const std::string& step, Span changed = {0, 0}) {
        int met = 0;
        for (int i = 0; i < n && m_failures < 3; ++i) {
            Query q = randomQuery(r, m_times, changed);
            met += q.start <= q.end && q.start <= changed.second && q.end + 59 >= changed.first;
            if (!agree(q, step + ", query " + std::to_string(i + 1))) ++m_failures;
        }
        if (changed.second > 0 && m_failures < 3) {
            EXPECT_GE(met, n / 3) << step;
        }
    }

    // The cache files (*.idx) of the cache directory, by name.
    std::vector<std::string> cacheFiles(const std::string& dir = kCache) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(m_root + dir, ec))
            if (e.path().extension() == ".idx") names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The cache directory is 0700 and holds nothing but cache files and the lock, 0600 each.
    void expectPrivateCache(const std::string& dir = kCache) const {
        struct stat st {};
        ASSERT_EQ(stat((m_root + dir).c_str(), &st), 0) << dir;
        EXPECT_EQ(octal(st.st_mode), "700") << dir;
        std::string others;
        for (const auto& e : fs::directory_iterator(m_root + dir)) {
            const std::string name = e.path().filename().string();
            ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
            EXPECT_EQ(octal(st.st_mode), "600") << name;
            if (e.path().extension() != ".idx" && name != "lock") others += " " + name;
        }
        EXPECT_EQ(others, "") << "files left beside the cache files and the lock";
    }

    TempDir m_tmp{"statscache"};
    std::string m_root;
    std::vector<time_t> m_times{day(0), day(3), day(3) + 2 * 3600, day(3) + 3 * 3600, day(6)};
    int m_agreed = 0;
    int m_answered = 0;
    int m_traffic = 0;   // results holding traffic
    int m_skipsSaid = 0; // malformed lines or lines out of order said
    int m_failures = 0;
};

// Whether the tool at hand keeps a cache by its help (today's tool reads the logs every time).
bool toolHasCache() {
    TempDir dir{"help"};
    std::string cmd = std::string(GETSTATS2_PATH) + " --help > " + dir.file("help");
    EXPECT_EQ(system(cmd.c_str()), 0);
    std::string help = readFileBytes(dir.file("help"));
    return help.find("GETSTATS2_CACHE") != std::string::npos ||
           help.find("STATSCACHE") != std::string::npos;
}

// A file's bytes with n bytes in its middle turned over.
std::string flipped(const std::string& bytes, size_t n) {
    std::string out = bytes;
    for (size_t i = 0; i < n && i < out.size(); ++i)
        out[out.size() / 2 + i - std::min(out.size() / 2, n / 2)] ^= 0x5a;
    return out;
}

TEST_F(StatsCache, RandomQueriesAgreeWithAndWithoutTheCacheAsTheLogsChange) {
    Random logs(seed());
    Random queries(seed() + 1);
    writeLogs(logs);
    RecordProperty("seed", std::to_string(seed()));

    // The first state: the cache is built and then used.
    randomQueries(queries, 700, "first state");
    if (toolHasCache()) {
        EXPECT_FALSE(cacheFiles().empty()) << "the queries were read from no cache";
    }

    // Appending to the current log, three times: the first ends within a line, which the second
    // completes; the second ends without a line end, which the third adds.
    std::string rest;
    for (int round = 0; round < 3 && m_failures < 3; ++round) {
        time_t from = m_times.back() + 60;
        std::string more = requests(logs, from, from + 3600, 400);
        noteTimes(more);
        if (round == 0) {
            size_t cut = more.rfind('\n', more.size() - 2) + 1;
            cut += (more.size() - cut) / 2;
            rest = more.substr(cut);
            more.resize(cut);
        } else if (round == 1) {
            more = rest + more;
            more.pop_back();
        } else {
            more = "\n" + more;
        }
        append(kLog, more);
        randomQueries(queries, 25, "appended " + std::to_string(round + 1), {from, from + 3600});
    }

    // A rotation as logrotate with delaycompress does it: the current log becomes .1, .1 is
    // compressed to .2.gz, the others move up one (.3 stays plain as .4); a new current log.
    const std::string at = m_root + kLog;
    fs::rename(at + ".5.gz", at + ".6.gz");
    fs::rename(at + ".4.gz", at + ".5.gz");
    fs::rename(at + ".3", at + ".4");
    fs::rename(at + ".2.gz", at + ".3.gz");
    write(kLog + ".2.gz", gzipMember(read(kLog + ".1")));
    fs::remove(at + ".1");
    fs::rename(at, at + ".1");
    time_t from = m_times.back() + 120;
    std::string fresh = requests(logs, from, from + 4 * 3600, 1500);
    noteTimes(fresh);
    write(kLog, fresh);
    randomQueries(queries, 40, "rotated", {day(0), m_times.back()});

    // A rotated file replaced by another of the same size and time of change, other users.
    std::string old = read(kLog + ".4");
    struct stat st {};
    ASSERT_EQ(stat((at + ".4").c_str(), &st), 0);
    std::string swapped = old;
    for (size_t p = 0; (p = swapped.find(" anna ", p)) != std::string::npos; p += 6)
        swapped.replace(p, 6, " bela ");
    ASSERT_EQ(swapped.size(), old.size());
    ASSERT_NE(swapped, old);
    write("/var/log/squid/replacement", swapped);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, (m_root + "/var/log/squid/replacement").c_str(), times, 0), 0);
    fs::rename(m_root + "/var/log/squid/replacement", at + ".4");
    randomQueries(queries, 35, "rotated file replaced", {day(2), day(3)});

    // The current log truncated in place (as copytruncate leaves it) and written again: first
    // shorter than it was, then longer.
    for (int round = 0; round < 2 && m_failures < 3; ++round) {
        const uintmax_t before = fs::file_size(at);
        ASSERT_EQ(truncate(at.c_str(), 0), 0);
        from = m_times.back() + 60;
        std::string again = requests(logs, from, from + 3600, round == 0 ? 300 : 2000);
        ASSERT_EQ(again.size() > before, round == 1);
        noteTimes(again);
        append(kLog, again);
        randomQueries(queries, round == 0 ? 35 : 40, "truncated " + std::to_string(round + 1),
                      {from, from + 3600});
    }

    // Damaged cache files: bytes turned over in the middle of each; one cut short, one empty and
    // one removed; one holding another's bytes.
    std::vector<std::string> idx = cacheFiles();
    for (const std::string& name : idx)
        write(kCache + "/" + name, flipped(read(kCache + "/" + name), 16));
    const Span all = {day(0), m_times.back()};
    randomQueries(queries, 25, "cache files damaged", all);
    idx = cacheFiles();
    if (!idx.empty()) {
        const std::string name = kCache + "/" + idx[idx.size() / 2];
        ASSERT_EQ(truncate((m_root + name).c_str(), static_cast<off_t>(read(name).size() / 2)), 0);
    }
    if (idx.size() >= 3) {
        ASSERT_EQ(truncate((m_root + kCache + "/" + idx[0]).c_str(), 0), 0);
        fs::remove(m_root + kCache + "/" + idx.back());
    }
    randomQueries(queries, 25, "a cache file cut short, one empty, one removed", all);
    idx = cacheFiles();
    if (idx.size() >= 2) write(kCache + "/" + idx[0], read(kCache + "/" + idx.back()));
    randomQueries(queries, 25, "a cache file of another log", all);

    ASSERT_EQ(m_agreed, 1000);
    if (fs::exists(m_root + kCache)) expectPrivateCache();
    // The queries meet the logs: most are answered, many with traffic, some over the flawed
    // files.
    EXPECT_GT(m_answered, 900);
    EXPECT_GT(m_traffic, 400);
    EXPECT_GT(m_skipsSaid, 50);
    printf("seed %llu: %d queries agree, %d answered, %d with traffic, %d with skipped lines "
           "said; %zu cache files at the end\n",
           static_cast<unsigned long long>(seed()), m_agreed, m_answered, m_traffic, m_skipsSaid,
           cacheFiles().size());
}

// The modes do not come from the umask: the runs have none.
TEST_F(StatsCache, TheCacheDirectoryIsPrivateAndHoldsNoTemporaryFiles) {
    write("/srv/orvelan.cnf", "USERLISTFIL /apache/etc/users\nSTATSCACHE /data/stats-cache\n");
    fs::create_directories(m_root + "/data");
    Random r(seed());
    writeLogs(r);
    struct Umask {
        mode_t old = umask(0);
        ~Umask() { umask(old); }
    } noUmask;
    // A site query (url queries read the logs and keep no summary).
    const Query whole{"site", stamp(day(0)) + "\r\n" + stamp(day(6) - 60) + "\r\n3\r\n\r\nlines " +
                                  "99999\r\n"};
    ASSERT_TRUE(agree(whole, "cold cache"));
    ASSERT_TRUE(agree(whole, "warm cache"));
    const std::string dir = m_root + "/data/stats-cache";
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        ASSERT_FALSE(toolHasCache()) << "no cache directory " << dir;
        GTEST_SKIP() << "this getstats2 keeps no cache: the queries agree, the logs were read";
    }
    EXPECT_FALSE(fs::exists(m_root + kCache)) << "the cache lies where STATSCACHE says";
    std::vector<std::string> idx = cacheFiles("/data/stats-cache");
    EXPECT_GE(idx.size(), 4u) << "one a log file the query read";
    EXPECT_LE(idx.size(), 6u);
    expectPrivateCache("/data/stats-cache");
    // GETSTATS2_CACHE=off reads and writes no cache: a missing directory stays missing.
    fs::remove_all(dir);
    write("/tmp/infile", whole.text);
    EXPECT_EQ(
        getstats2Wait(getstats2Start(m_root, {"site"}, {"GETSTATS2_CACHE=off"}, m_root + "/err")),
        0);
    EXPECT_FALSE(fs::exists(dir));
}

TEST_F(StatsCache, TwoRunsAtOnceOnAColdCacheBothAnswerRight) {
    Random r(seed());
    writeLogs(r);
    const Query queries[] = {
        {"url", stamp(day(0)) + "\r\n" + stamp(day(6) - 60) + "\r\n3\r\n\r\nlines 99999\r\n"},
        {"data", stamp(day(0)) + "\r\n" + stamp(day(6) - 60) + "\r\n2\r\n"},
        {"site", stamp(day(2)) + "\r\n" + stamp(day(5) + 7200) + "\r\n1\r\nvendeg 001\r\n"},
    };
    // What the logs say, read without the cache.
    Outcome expected[3];
    for (int i = 0; i < 3; ++i) {
        write("/tmp/infile", queries[i].text);
        expected[i].status = getstats2Wait(
            getstats2Start(m_root, {queries[i].kind}, {"GETSTATS2_CACHE=off"}, m_root + "/err"));
        ASSERT_EQ(expected[i].status, 0) << read("/err");
        expected[i].result = read("/tmp/outfile");
        expected[i].err = read("/err");
    }
    // Rounds of two runs started together on an empty cache: the same query, and two others.
    for (int round = 0; round < 6; ++round) {
        fs::remove_all(m_root + kCache);
        const int which[2] = {round % 3, round < 3 ? round % 3 : (round + 1) % 3};
        pid_t pid[2];
        for (int i = 0; i < 2; ++i) {
            const std::string n = std::to_string(i);
            write("/tmp/in" + n, queries[which[i]].text);
            pid[i] = getstats2Start(
                m_root,
                {"--input", "/tmp/in" + n, "--output", "/tmp/out" + n, queries[which[i]].kind}, {},
                m_root + "/err" + n);
        }
        for (int i = 0; i < 2; ++i) {
            const std::string n = std::to_string(i);
            const Outcome& want = expected[which[i]];
            EXPECT_EQ(getstats2Wait(pid[i]), 0) << round << ": " << read("/err" + n);
            EXPECT_TRUE(read("/tmp/out" + n) == want.result)
                << "round " << round << ", " << queries[which[i]].kind << ": "
                << firstDifference(read("/tmp/out" + n), want.result);
            EXPECT_EQ(withoutCacheLines(read("/err" + n)), want.err) << "round " << round;
        }
        // Afterwards the cache serves warm runs, twice over, with the logs' answers, and is no
        // longer rebuilt.
        for (const Query& q : queries)
            ASSERT_TRUE(agree(q, "round " + std::to_string(round) + ", first warm run"));
        const std::vector<std::string> built = cacheFiles();
        for (const Query& q : queries)
            ASSERT_TRUE(agree(q, "round " + std::to_string(round) + ", second warm run"));
        EXPECT_EQ(cacheFiles(), built) << "round " << round;
        if (!built.empty()) expectPrivateCache();
    }
}

// The cache directory on a tmpfs that is full (or nearly so) in a mount namespace of a child:
// writing the cache fails, the answers and exit status are those of the logs.
TEST_F(StatsCache, AFullDiskUnderTheCacheOnlyCostsTime) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    Random r(seed());
    writeLogs(r);
    write("/tmp/infile",
          stamp(day(0)) + "\r\n" + stamp(day(6) - 60) + "\r\n3\r\n\r\nlines 99999\r\n");
    ASSERT_EQ(
        getstats2Wait(getstats2Start(m_root, {"site"}, {"GETSTATS2_CACHE=off"}, m_root + "/err")),
        0);
    const std::string expected = read("/tmp/outfile");
    const std::string expectedErr = read("/err");
    const std::string cache = m_root + kCache;
    fs::create_directories(cache);
    fs::permissions(cache, fs::perms::owner_all, fs::perm_options::replace);
    // Two runs in the child's namespace (the first builds, the second finds what the first could
    // write), on a tmpfs filled to the last byte and on one with room for a few pages.
    for (const std::string fill : {"full", "12k"}) {
        const bool full = fill == "full";
        write("/mounted.sh",
              "unset GETSTATS2_CACHE\n"
              "mount -t tmpfs -o size=" +
                  std::string(full ? "64k" : fill) + ",mode=0700 tmpfs \"$1\" || exit 3\n" +
                  (full ? "dd if=/dev/zero of=\"$1/filler\" bs=4k 2>/dev/null\n" : "") +
                  "cd \"$2/srv\" || exit 4\n"
                  "for n in 1 2; do\n"
                  "  VXD_ROOT=\"$2\" TZ=Europe/Budapest \"$3\" --output /tmp/out$n site "
                  "2>\"$2/err$n\"\n"
                  "  echo $? >\"$2/status$n\"\n"
                  "done\n"
                  "ls -A \"$1\" >\"$2/listing\"\n");
        const std::string cmd = "unshare -m --propagation private sh " + m_root + "/mounted.sh '" +
                                cache + "' '" + m_root + "' '" GETSTATS2_PATH "'";
        const int status = system(cmd.c_str());
        if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
            GTEST_SKIP() << "no tmpfs can be mounted here";
        ASSERT_EQ(status, 0) << cmd;
        for (const std::string n : {"1", "2"}) {
            EXPECT_EQ(read("/status" + n), "0\n") << fill << " " << read("/err" + n);
            EXPECT_TRUE(read("/tmp/out" + n) == expected) << fill << ", run " << n;
            EXPECT_EQ(withoutCacheLines(read("/err" + n)), expectedErr) << fill << ", run " << n;
        }
        // Nothing is left on the tmpfs but whole cache files, the lock and the filler.
        const std::string listing = read("/listing");
        for (size_t at = 0; at < listing.size(); at = listing.find('\n', at) + 1) {
            const std::string name = listing.substr(at, listing.find('\n', at) - at);
            EXPECT_TRUE(name == "filler" || name == "lock" ||
                        (name.size() > 4 && name.substr(name.size() - 4) == ".idx"))
                << fill << ": " << name;
        }
        EXPECT_TRUE(fs::is_empty(cache)) << "the tmpfs was mounted in the child only";
    }
}

} // namespace
