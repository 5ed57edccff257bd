// Fuzz target: round trips of the files the console reads and writes back. Loaded for editing, a
// list must hold what its file says (no line dropped or merged, names, passwords and permit words
// as written), and saved unchanged and loaded again it must come back as the same table, unless
// the first load refused it (or the save refused it, changing nothing); the group list as a
// table. The working hours and "setup.bin" read back what they wrote. An imported list holds
// what its file says, exported and imported again it is the same table (as far as the export
// format carries it), and saved to the server and loaded again it is the same table too. Input:
// a selector byte (modulo 8: 0 users and user data, 1 permit file, 2 group list, 3 working
// hours, 4 "setup.bin", 5 user import, 6 group import, 7 URL import), then the file (users split
// from user data as fuzzSplit does).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/vx_err.h"
#include "serverdata/line_speeds.h"
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

std::string fileText(const char* path) {
    std::string bytes;
    if (FILE* f = std::fopen(path, "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        std::fclose(f);
    }
    return bytes;
}

void serveText(const char* key, const std::string& text) {
    fakeServe(key, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The working hours: what a load read is what the page shows, and saved as those numbers and
// loaded again it is the same four numbers.
void hoursRoundTrip(const uint8_t* data, size_t size) {
    fakeServe("attandance.txt", data, size);
    int v[4];
    if (serverData.hours.Load(&v[0], &v[1], &v[2], &v[3]) != 0) return;
    const std::string t[4] = {std::to_string(v[0]), std::to_string(v[1]), std::to_string(v[2]),
                              std::to_string(v[3])};
    check(serverData.hours.Save(t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str()) == 0);
    const std::string out = *fakeUploaded("attandance.txt");
    fakeClear();
    serveText("attandance.txt", out);
    int w[4];
    check(serverData.hours.Load(&w[0], &w[1], &w[2], &w[3]) == 0);
    check(std::memcmp(v, w, sizeof v) == 0);
}

// "setup.bin": a record read and written back is the same file, bit for bit (NaNs included).
void setupRoundTrip(const uint8_t* data, size_t size) {
    if (!fuzzWriteFile("setup.bin", data, size)) return;
    LineSpeeds speeds{};
    if (ReadLineSpeeds(speeds) != 0) return;
    check(WriteLineSpeeds(speeds) == 0);
    check(fileText("setup.bin") == std::string(reinterpret_cast<const char*>(data), size));
    LineSpeeds again{};
    check(ReadLineSpeeds(again) == 0);
    check(std::memcmp(&speeds, &again, sizeof speeds) == 0);
}

// A URL import holds every line with text (trailing blanks and the CR of CR LF aside) as a URL,
// in order, a repeated one once.
void checkUrlsAsImported(const uint8_t* data, size_t size) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += static_cast<char>(data[i]);
    }
    std::vector<std::string> expected;
    for (std::string line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = trimRight(line);
        bool known = false;
        for (const std::string& e : expected)
            known = known || e == line;
        if (!line.empty() && !known) expected.push_back(line);
    }
    check(urlsTable() == expected);
}

// A user import holds a user for every line of two fields or more whose name is new, in order,
// with the name, group and password of its first three colon-separated fields (trailing blanks
// aside). Line ends (LF or CR LF) count as blanks, so that only the last line of a file can end
// with an empty field, which does not count.
void checkUsersAsImported(const uint8_t* data, size_t size) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; i++) {
        const char c = static_cast<char>(data[i]);
        lines.back() += c == '\n' || c == '\r' ? ' ' : c;
        if (c == '\n') lines.emplace_back();
    }
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        std::vector<std::string> fields(1);
        for (char c : line) {
            if (c == ':')
                fields.emplace_back();
            else
                fields.back() += c;
        }
        if (fields.back().empty()) fields.pop_back();
        if (fields.size() < 2) continue;
        const std::string name = trimRight(fields[0]);
        bool known = false;
        for (const std::string& n : names)
            known = known || n == name;
        if (known) continue;
        const int k = static_cast<int>(names.size());
        names.push_back(name);
        check(k < serverData.users.Count());
        const UserRecord& u = serverData.users[k];
        check(name == u.name);
        check(serverData.groups.Find(trimRight(fields[1]).c_str()) == u.group);
        check(trimRight(fields.size() > 2 ? fields[2] : "") == u.password);
    }
    check(static_cast<int>(names.size()) == serverData.users.Count());
}

