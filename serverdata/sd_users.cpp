// The user list and user data files: their line formats, and loading, saving, releasing,
// exporting and importing the user table.
#include <algorithm>
#include <cstring>

#include "lib/txt0.h"
#include "lib/vx_err.h"
#include "serverdata/sd_text.h"
#include "serverdata/server_data.h"

UserTable userTable;

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

// Fills a record from user list fields 0..5 (and the e-mail name from field 6 unless importing,
// the personal details from fields 6..10 when importing). False when a field does not fit.
bool fillUser(const ServerData& sd, char** f, int n, bool importing, UserRecord& u) {
    std::memset(&u, 0, sizeof u);
    u.group = n > 1 ? sd.FindGroup(f[1]) : -1;
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

bool appendUser(const UserRecord& u) {
    if (userTable.count >= SD_MAX_USERS) {
        sdRefuse(-1, u.name, "user table full (at most 1000 users)");
        return false;
    }
    userTable.users[userTable.count++] = u;
    return true;
}

// Reads a user list into the emptied table: 0, or -1 (recorded) for a line that does not fit.
int readUserList(const ServerData& sd, FILE* in) {
    char line[SD_LINE_MAX + 1];
    char* f[9];
    int rc;
    userTable.count = 0;
    while ((rc = sdReadLine(in, line, sizeof line, USERS_LOCAL)) == 1) {
        int n = splitLine(line, f, 9, false);
        // A blank line has no fields; a line whose first field is empty is a user all the same.
        if (n == 0 || (n == 1 && f[0][0] == '\0')) continue;
        UserRecord u;
        if (!fillUser(sd, f, n, false, u) || !appendUser(u)) return -1;
    }
    return rc;
}

// Reads the user data list into the matching users: 0, or -1 (recorded).
int readUserData(const ServerData& sd, FILE* in) {
    char line[SD_LINE_MAX + 1];
    char* f[8];
    int rc;
    while ((rc = sdReadLine(in, line, sizeof line, USERDATA_LOCAL)) == 1) {
        int n = splitLine(line, f, 8, true);
        int i = n > 0 ? sd.FindUser(f[0]) : -1;
        if (i < 0) continue;
        UserRecord& u = userTable.users[i];
        char* members[] = {u.fullName, u.phone, u.room, u.workPhone, u.comment};
        size_t sizes[] = {sizeof u.fullName, sizeof u.phone, sizeof u.room, sizeof u.workPhone,
                          sizeof u.comment};
        for (int k = 1; k <= 5 && k < n; k++)
            if (!setField(members[k - 1], sizes[k - 1], f[k], u.name)) return -1;
    }
    return rc;
}

const char* groupName(const ServerData& sd, int index) {
    return index >= 0 && index < sd.groupCount ? sd.groups[index].name : "";
}

bool writeUserListLine(FILE* f, const ServerData& sd, const UserRecord& u) {
    return std::fprintf(f, "%s:%s:%s:%s:%s:%s:%s:\r\n", u.name, groupName(sd, u.group), u.password,
                        u.proxy ? "p" : "", u.mail ? "e" : "", u.super ? "s" : "", u.mailName) > 0;
}

bool writeUserDataLine(FILE* f, const UserRecord& u) {
    return std::fprintf(f, "%s :%s :%s :%s :%s :%s \r\n", u.name, u.fullName, u.phone, u.room,
                        u.workPhone, u.comment) > 0;
}

// Writes the user list (which 0) or the user data list (which 1) of the whole table.
int writeUsers(const ServerData& sd, FILE* f, int which) {
    for (int i = 0; i < userTable.count; i++) {
        const UserRecord& u = userTable.users[i];
        if (!(which == 0 ? writeUserListLine(f, sd, u) : writeUserDataLine(f, u))) return -1;
    }
    return 0;
}

} // namespace

// Reads the local copies (the working copies, or the viewing copies) into the table; -2 when the
// user list cannot be opened or read.
int ServerData::ReadUsersFiles(bool withData, bool viewing) {
    const char* list = viewing ? USERS_VIEW : USERS_LOCAL;
    FILE* in = std::fopen(list, "rb");
    if (!in) {
        vxSysError(list);
        return -2;
    }
    int rc = readUserList(*this, in);
    std::fclose(in);
    if (rc < 0) return -2;
    const char* data = viewing ? USERDATA_VIEW : USERDATA_LOCAL;
    in = withData ? std::fopen(data, "rb") : nullptr;
    if (!in) return 1; // no user data: the personal details stay empty
    rc = readUserData(*this, in);
    std::fclose(in);
    return rc < 0 ? -2 : 1;
}

