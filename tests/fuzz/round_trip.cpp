// Fuzz target: round trips of the lists the console edits. Loaded for editing, a list must hold
// what its file says (no line dropped or merged, names, passwords and permit words as written),
// and saved unchanged and loaded again it must come back as the same table, unless the first
// load refused it (or the save refused it, changing nothing); the group list as a table. Input:
// a selector byte (modulo 3: 0 users and user data, 1 permit file, 2 group list), then the files
// (users split from user data as fuzzSplit does).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lib/vx_err.h"
#include "serverdata/server_data.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

std::string recordText(const UserRecord& u) {
    std::string t;
    for (const char* field :
         {u.name, u.password, u.mailName, u.fullName, u.phone, u.room, u.workPhone, u.comment})
        t += std::string(field) + '\x01';
    return t + std::to_string(u.group) + (u.proxy ? "p" : "") + (u.mail ? "e" : "") +
           (u.super ? "s" : "");
}

std::vector<std::string> usersTable() {
    std::vector<std::string> rows;
    for (int i = 0; i < serverData.users.Count(); i++)
        rows.push_back(recordText(serverData.users[i]));
    return rows;
}

std::vector<std::string> urlsTable() {
    std::vector<std::string> rows;
    for (int i = 0; i < serverData.urls.Count(); i++)
        rows.push_back(serverData.urls[i]);
    return rows;
}

std::string trimRight(std::string text) {
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// What the first load must have taken from the user list: a user for every line with text
// (lines end with LF, CR LF or a CR alone), in order, whose name and password are its first and
// third colon-separated fields (line ends and trailing blanks aside). Nothing dropped or merged.
// A list with a line of colons alone is not judged.
void checkUsersAsWritten(const uint8_t* users, size_t size) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; i++) {
        char c = static_cast<char>(users[i]);
        bool crlf = c == '\r' && i + 1 < size && users[i + 1] == '\n';
        if (c == '\n' || (c == '\r' && !crlf)) {
            lines.emplace_back();
        } else if (!crlf) {
            lines.back() += c;
        }
    }
    int k = 0;
    for (const std::string& line : lines) {
        std::vector<std::string> fields(1);
        for (char c : line) {
            if (c == ':')
                fields.emplace_back();
            else
                fields.back() += c;
        }
        if (line.find_first_not_of(" :") == std::string::npos) {
            if (line.find(':') == std::string::npos) continue; // a blank line
            return; // only colons: empty fields, whose count the splitter decides
        }
        check(k < serverData.users.Count());
        const UserRecord& u = serverData.users[k++];
        check(trimRight(fields[0]) == u.name);
        check(fields.size() < 3 || trimRight(fields[2]) == u.password);
    }
    check(k == serverData.users.Count());
}

void setUp() {
    serverData.Reset();
    vxClearError();
    fakeClear();
    fakeClearUploads();
    serverData.groups.Add("staff", "d", "");
    serverData.groups.Add("guests", "a", "");
}

void usersRoundTrip(const uint8_t* data, size_t size) {
    const uint8_t *users, *userData;
    size_t usersSize, userDataSize;
    fuzzSplit(data, size, &users, &usersSize, &userData, &userDataSize);
    fakeServe("/userdata", userData, userDataSize);
    fakeServe("/users", users, usersSize);
    if (serverData.users.Load(true) != 1) return;
    checkUsersAsWritten(users, usersSize);
    serverData.users.modified = 1;
    if (serverData.users.Save() != 1) return;            // refused: nothing written
    const std::vector<std::string> saved = usersTable(); // sorted by the save
    const std::string usersOut = *fakeUploaded("/users");
    const std::string dataOut = *fakeUploaded("/userdata");
    fakeClear();
    fakeServe("/userdata", reinterpret_cast<const uint8_t*>(dataOut.data()), dataOut.size());
    fakeServe("/users", reinterpret_cast<const uint8_t*>(usersOut.data()), usersOut.size());
    serverData.users.Clear();
    check(serverData.users.Load(true) == 1);
    check(usersTable() == saved);
}

void permitRoundTrip(const uint8_t* data, size_t size) {
    serverData.urls.currentGroup = 0;
    fakeServe("/permit/", data, size);
    if (serverData.urls.Load(true) != 1) return;
    // Every word of the file, as written.
    size_t words = 0;
    for (size_t i = 0; i < size; i++) {
        auto separator = [&](size_t at) {
            return data[at] == ' ' || (data[at] >= '\t' && data[at] <= '\r');
        };
        if (!separator(i) && (i == 0 || separator(i - 1))) {
            size_t end = i;
            while (end < size && !separator(end))
                ++end;
            check(words < static_cast<size_t>(serverData.urls.Count()));
            check(std::string(reinterpret_cast<const char*>(data + i), end - i) ==
                  serverData.urls[static_cast<int>(words++)]);
        }
    }
    check(words == static_cast<size_t>(serverData.urls.Count()));
    serverData.urls.modified = 1;
    if (serverData.urls.Save() != 1) return;
    const std::vector<std::string> saved = urlsTable();
    const std::string out = *fakeUploaded("/permit/");
    fakeClear();
    fakeServe("/permit/", reinterpret_cast<const uint8_t*>(out.data()), out.size());
    serverData.urls.Clear();
    check(serverData.urls.Load(true) == 1);
    check(urlsTable() == saved);
}

std::vector<std::string> groupsTable() {
    std::vector<std::string> rows;
    for (int i = 0; i < serverData.groups.Count(); i++) {
        const GroupRecord& g = serverData.groups[i];
        rows.push_back(std::string(g.name) + '\x01' + g.kind + '\x01' + g.permitPath);
    }
    return rows;
}

void groupsRoundTrip(const uint8_t* data, size_t size) {
    serverData.groups.Clear();
    fakeServe("/groups", data, size);
    if (serverData.groups.Load(true) != 1) return;
    if (serverData.groups.Save() != 1) return;
    const std::vector<std::string> saved = groupsTable(); // sorted by the save
    const std::string out = *fakeUploaded("/groups");
    fakeClear();
    fakeServe("/groups", reinterpret_cast<const uint8_t*>(out.data()), out.size());
    serverData.groups.Clear();
    check(serverData.groups.Load(true) == 1);
    check(groupsTable() == saved);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzzEnterWorkdir();
    setUp();
    switch (data[0] % 3) {
    case 0:
        usersRoundTrip(data + 1, size - 1);
        break;
    case 1:
        permitRoundTrip(data + 1, size - 1);
        break;
    default:
        groupsRoundTrip(data + 1, size - 1);
    }
    return 0;
}