enum class ImportKind { Users, Groups, Urls };

int importInto(ImportKind kind, const char* file) {
    return kind == ImportKind::Users    ? serverData.users.Import(file)
           : kind == ImportKind::Groups ? serverData.groups.Import(file)
                                        : serverData.urls.Import(file);
}

// The table as the export format carries it: a group's permit path is not exported.
std::vector<std::string> importTable(ImportKind kind) {
    if (kind == ImportKind::Users) return usersTable();
    if (kind == ImportKind::Urls) return urlsTable();
    std::vector<std::string> rows;
    for (int i = 0; i < serverData.groups.Count(); i++)
        rows.push_back(std::string(serverData.groups[i].name) + '\x01' + serverData.groups[i].kind);
    return rows;
}

// The server's files of the list, as the fake server received them at the save, served again.
void serveSaved(ImportKind kind) {
    static std::string saved[2];
    const char* keys[2] = {kind == ImportKind::Users    ? "/users"
                           : kind == ImportKind::Groups ? "/groups"
                                                        : "/permit/",
                           kind == ImportKind::Users ? "/userdata" : nullptr};
    for (int i = 0; i < 2 && keys[i]; i++)
        saved[i] = *fakeUploaded(keys[i]);
    fakeClear();
    for (int i = 0; i < 2 && keys[i]; i++)
        serveText(keys[i], saved[i]);
}

// An import into the empty list loaded for editing; then exported and imported again, and saved
// and loaded again.
void importRoundTrip(ImportKind kind, const uint8_t* data, size_t size) {
    if (!fuzzWriteFile("import.txt", data, size)) return;
    serverData.urls.currentGroup = 0;
    if (kind == ImportKind::Groups) serverData.groups.Clear();
    if (kind == ImportKind::Users) check(serverData.users.Load(true) == 1);
    if (kind == ImportKind::Urls) check(serverData.urls.Load(true) == 1);
    if (kind == ImportKind::Groups) check(serverData.groups.Load(true) == 1);
    if (importInto(kind, "import.txt") != 1) return;
    if (kind == ImportKind::Urls) checkUrlsAsImported(data, size);
    if (kind == ImportKind::Users) checkUsersAsImported(data, size);
    const std::vector<std::string> imported = importTable(kind);
    check((kind == ImportKind::Users    ? serverData.users.Export("export.txt")
           : kind == ImportKind::Groups ? serverData.groups.Export("export.txt")
                                        : serverData.urls.Export("export.txt")) == 1);
    int saved = kind == ImportKind::Users    ? serverData.users.Save()
                : kind == ImportKind::Groups ? serverData.groups.Save()
                                             : serverData.urls.Save();
    if (saved == 1) {                                             // a refused save writes nothing
        const std::vector<std::string> table = importTable(kind); // sorted by the save
        serveSaved(kind);
        serverData.users.Clear();
        serverData.urls.Clear();
        if (kind == ImportKind::Users) check(serverData.users.Load(true) == 1);
        if (kind == ImportKind::Urls) check(serverData.urls.Load(true) == 1);
        if (kind == ImportKind::Groups) check(serverData.groups.Load(true) == 1);
        check(importTable(kind) == table);
    }
    serverData.users.Clear();
    serverData.urls.Clear();
    if (kind == ImportKind::Groups) serverData.groups.Clear();
    check(importInto(kind, "export.txt") == 1);
    check(importTable(kind) == imported);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzzEnterWorkdir();
    setUp();
    switch (data[0] % 8) {
    case 0:
        usersRoundTrip(data + 1, size - 1);
        break;
    case 1:
        permitRoundTrip(data + 1, size - 1);
        break;
    case 2:
        groupsRoundTrip(data + 1, size - 1);
        break;
    case 3:
        hoursRoundTrip(data + 1, size - 1);
        break;
    case 4:
        setupRoundTrip(data + 1, size - 1);
        break;
    case 5:
        importRoundTrip(ImportKind::Users, data + 1, size - 1);
        break;
    case 6:
        importRoundTrip(ImportKind::Groups, data + 1, size - 1);
        break;
    default:
        importRoundTrip(ImportKind::Urls, data + 1, size - 1);
    }
    return 0;
}