int ServerData::LoadUsers(bool forEditing) {
    ListFile files[2];
    userFiles(files);
    if (forEditing) {
        const ListFile order[2] = {files[1], files[0]}; // user data first
        int got[2];
        int rc = CheckoutAll(order, 2, got);
        if (rc < 0) return rc;
        if (got[1] == 0) {
            userTable.count = 0;
            return 1;
        }
        rc = ReadUsersFiles(got[0] == 1, false);
        if (rc < 0) DropAfterFailure(files, 2);
        return rc;
    }
    int rc = FetchForViewing(files[0].remote, USERS_VIEW);
    if (rc <= 0) {
        if (rc == 0) userTable.count = 0;
        return rc == 0 ? 1 : -1;
    }
    int data = FetchForViewing(files[1].remote, USERDATA_VIEW);
    rc = data < 0 ? -1 : ReadUsersFiles(data == 1, true);
    sdRemove(USERS_VIEW);
    sdRemove(USERDATA_VIEW);
    return rc;
}

int ServerData::SaveUsers() {
    if (!usersModified) return ReleaseUsers() < 0 ? -1 : 0; // nothing to write: only release
    std::sort(userTable.users, userTable.users + userTable.count,
              [](const UserRecord& a, const UserRecord& b) { return sdLess(a.name, b.name); });
    if (CheckUsersForSave() < 0) return -2;
    ListFile files[2];
    userFiles(files);
    int rc = CommitAll(files, 2, "USERPROC", "kaka", writeUsers);
    if (rc == 1) usersModified = 0;
    return rc;
}

// Refuses a sorted user table that the lists or the post-save command could not take: a name
// that breaks the name rule, a field that would corrupt a line, a duplicate name. -2 (recorded,
// naming the user) or 0.
int ServerData::CheckUsersForSave() {
    for (int i = 0; i < userTable.count; i++) {
        const UserRecord& u = userTable.users[i];
        char what[96]; // user "<name cut to 70 bytes>"
        vxFormat(what, sizeof what, "user \"%.70s\"", u.name);
        if (const char* problem = sdUserRecordProblem(u)) return sdRefuse(-2, what, problem);
        if (i > 0 && std::strcmp(userTable.users[i - 1].name, u.name) == 0)
            return sdRefuse(-2, what, "the name is in the list twice");
    }
    return 0;
}

int ServerData::ReleaseUsers() {
    ListFile files[2];
    userFiles(files);
    if (ReleaseAll(files, 2) < 0) return -1;
    usersModified = 0;
    return 0;
}

int ServerData::ExportUsers(const char* fileName) {
    auto write = [](FILE* f, const void* c) {
        const ServerData& sd = *static_cast<const ServerData*>(c);
        for (int i = 0; i < userTable.count; i++) {
            const UserRecord& u = userTable.users[i];
            if (std::fprintf(f, "%s:%s:%s:%s:%s:%s:%s :%s :%s :%s :%s \r\n", u.name,
                             groupName(sd, u.group), u.password, u.proxy ? "p" : "",
                             u.mail ? "e" : "", u.super ? "s" : "", u.fullName, u.phone, u.room,
                             u.workPhone, u.comment) < 0)
                return false;
        }
        return true;
    };
    return sdWriteLocalFile(fileName, write, this) == 0 ? 1 : -2;
}

int ServerData::ImportUsers(const char* fileName) {
    FILE* in = std::fopen(fileName, "rb");
    if (!in) {
        vxSysError(fileName);
        return -2;
    }
    char line[SD_LINE_MAX + 1];
    char* f[13];
    int rc = 0, result = 1;
    while (result == 1 && (rc = sdReadLine(in, line, sizeof line, fileName)) == 1) {
        int n = splitLine(line, f, 13, false);
        bool tooLong = false;
        for (int i = 0; i < n; i++)
            tooLong = tooLong || std::strlen(f[i]) > SD_IMPORT_FIELD_MAX;
        if (n > 11 || tooLong) {
            result = sdRefuse(-4, fileName, n > 11 ? "more than 11 fields" : "field too long");
        } else if (n >= 2 && FindUser(f[0]) < 0) {
            UserRecord u;
            if (!fillUser(*this, f, n, true, u) || AddUser(u) < 0) result = -4;
        }
    }
    std::fclose(in);
    if (result == 1 && rc < 0) result = -4;
    return result;
}
