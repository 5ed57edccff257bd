// Benchmark of the statistics tool: getstats2 over a generated Squid access log of a busy month
// (about 1 GB, 7 million lines), beside wc -l (one pass over the bytes) and the same aggregation
// as a mawk one-liner, with the wall time and peak memory of each run.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Options {
    long lines = 7000000;
    int days = 35;
    std::string dir = "build-bench/stats";
    std::string tool = "build-bench/server/getstats2";
};

uint64_t g_state = 88172645463325252ull;
uint64_t next() {
    g_state ^= g_state << 13;
    g_state ^= g_state >> 7;
    g_state ^= g_state << 17;
    return g_state;
}
double uniform() {
    return static_cast<double>(next() >> 11) / 9007199254740992.0;
}

time_t localStart() {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 3; // 1 April 2024
    tm.tm_mday = 1;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

// The k-th usual site of user u: popular sites are everybody's, the tail differs per user.
int favourite(int u, int k) {
    uint64_t x = static_cast<uint64_t>(u) * 1000003u + static_cast<uint64_t>(k) * 7919u + 17;
    x ^= x >> 31;
    x *= 0x9e3779b97f4a7c15ull;
    x ^= x >> 29;
    double r = static_cast<double>(x >> 11) / 9007199254740992.0;
    return static_cast<int>(30000 * std::pow(r, 2.0));
}

// Writes the log: time-ordered lines over the days, 400 users (a few logged URL-encoded, some
// unauthenticated), 30,000 sites with a skewed popularity, CONNECT tunnels, timeouts, sizes
// beyond 4 GB now and then and a malformed line in a million.
bool generate(const Options& o, const std::string& path) {
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return false;
    setvbuf(f, nullptr, _IOFBF, 1 << 20);
    const double span = o.days * 86400.0;
    const double start = static_cast<double>(localStart());
    char user[32];
    char url[96];
    for (long i = 0; i < o.lines; ++i) {
        double t = start + span * static_cast<double>(i) / static_cast<double>(o.lines);
        int u = static_cast<int>(400 * std::pow(uniform(), 1.5));
        if (uniform() < 0.03)
            snprintf(user, sizeof user, "-");
        else if (u % 40 == 7)
            snprintf(user, sizeof user, "vendeg%%20%03d", u);
        else
            snprintf(user, sizeof user, "user%03d", u);
        // Most requests go to one of the user's 40 usual sites, the rest anywhere.
        int site = uniform() < 0.85 ? favourite(u, static_cast<int>(40 * uniform() * uniform()))
                                    : static_cast<int>(30000 * std::pow(uniform(), 3.0));
        bool tunnel = uniform() < 0.15;
        const char* method = tunnel ? "CONNECT" : "GET";
        if (tunnel)
            snprintf(url, sizeof url, "www.site%05d.hu:443", site);
        else if (uniform() < 0.1) // API calls and adverts: URLs seen once or twice
            snprintf(url, sizeof url, "http://www.site%05d.hu/api?id=%d", site,
                     static_cast<int>(next() % 2000000));
        else
            snprintf(url, sizeof url, "http://www.site%05d.hu/p/%d.html", site,
                     static_cast<int>(3000 * std::pow(uniform(), 4.0)));
        uint64_t bytes = static_cast<uint64_t>(300 + 400000 * uniform() * uniform());
        if (next() % 100000 == 0) bytes += 5000000000ull;
        const char* hier = uniform() < 0.01 ? "TIMEOUT_DIRECT" : "HIER_DIRECT";
        if (next() % 1000000 == 0) fputs("this line is not a log line\n", f);
        fprintf(f, "%.3f %6d 192.168.%d.%d TCP_MISS/200 %llu %s %s %s %s/93.184.%d.%d text/html\n",
                t, static_cast<int>(next() % 90000), static_cast<int>(next() % 4),
                static_cast<int>(next() % 250) + 2, static_cast<unsigned long long>(bytes), method,
                url, user, hier, static_cast<int>(next() % 250), static_cast<int>(next() % 250));
    }
    return fclose(f) == 0;
}

struct Run {
    double seconds = 0;
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
    r.megabytes = static_cast<double>(ru.ru_maxrss) / 1024.0;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

void print(const char* name, const Run& r, const Run* baseline) {
    printf("%-46s %7.2f s %7.0f MB", name, r.seconds, r.megabytes);
    if (baseline) printf("   %5.1fx faster than mawk", baseline->seconds / r.seconds);
    if (r.status != 0) printf("   (exit status %d)", r.status);
    printf("\n");
}

std::string writeQuery(const Options& o, const std::string& name, int firstDay, int days,
                       int resolution) {
    time_t from = localStart() + firstDay * 86400;
    time_t to = from + days * 86400 - 60;
    char a[32];
    char b[32];
    strftime(a, sizeof a, "%Y-%m-%d %H:%M:00", localtime(&from));
    strftime(b, sizeof b, "%Y-%m-%d %H:%M:00", localtime(&to));
    std::string path = o.dir + "/" + name;
    FILE* f = fopen(path.c_str(), "w");
    fprintf(f, "%s\r\n%s\r\n%d\r\n", a, b, resolution);
    fclose(f);
    return path;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--lines") o.lines = atol(argv[i + 1]);
        if (a == "--days") o.days = atoi(argv[i + 1]);
        if (a == "--dir") o.dir = argv[i + 1];
        if (a == "--tool") o.tool = argv[i + 1];
    }
    mkdir(o.dir.c_str(), 0755);
    const std::string log = o.dir + "/access.log";
    const std::string mark = log + "." + std::to_string(o.lines) + "-" + std::to_string(o.days);
    struct stat st;
    if (stat(mark.c_str(), &st) != 0) {
        printf("generating %ld lines over %d days into %s ...\n", o.lines, o.days, log.c_str());
        fflush(stdout);
        if (!generate(o, log)) {
            perror(log.c_str());
            return 1;
        }
        fclose(fopen(mark.c_str(), "w"));
    }
    stat(log.c_str(), &st);
    printf("log: %s, %.2f GB, %ld lines, %d days\n\n", log.c_str(),
           static_cast<double>(st.st_size) / 1e9, o.lines, o.days);
    run("cat '" + log + "' > /dev/null"); // into the page cache

    const std::string whole = writeQuery(o, "whole.in", 0, o.days, 1);
    const std::string day = writeQuery(o, "day.in", o.days / 2, 1, 1);
    const std::string out = o.dir + "/out";
    // The console removes the result after each query, so that the tool writes a new file (the
    // time of freeing an earlier result of hundreds of MB is no part of the query).
    auto tool = [&](const std::string& in, const char* kind) {
        unlink(out.c_str());
        return run("VXD_ROOT=/ '" + o.tool + "' --input '" + in + "' --output '" + out +
                   "' --log '" + log + "' " + kind);
    };
    const std::string q = "'" + log + "'";
    Run wc = run("wc -l " + q + " > /dev/null");
    Run awkData = run("mawk '{b[$8]+=$5} END{for(u in b) print u, b[u]}' " + q + " > /dev/null");
    Run awkSite = run("mawk '{s=$7; if ($6!=\"CONNECT\") {sub(/^[a-z]*:\\/\\//,\"\",s); "
                      "sub(/\\/.*/,\"\",s)} sub(/:.*/,\"\",s); c[$8\" \"s]++} "
                      "END{for(k in c) print k, c[k]}' " +
                      q + " > /dev/null");
    Run awkUrl =
        run("mawk '{c[$8\" \"$7]++} END{for(k in c) print k, c[k]}' " + q + " > /dev/null");
    Run data = tool(whole, "data");
    Run site = tool(whole, "site");
    Run url = tool(whole, "url");
    Run dayData = tool(day, "data");
    Run dayUrl = tool(day, "url");

    print("wc -l (one pass over the bytes)", wc, nullptr);
    print("mawk: bytes per user", awkData, nullptr);
    print("mawk: requests per user and site", awkSite, nullptr);
    print("mawk: requests per user and URL", awkUrl, nullptr);
    print("getstats2 data, whole period per 10 minutes", data, &awkData);
    print("getstats2 site, whole period", site, &awkSite);
    print("getstats2 url, whole period", url, &awkUrl);
    print("getstats2 data, one day per 10 minutes", dayData, nullptr);
    print("getstats2 url, one day", dayUrl, nullptr);
    return 0;
}
