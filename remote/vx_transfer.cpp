// Remote commands and file transfer: each operation holds one server instance from the ask to
// the release, and files travel as raw bytes in blocks of 300000 bytes.
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "lib/vx_err.h"
#include "remote/vx_client.h"
#include "remote/vx_remote.h"

using namespace vxremote;

namespace {

// Releases the server instance it holds when it goes out of scope.
class HeldInstance {
  public:
    HeldInstance(const char* host, unsigned long program)
        : m_host(host), m_number(vxAskServer(host, program)) {}
    ~HeldInstance() {
        if (m_number != 0) vxReleaseServer(m_host, m_number);
    }
    HeldInstance(const HeldInstance&) = delete;
    HeldInstance& operator=(const HeldInstance&) = delete;
    unsigned long number() const { return m_number; }

  private:
    const char* m_host;
    unsigned long m_number;
};

// Owns a file descriptor; close() reports whether the last writes reached the file.
class LocalFile {
  public:
    explicit LocalFile(int fd) : m_fd(fd) {}
    ~LocalFile() { close(); }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    int fd() const { return m_fd; }
    bool close() {
        int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int m_fd;
};

// A remote path argument; the string filter refuses paths over 128 bytes at the call.
enum clnt_stat pathCall(RpcClient& client, unsigned long procedure, const char* path,
                        xdrproc_t resultFilter, void* result) {
    const char* text = path ? path : "";
    return client.call(procedure, filter(xdr_vxstring), &text, resultFilter, result);
}

enum clnt_stat replyCall(RpcClient& client, unsigned long procedure, const char* path) {
    return pathCall(client, procedure, path, filter(xdr_vxreply), replyForDecode());
}

// Writes all of data; false with errno set on failure (a write of nothing counts as ENOSPC).
bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Fills up to size bytes, stopping early only at the end of the file; -1 with errno on error.
ssize_t readFull(int fd, char* data, size_t size) {
    size_t total = 0;
    while (total < size) {
        ssize_t got = read(fd, data + total, size - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

// Opens a client at a held instance for a transfer (the host name is the creation subject).
bool openInstanceClient(RpcClient& client, const char* host, unsigned long instance) {
    return openClient(client, host, instance, RETRY_ATTEMPTS, host);
}

// Copies the open server file into fd block by block: 0, the server's read status or errno.
// linkFailed is set (and the failure recorded) when a call fails.
int receiveBlocks(RpcClient& client, const char* remotePath, const char* localPath, int fd,
                  bool& linkFailed) {
    for (;;) {
        vx_block* block = blockForDecode();
        if (pathCall(client, vxRPC_READ, remotePath, filter(xdr_vxblock), block) != RPC_SUCCESS) {
            client.callError("clnt_call: vxRPC_READ");
            linkFailed = true;
            return -1;
        }
        if (block->status != 0) {
            char text[VX_ERROR_TEXT_MAX + 1];
            vxFormat(text, sizeof text, "Error reading remote file:%s", localPath);
            vxSetError(block->status, 2, VX_KIND_OS, text);
            return block->status;
        }
        if (!writeAll(fd, block->data, static_cast<size_t>(block->length))) {
            int error = errno;
            vxSysError(localPath);
            return error;
        }
        if (block->length != static_cast<int32_t>(VX_BLOCK_MAX)) return 0;
    }
}

// Sends fd to the open server file: 0, the server's code or errno. stopped is set when the
// server file must not be closed (the failure is recorded): after a failed call, and after a
// local read error, so that the server discards the partial file at the release instead of
// installing it.
int sendBlocks(RpcClient& client, const char* localPath, int fd, bool& stopped) {
    for (;;) {
        ssize_t got = readFull(fd, blockBuffer(), VX_BLOCK_MAX);
        if (got < 0) {
            int error = errno;
            vxSysError(localPath);
            stopped = true;
            return error;
        }
        vx_block block = {static_cast<int32_t>(got), 0, blockBuffer()};
        vx_reply* reply = replyForDecode();
        if (client.call(vxRPC_WRITE, filter(xdr_vxblock), &block, filter(xdr_vxreply), reply) !=
            RPC_SUCCESS) {
            client.callError("clnt_call: vxRPC_WRITE");
            stopped = true;
            return -1;
        }
        if (int code = vxReplyError(reply); code != 0) {
            return code;
        }
        if (got < static_cast<ssize_t>(VX_BLOCK_MAX)) return 0;
    }
}

} // namespace

int vxExec(const char* host, const char* command, unsigned long instance) {
    return vxServerCall(host, command, instance, vxRPC_EXEC);
}

int vxRemoteExecProg(const char* host, const char* command, unsigned long program) {
    HeldInstance instance(host, program);
    if (instance.number() == 0) return -1;
    return vxExec(host, command, instance.number());
}

int vxRemoteExec(const char* host, const char* command) {
    return vxRemoteExecProg(host, command, VXPROG_MAIN);
}

int vxReceiveFile(const char* host, const char* remotePath, const char* localPath,
                  unsigned long instance) {
    RpcClient client;
    if (!openInstanceClient(client, host, instance)) return -1;
    if (replyCall(client, vxRPC_FILOPEN_RDONLY, remotePath) != RPC_SUCCESS) {
        client.callError("clnt_call vxRPC_FILOPEN_RDONLY");
        return -1;
    }
    if (int code = vxReplyError(replyForDecode()); code != 0) return code;

    // The server file is open: only now is the local file replaced, owner read and write only.
    if (unlink(localPath) != 0 && errno != ENOENT) {
        vxSysError(localPath);
        return -1;
    }
    LocalFile local(open(localPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (local.fd() < 0) {
        vxSysError(localPath);
        return -1;
    }
    // A fetch that fails leaves no local file: part of a server file must not pass for all of it.
    bool linkFailed = false;
    int result = receiveBlocks(client, remotePath, localPath, local.fd(), linkFailed);
    if (!local.close() && result == 0 && !linkFailed) {
        result = errno;
        vxSysError(localPath);
    }
    if (linkFailed || result != 0) unlink(localPath);
    if (linkFailed) return -1;
    if (replyCall(client, vxRPC_FILCLOS, remotePath) != RPC_SUCCESS) {
        client.callError("clnt_call: vxRPC_FILCLOS");
        unlink(localPath);
        return -1;
    }
    return result;
}

int vxGetRemoteFile(const char* host, const char* remotePath, const char* localPath) {
    HeldInstance instance(host, VXPROG_MAIN);
    if (instance.number() == 0) return -1;
    return vxReceiveFile(host, remotePath, localPath, instance.number());
}

int vxSendFile(const char* host, const char* localPath, const char* remotePath,
               unsigned long instance) {
    RpcClient client;
    if (!openInstanceClient(client, host, instance)) return -1;
    if (replyCall(client, vxFILOPEN_NEW, remotePath) != RPC_SUCCESS) {
        client.callError("clnt_call: vxFILOPEN_NEW");
        return -1;
    }
    if (int code = vxReplyError(replyForDecode()); code != 0) return code;

    LocalFile local(open(localPath, O_RDONLY | O_CLOEXEC));
    if (local.fd() < 0) {
        vxSysError(localPath);
        return -1;
    }
    bool stopped = false;
    int result = sendBlocks(client, localPath, local.fd(), stopped);
    if (stopped) return result;
    local.close();
    if (replyCall(client, vxRPC_FILCLOS, remotePath) != RPC_SUCCESS) {
        client.callError("clnt_call vxRPC_FILCLOS");
        return -1;
    }
    // The server installs the uploaded file when it closes it, so the close's reply tells
    // whether the upload took effect.
    if (int code = vxReplyError(replyForDecode()); code != 0 && result == 0) result = code;
    return result;
}

int vxPutRemoteFile(const char* host, const char* localPath, const char* remotePath) {
    HeldInstance instance(host, VXPROG_MAIN);
    if (instance.number() == 0) return -1;
    return vxSendFile(host, localPath, remotePath, instance.number());
}
