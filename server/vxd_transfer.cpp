// File transfer in blocks: each instance holds at most one open file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/vxd_fault.h"
#include "server/vxd_log.h"
#include "server/vxd_procedures.h"
#include "server/vxd_reply.h"

namespace {

// Two block buffers: one goes out in the answer while the other takes the next block ahead
// (static: an instance is one process, its file read one block at a time).
char g_readData[2][VX_BLOCK_MAX];
int g_lastSlot = 0; // the buffer of the block last answered

// Reads up to one block into buf: the byte count, or -errno.
int readBlockInto(int fd, char* buf) {
    size_t got = 0;
    while (got < VX_BLOCK_MAX) {
        ssize_t n = read(fd, buf + got, VX_BLOCK_MAX - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -errno;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<int>(got);
}

} // namespace

int vxdCloseFile(VxdInstance* in, bool commit) {
    int err = 0;
    if (in->fd >= 0) {
        if (in->writing) {
            if (in->failed || !commit) {
                err = in->failed ? (in->error ? in->error : EIO) : 0;
                close(in->fd);
                unlinkat(in->dirFd, in->tmpName, 0);
            } else {
                if (fsync(in->fd) != 0) err = errno;
                if (close(in->fd) != 0 && !err) err = errno;
                vxdFaultPoint("close"); // 1: complete and synced beside the old file
                if (!err && renameat(in->dirFd, in->tmpName, in->dirFd, in->name) != 0) err = errno;
                vxdFaultPoint("close"); // 2: in place, not yet answered
                if (err) unlinkat(in->dirFd, in->tmpName, 0);
            }
        } else {
            close(in->fd);
        }
    }
    if (in->dirFd >= 0) close(in->dirFd);
    in->fd = -1;
    in->dirFd = -1;
    in->writing = false;
    in->failed = false;
    in->error = 0;
    in->ahead = VxdInstance::kNothingAhead;
    in->written = 0;
    in->flushing = 0;
    in->path[0] = '\0';
    return err;
}

vx_reply vxdOpenRead(VxdInstance* in, const char* path) {
    vxdCloseFile(in, false);
    int fd = vxdOpenRegular(*vxdContext().root, path);
    if (fd < 0) return vxdErrorReply(-fd, path);
    in->fd = fd;
    snprintf(in->path, sizeof in->path, "%s", path);
    return vxdEmptyReply();
}

// The file is written to a temporary file beside it and renamed into place by procedure 8, so
// a failed transfer leaves the old content untouched.
vx_reply vxdOpenNew(VxdInstance* in, const char* path) {
    vxdCloseFile(in, false);
    int dirFd = vxdOpenParent(*vxdContext().root, path, in->name, sizeof in->name);
    if (dirFd < 0) return vxdErrorReply(-dirFd, path);
    vxdRemoveStaleTemps(dirFd);
    mode_t mode = 0644;
    struct stat st;
    if (fstatat(dirFd, in->name, &st, 0) == 0) {
        if (S_ISDIR(st.st_mode)) {
            close(dirFd);
            return vxdErrorReply(EISDIR, path);
        }
        mode = st.st_mode & 07777;
    }
    int fd = vxdCreateTemp(dirFd, in->tmpName, sizeof in->tmpName, mode);
    if (fd < 0) {
        close(dirFd);
        return vxdErrorReply(-fd, path);
    }
    fchmod(fd, mode);
    in->fd = fd;
    in->dirFd = dirFd;
    in->writing = true;
    snprintf(in->path, sizeof in->path, "%s", path);
    return vxdEmptyReply();
}

vx_reply vxdCloseInstanceFile(VxdInstance* in, const char* path) {
    if (in->fd < 0) return vxdErrorReply(EBADF, path);
    int err = vxdCloseFile(in, true);
    return err ? vxdErrorReply(err, path) : vxdEmptyReply();
}

vx_reply vxdAcceptBlock(VxdInstance* in, const vx_block* block) {
    if (in->fd < 0 || !in->writing) return vxdErrorReply(EBADF, "write");
    if (in->failed) return vxdErrorReply(in->error ? in->error : EIO, in->path);
    long long limit = vxdInstanceLimits().maxUpload;
    if (in->written + block->length > limit) {
        vxdLog("upload limit (%lld bytes) reached: %s", limit, in->path);
        in->failed = true;
        in->error = EFBIG;
        return vxdErrorReply(EFBIG, in->path);
    }
    vx_reply r = vxdEmptyReply();
    r.value = block->length;
    return r;
}

void vxdStoreBlock(VxdInstance* in, const vx_block* block) {
    int err = vxdWriteAll(in->fd, block->data, static_cast<size_t>(block->length));
    if (err) {
        in->failed = true;
        in->error = err;
        return;
    }
    in->written += block->length;
    // The close syncs the file before it renames it into place. Writing it out while the
    // upload goes on leaves that sync little to wait for: a large file starts to go to the disk
    // every few megabytes, without waiting here.
    constexpr long long kFlushStep = 4 << 20;
    if (in->written - in->flushing >= kFlushStep) {
        sync_file_range(in->fd, in->flushing, in->written - in->flushing, SYNC_FILE_RANGE_WRITE);
        in->flushing = in->written;
    }
    vxdFaultPoint("write"); // the block is in the temporary file and answered
}

vx_block vxdReadBlock(VxdInstance* in, const char* path) {
    vx_block b{};
    b.data = g_readData[g_lastSlot];
    if (in->fd < 0 || in->writing || strcmp(in->path, path) != 0) {
        b.status = EBADF;
        return b;
    }
    int got;
    if (in->ahead != VxdInstance::kNothingAhead) {
        g_lastSlot = 1 - g_lastSlot;
        got = in->ahead;
        in->ahead = VxdInstance::kNothingAhead;
    } else {
        got = readBlockInto(in->fd, g_readData[g_lastSlot]);
    }
    b.data = g_readData[g_lastSlot];
    b.status = got < 0 ? -got : 0;
    b.length = got < 0 ? 0 : got;
    vxdFaultPoint("read"); // the block is read, not yet sent
    return b;
}

void vxdReadAhead(VxdInstance* in, const vx_block& sent) {
    // Only after a whole block: a shorter one or an error ends the file.
    if (in->fd < 0 || in->writing || in->ahead != VxdInstance::kNothingAhead || sent.status != 0 ||
        sent.length != VX_BLOCK_MAX)
        return;
    in->ahead = readBlockInto(in->fd, g_readData[1 - g_lastSlot]);
}
