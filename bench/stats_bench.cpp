// Benchmark of the statistics tool: getstats2 over a generated Squid access log of a busy month
// (about 1 GB, 7 million lines), beside wc -l (one pass over the bytes) and the same aggregation
// as a mawk one-liner, with the wall time and peak memory of each run.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/access_log_gen.h"

namespace {

struct Options {
    long lines = 7000000;
    int days = 35;
    std::string dir = "build-bench/stats";
    std::string tool = "build-bench/server/getstats2";
};

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
    time_t from = AccessLogStart() + firstDay * 86400;
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
        if (!GenerateAccessLog(log, o.lines, o.days)) {
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
