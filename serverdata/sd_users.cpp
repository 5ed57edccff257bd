// The user list and user data files: their line formats, and loading, saving, releasing,
// exporting and importing the user table; the checked editing of the table.
#include <algorithm>
#include <cstring>

#include "lib/txt0.h"
#include "lib/vx_err.h"
#include "serverdata/sd_text.h"
#include "serverdata/user_list.h"

namespace {

constexpr const char* USERS_LOCAL = "vx_users.txt";
constexpr const char* USERDATA_LOCAL = "vx_userdata.txt";
// A viewing load fetches into names of its own: the working copies mark the held locks.
constexpr const char* USERS_VIEW = "view_vx_users.txt";
constexpr const char* USERDATA_VIEW = "view_vx_userdata.txt";

// The user list first, then the user data file: the order of check-ins and releases.
void userFiles(ListFile files[2]) {
    files[0] = {sdParam("USERLISTFIL", "/l/apache/etc/users"), USERS_LOCAL};
    files[1] = {sdParam("USERDATALISTFIL", "/l/apache/etc/userdata"), USERDATA_LOCAL};
}

// Copies a field into a member; false (recorded) when it does not fit.
bool setField(char* member, size_t capacity, const char* text, const char* what) {
    if (vxCopy(member, capacity, text)) return true;
    sdRefuse(-1, what, "field too long for its member");
    return false;
}

// Splits one line of a colon-separated list in place; line ends become blanks, trailing blanks
// go. Returns the field count (at most maxWords - 1).
int splitLine(char* line, char** f, int maxWords, bool runs) {
    for (char* p = line; *p; p++)
        if (*p == '\n' || *p == '\r') *p = ' ';
    int n =
        runs ? vxSplitRuns(line, ':', ':', f, maxWords) : vxSplitEvery(line, ':', ':', f, maxWords);
    for (int i = 0; i < n; i++)
        vxTrimRight(f[i]);
    return n;
}

} // namespace

// Fills a record from user list fields 0..5 (and the e-mail name from field 6 unless importing,
// the personal details from fields 6..10 when importing). False when a field does not fit.
bool UserList::Fill(char** f, int n, bool importing, UserRecord& u) const {
    std::memset(&u, 0, sizeof u);
    u.group = n > 1 ? m_groups.Find(f[1]) : -1;
    for (int i = 3; i <= 5 && i < n; i++) {
        if (f[i][0] == 'p') u.proxy = 1;
        if (f[i][0] == 'e') u.mail = 1;
        if (f[i][0] == 's') u.super = 1;
    }
    if (!setField(u.name, sizeof u.name, f[0], "user name")) return false;
    if (n > 2 && !setField(u.password, sizeof u.password, f[2], f[0])) return false;
    if (!importing) return n <= 6 || setField(u.mailName, sizeof u.mailName, f[6], f[0]);
    struct {
        char* member;
        size_t size;
    } details[] = {{u.fullName, sizeof u.fullName},
                   {u.phone, sizeof u.phone},
                   {u.room, sizeof u.room},
                   {u.workPhone, sizeof u.workPhone},
                   {u.comment, sizeof u.comment}};
    for (int i = 6; i <= 10 && i < n; i++)
        if (!setField(details[i - 6].member, details[i - 6].size, f[i], f[0])) return false;
    return true;
}

bool UserList::Append(const UserRecord& u) {
    if (m_table->count >= SD_MAX_USERS) {
        sdRefuse(-1, u.name, "user table full (at most 1000 users)");
        return false;
    }
    m_table->users[m_table->count++] = u;
    return true;
}

// Reads a user list into the emptied table: 0, or -1 (recorded) for a line that does not fit.
int UserList::ReadList(FILE* in) {
    char line[SD_LINE_MAX + 1];
    char* f[9];
    int rc;
    int lineNo = 0;
    m_table->count = 0;
    while ((rc = sdReadLine(in, line, sizeof line, USERS_LOCAL, &lineNo)) == 1) {
        // The splitter takes a quote as grouping, and the writer writes no quotes back.
        if (std::strchr(line, '\''))
            return sdRefuseLine(-1, USERS_LOCAL, lineNo, "a quote (') in a list line");
        int n = splitLine(line, f, 9, false);
        // A blank line has no fields; a line whose first field is empty is a user all the same.
        if (n == 0 || (n == 1 && f[0][0] == '\0')) continue;
        UserRecord u;
        if (!Fill(f, n, false, u) || !Append(u)) return -1;
    }
    return rc;
}

