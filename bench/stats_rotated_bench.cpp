// Benchmark of the statistics tool over rotated logs: ten days of a busy proxy (about 1 GB a
// day; STATS_BENCH_DAY_MB and STATS_BENCH_DAYS make it smaller for a quick run), the current
// day plain and the days before it gzipped as logrotate leaves them (access.log.1.gz, ...),
// kept between runs. Each cold query runs twice on the same files (in the page cache, the tool's
// summary cache off): reading with zlib on one thread, and reading as the tool does by default;
// the seconds and peak memory of both are printed side by side, with whether the results are
// the same bytes. Then the queries of the console with the summary cache (STATSCACHE in the
// bench's own directory): the run that builds it, warm runs, a group, the run after 100 MB
// appended to the current log (taken off again afterwards), the current log alone on an empty
// cache, and the cache's size; each beside its target.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

struct Options {
    long dayMb = 1000;
    int days = 10;
    std::string dir = "build-bench/stats-rotated";
    std::string tool = "build-bench/server/getstats2";
};

struct Random {
    uint64_t state;
    uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    double uniform() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

time_t dayStart(int day) {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 9; // 20 October 2024: the days cross the clock change of the 27th
    tm.tm_mday = 20 + day;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

// The k-th usual site of user u: popular sites are everybody's, the tail differs per user.
int favourite(int u, int k) {
    uint64_t x = static_cast<uint64_t>(u) * 1000003u + static_cast<uint64_t>(k) * 7919u + 17;
    x ^= x >> 31;
    x *= 0x9e3779b97f4a7c15ull;
    x ^= x >> 29;
    return static_cast<int>(30000 * std::pow(static_cast<double>(x >> 11) / 9007199254740992.0, 2));
}

const char* const kPaths[] = {"/search",        "/api/v2/items", "/watch",        "/ads/click",
                              "/static/app.js", "/cart/add",     "/news/article", "/track"};

// One line of the log at t: 200 users (a few logged URL-encoded, some unauthenticated),
// 30,000 sites of skewed popularity; most URLs carry a query string that makes them unique
// (search terms, session and tracking ids), a tenth are CONNECT tunnels.
int line(Random& r, double t, char* out, size_t size) {
    char user[32];
    char url[256];
    int u = static_cast<int>(200 * std::pow(r.uniform(), 1.5));
    if (r.uniform() < 0.03)
        snprintf(user, sizeof user, "-");
    else if (u % 40 == 7)
        snprintf(user, sizeof user, "vendeg%%20%03d", u);
    else
        snprintf(user, sizeof user, "user%03d", u);
    int site = r.uniform() < 0.85 ? favourite(u, static_cast<int>(40 * r.uniform() * r.uniform()))
                                  : static_cast<int>(30000 * std::pow(r.uniform(), 3.0));
    double kind = r.uniform();
    const char* method = kind < 0.1 ? "CONNECT" : "GET";
    if (kind < 0.1)
        snprintf(url, sizeof url, "www.site%05d.hu:443", site);
    else if (kind < 0.9)
        snprintf(url, sizeof url, "https://www.site%05d.hu%s?q=%llx&sid=%llx&utm_source=feed", site,
                 kPaths[r.next() % 8], static_cast<unsigned long long>(r.next() % 1000000),
                 static_cast<unsigned long long>(r.next() >> 20));
    else
        snprintf(url, sizeof url, "http://www.site%05d.hu/p/%d.html", site,
                 static_cast<int>(3000 * std::pow(r.uniform(), 4.0)));
    uint64_t bytes = static_cast<uint64_t>(300 + 400000 * r.uniform() * r.uniform());
    return snprintf(out, size,
                    "%.3f %6d 192.168.%d.%d TCP_MISS/200 %llu %s %s %s %s/93.184.%d.%d "
                    "text/html\n",
                    t, static_cast<int>(r.next() % 90000), static_cast<int>(r.next() % 4),
                    static_cast<int>(r.next() % 250) + 2, static_cast<unsigned long long>(bytes),
                    method, url, user, r.uniform() < 0.01 ? "TIMEOUT_DIRECT" : "HIER_DIRECT",
                    static_cast<int>(r.next() % 250), static_cast<int>(r.next() % 250));
}

// Appends about mb MB of requests from the day after the logs' last (dayStart(days)), two hours
// of them, to path; false when it cannot be written.
bool appendLines(const Options& o, const std::string& path, long mb) {
    const long lines = static_cast<long>(mb * 1e6 / 168);
    const double start = static_cast<double>(dayStart(o.days));
    Random r{4242424242ull};
    FILE* f = fopen(path.c_str(), "a");
    if (!f) return false;
    setvbuf(f, nullptr, _IOFBF, 1 << 20);
    char buf[512];
    for (long i = 0; i < lines; ++i) {
        int n = line(r, start + 7200.0 * static_cast<double>(i) / static_cast<double>(lines), buf,
                     sizeof buf);
        fwrite(buf, 1, static_cast<size_t>(n), f);
    }
    return fclose(f) == 0;
}

// Writes one day of about dayMb MB to path, gzipped (as gzip -6) or plain.
bool writeDay(const Options& o, int day, const std::string& path, bool compress) {
    const double bytes = o.dayMb * 1e6;
    const double perLine = 168; // about; the times are spread over the day by it
    const long lines = static_cast<long>(bytes / perLine);
    const double start = static_cast<double>(dayStart(day));
    const double span = static_cast<double>(dayStart(day + 1)) - start;
    Random r{88172645463325252ull + static_cast<uint64_t>(day) * 7777};
    FILE* plain = compress ? nullptr : fopen(path.c_str(), "w");
    gzFile gz = compress ? gzopen(path.c_str(), "wb6") : nullptr;
    if (!plain && !gz) return false;
    if (gz) gzbuffer(gz, 1 << 20);
    if (plain) setvbuf(plain, nullptr, _IOFBF, 1 << 20);
    std::string block;
    char buf[512];
    for (long i = 0; i < lines; ++i) {
        block.append(buf, static_cast<size_t>(line(
                              r, start + span * static_cast<double>(i) / static_cast<double>(lines),
                              buf, sizeof buf)));
        if (block.size() < (1 << 20) && i + 1 < lines) continue;
        if (gz ? gzwrite(gz, block.data(), static_cast<unsigned>(block.size())) <= 0
               : fwrite(block.data(), 1, block.size(), plain) != block.size())
            return false;
        block.clear();
    }
    return gz ? gzclose(gz) == Z_OK : fclose(plain) == 0;
}

// Writes the days not written yet, two at a time: the newest plain, the others gzipped.
bool generate(const Options& o) {
    std::vector<pid_t> children;
    bool ok = true;
    for (int day = 0; day < o.days; ++day) {
        int age = o.days - 1 - day; // 0: the current log
        std::string path = o.dir + "/access.log" + (age ? "." + std::to_string(age) + ".gz" : "");
        std::string done = path + ".done";
        struct stat st;
        if (stat(done.c_str(), &st) == 0) continue;
        if (children.size() == 2) {
            int status = 0;
            waitpid(children.front(), &status, 0);
            ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
            children.erase(children.begin());
        }
        pid_t pid = fork();
        if (pid == 0) {
            bool written = writeDay(o, day, path, age > 0);
            if (written) fclose(fopen(done.c_str(), "w"));
            _exit(written ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok;
}

struct Run {
    double seconds = 0;
    double cpu = 0; // user and system seconds: on a busy machine beside the wall time
    double megabytes = 0;
    int status = -1;
};

Run run(const std::string& command) {
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
    }
    Run r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.megabytes = static_cast<double>(ru.ru_maxrss) / 1024.0;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// Writes a query file of whole days (the console's CR LF lines) with the resolution and the
// further lines extra; its path.
std::string writeQuery(const Options& o, const std::string& name, int firstDay, int days,
                       int resolution = 1, const std::string& extra = "") {
    time_t from = dayStart(firstDay);
    time_t to = dayStart(firstDay + days) - 60;
    char a[32];
    char b[32];
    strftime(a, sizeof a, "%Y-%m-%d %H:%M:00", localtime(&from));
    strftime(b, sizeof b, "%Y-%m-%d %H:%M:00", localtime(&to));
    std::string path = o.dir + "/" + name;
    FILE* f = fopen(path.c_str(), "w");
    fprintf(f, "%s\r\n%s\r\n%d\r\n%s", a, b, resolution, extra.c_str());
    fclose(f);
    return path;
}

bool sameFiles(const std::string& a, const std::string& b) {
    return run("cmp -s '" + a + "' '" + b + "'").status == 0;
}

off_t fileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// The cache files (*.idx) in dir.
int cacheFiles(const std::string& dir) {
    int n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            size_t len = strlen(e->d_name);
            n += len > 4 && strcmp(e->d_name + len - 4, ".idx") == 0;
        }
        closedir(d);
    }
    return n;
}

// The queries of the console with the summary cache: the tool runs in dir/srv, whose
// orvelan.cnf puts the cache into dir/cache and names a user list with a group of a tenth of
// the users.
class CacheRows {
  public:
    explicit CacheRows(const Options& o) : m_o(o), m_cache(o.dir + "/cache") {
        run("mkdir -p '" + o.dir + "/srv'");
        FILE* f = fopen((o.dir + "/srv/orvelan.cnf").c_str(), "w");
        fprintf(f, "STATSCACHE %s\nUSERLISTFIL %s/users\n", m_cache.c_str(), o.dir.c_str());
        fclose(f);
        f = fopen((o.dir + "/users").c_str(), "w");
        for (int u = 0; u < 200; ++u)
            fprintf(f, u % 40 == 7 ? "vendeg %03d:%s:x:p:::\n" : "user%03d:%s:x:p:::\n", u,
                    u % 10 == 3 ? "Beszerzes" : "Iroda");
        fclose(f);
    }
    // Runs the query file input of kind with the cache (or with it off); the result in out.
    // log: the current log (its rotated files beside it).
    Run query(const std::string& input, const char* kind, bool cache = true,
              const std::string& out = "cache.out", const std::string& log = "") const {
        return run("cd '" + m_o.dir + "/srv' && " + (cache ? "" : "GETSTATS2_CACHE=off ") +
                   "VXD_ROOT=/ '" + m_o.tool + "' --input '" + input + "' --output '" + m_o.dir +
                   "/" + out + "' --log '" + (log.empty() ? m_o.dir + "/access.log" : log) + "' " +
                   kind + " 2>/dev/null");
    }
    void emptyCache() const { run("rm -rf '" + m_cache + "'"); }
    const std::string& cache() const { return m_cache; }
    // One row: the run beside its targets (seconds, megabytes; 0: none).
    static void print(const std::string& name, const Run& r, double seconds, double megabytes) {
        char target[48]; // "<= 1234.56 s, 512 MB"
        if (seconds > 0)
            snprintf(target, sizeof target, "<= %.2f s, %.0f MB", seconds, megabytes);
        else
            snprintf(target, sizeof target, "<= %.0f MB", megabytes);
        bool met =
            r.status == 0 && (seconds <= 0 || r.seconds <= seconds) && r.megabytes <= megabytes;
        printf("%-44s %7.2f s (%6.2f) %6.0f MB  %-20s %s\n", name.c_str(), r.seconds, r.cpu,
               r.megabytes, target,
               r.status != 0 ? "FAILED"
               : met         ? "ok"
                             : "OVER");
        fflush(stdout);
    }

  private:
    const Options& m_o;
    std::string m_cache;
};

// The rows with the summary cache; each run is checked against its target.
void cacheRows(const Options& o) {
    CacheRows rows(o);
    const std::string lines = "\r\nlines 99999\r\n"; // as the console asks for lists
    const int period = o.days + 1; // the logs' days and the day the appended lines fall on
    const std::string whole = writeQuery(o, "c-whole.in", 0, period);
    const std::string wholeList = writeQuery(o, "c-whole-list.in", 0, period, 3, lines);
    const std::string group =
        writeQuery(o, "c-group.in", 0, period, 3, "\r\ngroup Beszerzes\r\nlines 99999\r\n");

    printf("\nwith the summary cache in %s: seconds of wall time (and of CPU), peak memory\n",
           rows.cache().c_str());
    rows.emptyCache();
    // The first data query builds the summaries of every file (site and data at once).
    Run first = rows.query(whole, "data", true, "first.out");
    const int built = cacheFiles(rows.cache());
    if (built == 0)
        printf("NOTE: this getstats2 wrote no cache (no *.idx in %s): the rows below read the "
               "logs\nas the cold rows do; the targets are those of the cache.\n",
               rows.cache().c_str());
    else
        printf("%d cache files built\n", built);
    rows.print("first run (cache being built), data", first, 0, 512);
    // Warm runs, each checked against the same query with the cache off.
    auto same = [&](const std::string& input, const char* kind) {
        rows.query(input, kind, false, "off.out");
        printf("%-44s %s\n", "  as with the cache off",
               sameFiles(o.dir + "/cache.out", o.dir + "/off.out") ? "same bytes" : "DIFFERENT");
    };
    rows.print("warm: whole period, data per 10 minutes", rows.query(whole, "data"), 0.2, 512);
    same(whole, "data");
    const Run site = rows.query(wholeList, "site");
    rows.print("warm: whole period, site", site, 1, 512);
    same(wholeList, "site");
    // URL queries are not summarised: most URLs carry a query string met once, so a summary
    // would be as large as the logs. Over ten days the tool refuses the query (more URLs than a
    // list holds) as soon as it has read that many.
    const Run url = rows.query(wholeList, "url");
    rows.print("whole period, url (read from the logs)", url, 2, 512);
    if (url.status != 0) printf("%-44s\n", "  refused: more URLs in the range than a list holds");
    const off_t fetched = fileSize(o.dir + "/cache.out");
    for (int day = 0; day + 1 < o.days; ++day) {
        const std::string in = writeQuery(o, "c-day.in", day, 1, 1);
        const std::string list = writeQuery(o, "c-day-list.in", day, 1, 3, lines);
        char name[64];
        time_t t = dayStart(day);
        strftime(name, sizeof name, "warm: rotated day %m-%d, ", localtime(&t));
        rows.print(std::string(name) + "data", rows.query(in, "data"), 0.1, 512);
        rows.print(std::string(name) + "site", rows.query(list, "site"), 0.1, 512);
        rows.print(std::string(name) + "url", rows.query(list, "url"), 0.1, 512);
    }
    rows.print("warm: whole period, site, a group of 1/10", rows.query(group, "site"),
               site.seconds * 1.2, 512);

    // The cache's size beside the compressed logs', and the bytes the console fetches.
    long long compressed = 0;
    for (int age = 1; age < o.days; ++age)
        compressed += fileSize(o.dir + "/access.log." + std::to_string(age) + ".gz");
    run("du -sk '" + rows.cache() + "' 2>/dev/null | cut -f1 > '" + o.dir + "/cache.kb'");
    long long cacheKb = 0;
    if (FILE* f = fopen((o.dir + "/cache.kb").c_str(), "r")) {
        if (fscanf(f, "%lld", &cacheKb) != 1) cacheKb = 0;
        fclose(f);
    }
    const double share = compressed > 0 ? 100.0 * static_cast<double>(cacheKb) * 1024.0 /
                                              static_cast<double>(compressed)
                                        : 0;
    printf("%-44s %7.1f MB of %.1f MB compressed logs = %.1f %%  (<= 15 %%) %s\n", "cache on disk",
           static_cast<double>(cacheKb) / 1024.0, static_cast<double>(compressed) / 1048576.0,
           share,
           built == 0    ? "(no cache)"
           : share <= 15 ? "ok"
                         : "OVER");
    if (url.status == 0)
        printf("%-44s %7.2f MB  (<= 10 MB) %s\n", "whole period url result (lines 99999)",
               static_cast<double>(fetched) / 1048576.0,
               fetched >= 0 && fetched <= 10 << 20 ? "ok" : "OVER");
    const std::string daysList = writeQuery(o, "c-days-list.in", o.days - 3, 2, 3, lines);
    rows.print("two rotated days, url, lines", rows.query(daysList, "url", true, "cache.out"), 0,
               512);
    printf("%-44s %7.2f MB  (<= 10 MB) %s\n", "two days' url result (lines 99999)",
           static_cast<double>(fileSize(o.dir + "/cache.out")) / 1048576.0,
           fileSize(o.dir + "/cache.out") <= 10 << 20 ? "ok" : "OVER");

    // 100 MB appended to the current log; afterwards the log is cut back to its own size (also
    // when an earlier run was stopped in between) so that runs stay comparable.
    const std::string current = o.dir + "/access.log";
    const off_t size = fileSize(current);
    FILE* mark = fopen((current + ".before-append").c_str(), "w");
    fprintf(mark, "%lld\n", static_cast<long long>(size));
    fclose(mark);
    if (!appendLines(o, current, 100)) {
        fprintf(stderr, "cannot append to %s\n", current.c_str());
        return;
    }
    rows.print("after 100 MB appended: whole period, site", rows.query(wholeList, "site"),
               site.seconds + 0.6, 512);
    same(wholeList, "site");
    if (truncate(current.c_str(), size) == 0) unlink((current + ".before-append").c_str());

    // The current log alone (a directory holding only it), each query on an empty cache.
    const std::string today = writeQuery(o, "c-today-list.in", o.days - 1, 1, 3, lines);
    const std::string alone = o.dir + "/current-only";
    run("rm -rf '" + alone + "' && mkdir -p '" + alone + "' && ln '" + current + "' '" + alone +
        "/access.log'");
    rows.emptyCache();
    rows.print("current log alone, empty cache: site, lines",
               rows.query(today, "site", true, "cache.out", alone + "/access.log"), 1.5, 256);
    rows.emptyCache();
    rows.print("current log alone, empty cache: url, lines",
               rows.query(today, "url", true, "cache.out", alone + "/access.log"), 3, 256);
    rows.print("current log alone, the day again: url",
               rows.query(today, "url", true, "cache.out", alone + "/access.log"), 0.1, 256);
    run("rm -rf '" + alone + "'");
}

// Cuts the current log back to its size before an append that an earlier run did not undo.
void undoAppend(const Options& o) {
    const std::string current = o.dir + "/access.log";
    FILE* mark = fopen((current + ".before-append").c_str(), "r");
    if (!mark) return;
    long long size = -1;
    if (fscanf(mark, "%lld", &size) == 1 && size >= 0 && truncate(current.c_str(), size) == 0)
        unlink((current + ".before-append").c_str());
    fclose(mark);
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const char* v = getenv("STATS_BENCH_DAY_MB")) o.dayMb = atol(v);
    if (const char* v = getenv("STATS_BENCH_DAYS")) o.days = std::max(2, atoi(v));
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--dir") o.dir = argv[i + 1];
        if (a == "--tool") o.tool = argv[i + 1];
    }
    o.dir += "/" + std::to_string(o.dayMb) + "mb-" + std::to_string(o.days) + "d";
    run("mkdir -p '" + o.dir + "'");
    // Absolute paths: the tool runs in the bench's srv directory (its orvelan.cnf).
    char dir[PATH_MAX];
    char tool[PATH_MAX];
    if (!realpath(o.dir.c_str(), dir) || !realpath(o.tool.c_str(), tool)) {
        fprintf(stderr, "no %s or %s\n", o.dir.c_str(), o.tool.c_str());
        return 1;
    }
    o.dir = dir;
    o.tool = tool;
    printf("logs: %d days of about %ld MB in %s (generated once)\n", o.days, o.dayMb,
           o.dir.c_str());
    fflush(stdout);
    if (!generate(o)) {
        fprintf(stderr, "cannot write the logs into %s\n", o.dir.c_str());
        return 1;
    }
    undoAppend(o);
    run("du -sh '" + o.dir + "' | cut -f1 | sed 's/^/on disk: /'");
    run("cat '" + o.dir + "'/access.log* > /dev/null"); // into the page cache

    const std::string log = o.dir + "/access.log";
    struct Query {
        const char* name;
        std::string input;
        const char* kind;
    };
    const int mid = o.days / 2;
    const Query queries[] = {
        {"whole period, data per 10 minutes", writeQuery(o, "whole.in", 0, o.days), "data"},
        {"whole period, site", writeQuery(o, "whole.in", 0, o.days), "site"},
        {"one rotated day, data", writeQuery(o, "day.in", mid, 1), "data"},
        {"one rotated day, url", writeQuery(o, "day.in", mid, 1), "url"},
        {"two rotated days, url", writeQuery(o, "two.in", mid - 1, 2), "url"},
        {"the current day, site", writeQuery(o, "today.in", o.days - 1, 1), "site"},
    };
    printf("\nseconds of wall time (and of CPU), peak memory\n%-34s %28s %28s %8s  %s\n",
           "cold query (no cache)", "zlib, 1 thread", "ISA-L, all cores", "speed-up", "result");
    for (const Query& q : queries) {
        Run r[2];
        const char* env[2] = {"GETSTATS2_CACHE=off GETSTATS2_INFLATE=zlib GETSTATS2_JOBS=1",
                              "GETSTATS2_CACHE=off"};
        for (int i = 0; i < 2; ++i) {
            std::string out = o.dir + "/out" + std::to_string(i);
            unlink(out.c_str());
            r[i] = run(std::string(env[i]) + " VXD_ROOT=/ '" + o.tool + "' --input '" + q.input +
                       "' --output '" + out + "' --log '" + log + "' " + q.kind + " 2>/dev/null");
        }
        bool same =
            r[0].status == 0 && r[1].status == 0 && sameFiles(o.dir + "/out0", o.dir + "/out1");
        printf("%-34s %7.2f s (%6.2f) %6.0f MB %7.2f s (%6.2f) %6.0f MB %7.1fx  %s\n", q.name,
               r[0].seconds, r[0].cpu, r[0].megabytes, r[1].seconds, r[1].cpu, r[1].megabytes,
               r[0].seconds / r[1].seconds,
               same                                   ? "same bytes"
               : r[0].status != 0 || r[1].status != 0 ? "failed"
                                                      : "DIFFERENT");
        fflush(stdout);
    }
    cacheRows(o);
    return 0;
}
