// The proxy server data layer: the tables the console edits (users, groups, URLs) and the
// operations that load, save, release, export and import the server's list files under the
// checkout lock protocol.
#pragma once

#include <cstdint>
#include <cstdio>

// Result codes shared by every operation of this layer.
enum SdResult : int {
    SD_DONE = 1,        // "OK !"
    SD_NOTHING = 0,     // nothing there or nothing to do ("OK !")
    SD_SERVER = -1,     // "Hiba a proxy szerveren !"
    SD_LOCAL = -2,      // "Lokális file kezelési hiba !"
    SD_CONCURRENT = -3, // "Konkurens használat !"
    SD_MALFORMED = -4,  // an import stopped at a bad line (or at a table bound)
};

constexpr int SD_MAX_USERS = 1000;
constexpr int SD_MAX_GROUPS = 128;
constexpr int SD_MAX_URLS = 1024;
constexpr int SD_URL_POOL_SIZE = 32768;
constexpr int SD_URL_POOL_USABLE = 32758; // the pool is never filled beyond this many bytes
constexpr int SD_LINE_MAX = 511;          // longest line of the colon-separated lists
constexpr int SD_URL_WORD_MAX = 511; // longest URL: a permit file word, an entry, an import line
constexpr int SD_IMPORT_FIELD_MAX = 128; // longest field of a user import line

// One proxy user. Text members are NUL-ended byte strings of the given capacity.
struct UserRecord {
    char password[256]; // encrypted, as the server's crypt returns it; empty: no password
    char name[256];
    char fullName[64];
    char phone[32];
    char workPhone[32];
    char room[16];
    char comment[64];
    char mailName[32]; // local part of the mail address
    int32_t group;     // index into the group table; -1 when not there
    int32_t proxy;     // right P
    int32_t mail;      // right M (stored as 'e')
    int32_t super;     // right S
};

// The one user table of the program.
struct UserTable {
    UserRecord users[SD_MAX_USERS];
    int32_t count;
};
extern UserTable userTable;

struct GroupRecord {
    char name[32];
    char kind[8];         // "d" deny list, "a" allow list; only the first byte is tested
    char permitPath[256]; // empty: derived from the permit directory and the name
};

// One server file under the lock protocol: its path on the server and its local working copy.
struct ListFile {
    const char* remote;
    const char* local;
};

// The process-wide object of the data layer (see serverData below).
class ServerData {
  public:
    char host[256];
    GroupRecord groups[SD_MAX_GROUPS];
    int32_t groupCount;
    char* urls[SD_MAX_URLS];
    char* poolCursor; // next free byte of urlPool; null before first use
    char urlPool[SD_URL_POOL_SIZE];
    int32_t urlCount;
    int32_t currentGroup; // group whose permit list is in the URL table; -1 none
    int32_t usersModified;
    int32_t urlsModified;
    int32_t SelectedLevel; // 0 user, 1 administrator
    int32_t GrantedLevel;

    // Empties every table and flag (host included); the user table too.
    void Reset();

    // Start-up configuration: loads the parameter source, takes "ProxyServerName", pings the
    // server, fetches and loads its "orvelan.cnf". 0; -1 server or transfer failure; -2 the
    // local parameters are missing.
    int LoadConfig(const char* source);

    // Lock protocol. The local working copy marks the held lock (also for a later run in the same
    // working directory); only a checkout creates it, viewing loads fetch into "view_" copies.
    // Checkout: 1 fetched; 0 no such server file (lock dropped, no local copy);
    // -1 server failure; -3 held by another console. Checkin: 1; 0 upload reported "no such
    // file"; -1. Release: 1 released; 0 no local copy (nothing sent); -1. Restore: always 0.
    int CheckoutFile(const char* server, const char* remotePath, const char* localPath);
    int CheckinFile(const char* server, const char* remotePath, const char* localPath);
    int ReleaseFile(const char* server, const char* remotePath, const char* localPath);
    int RestoreFile(const char* server, const char* remotePath);

