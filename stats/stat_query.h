// The traffic statistics query: the query record, the query file "statin.txt" and the
// remote sequence that runs the server's statistics tool and fetches "statout.txt".
#pragma once

#include <cstddef>
#include <cstdint>

#include "stats/stat_progress.h"

// Kinds, resolutions and scopes as the selection page's radio groups code them.
constexpr int STAT_KIND_TRAFFIC = 0;
constexpr int STAT_KIND_URL = 1;
constexpr int STAT_KIND_SITE = 2;
constexpr int STAT_RES_MINUTE = 0;
constexpr int STAT_RES_10MIN = 1;
constexpr int STAT_RES_HOUR = 2;
constexpr int STAT_RES_DAY = 3;
constexpr int STAT_RES_MONTH = 4;
constexpr int STAT_SCOPE_USER = 0;
constexpr int STAT_SCOPE_ALL = 5;
constexpr int STAT_SCOPE_GROUP = -1;

// Local files of the query, in the console's working directory.
constexpr const char* STAT_INPUT_FILE = "statin.txt";
constexpr const char* STAT_OUTPUT_FILE = "statout.txt";
// The tool's files on the server.
constexpr const char* STAT_REMOTE_INPUT = "/tmp/infile";
constexpr const char* STAT_REMOTE_OUTPUT = "/tmp/outfile";

// The last statistics query: thirteen signed 32-bit integers in this order.
struct StatQuery {
    int32_t kind;
    int32_t resolution;
    int32_t scope;
    int32_t startYear, startMonth, startDay, startHour, startMinute;
    int32_t endYear, endMonth, endDay, endHour, endMinute;
};
static_assert(sizeof(StatQuery) == 13 * sizeof(int32_t));

// Lines of a URL or site result the tool writes at most (the table page's limit); the tool adds
// one line on what it left out.
constexpr int STAT_QUERY_LINES = 99999;

// Writes the query file: start and end as "YYYY-MM-DD HH:MM:00", the resolution code, for scope
// STAT_SCOPE_USER the user name; for STAT_SCOPE_GROUP an empty user line and "group NAME"; for a
// URL or site query "lines 99999" (after an empty user line when there is no user). A traffic
// query of all users or of one user has the three or four lines of old. Every line ends with
// CR LF. The file is written complete or left as it was (temporary file and rename). 0, or -1
// with the error recorded (also for a name holding a line end, which would break the file's
// lines).
int WriteStatInput(const char* path, const StatQuery& query, const char* userName,
                   const char* groupName = nullptr);

// Tells whether a user name belongs to a super user (right S); the table drops their lines.
using StatSuperCheck = bool (*)(const char* name, void* context);

// What the selection page hands to a run: the choices and, for scope STAT_SCOPE_USER, the chosen
// user (userName nullptr when no entry of the name list is selected), for STAT_SCOPE_GROUP the
// chosen group (groupName, likewise); superCheck (nullptr: nobody) tells the super users whose
// entries a table result leaves out.
struct StatRequest {
    StatQuery query;
    const char* userName;
    bool userIsSuper;
    StatSuperCheck superCheck = nullptr;
    void* superContext = nullptr;
    const char* groupName = nullptr;
    // Told the tool's progress while it runs longer than a second (nullptr: nobody), on a
    // thread of its own.
    StatProgressSink progress = nullptr;
    void* progressContext = nullptr;
};

struct StatResult;

enum class StatOutcome {
    Chart,        // "Lépjen a Grafikonra": show the chart page
    Table,        // "Lépjen a Táblázatra": show the table page
    NoServerName, // "ProxyServerName !"
    SuperUser,    // "Szuper user !!!"
    NoUser,       // one user asked for but none chosen: nothing is sent
    NoGroup,      // a group asked for but none chosen: nothing is sent
    LocalFile,    // "Lokális file olvasási hiba"
    RemoteWrite,  // "Távoli file írási hiba"
    ServerFailed, // "Hiba a proxy szerveren": the tool failed or its result was not fetched
};

// The status line text of an outcome.
const char* StatOutcomeMessage(StatOutcome outcome);

// Runs a query in the current directory: checks the choices, writes "statin.txt", copies the
// query file to the server, runs "/l/tools/getstats2 data|url|site", fetches the result as
// "statout.txt" (replacing the old one only when the fetch is complete), removes the server's
// two files and reads the fetched file into *result (ReadStatResult). host is the server
// (nullptr or empty: NoServerName). Stops at the first failure, leaving *result as it was;
// nothing is retried, and after a failed tool or fetch the server's files are left for
// inspection. The file stays as the transfer's artifact; what the pages show is *result.
StatOutcome RunStatQuery(const char* host, const StatRequest& request, StatResult* result);

// The server command line of a kind.
const char* StatToolCommand(int kind);