// Reads the user data list into the matching users: 0, or -1 (recorded).
int UserList::ReadData(FILE* in) {
    char line[SD_LINE_MAX + 1];
    char* f[8];
    int rc;
    int lineNo = 0;
    while ((rc = sdReadLine(in, line, sizeof line, USERDATA_LOCAL, &lineNo)) == 1) {
        int n = splitLine(line, f, 8, true);
        int i = n > 0 ? Find(f[0]) : -1;
        if (i < 0) continue;
        UserRecord& u = m_table->users[i];
        char* members[] = {u.fullName, u.phone, u.room, u.workPhone, u.comment};
        size_t sizes[] = {sizeof u.fullName, sizeof u.phone, sizeof u.room, sizeof u.workPhone,
                          sizeof u.comment};
        for (int k = 1; k <= 5 && k < n; k++)
            if (!setField(members[k - 1], sizes[k - 1], f[k], u.name)) return -1;
    }
    return rc;
}

namespace {

bool writeUserListLine(FILE* f, const char* group, const UserRecord& u) {
    return std::fprintf(f, "%s:%s:%s:%s:%s:%s:%s:\r\n", u.name, group, u.password,
                        u.proxy ? "p" : "", u.mail ? "e" : "", u.super ? "s" : "", u.mailName) > 0;
}

bool writeUserDataLine(FILE* f, const UserRecord& u) {
    return std::fprintf(f, "%s :%s :%s :%s :%s :%s \r\n", u.name, u.fullName, u.phone, u.room,
                        u.workPhone, u.comment) > 0;
}

} // namespace

// Writes the user list (which 0) or the user data list (which 1) of the whole table.
bool UserList::Write(FILE* f, const void* list, int which) {
    const UserList& l = *static_cast<const UserList*>(list);
    for (int i = 0; i < l.Count(); i++) {
        const UserRecord& u = l[i];
        if (!(which == 0 ? writeUserListLine(f, l.m_groups.NameOf(u.group), u)
                         : writeUserDataLine(f, u)))
            return false;
    }
    return true;
}

UserList::UserList(CheckoutLock& lock, const GroupList& groups)
    : m_lock(lock), m_groups(groups), m_table(std::make_unique<UserTable>()) {
    m_table->count = 0;
}

// Reads the local copies (the working copies, or the viewing copies) into the table; -2 when the
// user list cannot be opened or read.
int UserList::ReadFiles(bool withData, bool viewing) {
    const char* list = viewing ? USERS_VIEW : USERS_LOCAL;
    FILE* in = std::fopen(list, "rb");
    if (!in) {
        vxSysError(list);
        return -2;
    }
    int rc = ReadList(in);
    std::fclose(in);
    if (rc < 0) return -2;
    const char* data = viewing ? USERDATA_VIEW : USERDATA_LOCAL;
    in = withData ? std::fopen(data, "rb") : nullptr;
    if (!in) return 1; // no user data: the personal details stay empty
    rc = ReadData(in);
    std::fclose(in);
    return rc < 0 ? -2 : 1;
}

ListFile UserList::ListFileOf() {
    ListFile files[2];
    userFiles(files);
    return files[0];
}

int UserList::Load(bool forEditing) {
    ListFile files[2];
    userFiles(files);
    if (forEditing) {
        const ListFile order[2] = {files[1], files[0]}; // user data first
        int got[2];
        int rc = m_lock.CheckoutAll(order, 2, got);
        if (rc < 0) return rc;
        if (got[1] == 0) {
            m_table->count = 0;
            return 1;
        }
        rc = ReadFiles(got[0] == 1, false);
        if (rc < 0) m_lock.DropAfterFailure(files, 2);
        return rc;
    }
    int rc = m_lock.FetchForViewing(files[0].remote, USERS_VIEW);
    if (rc <= 0) {
        if (rc == 0) m_table->count = 0;
        return rc == 0 ? 1 : -1;
    }
    int data = m_lock.FetchForViewing(files[1].remote, USERDATA_VIEW);
    rc = data < 0 ? -1 : ReadFiles(data == 1, true);
    sdRemove(USERS_VIEW);
    sdRemove(USERDATA_VIEW);
    return rc;
}

int UserList::Save() {
    if (!modified) return Release() < 0 ? -1 : 0; // nothing to write: only release
    std::sort(m_table->users, m_table->users + m_table->count,
              [](const UserRecord& a, const UserRecord& b) { return sdLess(a.name, b.name); });
    if (CheckForSave() < 0) return -2;
    ListFile files[2];
    userFiles(files);
    int rc = m_lock.CommitAll(files, 2, "USERPROC", "kaka", Write, this);
    if (rc == 1) modified = 0;
    return rc;
}

