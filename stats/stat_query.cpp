// The traffic statistics query: query record, query file and the remote sequence.
#include "stats/stat_query.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "stats/stat_result.h"

namespace {

// Writes all of text to fd; false with errno set on failure.
bool writeAll(int fd, const char* text, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, text, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Largest query file: two 21-byte date lines, a code line, a user line, a group line and a
// limit line; names longer than this are not names of the server's lists.
constexpr size_t kUserNameMax = 255;
constexpr size_t kInputMax = 5 * 64 + 2 * kUserNameMax;

// A name of the query file: at most kUserNameMax bytes, no line end.
bool validName(const char* name) {
    return name != nullptr && *name != '\0' && strlen(name) <= kUserNameMax &&
           strpbrk(name, "\r\n") == nullptr;
}

} // namespace

int WriteStatInput(const char* path, const StatQuery& q, const char* userName,
                   const char* groupName) {
    const bool withUser = q.scope == STAT_SCOPE_USER;
    const bool withGroup = q.scope == STAT_SCOPE_GROUP;
    if ((withUser && !validName(userName)) || (withGroup && !validName(groupName))) {
        vxSetError(22, 3, VX_KIND_LIB, "Invalid user or group name for the statistics query");
        return -1;
    }
    char text[kInputMax];
    int n = snprintf(text, sizeof text,
                     "%4d-%02d-%02d %02d:%02d:00\r\n%4d-%02d-%02d %02d:%02d:00\r\n%d\r\n",
                     q.startYear, q.startMonth, q.startDay, q.startHour, q.startMinute, q.endYear,
                     q.endMonth, q.endDay, q.endHour, q.endMinute, q.resolution);
    const bool list = q.kind == STAT_KIND_URL || q.kind == STAT_KIND_SITE;
    // Later lines follow a user line, empty for all users.
    if (n > 0 && (withUser || withGroup || list))
        n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "%s\r\n",
                      withUser ? userName : "");
    if (n > 0 && withGroup)
        n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "group %s\r\n", groupName);
    if (n > 0 && list)
        n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "lines %d\r\n",
                      STAT_QUERY_LINES);
    if (n < 0 || static_cast<size_t>(n) >= sizeof text) {
        vxSetError(12, 3, VX_KIND_LIB, "Statistics query too long");
        return -1;
    }
    char temp[4096];
    if (!vxFormat(temp, sizeof temp, "%s.XXXXXX", path)) {
        vxSetError(36, 3, VX_KIND_OS, "File name too long");
        return -1;
    }
    int fd = mkstemp(temp);
    if (fd < 0) {
        vxSysError(path);
        return -1;
    }
    fchmod(fd, 0644);
    bool ok = writeAll(fd, text, static_cast<size_t>(n));
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(temp, path) != 0) {
        vxSysError(path);
        unlink(temp);
        return -1;
    }
    return 0;
}

const char* StatOutcomeMessage(StatOutcome outcome) {
    switch (outcome) {
    case StatOutcome::Chart:
        return "Lépjen a Grafikonra";
    case StatOutcome::Table:
        return "Lépjen a Táblázatra";
    case StatOutcome::NoServerName:
        return "ProxyServerName !";
    case StatOutcome::SuperUser:
        return "Szuper user !!!";
    case StatOutcome::NoUser:
        return "Nincs kiválasztott felhasználó !";
    case StatOutcome::NoGroup:
        return "Nincs kiválasztott csoport !";
    case StatOutcome::LocalFile:
        return "Lokális file olvasási hiba";
    case StatOutcome::RemoteWrite:
        return "Távoli file írási hiba";
    case StatOutcome::ServerFailed:
        return "Hiba a proxy szerveren";
    }
    return "";
}

const char* StatToolCommand(int kind) {
    if (kind == STAT_KIND_TRAFFIC) return "/l/tools/getstats2 data";
    if (kind == STAT_KIND_URL) return "/l/tools/getstats2 url";
    return "/l/tools/getstats2 site";
}

StatOutcome RunStatQuery(const char* host, const StatRequest& request, StatResult* result) {
    if (host == nullptr || *host == '\0') return StatOutcome::NoServerName;
    const StatQuery& q = request.query;
    const char* userName = "";
    if (q.scope == STAT_SCOPE_USER) {
        if (request.userName == nullptr || *request.userName == '\0') return StatOutcome::NoUser;
        if (request.userIsSuper) return StatOutcome::SuperUser;
        userName = request.userName;
    }
    if (q.scope == STAT_SCOPE_GROUP && (request.groupName == nullptr || *request.groupName == '\0'))
        return StatOutcome::NoGroup;
    if (WriteStatInput(STAT_INPUT_FILE, q, userName, request.groupName) != 0)
        return StatOutcome::LocalFile;
    if (vxPutRemoteFile(host, STAT_INPUT_FILE, STAT_REMOTE_INPUT) != 0)
        return StatOutcome::RemoteWrite;
    int rc;
    {
        // The link's thread waits for the tool; a watch beside it reads its progress.
        std::optional<StatProgressWatch> watch;
        if (request.progress) watch.emplace(host, request.progress, request.progressContext);
        rc = vxRemoteExec(host, StatToolCommand(q.kind));
    }
    if (rc != 0) return StatOutcome::ServerFailed;
    // The result arrives beside the old one and replaces it only when complete, so that a
    // broken transfer leaves the previous result readable.
    char part[64];
    vxFormat(part, sizeof part, "%s.part", STAT_OUTPUT_FILE);
    if (vxGetRemoteFile(host, STAT_REMOTE_OUTPUT, part) != 0) {
        unlink(part);
        return StatOutcome::ServerFailed;
    }
    if (rename(part, STAT_OUTPUT_FILE) != 0) {
        vxSysError(STAT_OUTPUT_FILE);
        unlink(part);
        return StatOutcome::ServerFailed;
    }
    vxRemoteExec(host, "rm /tmp/infile /tmp/outfile");
    ReadStatResult(STAT_OUTPUT_FILE, q, request.superCheck, request.superContext, result);
    result->scopeName = q.scope == STAT_SCOPE_GROUP ? request.groupName : userName;
    return q.kind == STAT_KIND_TRAFFIC ? StatOutcome::Chart : StatOutcome::Table;
}
