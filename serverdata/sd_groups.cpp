// The group list file and the group table: loading, saving, releasing, exporting, importing and
// the checked editing of the table.
#include <algorithm>
#include <cstring>

#include "lib/txt0.h"
#include "lib/vx_err.h"
#include "serverdata/group_list.h"
#include "serverdata/sd_text.h"

namespace {

constexpr const char* GROUPS_LOCAL = "vx_groups.txt";
constexpr const char* GROUPS_VIEW = "view_vx_groups.txt";

ListFile groupFile() {
    return {sdParam("GROUPLISTFIL", "/l/apache/etc/groups"), GROUPS_LOCAL};
}

// The group list line: name, kind (empty becomes "d"), permit path (empty becomes the derived one)
// in double quotes.
bool writeGroup(FILE* f, const GroupRecord& g) {
    const char* kind = g.kind[0] ? g.kind : "d";
    char derived[256];
    const char* path = g.permitPath;
    if (!path[0])
        path = GroupList::DerivePermitPath(g.name, kind, derived, sizeof derived) ? derived : "";
    return std::fprintf(f, "%s %s \"%s\"\r\n", g.name, kind, path) >= 0;
}

} // namespace

int GroupList::Find(const char* name) const {
    for (int i = 0; i < m_count; i++)
        if (std::strcmp(m_groups[i].name, name) == 0) return i;
    return -1;
}

const char* GroupList::NameOf(int index) const {
    return index >= 0 && index < m_count ? m_groups[index].name : "";
}

// Appends the groups of a group list (every line, as the server holds it) or of an import file
// (entered names: the name rule applies and a name already in the table is skipped). 0, or -1
// (recorded) for a refused line or a full table.
int GroupList::ReadList(FILE* in, bool importing) {
    char line[VX_LINE_BUFFER];
    char* f[4];
    int count, rc;
    const char* what = importing ? "group import" : GROUPS_LOCAL;
    while ((rc = vxReadTextLine(in, line, f, 4, sizeof line, &count)) == 0) {
        if (count == 0) continue;
        const char* kind = count > 1 ? f[1] : "d";
        const char* path = count > 2 ? f[2] : "";
        if (!importing) {
            if (Append(f[0], kind, path) < 0) return -1;
        } else if (Find(f[0]) < 0 && Add(f[0], kind, path) < 0) {
            return -1;
        }
    }
    if (rc == -1) return 0;
    if (rc == -6) sdRefuse(-1, what, "line too long");
    return -1;
}

int GroupList::Load(bool forEditing) {
    ListFile file = groupFile();
    int rc = forEditing ? m_lock.Checkout(file.remote, file.local)
                        : m_lock.FetchForViewing(file.remote, GROUPS_VIEW);
    if (rc < 0) return forEditing ? rc : -1;
    if (rc == 0) {
        m_count = 0;
        return 1;
    }
    const char* local = forEditing ? GROUPS_LOCAL : GROUPS_VIEW;
    FILE* in = std::fopen(local, "rb");
    if (!in) {
        vxSysError(local);
        if (forEditing) m_lock.DropAfterFailure(&file, 1);
        return -2;
    }
    // A load that fails leaves the table as it was.
    static GroupRecord saved[SD_MAX_GROUPS];
    std::copy(m_groups, m_groups + m_count, saved);
    const int32_t savedCount = m_count;
    m_count = 0;
    rc = ReadList(in, false);
    std::fclose(in);
    if (rc < 0) {
        std::copy(saved, saved + savedCount, m_groups);
        m_count = savedCount;
    }
    if (!forEditing)
        sdRemove(GROUPS_VIEW);
    else if (rc < 0)
        m_lock.DropAfterFailure(&file, 1);
    return rc < 0 ? -2 : 1;
}

// Refuses a sorted group table that the post-save command could not take: a name that breaks
// the name rule, a duplicate name, a permit path no server command may carry. -2 (recorded,
// naming the group) or 0.
int GroupList::CheckForSave() const {
    for (int i = 0; i < m_count; i++) {
        const GroupRecord& g = m_groups[i];
        char what[48]; // group "<31 bytes>"
        vxFormat(what, sizeof what, "group \"%s\"", g.name);
        if (SdRefusal r = sdGroupNameProblem(g.name); r != SdRefusal::None)
            return sdRefuse(-2, what, r, g.name);
        if (i > 0 && std::strcmp(m_groups[i - 1].name, g.name) == 0)
            return sdRefuse(-2, what, "the name is in the list twice");
        if (SdRefusal r = g.permitPath[0] ? sdShellPathProblem(g.permitPath) : SdRefusal::None;
            r != SdRefusal::None)
            return sdRefuse(-2, what, r, g.permitPath);
    }
    return 0;
}

int GroupList::Save(const ListFile* first, const char* firstContent) {
    Sort();
    if (CheckForSave() < 0) return -2;
    struct Context {
        const GroupList* list;
        const char* firstContent;
        bool withFirst;
    } context{this, firstContent, first != nullptr};
    ListFile files[2];
    int n = 0;
    if (first) files[n++] = *first;
    files[n++] = groupFile();
    auto write = [](FILE* f, const void* c, int which) {
        const auto& x = *static_cast<const Context*>(c);
        if (x.withFirst && which == 0) return std::fputs(x.firstContent, f) >= 0;
        for (int i = 0; i < x.list->m_count; i++)
            if (!writeGroup(f, x.list->m_groups[i])) return false;
        return true;
    };
    return m_lock.CommitAll(files, n, "GROUPPROC", "grouppen", write, &context);
}