    // Users (the group table must be loaded first). Load: 1; -1; -2; -3. Save: 1; 0 nothing
    // changed (released only); -1 server failure or failed post-save command (files stay
    // checked out); -2. Release: 0 or -1. Export: 1 or -2. Import: 1; -2; -4.
    int LoadUsers(bool forEditing);
    int SaveUsers();
    int ReleaseUsers();
    int ExportUsers(const char* fileName);
    int ImportUsers(const char* fileName);

    // Groups. Load: 1; -1; -2; -3. Save: 1; -1; -2. Release: 0 or -1. Export: 1; -2.
    // Import: 1; -2; -4 (a refused line or a full table).
    int LoadGroups(bool forEditing);
    int SaveGroups();
    int ReleaseGroups();
    int ExportGroups(const char* fileName);
    int ImportGroups(const char* fileName);

    // URL list of the current group. Load: 1; 0 no current group; -1; -2; -3; another fetch
    // failure as reported. Save: 1; 0 nothing changed or no current group; -1; -2. Release: 0
    // or -1. Export: 1; -2. Import: 1; -2; -4 (too long or refused line, or a full table).
    int LoadUrls(bool forEditing);
    int SaveUrls();
    int ReleaseUrls();
    int ExportUrls(const char* fileName);
    int ImportUrls(const char* fileName);

    // Passwords. Check: 1 accepted; 0 refused; -1; -2 (level: SelectedLevel).
    // ChangePassword: `encrypted` (capacity encryptedSize) holds the stored password on entry
    // and the new one on success; 1; 0 old password wrong; -1.
    // ChangeConsolePassword: 1; 0 old password wrong; -1; -2; -3.
    int CheckConsolePassword(const char* typed);
    int ChangePassword(const char* oldPlain, const char* newPlain, char* encrypted,
                       size_t encryptedSize);
    int ChangeConsolePassword(const char* oldPlain, const char* newPlain, int level);

    // Working hours in "attandance.txt". Load: 0 read; -1 not available (defaults 8:00 -
    // 16:30 filled in). Save (decimal texts as typed): 0 sent; -1 upload failed; -2 local.
    int LoadWorkingHours(int* startHour, int* startMinute, int* endHour, int* endMinute);
    int SaveWorkingHours(const char* startHour, const char* startMinute, const char* endHour,
                         const char* endMinute);

    // Table editing for the pages. Each refuses text that would corrupt a list file or reach a
    // server command, and stops at the table bounds: the index used, or -1 with the reason
    // recorded (vxLastError).
    int AddUser(const UserRecord& user);
    int SetUser(int index, const UserRecord& user);
    void DeleteUser(int index);
    int AddGroup(const char* name, const char* kind, const char* permitPath);
    void DeleteGroup(int index); // users of the group get -1, later indexes move down
    int AddUrl(const char* url);
    void DeleteUrl(int index);
    void ClearUrls();
    int FindUser(const char* name) const;
    int FindGroup(const char* name) const;

    // Paths from the parameters (or their defaults).
    const char* PermitDir(char* out, size_t size) const; // with its trailing "/"
    bool DerivePermitPath(const char* name, const char* kind, char* out, size_t size) const;

  private:
    int CheckoutAll(const ListFile* files, int n, int* results);
    int CommitAll(const ListFile* files, int n, const char* procKey, const char* procDefault,
                  int (*write)(const ServerData&, FILE*, int which));
    int ReleaseAll(const ListFile* files, int n);
    void DropAfterFailure(const ListFile* files, int n);
    int ReadUsersFiles(bool withData, bool viewing);
    int FetchForViewing(const char* remote, const char* local);
    int ReadGroupList(FILE* in, bool importing);
    int ReadPermitFile(FILE* in);
    void SortGroups();
    int AppendGroup(const char* name, const char* kind, const char* permitPath);
    int CheckGroupsForSave();
    int CheckUsersForSave();
    int AppendUrl(const char* url);
};

extern ServerData serverData;