// Refuses a sorted user table that the lists or the post-save command could not take: a name
// that breaks the name rule, a field that would corrupt a line, a duplicate name. -2 (recorded,
// naming the user) or 0.
int UserList::CheckForSave() const {
    for (int i = 0; i < m_table->count; i++) {
        const UserRecord& u = m_table->users[i];
        char what[96]; // user "<name cut to 70 bytes>"
        vxFormat(what, sizeof what, "user \"%.70s\"", u.name);
        if (SdRefusal r = sdUserRecordProblem(u); r != SdRefusal::None)
            return sdRefuse(-2, what, r, u.name);
        if (i > 0 && std::strcmp(m_table->users[i - 1].name, u.name) == 0)
            return sdRefuse(-2, what, "the name is in the list twice");
    }
    return 0;
}

int UserList::Release() {
    ListFile files[2];
    userFiles(files);
    if (m_lock.ReleaseAll(files, 2) < 0) return -1;
    modified = 0;
    return 0;
}

int UserList::Export(const char* fileName) const {
    auto write = [](FILE* f, const void* c) {
        const UserList& list = *static_cast<const UserList*>(c);
        for (int i = 0; i < list.Count(); i++) {
            const UserRecord& u = list[i];
            if (std::fprintf(f, "%s:%s:%s:%s:%s:%s:%s :%s :%s :%s :%s \r\n", u.name,
                             list.m_groups.NameOf(u.group), u.password, u.proxy ? "p" : "",
                             u.mail ? "e" : "", u.super ? "s" : "", u.fullName, u.phone, u.room,
                             u.workPhone, u.comment) < 0)
                return false;
        }
        return true;
    };
    return sdWriteLocalFile(fileName, write, this) == 0 ? 1 : -2;
}

int UserList::Import(const char* fileName) {
    FILE* in = std::fopen(fileName, "rb");
    if (!in) {
        vxSysError(fileName);
        return -2;
    }
    char line[SD_LINE_MAX + 1];
    char* f[13];
    int rc = 0, result = 1, lineNo = 0;
    while (result == 1 && (rc = sdReadLine(in, line, sizeof line, fileName, &lineNo)) == 1) {
        // The splitter takes a quote as grouping, which would move the fields that follow; a
        // user field holds no quote.
        if (std::strchr(line, '\'')) {
            result = sdRefuseLine(-4, fileName, lineNo, "a quote (') in a list line");
            break;
        }
        int n = splitLine(line, f, 13, false);
        bool tooLong = false;
        for (int i = 0; i < n; i++)
            tooLong = tooLong || std::strlen(f[i]) > SD_IMPORT_FIELD_MAX;
        if (n > 11 || tooLong) {
            result = sdRefuse(-4, fileName, n > 11 ? "more than 11 fields" : "field too long");
        } else if (n >= 2 && Find(f[0]) < 0) {
            UserRecord u;
            if (!Fill(f, n, true, u) || Add(u) < 0) result = -4;
        }
    }
    std::fclose(in);
    if (result == 1 && rc < 0) result = -4;
    return result;
}

int UserList::Find(const char* name) const {
    for (int i = 0; i < m_table->count; i++)
        if (std::strcmp(m_table->users[i].name, name) == 0) return i;
    return -1;
}

bool UserList::IsSuper(const char* name) const {
    int i = Find(name);
    return i >= 0 && m_table->users[i].super > 0;
}

int UserList::Add(const UserRecord& user) {
    if (SdRefusal r = sdUserRecordProblem(user); r != SdRefusal::None)
        return sdRefuse(-1, user.name, r, user.name);
    if (Find(user.name) >= 0) return sdRefuse(-1, user.name, "user already exists");
    if (m_table->count >= SD_MAX_USERS)
        return sdRefuse(-1, user.name, "user table full (at most 1000 users)");
    m_table->users[m_table->count] = user;
    modified = 1;
    return m_table->count++;
}

int UserList::Set(int index, const UserRecord& user) {
    if (index < 0 || index >= m_table->count) return sdRefuse(-1, user.name, "no such user");
    if (SdRefusal r = sdUserRecordProblem(user); r != SdRefusal::None)
        return sdRefuse(-1, user.name, r, user.name);
    int other = Find(user.name);
    if (other >= 0 && other != index) return sdRefuse(-1, user.name, "user already exists");
    m_table->users[index] = user;
    modified = 1;
    return index;
}

void UserList::Delete(int index) {
    if (index < 0 || index >= m_table->count) return;
    std::memmove(&m_table->users[index], &m_table->users[index + 1],
                 (m_table->count - index - 1) * sizeof(UserRecord));
    m_table->count--;
    modified = 1;
}

void UserList::RenumberGroups(const int* newIndex, int oldCount) {
    for (int i = 0; i < m_table->count; i++) {
        int32_t& g = m_table->users[i].group;
        if (g >= 0 && g < oldCount) g = newIndex[g];
    }
}