int GroupList::Release() {
    ListFile file = groupFile();
    return m_lock.ReleaseAll(&file, 1);
}

int GroupList::Export(const char* fileName) const {
    auto write = [](FILE* f, const void* c) {
        const GroupList& list = *static_cast<const GroupList*>(c);
        for (int i = 0; i < list.m_count; i++)
            if (std::fprintf(f, "%s %s\r\n", list.m_groups[i].name,
                             list.m_groups[i].kind[0] ? list.m_groups[i].kind : "d") < 0)
                return false;
        return true;
    };
    return sdWriteLocalFile(fileName, write, this) == 0 ? 1 : -2;
}

int GroupList::Import(const char* fileName) {
    FILE* in = std::fopen(fileName, "rb");
    if (!in) {
        vxSysError(fileName);
        return -2;
    }
    int rc = ReadList(in, true);
    std::fclose(in);
    return rc < 0 ? -4 : 1;
}

const char* GroupList::PermitDir(char* out, size_t size) {
    const char* dir = sdParam("PERMITDIR", "/l/apache/etc/permit");
    size_t n = std::strlen(dir);
    if (!vxFormat(out, size, "%s%s", dir, n > 0 && dir[n - 1] == '/' ? "" : "/")) out[0] = '\0';
    return out;
}

bool GroupList::DerivePermitPath(const char* name, const char* kind, char* out, size_t size) {
    char dir[256];
    PermitDir(dir, sizeof dir);
    return dir[0] && vxFormat(out, size, "%s%s%s", dir, name, kind[0] == 'd' ? ".deny" : ".allow");
}

int GroupList::Add(const char* name, const char* kind, const char* permitPath) {
    if (SdRefusal r = sdGroupNameProblem(name); r != SdRefusal::None)
        return sdRefuse(-1, name, r, name);
    if (Find(name) >= 0) return sdRefuse(-1, name, "group already exists");
    if (permitPath && permitPath[0])
        if (SdRefusal r = sdShellPathProblem(permitPath); r != SdRefusal::None)
            return sdRefuse(-1, permitPath, r, permitPath);
    return Append(name, kind, permitPath);
}

// Appends a group as a list file holds it: only what its members must hold is checked (the name
// and path fit, the kind cannot corrupt the line); the name rule waits for the save. An empty
// kind becomes "d", an empty path the derived one. The index used, or -1 (recorded).
int GroupList::Append(const char* name, const char* kind, const char* permitPath) {
    if (!kind || !kind[0]) kind = "d";
    GroupRecord g{};
    if (!name[0] || !vxCopy(g.name, sizeof g.name, name))
        return sdRefuse(-1, name, name[0] ? SdRefusal::GroupNameTooLong : SdRefusal::Name, name);
    if (SdRefusal r = sdKindProblem(kind); r != SdRefusal::None) return sdRefuse(-1, name, r, kind);
    std::strcpy(g.kind, kind); // the check above bounds its length
    if (permitPath && permitPath[0]) {
        if (!vxCopy(g.permitPath, sizeof g.permitPath, permitPath))
            return sdRefuse(-1, name, "permit path too long");
    } else if (!DerivePermitPath(name, kind, g.permitPath, sizeof g.permitPath)) {
        return sdRefuse(-1, name, "permit path too long");
    }
    if (m_count >= SD_MAX_GROUPS)
        return sdRefuse(-1, name, "group table full (at most 128 groups)");
    m_groups[m_count] = g;
    return m_count++;
}

void GroupList::Restore(const GroupRecord* groups, int n) {
    m_count = std::min(n, SD_MAX_GROUPS);
    std::copy(groups, groups + m_count, m_groups);
}

void GroupList::Delete(int index) {
    if (index < 0 || index >= m_count) return;
    int newIndex[SD_MAX_GROUPS];
    for (int i = 0; i < m_count; i++)
        newIndex[i] = i < index ? i : i == index ? -1 : i - 1;
    const int oldCount = m_count;
    std::memmove(&m_groups[index], &m_groups[index + 1],
                 (m_count - index - 1) * sizeof(GroupRecord));
    m_count--;
    if (onRenumber) onRenumber(newIndex, oldCount);
}

void GroupList::Rebuild(const Row* rows, int n) {
    int newIndex[SD_MAX_GROUPS];
    const int oldCount = m_count;
    std::fill(newIndex, newIndex + oldCount, -1);
    m_count = 0;
    for (int i = 0; i < n; i++) {
        int index = Add(rows[i].name, rows[i].kind, "");
        if (rows[i].origin >= 0 && rows[i].origin < oldCount) newIndex[rows[i].origin] = index;
    }
    if (onRenumber) onRenumber(newIndex, oldCount);
}

// Sorts the table by name and tells the holders of group indexes where each group went, so that
// every user keeps the group it had.
void GroupList::Sort() {
    int order[SD_MAX_GROUPS], newIndex[SD_MAX_GROUPS];
    for (int i = 0; i < m_count; i++)
        order[i] = i;
    std::sort(order, order + m_count,
              [this](int a, int b) { return sdLess(m_groups[a].name, m_groups[b].name); });
    static GroupRecord sorted[SD_MAX_GROUPS];
    for (int i = 0; i < m_count; i++) {
        sorted[i] = m_groups[order[i]];
        newIndex[order[i]] = i;
    }
    std::copy(sorted, sorted + m_count, m_groups);
    if (onRenumber) onRenumber(newIndex, m_count);
}
