// File access of the reference server confined to its root.
#include "server/vxd_fs.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "server/vxd_fault.h"

namespace {

// Copies text into a fixed buffer; false when it does not fit.
bool copyText(char* out, size_t size, const char* text) {
    size_t n = strlen(text);
    if (n >= size) return false;
    memcpy(out, text, n + 1);
    return true;
}

// True when a path relative to the root (no leading '/') has a ".." component.
bool hasDotDot(const char* rel) {
    const char* p = rel;
    while (*p) {
        const char* end = strchr(p, '/');
        size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
        if (len == 2 && p[0] == '.' && p[1] == '.') return true;
        if (!end) break;
        p = end + 1;
    }
    return false;
}

// The real path of a descriptor lies inside the root.
bool fdInsideRoot(int fd, const char* rootPath) {
    char proc[64], real[PATH_MAX];
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    ssize_t len = readlink(proc, real, sizeof real - 1);
    if (len < 0) return false;
    real[len] = '\0';
    size_t n = strlen(rootPath);
    if (n == 1) return true; // the root "/" holds everything
    return strncmp(real, rootPath, n) == 0 && (real[n] == '\0' || real[n] == '/');
}

// Opens rel below dirFd following symlinks freely, as a path descriptor; -errno.
int openPath(int dirFd, const char* rel, int flags) {
    open_how how{};
    how.flags =
        static_cast<unsigned long long>(O_PATH | O_CLOEXEC | (flags & (O_NOFOLLOW | O_DIRECTORY)));
    how.resolve = RESOLVE_NO_MAGICLINKS;
    long fd = syscall(SYS_openat2, dirFd, rel, &how, sizeof how);
    return fd >= 0 ? static_cast<int>(fd) : -errno;
}

// Opens rel below the root's directory dirFd. Symlinks may not lead out of the root (EACCES);
// an absolute symlink is followed when where it leads lies inside the root (always for the root
// "/"), but never to create a file.
int openBeneath(int dirFd, const char* rootPath, const char* rel, int flags, mode_t mode) {
    open_how how{};
    how.flags = static_cast<unsigned long long>(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd = syscall(SYS_openat2, dirFd, rel, &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    // A symlink or ".." leading out of the root, or an absolute symlink.
    if (errno != EXDEV) return -errno;
    if (flags & (O_CREAT | O_TMPFILE)) return -EACCES;
    int path = openPath(dirFd, rel, flags);
    if (path < 0) return -EACCES;
    if (!fdInsideRoot(path, rootPath)) {
        close(path);
        return -EACCES;
    }
    if (flags & O_PATH) return path;
    // Reopened through the path descriptor: the file checked is the file opened.
    char proc[64];
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", path);
    int reopened = open(proc, (flags & ~(O_NOFOLLOW | O_EXCL)) | O_CLOEXEC);
    int err = errno;
    close(path);
    return reopened >= 0 ? reopened : -err;
}

// Sets root->workRel and workPath from a canonical working directory inside the root.
int setWorkDir(VxdRoot* root, const char* workCanon) {
    size_t n = strlen(root->rootPath);
    bool atRoot = strcmp(workCanon, root->rootPath) == 0;
    bool inside = strncmp(workCanon, root->rootPath, n) == 0 &&
                  (workCanon[n] == '/' || (n == 1 && root->rootPath[0] == '/'));
    if (!atRoot && !inside) return EACCES;
    if (!copyText(root->workPath, sizeof root->workPath, workCanon)) return ENAMETOOLONG;
    const char* rel = atRoot ? "." : workCanon + (n == 1 ? 1 : n + 1);
    if (!copyText(root->workRel, sizeof root->workRel, rel)) return ENAMETOOLONG;
    return 0;
}

int openRootDir(VxdRoot* root, const char* rootDir) {
    if (!rootDir || !*rootDir) return EINVAL;
    char canon[PATH_MAX];
    if (!realpath(rootDir, canon)) return errno;
    strcpy(root->rootPath, canon);
    int fd = open(canon, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    root->rootFd = fd;
    return 0;
}

std::atomic<unsigned> g_tempCounter{0};

} // namespace

int vxdOpenRoot(VxdRoot* root, const char* rootDir, const char* workRel) {
    int rc = openRootDir(root, rootDir);
    if (rc) return rc;
    strcpy(root->workRel, ".");
    strcpy(root->workPath, root->rootPath);
    if (!workRel || !*workRel) workRel = ".";
    // The working directory is named relative to the root; "/x" means the same as "x".
    while (*workRel == '/')
        workRel++;
    if (!*workRel) workRel = ".";
    if (hasDotDot(workRel)) return EACCES;
    int fd = openBeneath(root->rootFd, root->rootPath, workRel, O_PATH | O_DIRECTORY, 0);
    if (fd < 0) return -fd;
    char proc[64], canon[PATH_MAX];
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    ssize_t len = readlink(proc, canon, sizeof canon - 1);
    int err = len < 0 ? errno : 0;
    close(fd);
    if (err) return err;
    canon[len] = '\0';
    return setWorkDir(root, canon);
}

int vxdOpenRootFromEnv(VxdRoot* root) {
    int rc = openRootDir(root, getenv("VXD_ROOT"));
    if (rc) return rc;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return errno;
    return setWorkDir(root, cwd);
}

int vxdRelative(const VxdRoot& root, const char* path, char* out, size_t size) {
    if (!path || !*path) return EINVAL;
    int n;
    if (path[0] == '/') {
        while (*path == '/')
            path++;
        n = snprintf(out, size, "%s", *path ? path : ".");
    } else if (strcmp(root.workRel, ".") == 0) {
        n = snprintf(out, size, "%s", path);
    } else {
        n = snprintf(out, size, "%s/%s", root.workRel, path);
    }
    if (n < 0 || static_cast<size_t>(n) >= size) return ENAMETOOLONG;
    return hasDotDot(out) ? EACCES : 0;
}

int vxdOpen(const VxdRoot& root, const char* path, int flags, mode_t mode) {
    char rel[PATH_MAX];
    int rc = vxdRelative(root, path, rel, sizeof rel);
    if (rc) return -rc;
    return openBeneath(root.rootFd, root.rootPath, rel, flags, mode);
}

bool vxdLeavesRoot(const VxdRoot& root, const char* path) {
    char rel[PATH_MAX];
    if (vxdRelative(root, path, rel, sizeof rel) != 0) return false;
    int fd = openPath(root.rootFd, rel, 0);
    if (fd < 0) return false;
    bool inside = fdInsideRoot(fd, root.rootPath);
    close(fd);
    return !inside;
}

int vxdOpenRegular(const VxdRoot& root, const char* path) {
    int fd = vxdOpen(root, path, O_RDONLY | O_NONBLOCK, 0);
    if (fd < 0) return fd;
    struct stat st;
    int err = fstat(fd, &st) != 0 ? errno : 0;
    if (!err && !S_ISREG(st.st_mode)) err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (err) {
        close(fd);
        return -err;
    }
    return fd;
}

int vxdOpenParent(const VxdRoot& root, const char* path, char* name, size_t nameSize) {
    char rel[PATH_MAX];
    int rc = vxdRelative(root, path, rel, sizeof rel);
    if (rc) return -rc;
    size_t len = strlen(rel);
    while (len > 1 && rel[len - 1] == '/')
        rel[--len] = '\0';
    char* slash = strrchr(rel, '/');
    const char* last = slash ? slash + 1 : rel;
    if (!*last || strcmp(last, ".") == 0) return -EINVAL;
    if (!copyText(name, nameSize, last)) return -ENAMETOOLONG;
    if (slash) {
        *slash = '\0';
        if (!*rel) strcpy(rel, ".");
    } else {
        strcpy(rel, ".");
    }
    return openBeneath(root.rootFd, root.rootPath, rel, O_PATH | O_DIRECTORY, 0);
}

int vxdCreateTemp(int dirFd, char* tmpName, size_t tmpSize, mode_t mode) {
    for (int attempt = 0; attempt < 100; attempt++) {
        int n = snprintf(tmpName, tmpSize, ".vxtmp.%d.%u", static_cast<int>(getpid()),
                         g_tempCounter.fetch_add(1));
        if (n < 0 || static_cast<size_t>(n) >= tmpSize) return -ENAMETOOLONG;
        int fd = openat(dirFd, tmpName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -errno;
    }
    return -EEXIST;
}

namespace {

// False when the process has ended (a zombie that nobody has reaped yet counts as ended).
bool processRuns(int pid) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return false;
    char path[64], stat[512];
    snprintf(path, sizeof path, "/proc/%d/stat", pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true; // no /proc: trust kill()
    ssize_t n = read(fd, stat, sizeof stat - 1);
    close(fd);
    if (n <= 0) return false;
    stat[n] = '\0';
    const char* end = strrchr(stat, ')'); // the name may hold anything, the state follows it
    return !(end && end[1] == ' ' && end[2] == 'Z');
}

} // namespace

void vxdRemoveStaleTemps(int dirFd) {
    int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return;
    }
    while (dirent* e = readdir(dir)) {
        int pid = 0;
        unsigned counter = 0;
        char end = 0;
        if (sscanf(e->d_name, ".vxtmp.%d.%u%c", &pid, &counter, &end) != 2 || pid <= 0) continue;
        if (!processRuns(pid)) unlinkat(dirFd, e->d_name, 0);
    }
    closedir(dir);
}

int vxdWriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int vxdReplaceFrom(int srcFd, int dirFd, const char* name, mode_t mode) {
    char tmp[64]; // ".vxtmp." + pid + "." + counter
    int fd = vxdCreateTemp(dirFd, tmp, sizeof tmp, mode);
    if (fd < 0) return -fd;
    int err = 0;
    static char buf[65536];
    for (;;) {
        ssize_t n = read(srcFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        err = vxdWriteAll(fd, buf, static_cast<size_t>(n));
        if (err) break;
    }
    if (!err && fchmod(fd, mode) != 0) err = errno;
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    vxdFaultPoint("replace"); // the new content is complete beside the old
    if (!err && renameat(dirFd, tmp, dirFd, name) != 0) err = errno;
    if (err) unlinkat(dirFd, tmp, 0);
    return err;
}

void vxdErrorText(int code, const char* subject, char* out, size_t size) {
    if (subject && *subject)
        snprintf(out, size, "%s (%s) !", strerror(code), subject);
    else
        snprintf(out, size, "%s !", strerror(code));
}

bool vxdHelperDir(const char* program, char* out, size_t size) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return false;
    self[n] = '\0';
    char* slash = strrchr(self, '/');
    if (slash) *slash = '\0';
    for (const char* relative : {"", "/../lib/orvelan"}) {
        char candidate[PATH_MAX], canon[PATH_MAX], path[PATH_MAX];
        int length = snprintf(candidate, sizeof candidate, "%s%s", self, relative);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof candidate) continue;
        if (!realpath(candidate, canon)) continue;
        length = snprintf(path, sizeof path, "%s/%s", canon, program);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof path || access(path, X_OK) != 0)
            continue;
        length = snprintf(out, size, "%s", canon);
        return length > 0 && static_cast<size_t>(length) < size;
    }
    return false;
}
