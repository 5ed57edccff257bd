// orvelanctl's traffic statistics: the query from the command line (all users, one user or a
// group), run as the console runs it, and its result as table lines, one line per bucket, or CSV.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "lib/vx_err.h"
#include "serverdata/server_data.h"
#include "stats/stat_progress.h"
#include "stats/stat_query.h"
#include "stats/stat_result.h"
#include "tools/ctl.h"

namespace ctl {

namespace {

// What "stats" was told: the query, the output form and the user it is limited to.
struct StatArgs {
    StatQuery q{};
    bool csv = false;
    const char* user = nullptr;
    const char* group = nullptr;
};

// "YYYY-MM-DD HH:MM" into the query's five fields; false when it is not a valid date and time.
bool parseStatTime(const char* text, int32_t* f) {
    int used = 0;
    if (sscanf(text, "%4d-%2d-%2d %2d:%2d%n", &f[0], &f[1], &f[2], &f[3], &f[4], &used) != 5 ||
        text[used] != '\0')
        return false;
    return f[0] >= 1970 && f[1] >= 1 && f[1] <= 12 && f[2] >= 1 && f[2] <= 31 && f[3] >= 0 &&
           f[3] <= 23 && f[4] >= 0 && f[4] <= 59;
}

// The resolution named on the command line, or -1.
int parseResolution(const std::string& r) {
    return r == "10min"   ? STAT_RES_10MIN
           : r == "hour"  ? STAT_RES_HOUR
           : r == "day"   ? STAT_RES_DAY
           : r == "month" ? STAT_RES_MONTH
                          : -1;
}

// Reads the kind and the options after it; an empty text when they are well formed, else the
// usage error.
std::string parseStatArgs(int argc, char** argv, StatArgs& a) {
    if (argc < 1) return "stats needs data, url or site";
    std::string kind = argv[0];
    a.q.kind = kind == "data" ? STAT_KIND_TRAFFIC : kind == "url" ? STAT_KIND_URL : STAT_KIND_SITE;
    if (kind != "data" && kind != "url" && kind != "site") return "stats needs data, url or site";
    a.q.resolution = STAT_RES_10MIN;
    a.q.scope = STAT_SCOPE_ALL;
    bool from = false, to = false;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        bool more = i + 1 < argc;
        if (opt == "--from" && more) {
            if (!(from = parseStatTime(argv[++i], &a.q.startYear)))
                return "--from needs \"YYYY-MM-DD HH:MM\"";
        } else if (opt == "--to" && more) {
            if (!(to = parseStatTime(argv[++i], &a.q.endYear)))
                return "--to needs \"YYYY-MM-DD HH:MM\"";
        } else if (opt == "--resolution" && more) {
            if ((a.q.resolution = parseResolution(argv[++i])) < 0)
                return "--resolution needs 10min, hour, day or month";
        } else if ((opt == "--user" || opt == "--group") && more) {
            if (a.user || a.group) return "stats takes one --user or one --group";
            (opt == "--user" ? a.user : a.group) = argv[++i];
            a.q.scope = opt == "--user" ? STAT_SCOPE_USER : STAT_SCOPE_GROUP;
        } else if (opt == "--csv") {
            a.csv = true;
        } else {
            return "stats: unexpected " + opt;
        }
    }
    return from && to ? std::string() : "stats needs --from and --to";
}

// The tool's progress on a terminal's standard error: one line, rewritten in place.
void printProgress(uint64_t done, uint64_t total, void* shown) {
    const std::string text = StatProgressText(done, total);
    fprintf(stderr, "\r%-40s", text.c_str());
    fflush(stderr);
    *static_cast<bool*>(shown) = true;
}

// Runs the query as the console does ("statin.txt" up, "statout.txt" back); -1 when the result
// is there to print, else the exit status (with the reason on standard error).
int runQuery(const StatArgs& a, StatResult& result) {
    // The user list tells super users, whose statistics are never shown.
    int rc = serverData.groups.Load(false);
    if (rc >= 0) rc = serverData.users.Load(false);
    if (rc < 0) return report(rc);
    if (a.group && serverData.groups.Find(a.group) < 0) {
        fprintf(stderr, "orvelanctl: no group %s\n", a.group);
        return EXIT_REFUSED;
    }
    StatRequest request{a.q, a.user, a.user && serverData.users.IsSuper(a.user)};
    request.groupName = a.group;
    bool shown = false;
    if (isatty(STDERR_FILENO)) {
        request.progress = printProgress;
        request.progressContext = &shown;
    }
    vxClearError();
    StatOutcome outcome = RunStatQuery(serverData.session.host, request, &result);
    if (shown) fprintf(stderr, "\r%40s\r", ""); // the line is cleared for what follows
    if (outcome == StatOutcome::Chart || outcome == StatOutcome::Table) return -1;
    fprintf(stderr, "%s\n", StatOutcomeMessage(outcome));
    if (outcome == StatOutcome::SuperUser) return EXIT_REFUSED;
    if (vxLastError().code != 0) fprintf(stderr, "  %s\n", vxLastError().text);
    return outcome == StatOutcome::LocalFile ? EXIT_LOCAL : EXIT_SERVER;
}

// The traffic query's buckets (as the query read them), one line each with its label and bytes.
int printBuckets(const StatResult& r, bool csv) {
    if (!r.read) return report(SD_LOCAL);
    for (size_t i = 0; i < r.values.size(); ++i) {
        char line[64];
        snprintf(line, sizeof line, csv ? "%s,%.0f" : "%s  %.0f", r.labels[i].c_str(), r.values[i]);
        emitLine(line);
    }
    if (r.truncated) fprintf(stderr, "orvelanctl: only the first %d buckets\n", STAT_POINTS_MAX);
    return EXIT_OK;
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string csvField(const char* text) {
    if (!strpbrk(text, ",\"\r\n")) return text;
    std::string out = "\"";
    for (const char* p = text; *p; ++p)
        out += *p == '"' ? std::string("\"\"") : std::string(1, *p);
    return out + "\"";
}

// The URL or site query's table, as the table page shows it or as CSV.
int printTable(bool csv) {
    FILE* f = fopen(STAT_OUTPUT_FILE, "rb");
    if (!f) return report(SD_LOCAL);
    char piece[STAT_PIECE_MAX + 1];
    char line[STAT_LINE_MAX];
    while (fgets(piece, sizeof piece, f)) {
        if (!csv) {
            if (StatTableLine(piece, UserList::IsSuperIn, &serverData.users, line, sizeof line))
                emitLine(line);
            continue;
        }
        StatEntry e = StatTableEntry(piece, UserList::IsSuperIn, &serverData.users);
        if (e.kind == StatEntry::Text || e.kind == StatEntry::Note) emitLine(csvField(e.text));
        if (e.kind == StatEntry::Entry)
            emitLine(csvField(e.user) + "," + std::to_string(e.count) + "," + csvField(e.target));
    }
    fclose(f);
    return EXIT_OK;
}

} // namespace

int cmdStats(int argc, char** argv) {
    StatArgs a;
    std::string why = parseStatArgs(argc, argv, a);
    if (!why.empty()) return usage(why.c_str());
    StatResult result;
    int rc = runQuery(a, result);
    if (rc >= 0) return rc;
    return a.q.kind == STAT_KIND_TRAFFIC ? printBuckets(result, a.csv) : printTable(a.csv);
}

} // namespace ctl
