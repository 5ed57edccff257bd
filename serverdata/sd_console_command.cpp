// The console password change command of the groups page.
#include <cstdio>
#include <cstring>

#include "lib/vx_err.h"
#include "params/def.h"
#include "remote/vx_remote.h"
#include "serverdata/console_password.h"
#include "serverdata/sd_text.h"

namespace {

constexpr const char* COMMAND_PATH = "/l/apache/etc/empasswd";
constexpr const char* COMMAND_LOCAL = "emmodpasswd.txt";

ConsoleMessage status(const char* text) {
    return {0, text, nullptr};
}

// Runs "<verb> /l/apache/etc/empasswd" built by the lock calls' checked helper: its result, or -1
// when the line cannot be built (nothing is sent then).
int runLockCommand(const char* host, const char* verb) {
    char command[SD_COMMAND_SIZE];
    if (!sdLockCommand(command, nullptr, verb, COMMAND_PATH)) return -1;
    return sdRunCommand(host, command);
}

// Steps after the lock is held: read, check the old password, write, upload, install. Returns
// the status text ("" on success); *dropped tells whether the lock was already dropped.
const char* changeHeld(const char* host, const char* oldPlain, const char* newPlain,
                       bool* dropped) {
    char lockName[SD_COMMAND_SIZE], command[SD_COMMAND_SIZE];
    if (!sdLockCommand(command, lockName, "./cpin", COMMAND_PATH))
        return "Távoli file írási hiba !";
    if (vxGetRemoteFile(host, lockName, COMMAND_LOCAL) != 0) return "Távoli file olvasási hiba !";
    char stored[512] = "";
    FILE* in = std::fopen(COMMAND_LOCAL, "rb");
    if (!in) return "Lokális file olvasási hiba !";
    if (!std::fgets(stored, sizeof stored, in)) stored[0] = '\0';
    std::fclose(in);
    stored[std::strcspn(stored, "\r\n")] = '\0';
    char salt[3] = {'w', 'j', '\0'};
    char encrypted[256];
    if (stored[0]) {
        salt[0] = stored[0];
        salt[1] = stored[1];
        if (vxRemoteCrypt(host, oldPlain, salt, encrypted, sizeof encrypted) != 0)
            return "Hiba a proxy szerveren !";
        if (std::strcmp(encrypted, stored) != 0) return "Hibás jelszó !";
    }
    if (vxRemoteCrypt(host, newPlain, salt, encrypted, sizeof encrypted) != 0)
        return "Hiba a proxy szerveren !";
    auto write = [](FILE* f, const void* c) {
        const char* t = static_cast<const char*>(c);
        return std::fwrite(t, 1, std::strlen(t), f) == std::strlen(t);
    };
    if (sdWriteLocalFile(COMMAND_LOCAL, write, encrypted, 0600) != 0)
        return "Lokális file írási hiba !";
    if (vxPutRemoteFile(host, COMMAND_LOCAL, lockName) != 0) return "Távoli file írási hiba !";
    if (sdRunCommand(host, command) != 0) return "Konkurens használat !";
    *dropped = true;
    if (runLockCommand(host, "./cpin2") != 0) return "Távoli file írási hiba !";
    sdRemove(COMMAND_LOCAL);
    return "";
}

} // namespace

const char* PasswordCommandHost() {
    return vxGetParam("ProxyServerName");
}

ConsoleMessage ChangeConsolePasswordCommand(const char* oldPlain, const char* newPlain,
                                            const char* confirm) {
    const char* host = PasswordCommandHost();
    if (!host) return {1, "\nProxyServerName !", nullptr};
    if (std::strcmp(newPlain, confirm) != 0)
        return {1, "Az ellenorzo password megadasa hibas!", "Hiba !!!"};
    if (runLockCommand(host, "./cpout") != 0) return status("Konkurens használat !");
    bool dropped = false;
    const char* text = changeHeld(host, oldPlain, newPlain, &dropped);
    if (text[0] && !dropped) {
        SdKeepError keep; // the failure's own cause stays recorded
        runLockCommand(host, "./cpin2");
    }
    return status(text);
}
