// The group list file: loading, saving, releasing, exporting and importing the group table.
#include <algorithm>
#include <cstring>

#include "lib/txt0.h"
#include "lib/vx_err.h"
#include "serverdata/sd_text.h"
#include "serverdata/server_data.h"

namespace {

constexpr const char* GROUPS_LOCAL = "vx_groups.txt";
constexpr const char* GROUPS_VIEW = "view_vx_groups.txt";

ListFile groupFile() {
    return {sdParam("GROUPLISTFIL", "/l/apache/etc/groups"), GROUPS_LOCAL};
}

// The group list line: name, kind (empty becomes "d"), permit path (empty becomes the derived one)
// in double quotes.
int writeGroups(const ServerData& sd, FILE* f, int) {
    for (int i = 0; i < sd.groupCount; i++) {
        const GroupRecord& g = sd.groups[i];
        const char* kind = g.kind[0] ? g.kind : "d";
        char derived[256];
        const char* path = g.permitPath;
        if (!path[0])
            path = sd.DerivePermitPath(g.name, kind, derived, sizeof derived) ? derived : "";
        if (std::fprintf(f, "%s %s \"%s\"\r\n", g.name, kind, path) < 0) return -1;
    }
    return 0;
}

} // namespace

// Appends the groups of a group list (every line, as the server holds it) or of an import file
// (entered names: the name rule applies and a name already in the table is skipped). 0, or -1
// (recorded) for a refused line or a full table.
int ServerData::ReadGroupList(FILE* in, bool importing) {
    char line[VX_LINE_BUFFER];
    char* f[4];
    int count, rc;
    const char* what = importing ? "group import" : GROUPS_LOCAL;
    while ((rc = vxReadTextLine(in, line, f, 4, sizeof line, &count)) == 0) {
        if (count == 0) continue;
        const char* kind = count > 1 ? f[1] : "d";
        const char* path = count > 2 ? f[2] : "";
        if (!importing) {
            if (AppendGroup(f[0], kind, path) < 0) return -1;
        } else if (FindGroup(f[0]) < 0 && AddGroup(f[0], kind, path) < 0) {
            return -1;
        }
    }
    if (rc == -1) return 0;
    if (rc == -6) sdRefuse(-1, what, "line too long");
    return -1;
}

int ServerData::LoadGroups(bool forEditing) {
    ListFile file = groupFile();
    int rc = forEditing ? CheckoutFile(host, file.remote, file.local)
                        : FetchForViewing(file.remote, GROUPS_VIEW);
    if (rc < 0) return forEditing ? rc : -1;
    if (rc == 0) {
        groupCount = 0;
        return 1;
    }
    const char* local = forEditing ? GROUPS_LOCAL : GROUPS_VIEW;
    FILE* in = std::fopen(local, "rb");
    if (!in) {
        vxSysError(local);
        if (forEditing) DropAfterFailure(&file, 1);
        return -2;
    }
    // A load that fails leaves the table as it was.
    static GroupRecord saved[SD_MAX_GROUPS];
    std::copy(groups, groups + groupCount, saved);
    const int32_t savedCount = groupCount;
    groupCount = 0;
    rc = ReadGroupList(in, false);
    std::fclose(in);
    if (rc < 0) {
        std::copy(saved, saved + savedCount, groups);
        groupCount = savedCount;
    }
    if (!forEditing)
        sdRemove(GROUPS_VIEW);
    else if (rc < 0)
        DropAfterFailure(&file, 1);
    return rc < 0 ? -2 : 1;
}

// Refuses a sorted group table that the post-save command could not take: a name that breaks
// the name rule, a duplicate name, a permit path no server command may carry. -2 (recorded,
// naming the group) or 0.
int ServerData::CheckGroupsForSave() {
    for (int i = 0; i < groupCount; i++) {
        const GroupRecord& g = groups[i];
        char what[48]; // group "<31 bytes>"
        vxFormat(what, sizeof what, "group \"%s\"", g.name);
        if (const char* problem = sdGroupNameProblem(g.name)) return sdRefuse(-2, what, problem);
        if (i > 0 && std::strcmp(groups[i - 1].name, g.name) == 0)
            return sdRefuse(-2, what, "the name is in the list twice");
        if (const char* problem = g.permitPath[0] ? sdShellPathProblem(g.permitPath) : nullptr)
            return sdRefuse(-2, what, problem);
    }
    return 0;
}

int ServerData::SaveGroups() {
    SortGroups();
    if (CheckGroupsForSave() < 0) return -2;
    ListFile file = groupFile();
    return CommitAll(&file, 1, "GROUPPROC", "grouppen", writeGroups);
}

int ServerData::ReleaseGroups() {
    ListFile file = groupFile();
    return ReleaseAll(&file, 1);
}

int ServerData::ExportGroups(const char* fileName) {
    auto write = [](FILE* f, const void* c) {
        const ServerData& sd = *static_cast<const ServerData*>(c);
        for (int i = 0; i < sd.groupCount; i++)
            if (std::fprintf(f, "%s %s\r\n", sd.groups[i].name,
                             sd.groups[i].kind[0] ? sd.groups[i].kind : "d") < 0)
                return false;
        return true;
    };
    return sdWriteLocalFile(fileName, write, this) == 0 ? 1 : -2;
}

int ServerData::ImportGroups(const char* fileName) {
    FILE* in = std::fopen(fileName, "rb");
    if (!in) {
        vxSysError(fileName);
        return -2;
    }
    int rc = ReadGroupList(in, true);
    std::fclose(in);
    return rc < 0 ? -4 : 1;
}
