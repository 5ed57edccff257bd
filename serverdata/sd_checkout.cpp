// The checkout lock protocol and the load / commit / release workers shared by every list.
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "serverdata/checkout_lock.h"
#include "serverdata/sd_text.h"

namespace {

// The post-save command's standard error, in the server's working directory and fetched here.
constexpr const char* POST_SAVE_ERRORS = "vxpost.err";

// The last non-blank line of a local file (at most size - 1 bytes), or "": a program's own
// message comes after what the programs it ran wrote.
void lastLine(const char* path, char* out, size_t size) {
    out[0] = '\0';
    FILE* in = std::fopen(path, "rb");
    if (!in) return;
    char line[512];
    while (std::fgets(line, sizeof line, in)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (line[std::strspn(line, " \t")] != '\0') vxFormat(out, size, "%s", line);
    }
    std::fclose(in);
}

// Runs the post-save command with its standard error kept in a file of the server's working
// directory as well as passed on to the server's own error output. When the command fails, its
// last error line is fetched back and becomes part of the recorded cause.
int runPostSave(const char* server, const char* command) {
    char wrapped[SD_COMMAND_SIZE];
    if (!vxFormat(wrapped, sizeof wrapped, "(%s) 2>%s; s=$?; cat %s >&2; exit $s", command,
                  POST_SAVE_ERRORS, POST_SAVE_ERRORS))
        return sdRunCommand(server, command, "post-save command ");
    vxClearError();
    int rc = vxRemoteExec(server, wrapped);
    if (rc == 0 || vxLastError().code != 0) return rc; // done, or the link's failure is the cause
    char cause[200] = "";
    if (vxGetRemoteFile(server, POST_SAVE_ERRORS, POST_SAVE_ERRORS) == 0)
        lastLine(POST_SAVE_ERRORS, cause, sizeof cause);
    sdRemove(POST_SAVE_ERRORS);
    char text[VX_ERROR_TEXT_MAX + 1];
    vxFormat(text, sizeof text, "post-save command \"%.60s\" failed with exit status %d%s%s",
             command, rc, cause[0] ? ": " : "", cause);
    vxSetError(105, 5, VX_KIND_LIB, text);
    return rc;
}

bool localExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

} // namespace

bool sdLockCommand(char* command, char* lockName, const char* verb, const char* remotePath) {
    if (SdRefusal r = sdShellPathProblem(remotePath); r != SdRefusal::None) {
        sdRefuse(-1, remotePath, r, remotePath);
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

int CheckoutLock::Checkout(const char* remotePath, const char* localPath) {
    const char* server = m_session.host;
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

int CheckoutLock::Checkin(const char* remotePath, const char* localPath) {
    const char* server = m_session.host;
    char command[SD_COMMAND_SIZE], lockName[SD_COMMAND_SIZE];
    if (!sdLockCommand(command, lockName, "./cpin", remotePath)) return -1;
    int sent = vxPutRemoteFile(server, localPath, lockName);
    if (sent != 0) return sent == 2 ? 0 : -1;
    return sdRunCommand(server, command) == 0 ? 1 : -1;
}

int CheckoutLock::Release(const char* remotePath, const char* localPath) {
    if (localPath && !localExists(localPath)) return 0;
    char command[SD_COMMAND_SIZE];
    if (!sdLockCommand(command, nullptr, "./cpin2", remotePath)) return -1;
    if (sdRunCommand(m_session.host, command) != 0) return -1;
    if (localPath) sdRemove(localPath);
    return 1;
}

int CheckoutLock::Restore(const char* remotePath) {
    SdKeepError keep; // restoring follows a failure whose cause must stay recorded
    char command[SD_COMMAND_SIZE];
    if (sdLockCommand(command, nullptr, "./cprestore", remotePath))
        vxRemoteExec(m_session.host, command);
    return 0;
}

int CheckoutLock::CheckoutAll(const ListFile* files, int n, int* results) {
    for (int i = 0; i < n; i++) {
        results[i] = Checkout(files[i].remote, files[i].local);
        if (results[i] < 0) {
            SdKeepError keep; // the checkout's failure is what the caller reports
            for (int j = i - 1; j >= 0; j--)
                Release(files[j].remote, files[j].local);
            return results[i];
        }
    }
    return 1;
}

int CheckoutLock::CommitAll(const ListFile* files, int n, const char* procKey,
                            const char* procDefault,
                            bool (*write)(FILE*, const void* context, int which),
                            const void* context) {
    struct Ctx {
        bool (*write)(FILE*, const void*, int);
        const void* context;
        int which;
    };
    for (int i = 0; i < n; i++) {
        Ctx ctx{write, context, i};
        auto writer = [](FILE* f, const void* c) {
            auto* x = static_cast<const Ctx*>(c);
            return x->write(f, x->context, x->which);
        };
        if (sdWriteLocalFile(files[i].local, writer, &ctx) != 0) return -2;
        int rc = Checkin(files[i].remote, files[i].local);
        if (rc < 0) {
            // The files are saved together or not at all.
            for (int j = 0; j < i; j++)
                Restore(files[j].remote);
            return rc;
        }
    }
    if (runPostSave(m_session.host, sdParam(procKey, procDefault)) != 0) {
        for (int i = 0; i < n; i++)
            Restore(files[i].remote);
        return -1;
    }
    return ReleaseAll(files, n) < 0 ? -1 : 1;
}

int CheckoutLock::ReleaseAll(const ListFile* files, int n) {
    int result = 0;
    for (int i = 0; i < n; i++) {
        if (result < 0) {
            SdKeepError keep;
            Release(files[i].remote, files[i].local);
        } else if (Release(files[i].remote, files[i].local) < 0) {
            result = -1;
        }
    }
    return result;
}

void CheckoutLock::DropAfterFailure(const ListFile* files, int n) {
    SdKeepError keep;
    ReleaseAll(files, n);
}

int CheckoutLock::FetchForViewing(const char* remotePath, const char* viewPath) {
    int rc = vxGetRemoteFile(m_session.host, remotePath, viewPath);
    if (rc == 0) return 1;
    sdRemove(viewPath);
    return rc == 2 ? 0 : -1;
}
