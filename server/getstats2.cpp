// Server program "/l/tools/getstats2 data|url|site": the console's traffic statistics over the
// proxy's access log.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "lib/vx_version.h"
#include "server/stats_cache.h"
#include "server/stats_collector.h"
#include "server/stats_files.h"
#include "server/stats_members.h"
#include "server/stats_progress.h"
#include "server/vxd_fs.h"

namespace {

const char kHelp[] =
    "usage: getstats2 [--input PATH] [--output PATH] [--log PATH] data|url|site\n"
    "\n"
    "Reads a statistics query (default /tmp/infile) and writes its result (default\n"
    "/tmp/outfile) from the proxy's access log in Squid's native format.\n"
    "\n"
    "Query, one item a line (LF or CR LF):\n"
    "  start      YYYY-MM-DD HH:MM:SS   local time of the server; seconds are ignored\n"
    "  end        YYYY-MM-DD HH:MM:SS   the end minute is included\n"
    "  resolution 0 minute, 1 ten minutes, 2 hour, 3 day, 4 calendar month\n"
    "  user       optional: only this user's requests (as the console names users);\n"
    "             empty for all users when more lines follow\n"
    "  then optional lines, a keyword and its value:\n"
    "  group NAME the requests of the group's users by the server's user list\n"
    "             (USERLISTFIL of \"orvelan.cnf\", default /l/apache/etc/users) at the\n"
    "             time of the query, super users left out; the lists name the group\n"
    "             in place of its users\n"
    "  lines N    url and site: at most N lines, then one line saying how many lines\n"
    "             and requests were left out (default: every line)\n"
    "\n"
    "Buckets start at the start minute, are as wide as the resolution (days and months\n"
    "follow the local calendar) and run until one covers the end minute (at most 1000000).\n"
    "Every logged request counts, denied ones included; user names logged URL-encoded\n"
    "(\"%20\" for a blank) are decoded; \"-\" is the user of unauthenticated requests.\n"
    "\n"
    "Result:\n"
    "  data  one line per bucket: the bytes delivered to clients in it\n"
    "  url   lines \"user count URL\", sorted by user, then by count (highest first;\n"
    "        equal counts in the order the log first names their site)\n"
    "  site  lines \"user count host\" (for CONNECT host:port the host), sorted likewise\n"
    "A user name holding blanks is written in single quotes; URLs are cut at 400 bytes.\n"
    "\n"
    "The log is ACCESSLOG of \"orvelan.cnf\" in the working directory (default\n"
    "/var/log/squid/access.log) with its rotated files LOG.1, LOG.2.gz, ... (plain or gzip);\n"
    "only files whose time range meets the query are read, and the current log is searched\n"
    "for the range instead of read whole. Paths lie below $VXD_ROOT when it is set.\n"
    "Malformed lines are skipped and counted on standard error.\n"
    "\n"
    "Gzip files are inflated with ISA-L, each on a thread of its own ahead of the file\n"
    "being counted (one per core); the files are counted one after the other, newest\n"
    "first, so the result is that of reading them in turn. A damaged or cut short gzip\n"
    "file is counted up to the damage and named on standard error with what was skipped.\n"
    "\n"
    "Data and site queries keep summaries of the log files in a cache directory,\n"
    "STATSCACHE of \"orvelan.cnf\" (default /var/cache/orvelan, below $VXD_ROOT when\n"
    "set; made 0700, its files 0600): one file a log file, named by its device and\n"
    "inode, holding the bytes per user and minute and the requests per user and site\n"
    "in each hour. A rotated file is summarised once; the current log is summarised\n"
    "up to its last whole line and continued from there by the next query. A file\n"
    "is known by its device, inode, the hashes of its first and last summarised bytes\n"
    "(compressed files also by their size and time), so a rotation, truncation or\n"
    "replaced file is noticed; a cache file that is damaged or not the file's own is\n"
    "rebuilt, never trusted. Only files whose lines are all well formed and in time\n"
    "order are summarised (for them the summary gives exactly what reading gives);\n"
    "other files, and the hours a range covers only in part, are read from the log.\n"
    "The cache takes about 1 to 2% of the size of the logs' text; removing the\n"
    "directory's files clears it (the next query rebuilds what it needs). A cache\n"
    "that cannot be written (a full disk) only makes the queries slower, with a line\n"
    "on standard error. URL queries read the logs.\n"
    "A URL list of a line limit up to 1000000 keeps the text of its URLs out of\n"
    "memory: a plain log's as its place in the log, a compressed log's in an unnamed\n"
    "scratch file in the cache directory (a full disk keeps it in memory); each URL\n"
    "written is read back. When a log is cut short or rewritten meanwhile, the query\n"
    "fails with \"the log changed while it was read\" and is to be asked again.\n"
    "Environment: GETSTATS2_JOBS=N reading threads (default: the cores),\n"
    "GETSTATS2_INFLATE=zlib inflates with zlib instead (for comparison),\n"
    "GETSTATS2_CACHE=off neither uses nor writes the cache.\n"
    "While the logs are read, OUTPUT.progress beside the result holds one line \"read\n"
    "total\": the bytes of the log files read so far and in all (compressed files by\n"
    "their compressed size), replaced at most four times a second and removed at the end.\n"
    "\n"
    "Exit status: 0 done, 1 failure (message on standard error), 2 usage.\n";

int fail(const std::string& text) {
    fprintf(stderr, "getstats2: %s\n", text.c_str());
    return 1;
}

int openRoot(VxdRoot* root) {
    if (getenv("VXD_ROOT")) return vxdOpenRootFromEnv(root);
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return errno;
    return vxdOpenRoot(root, "/", cwd[1] ? cwd + 1 : ".");
}

// Reads a small server file whole (at most max bytes); false when it cannot be read.
bool readSmall(const VxdRoot& root, const char* path, size_t max, std::string* out, int* err) {
    int fd = vxdOpenRegular(root, path);
    if (fd < 0) {
        *err = -fd;
        return false;
    }
    out->assign(max, '\0');
    size_t got = 0;
    ssize_t n;
    while (got < max && (n = read(fd, out->data() + got, max - got)) != 0) {
        if (n < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            close(fd);
            return false;
        }
        got += static_cast<size_t>(n);
    }
    close(fd);
    out->resize(got);
    return true;
}

// ACCESSLOG of the server's parameter file, or the default.
std::string accessLogPath(const VxdRoot& root) {
    return statsParam(root, "ACCESSLOG", "/var/log/squid/access.log");
}

// Writes the result beside path and renames it into place.
int writeResult(const VxdRoot& root, const char* path, StatsCollector&& collector) {
    char name[NAME_MAX + 1];
    char temp[NAME_MAX + 1];
    int dirFd = vxdOpenParent(root, path, name, sizeof name);
    if (dirFd < 0) return -dirFd;
    int fd = vxdCreateTemp(dirFd, temp, sizeof temp, 0644);
    if (fd < 0) {
        close(dirFd);
        return -fd;
    }
    int err = 0;
    FILE* out = fdopen(fd, "w");
    if (!out) {
        err = errno;
        close(fd);
    } else {
        setvbuf(out, nullptr, _IOFBF, 1 << 20);
        if (!std::move(collector).write(out)) err = errno ? errno : EIO;
        if (fclose(out) != 0 && err == 0) err = errno;
    }
    if (err == 0 && renameat(dirFd, temp, dirFd, name) != 0) err = errno;
    if (err != 0) unlinkat(dirFd, temp, 0);
    close(dirFd);
    return err;
}

// Whether the query's buckets start at whole minutes, as the summaries count bytes.
bool wholeMinutes(const std::vector<time_t>& bounds) {
    for (time_t t : bounds)
        if (t % 60 != 0) return false;
    return true;
}

// Opens the cache directory (STATSCACHE of the parameter file) unless GETSTATS2_CACHE=off or it
// is open already; false when there is none to use, with what failed in *error ("" when off).
bool openCache(const VxdRoot& root, StatsCache* cache, std::string* dir, std::string* error) {
    error->clear();
    const char* setting = getenv("GETSTATS2_CACHE");
    if (setting && strcmp(setting, "off") == 0) return false;
    *dir = statsParam(root, "STATSCACHE", STATS_CACHE_DEFAULT);
    return cache->isOpen() || cache->open(root, *dir, error);
}

// The summaries of the log files for a data or site query, from the cache (STATSCACHE of the
// parameter file), unless GETSTATS2_CACHE=off; nullptr: the files are read. With prune, the
// summaries of log files that are gone are removed (not for a log named on the command line,
// whose files are not the server's own set).
std::unique_ptr<StatsCachedLogs> summariesOf(const VxdRoot& root, StatsKind kind,
                                             const std::vector<StatsLogFile>& files,
                                             const StatsCollector& collector, StatsCache* cache,
                                             StatsProgress* progress, bool prune) {
    if (kind == StatsKind::Url) return nullptr;
    const std::vector<const StatsLogFile*> wanted = statsFilesOfRange(files, collector);
    if (wanted.empty() || (kind == StatsKind::Data && !wholeMinutes(collector.bounds())))
        return nullptr;
    std::string dir, error;
    if (!openCache(root, cache, &dir, &error)) {
        if (!error.empty())
            fprintf(stderr, "getstats2: cache %s: %s (the logs are read)\n", dir.c_str(),
                    error.c_str());
        return nullptr;
    }
    auto summaries = std::make_unique<StatsCachedLogs>(
        cache, wanted, collector, kind == StatsKind::Site, statsJobs(), progress);
    if (prune) cache->prune(files);
    return summaries;
}

// A url list of a line limit: the text of the URLs of compressed logs goes to a scratch file in
// the cache directory, not into memory (none with GETSTATS2_CACHE=off, or when the directory
// cannot be used: then the text is kept in memory).
void spillOf(const VxdRoot& root, StatsCollector* collector, StatsCache* cache) {
    std::string dir, error;
    if (!openCache(root, cache, &dir, &error)) return;
    int fd = cache->scratchFile();
    if (fd >= 0) collector->spillTo(fd);
}

struct Options {
    const char* input = "/tmp/infile";
    const char* output = "/tmp/outfile";
    const char* log = nullptr; // nullptr: ACCESSLOG of the parameter file
    StatsKind kind = StatsKind::Data;
};

// The command line into options: -1 to go on, or the exit status (help shown, or a usage error).
int parseOptions(int argc, char** argv, Options* opt) {
    const char* kindArg = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            fputs(kHelp, stdout);
            return 0;
        }
        if ((a == "--input" || a == "--output" || a == "--log") && i + 1 < argc) {
            (a == "--input" ? opt->input : a == "--output" ? opt->output : opt->log) = argv[++i];
        } else if (!kindArg && a[0] != '-') {
            kindArg = argv[i];
        } else {
            fputs(kHelp, stderr);
            return 2;
        }
    }
    if (kindArg && strcmp(kindArg, "data") == 0)
        opt->kind = StatsKind::Data;
    else if (kindArg && strcmp(kindArg, "url") == 0)
        opt->kind = StatsKind::Url;
    else if (kindArg && strcmp(kindArg, "site") == 0)
        opt->kind = StatsKind::Site;
    else {
        fputs(kHelp, stderr);
        return 2;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (vxVersionRequested("getstats2", argc, argv)) return 0;
    Options opt;
    int rc = parseOptions(argc, argv, &opt);
    if (rc >= 0) return rc;
    VxdRoot root;
    int err = openRoot(&root);
    if (err) return fail(std::string("server root: ") + strerror(err));
    std::string text;
    if (!readSmall(root, opt.input, 4096, &text, &err))
        return fail(std::string(opt.input) + ": " + strerror(err));
    StatsQuery query;
    std::string error;
    if (!statsParseQuery(text, &query, &error)) return fail(std::string(opt.input) + ": " + error);
    if (!query.group.empty() && (err = statsSetMembers(root, &query, &error)))
        return fail(error + ": " + strerror(err));
    std::vector<time_t> bounds;
    if (!statsBuckets(query, &bounds, &error)) return fail(error);
    StatsCollector collector(opt.kind, query, std::move(bounds));

    std::string base = opt.log ? opt.log : accessLogPath(root);
    std::vector<StatsLogFile> files;
    std::string failed;
    err = statsOpenLogs(root, base, &files, &failed);
    if (err) {
        for (const StatsLogFile& f : files)
            close(f.fd);
        if (err == EACCES && vxdLeavesRoot(root, failed.c_str()))
            return fail(failed + ": " + strerror(err) + " (a symbolic link leads out of the root " +
                        root.rootPath + ")");
        return fail(failed + ": " + strerror(err));
    }
    if (files.empty()) return fail(base + ": " + strerror(ENOENT));
    StatsCache cache;
    StatsProgress progress(root, opt.output);
    std::unique_ptr<StatsCachedLogs> summaries =
        summariesOf(root, opt.kind, files, collector, &cache, &progress, !opt.log);
    if (collector.keepsTextOut()) spillOf(root, &collector, &cache);
    rc = statsReadLogs(files, &collector, statsJobs(), &progress, summaries.get());
    if (rc != 0) return rc;
    if (collector.overflow())
        return fail("more than 65535 users or 16777215 sites or URLs in the range: query a shorter "
                    "period or one user");
    const char* changed = "the log changed while it was read (cut short, or rotated by copying): "
                          "query again";
    if (!collector.placesKept()) return fail(changed);
    if (collector.malformed() > 0)
        fprintf(stderr, "getstats2: %llu malformed lines skipped\n",
                static_cast<unsigned long long>(collector.malformed()));
    if (collector.outOfOrder() > 0)
        fprintf(stderr, "getstats2: %llu lines out of time order skipped\n",
                static_cast<unsigned long long>(collector.outOfOrder()));
    err = writeResult(root, opt.output, std::move(collector));
    if (err && !collector.placesKept()) return fail(changed); // spent, its strings are there
    if (err) return fail(std::string(opt.output) + ": " + strerror(err));
    return 0;
}
