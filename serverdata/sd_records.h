// The records, bounds and result codes of the proxy server data layer.
#pragma once

#include <cstdint>

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

struct GroupRecord {
    char name[32];
    char kind[8];         // "d" deny list, "a" allow list; only the first byte is tested
    char permitPath[256]; // empty: derived from the permit directory and the name
};

// The longest group name: what its record's member holds.
constexpr int SD_GROUP_NAME_MAX = sizeof GroupRecord::name - 1;

// One server file under the lock protocol: its path on the server and its local working copy.
struct ListFile {
    const char* remote;
    const char* local;
};
