// The server programs of the checkout lock protocol and the log tail.
#include "server/vxd_tools.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/vxd_fault.h"

namespace {

// A data file as its directory and the names of the files kept beside it.
struct DataFile {
    int dirFd = -1;
    char name[NAME_MAX + 1];
    char lock[NAME_MAX + 1];
    char prev[NAME_MAX + 1];
    char none[NAME_MAX + 1];
    ~DataFile() {
        if (dirFd >= 0) close(dirFd);
    }
};

int openDataFile(const VxdRoot& root, const char* path, DataFile* file) {
    int fd = vxdOpenParent(root, path, file->name, sizeof file->name);
    if (fd < 0) return -fd;
    file->dirFd = fd;
    const char* base = file->name;
    int a = snprintf(file->lock, sizeof file->lock, "%s%s", base, VXD_LOCK_SUFFIX);
    int b = snprintf(file->prev, sizeof file->prev, "%s%s", base, VXD_PREV_SUFFIX);
    int c = snprintf(file->none, sizeof file->none, "%s%s", base, VXD_NONE_SUFFIX);
    if (a >= static_cast<int>(sizeof file->lock) || b >= static_cast<int>(sizeof file->prev) ||
        c >= static_cast<int>(sizeof file->none))
        return ENAMETOOLONG;
    return 0;
}

// Opens an entry of the data file's directory for reading (never through a symlink).
int openEntry(const DataFile& file, const char* name) {
    return openat(file.dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

mode_t fileMode(int fd, mode_t fallback) {
    struct stat st;
    if (fstat(fd, &st) != 0) return fallback;
    return st.st_mode & 07777;
}

int held(const char* path) {
    fprintf(stderr, "cpout: %s: checked out already\n", path);
    return VXD_EXIT_HELD;
}

int fail(const char* what, const char* path, int err) {
    fprintf(stderr, "%s: %s: %s\n", what, path, strerror(err));
    return VXD_EXIT_FAILED;
}

} // namespace

// The lock copy is complete before it exists: the content goes to a temporary file, synced, and
// the lock is taken by linking that file under the lock name. link() fails when the name exists,
// so of consoles racing for one file exactly one wins, and a server that dies on the way leaves
// either no lock or a complete one, never a partial copy that later passes for the lock.
int vxdCheckout(const VxdRoot& root, const char* path) {
    DataFile file;
    int err = openDataFile(root, path, &file);
    if (err) return fail("cpout", path, err);
    vxdRemoveStaleTemps(file.dirFd);
    if (faccessat(file.dirFd, file.lock, F_OK, AT_SYMLINK_NOFOLLOW) == 0) return held(path);
    int src = vxdOpenRegular(root, path);
    // No file yet: nothing to check out; the console starts an empty list.
    if (src < 0) return src == -ENOENT ? VXD_EXIT_OK : fail("cpout", path, -src);
    char tmp[64];
    int copy = vxdCreateTemp(file.dirFd, tmp, sizeof tmp, 0600);
    if (copy < 0) {
        close(src);
        return fail("cpout", path, -copy);
    }
    vxdFaultPoint("cpout"); // 1: the temporary file exists
    static char buf[65536];
    for (;;) {
        ssize_t n = read(src, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        if ((err = vxdWriteAll(copy, buf, static_cast<size_t>(n)))) break;
        vxdFaultPoint("cpout"); // 2: part of the content is copied
    }
    if (!err && fchmod(copy, fileMode(src, 0644)) != 0) err = errno;
    if (!err && fsync(copy) != 0) err = errno;
    if (close(copy) != 0 && !err) err = errno;
    close(src);
    vxdFaultPoint("cpout"); // 3: the copy is complete, not yet the lock
    if (!err && linkat(file.dirFd, tmp, file.dirFd, file.lock, 0) != 0) err = errno;
    vxdFaultPoint("cpout"); // 4: the lock is taken, the temporary name still there
    unlinkat(file.dirFd, tmp, 0);
    if (err == EEXIST) return held(path);
    return err ? fail("cpout", path, err) : VXD_EXIT_OK;
}

int vxdCheckin(const VxdRoot& root, const char* path) {
    DataFile file;
    int err = openDataFile(root, path, &file);
    if (err) return fail("cpin", path, err);
    vxdRemoveStaleTemps(file.dirFd);
    int lock = openEntry(file, file.lock);
    if (lock < 0) return fail("cpin", path, errno);
    vxdFaultPoint("cpin"); // 1: nothing changed yet
    mode_t mode = 0644;
    int cur = vxdOpenRegular(root, path);
    if (cur >= 0) {
        mode = fileMode(cur, mode);
        err = vxdReplaceFrom(cur, file.dirFd, file.prev, mode);
        close(cur);
        if (!err && unlinkat(file.dirFd, file.none, 0) != 0 && errno != ENOENT) err = errno;
    } else if (cur == -ENOENT) {
        int marker =
            openat(file.dirFd, file.none, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        err = marker < 0 ? errno : 0;
        if (marker >= 0) close(marker);
        if (!err && unlinkat(file.dirFd, file.prev, 0) != 0 && errno != ENOENT) err = errno;
    } else {
        err = -cur;
    }
    vxdFaultPoint("cpin"); // 2: the previous content is kept, the file not yet replaced
    if (!err) err = vxdReplaceFrom(lock, file.dirFd, file.name, mode);
    close(lock);
    vxdFaultPoint("cpin"); // 3: the file is replaced
    return err ? fail("cpin", path, err) : VXD_EXIT_OK;
}

int vxdDropLock(const VxdRoot& root, const char* path) {
    DataFile file;
    int err = openDataFile(root, path, &file);
    if (err) return fail("cpin2", path, err);
    vxdFaultPoint("cpin2");
    if (unlinkat(file.dirFd, file.lock, 0) != 0 && errno != ENOENT)
        return fail("cpin2", path, errno);
    return VXD_EXIT_OK;
}

int vxdRestore(const VxdRoot& root, const char* path) {
    DataFile file;
    int err = openDataFile(root, path, &file);
    if (err) return fail("cprestore", path, err);
    vxdFaultPoint("cprestore");
    int prev = openEntry(file, file.prev);
    if (prev >= 0) {
        err = vxdReplaceFrom(prev, file.dirFd, file.name, fileMode(prev, 0644));
        close(prev);
        return err ? fail("cprestore", path, err) : VXD_EXIT_OK;
    }
    if (errno != ENOENT) return fail("cprestore", path, errno);
    if (faccessat(file.dirFd, file.none, F_OK, AT_SYMLINK_NOFOLLOW) != 0)
        return fail("cprestore", path, ENOENT);
    // The file did not exist before the last check-in.
    if (unlinkat(file.dirFd, file.name, 0) != 0 && errno != ENOENT)
        return fail("cprestore", path, errno);
    return VXD_EXIT_OK;
}

namespace {

constexpr long kTailMaxLines = 100000;

// Offset where the last `lines` lines of fd (size bytes) begin, but not before floor (nothing
// before it is read); a final line end does not start another line. -errno on a read error.
off_t tailStart(int fd, off_t size, long lines, off_t floor) {
    static char buf[65536];
    off_t pos = size;
    long seen = 0;
    bool first = true;
    while (pos > floor) {
        size_t chunk = pos - floor < static_cast<off_t>(sizeof buf)
                           ? static_cast<size_t>(pos - floor)
                           : sizeof buf;
        pos -= static_cast<off_t>(chunk);
        ssize_t n = pread(fd, buf, chunk, pos);
        if (n != static_cast<ssize_t>(chunk)) return n < 0 ? -errno : -EIO;
        for (size_t i = chunk; i-- > 0;) {
            if (buf[i] != '\n') continue;
            if (first && pos + static_cast<off_t>(i) == size - 1) continue;
            if (++seen == lines) return pos + static_cast<off_t>(i) + 1;
        }
        first = false;
    }
    return floor;
}

} // namespace

int vxdTail(const VxdRoot& root, const char* file, const char* count) {
    char* end = nullptr;
    errno = 0;
    long lines = strtol(count, &end, 10);
    if (errno || end == count || *end || lines < 1 || lines > kTailMaxLines) {
        fprintf(stderr, "vxtail: bad line count: %s\n", count);
        return VXD_EXIT_FAILED;
    }
    int fd = vxdOpenRegular(root, file);
    if (fd < 0) return fail("vxtail", file, -fd);
    struct stat st;
    int err = fstat(fd, &st) != 0 ? errno : 0;
    // Long lines do not make the copy (and the console's fetch of it) arbitrarily large.
    const off_t bound = std::min(lines * VXD_TAIL_LINE_BYTES, VXD_TAIL_MAX_BYTES);
    off_t start =
        err ? 0 : tailStart(fd, st.st_size, lines, std::max<off_t>(0, st.st_size - bound));
    if (start < 0) err = static_cast<int>(-start);
    if (!err && lseek(fd, start, SEEK_SET) < 0) err = errno;
    int work = err ? -1 : vxdOpen(root, ".", O_PATH | O_DIRECTORY, 0);
    if (!err && work < 0) err = -work;
    if (!err) err = vxdReplaceFrom(fd, work, "vxtail.tmp", 0644);
    if (work >= 0) close(work);
    close(fd);
    return err ? fail("vxtail", file, err) : VXD_EXIT_OK;
}

int vxdToolMain(const char* name, int argc, char** argv, int (*run)(const VxdRoot&, const char*)) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s PATH\n", name);
        return VXD_EXIT_FAILED;
    }
    VxdRoot root;
    int err = vxdOpenRootFromEnv(&root);
    if (err) return fail(name, "VXD_ROOT", err);
    return run(root, argv[1]);
}

int vxdTailMain(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: vxtail FILE LINES\n");
        return VXD_EXIT_FAILED;
    }
    VxdRoot root;
    int err = vxdOpenRootFromEnv(&root);
    if (err) return fail("vxtail", "VXD_ROOT", err);
    return vxdTail(root, argv[1], argv[2]);
}
