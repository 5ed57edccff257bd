// The checkout lock protocol and the load / commit / release workers shared by every list.
#include <sys/stat.h>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "serverdata/sd_text.h"
#include "serverdata/server_data.h"

namespace {

bool localExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

} // namespace

bool sdLockCommand(char* command, char* lockName, const char* verb, const char* remotePath) {
    if (const char* problem = sdShellPathProblem(remotePath)) {
        sdRefuse(-1, remotePath, problem);
        return false;
    }
    vxFormat(command, SD_COMMAND_SIZE, "%s %s", verb, remotePath); // the check bounds the length
    if (lockName) vxFormat(lockName, SD_COMMAND_SIZE, "%s._vx_lck_", remotePath);
    return true;
}

int sdRunCommand(const char* server, const char* command, const char* what) {
    vxClearError();
    int rc = vxRemoteExec(server, command);
    if (rc != 0 && vxLastError().code == 0) {
        char text[VX_ERROR_TEXT_MAX + 1];
        vxFormat(text, sizeof text, "%s\"%.200s\" failed with exit status %d", what, command, rc);
        vxSetError(105, 5, VX_KIND_LIB, text);
    }
    return rc;
}

int ServerData::CheckoutFile(const char* server, const char* remotePath, const char* localPath) {
    char command[SD_COMMAND_SIZE], lockName[SD_COMMAND_SIZE];
    if (!sdLockCommand(command, lockName, "./cpout", remotePath)) return -1;
    int rc = sdRunCommand(server, command);
    if (rc == -1) { // held by another console (a dead link looks the same)
        if (vxLastError().code == 105) sdRefuse(-3, remotePath, "checked out by another console");
        return -3;
    }
    if (rc != 0) return -1;
    int fetched = vxGetRemoteFile(server, lockName, localPath);
    if (fetched == 0) return 1;
    sdRemove(localPath); // a failed fetch must not leave a copy that claims the lock
    SdKeepError keep;    // the fetch's failure is the cause, whatever the release says
    sdLockCommand(command, nullptr, "./cpin2", remotePath);
    vxRemoteExec(server, command);
    return fetched == 2 ? 0 : -1;
}

int ServerData::CheckinFile(const char* server, const char* remotePath, const char* localPath) {
    char command[SD_COMMAND_SIZE], lockName[SD_COMMAND_SIZE];
    if (!sdLockCommand(command, lockName, "./cpin", remotePath)) return -1;
    int sent = vxPutRemoteFile(server, localPath, lockName);
    if (sent != 0) return sent == 2 ? 0 : -1;
    return sdRunCommand(server, command) == 0 ? 1 : -1;
}

int ServerData::ReleaseFile(const char* server, const char* remotePath, const char* localPath) {
    if (localPath && !localExists(localPath)) return 0;
    char command[SD_COMMAND_SIZE];
    if (!sdLockCommand(command, nullptr, "./cpin2", remotePath)) return -1;
    if (sdRunCommand(server, command) != 0) return -1;
    if (localPath) sdRemove(localPath);
    return 1;
}

int ServerData::RestoreFile(const char* server, const char* remotePath) {
    SdKeepError keep; // restoring follows a failure whose cause must stay recorded
    char command[SD_COMMAND_SIZE];
    if (sdLockCommand(command, nullptr, "./cprestore", remotePath)) vxRemoteExec(server, command);
    return 0;
}

// Checks out files[0..n) in order; results[i] gets each result. On a negative result the files
// already held are released (last first) and that result is returned; else 1.
int ServerData::CheckoutAll(const ListFile* files, int n, int* results) {
    for (int i = 0; i < n; i++) {
        results[i] = CheckoutFile(host, files[i].remote, files[i].local);
        if (results[i] < 0) {
            SdKeepError keep; // the checkout's failure is what the caller reports
            for (int j = i - 1; j >= 0; j--)
                ReleaseFile(host, files[j].remote, files[j].local);
            return results[i];
        }
    }
    return 1;
}

// Writes and checks in files[0..n) in order, runs the post-save command, then releases them in
// order; a failing command restores every file in check-in order and keeps the locks (-1).
int ServerData::CommitAll(const ListFile* files, int n, const char* procKey,
                          const char* procDefault,
                          int (*write)(const ServerData&, FILE*, int which)) {
    struct Ctx {
        const ServerData* sd;
        int which;
        int (*write)(const ServerData&, FILE*, int);
    };
    for (int i = 0; i < n; i++) {
        Ctx ctx{this, i, write};
        auto writer = [](FILE* f, const void* c) {
            auto* x = static_cast<const Ctx*>(c);
            return x->write(*x->sd, f, x->which) == 0;
        };
        if (sdWriteLocalFile(files[i].local, writer, &ctx) != 0) return -2;
        int rc = CheckinFile(host, files[i].remote, files[i].local);
        if (rc < 0) return rc;
    }
    if (sdRunCommand(host, sdParam(procKey, procDefault), "post-save command ") != 0) {
        for (int i = 0; i < n; i++)
            RestoreFile(host, files[i].remote);
        return -1;
    }
    return ReleaseAll(files, n) < 0 ? -1 : 1;
}

// Releases files[0..n) in order, each even when an earlier one failed (a lock left behind must
// not keep the others); -1 when any failed (the first failure's cause stays recorded), else 0.
int ServerData::ReleaseAll(const ListFile* files, int n) {
    int result = 0;
    for (int i = 0; i < n; i++) {
        if (result < 0) {
            SdKeepError keep;
            ReleaseFile(host, files[i].remote, files[i].local);
        } else if (ReleaseFile(host, files[i].remote, files[i].local) < 0) {
            result = -1;
        }
    }
    return result;
}

// Releases what a failed load had checked out; the load's failure stays the recorded cause.
void ServerData::DropAfterFailure(const ListFile* files, int n) {
    SdKeepError keep;
    ReleaseAll(files, n);
}

// Read-only fetch of a server file into a viewing copy: 1 fetched; 0 no such file; -1. A viewing
// copy has a name of its own, never a working copy's: a working copy marks a held lock.
int ServerData::FetchForViewing(const char* remote, const char* local) {
    int rc = vxGetRemoteFile(host, remote, local);
    if (rc == 0) return 1;
    sdRemove(local);
    return rc == 2 ? 0 : -1;
}
