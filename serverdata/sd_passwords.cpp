// Console password files and password changes through the server's crypt.
#include <cstring>
#include <sys/stat.h>

#include "lib/vx_err.h"
#include "params/def.h"
#include "remote/vx_remote.h"
#include "serverdata/console_passwords.h"
#include "serverdata/sd_text.h"

namespace {

constexpr const char* PASSWD_LOCAL = "empasswd.txt";
constexpr const char* PASSWD_VIEW = "view_empasswd.txt"; // a check never touches a held copy
constexpr const char* NEW_SALT = "wj"; // every new password is encrypted with this salt

const char* passwordPath(int level) {
    return level == 1 ? sdParam("MainAdminPasswdFile", "/l/apache/etc/ampasswd")
                      : sdParam("MainPasswdFile", "/l/apache/etc/empasswd");
}

void cutAtLineEnd(char* text) {
    text[std::strcspn(text, "\r\n")] = '\0';
}

// The first line of a local password file (at most 511 bytes), cut at its line end; empty when
// there is none. False when the file cannot be opened.
bool readStoredPassword(const char* path, char* out, size_t size) {
    FILE* in = std::fopen(path, "rb");
    if (!in) {
        vxSysError(path);
        return false;
    }
    if (!std::fgets(out, static_cast<int>(size), in)) out[0] = '\0';
    std::fclose(in);
    cutAtLineEnd(out);
    return true;
}

// Writes a password file: the encrypted text without a line end, owner-only permissions.
int writePasswordFile(const char* path, const char* encrypted) {
    auto write = [](FILE* f, const void* c) {
        const char* text = static_cast<const char*>(c);
        return std::fwrite(text, 1, std::strlen(text), f) == std::strlen(text);
    };
    return sdWriteLocalFile(path, write, encrypted, 0600);
}

// Encrypts `plain` with the stored text's salt and compares: 1 equal, 0 different, -1 failure.
int matchesStored(const char* host, const char* plain, const char* stored) {
    char salt[3] = {stored[0], stored[0] ? stored[1] : '\0', '\0'};
    char encrypted[256];
    if (vxRemoteCrypt(host, plain, salt, encrypted, sizeof encrypted) != 0) return -1;
    return std::strcmp(encrypted, stored) == 0 ? 1 : 0;
}

} // namespace

int ConsolePasswords::Check(const char* typed) {
    const char* host = m_session.host;
    int rc = vxGetRemoteFile(host, passwordPath(m_session.SelectedLevel), PASSWD_VIEW);
    if (rc == 2) return typed[0] == '\0' ? 1 : 0;
    if (rc != 0) return -1;
    char stored[512];
    bool read = readStoredPassword(PASSWD_VIEW, stored, sizeof stored);
    sdRemove(PASSWD_VIEW);
    if (!read) return -2;
    if (stored[0] == '\0') return typed[0] == '\0' ? 1 : 0;
    return matchesStored(host, typed, stored);
}

int ConsolePasswords::Change(const char* oldPlain, const char* newPlain, char* encrypted,
                             size_t encryptedSize) {
    const char* host = m_session.host;
    char stored[256];
    if (!vxCopy(stored, sizeof stored, encrypted))
        return sdRefuse(-1, "password", "stored text too long");
    cutAtLineEnd(stored);
    if (stored[0] && oldPlain) {
        int rc = matchesStored(host, oldPlain, stored);
        if (rc <= 0) return rc;
    }
    char fresh[256];
    if (vxRemoteCrypt(host, newPlain, NEW_SALT, fresh, sizeof fresh) != 0) return -1;
    if (!vxCopy(encrypted, encryptedSize, fresh))
        return sdRefuse(-1, "password", "result too long");
    return 1;
}

int ConsolePasswords::ChangeConsole(const char* oldPlain, const char* newPlain, int level) {
    const char* path = passwordPath(level);
    int held = m_lock.Checkout(path, PASSWD_LOCAL);
    if (held < 0) return held;
    char stored[257] = ""; // at most 256 bytes of the file
    int rc = 1;
    if (held == 1) {
        FILE* in = std::fopen(PASSWD_LOCAL, "rb");
        if (!in)
            rc = -2;
        else {
            stored[std::fread(stored, 1, 256, in)] = '\0';
            std::fclose(in);
        }
    }
    if (rc == 1) rc = Change(oldPlain, newPlain, stored, sizeof stored);
    if (rc == 1 && writePasswordFile(PASSWD_LOCAL, stored) != 0) rc = -2;
    if (rc == 1 && held == 1) {
        rc = m_lock.Checkin(path, PASSWD_LOCAL);
        if (rc >= 0) return m_lock.Release(path, PASSWD_LOCAL) < 0 ? -1 : 1;
    }
    if (rc == 1) return vxPutRemoteFile(m_session.host, PASSWD_LOCAL, path) == 0 ? 1 : -1;
    if (held == 1) m_lock.Release(path, PASSWD_LOCAL);
    return rc;
}
