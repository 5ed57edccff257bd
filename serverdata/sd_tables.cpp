// The process-wide ServerData object and the checked editing of its tables.
#include <algorithm>
#include <cstring>

#include "lib/vx_err.h"
#include "serverdata/sd_text.h"
#include "serverdata/server_data.h"

ServerData serverData;

void ServerData::Reset() {
    std::memset(this, 0, sizeof *this);
    currentGroup = -1;
    userTable.count = 0;
}

int ServerData::FindUser(const char* name) const {
    for (int i = 0; i < userTable.count; i++)
        if (std::strcmp(userTable.users[i].name, name) == 0) return i;
    return -1;
}

int ServerData::FindGroup(const char* name) const {
    for (int i = 0; i < groupCount; i++)
        if (std::strcmp(groups[i].name, name) == 0) return i;
    return -1;
}

int ServerData::AddUser(const UserRecord& user) {
    if (const char* problem = sdUserRecordProblem(user)) return sdRefuse(-1, user.name, problem);
    if (FindUser(user.name) >= 0) return sdRefuse(-1, user.name, "user already exists");
    if (userTable.count >= SD_MAX_USERS)
        return sdRefuse(-1, user.name, "user table full (at most 1000 users)");
    userTable.users[userTable.count] = user;
    usersModified = 1;
    return userTable.count++;
}

int ServerData::SetUser(int index, const UserRecord& user) {
    if (index < 0 || index >= userTable.count) return sdRefuse(-1, user.name, "no such user");
    if (const char* problem = sdUserRecordProblem(user)) return sdRefuse(-1, user.name, problem);
    int other = FindUser(user.name);
    if (other >= 0 && other != index) return sdRefuse(-1, user.name, "user already exists");
    userTable.users[index] = user;
    usersModified = 1;
    return index;
}

void ServerData::DeleteUser(int index) {
    if (index < 0 || index >= userTable.count) return;
    std::memmove(&userTable.users[index], &userTable.users[index + 1],
                 (userTable.count - index - 1) * sizeof(UserRecord));
    userTable.count--;
    usersModified = 1;
}

const char* ServerData::PermitDir(char* out, size_t size) const {
    const char* dir = sdParam("PERMITDIR", "/l/apache/etc/permit");
    size_t n = std::strlen(dir);
    if (!vxFormat(out, size, "%s%s", dir, n > 0 && dir[n - 1] == '/' ? "" : "/")) out[0] = '\0';
    return out;
}

bool ServerData::DerivePermitPath(const char* name, const char* kind, char* out,
                                  size_t size) const {
    char dir[256];
    PermitDir(dir, sizeof dir);
    return dir[0] && vxFormat(out, size, "%s%s%s", dir, name, kind[0] == 'd' ? ".deny" : ".allow");
}

int ServerData::AddGroup(const char* name, const char* kind, const char* permitPath) {
    if (const char* problem = sdGroupNameProblem(name)) return sdRefuse(-1, name, problem);
    if (FindGroup(name) >= 0) return sdRefuse(-1, name, "group already exists");
    if (permitPath && permitPath[0])
        if (const char* problem = sdShellPathProblem(permitPath))
            return sdRefuse(-1, permitPath, problem);
    return AppendGroup(name, kind, permitPath);
}

// Appends a group as a list file holds it: only what its members must hold is checked (the name
// and path fit, the kind cannot corrupt the line); the name rule waits for the save. An empty
// kind becomes "d", an empty path the derived one. The index used, or -1 (recorded).
int ServerData::AppendGroup(const char* name, const char* kind, const char* permitPath) {
    if (!kind || !kind[0]) kind = "d";
    GroupRecord g{};
    if (!name[0] || !vxCopy(g.name, sizeof g.name, name))
        return sdRefuse(-1, name, name[0] ? "group name longer than 31 bytes" : "empty name");
    if (const char* problem = sdKindProblem(kind)) return sdRefuse(-1, name, problem);
    std::strcpy(g.kind, kind); // the check above bounds its length
    if (permitPath && permitPath[0]) {
        if (!vxCopy(g.permitPath, sizeof g.permitPath, permitPath))
            return sdRefuse(-1, name, "permit path too long");
    } else if (!DerivePermitPath(name, kind, g.permitPath, sizeof g.permitPath)) {
        return sdRefuse(-1, name, "permit path too long");
    }
    if (groupCount >= SD_MAX_GROUPS)
        return sdRefuse(-1, name, "group table full (at most 128 groups)");
    groups[groupCount] = g;
    return groupCount++;
}

void ServerData::DeleteGroup(int index) {
    if (index < 0 || index >= groupCount) return;
    std::memmove(&groups[index], &groups[index + 1],
                 (groupCount - index - 1) * sizeof(GroupRecord));
    groupCount--;
    for (int i = 0; i < userTable.count; i++) {
        int32_t& g = userTable.users[i].group;
        if (g == index)
            g = -1;
        else if (g > index)
            g--;
    }
    if (currentGroup == index)
        currentGroup = -1;
    else if (currentGroup > index)
        currentGroup--;
}

// Sorts the group table by name and moves the users' group indexes and the current group along,
// so that every user keeps the group it had.
void ServerData::SortGroups() {
    int order[SD_MAX_GROUPS], newIndex[SD_MAX_GROUPS];
    for (int i = 0; i < groupCount; i++)
        order[i] = i;
    std::sort(order, order + groupCount,
              [this](int a, int b) { return sdLess(groups[a].name, groups[b].name); });
    static GroupRecord sorted[SD_MAX_GROUPS];
    for (int i = 0; i < groupCount; i++) {
        sorted[i] = groups[order[i]];
        newIndex[order[i]] = i;
    }
    std::copy(sorted, sorted + groupCount, groups);
    for (int i = 0; i < userTable.count; i++) {
        int32_t& g = userTable.users[i].group;
        if (g >= 0 && g < groupCount) g = newIndex[g];
    }
    if (currentGroup >= 0 && currentGroup < groupCount) currentGroup = newIndex[currentGroup];
}

int ServerData::AddUrl(const char* url) {
    if (const char* problem = sdUrlProblem(url)) return sdRefuse(-1, url, problem);
    return AppendUrl(url);
}

// Appends a URL to the pool and the table: the index used, or -1 (recorded) at their bounds.
int ServerData::AppendUrl(const char* url) {
    if (urlCount >= SD_MAX_URLS) return sdRefuse(-1, url, "URL table full (at most 1024 URLs)");
    if (!poolCursor) poolCursor = urlPool;
    size_t n = std::strlen(url) + 1;
    if (poolCursor - urlPool + n > static_cast<size_t>(SD_URL_POOL_USABLE))
        return sdRefuse(-1, url, "URL pool full (32758 bytes)");
    std::memcpy(poolCursor, url, n);
    urls[urlCount] = poolCursor;
    poolCursor += n;
    urlsModified = 1;
    return urlCount++;
}

void ServerData::DeleteUrl(int index) {
    if (index < 0 || index >= urlCount) return;
    std::memmove(&urls[index], &urls[index + 1], (urlCount - index - 1) * sizeof(char*));
    urlCount--;
    urlsModified = 1;
}

void ServerData::ClearUrls() {
    poolCursor = urlPool;
    urlCount = 0;
}
