// Server program "vxsh": the shell of vxd's remote commands. It runs "sh -c COMMAND" so that the
// command line sees the server root as the file procedures do: in a private mount namespace
// whose "/l" and "/tmp" are the root's, while the rest of the system stays where it is.
//
//   vxsh -c COMMAND       (environment: VXD_ROOT, the working directory below it)
//
// With VXD_ROOT unset or "/" it is plain /bin/sh, and so it is, with a warning, where no mount
// namespace can be made. Otherwise the view is built on a small tmpfs:
// every top-level directory of the system bound in place (symbolic links such as /bin copied),
// the root's l and tmp over /l and /tmp (an empty /l and a fresh /tmp when the root has none),
// and the whole root at /.vxd-root, which becomes VXD_ROOT for the server programs and holds
// the working directory; VXD_SYSTEM_ROOT keeps the root's real path. The namespace, and every
// mount in it, ends with the command.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "lib/vx_version.h"

namespace {

constexpr const char* kRootInView = "/.vxd-root";

int fail(const char* what, const std::string& subject) {
    fprintf(stderr, "vxsh: %s %s: %s\n", what, subject.c_str(), strerror(errno));
    return 126;
}

bool writeFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// A private mount namespace: directly with CAP_SYS_ADMIN, else inside a user namespace that maps
// the caller to itself.
bool enterNamespace() {
    if (unshare(CLONE_NEWNS) == 0) return true;
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    writeFile("/proc/self/setgroups", "deny");
    return writeFile("/proc/self/uid_map",
                     std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
           writeFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
}

std::string fdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

struct TopEntry {
    std::string name;
    int fd = -1;        // a directory to bind
    std::string target; // or a symbolic link to copy
};

// The working directory relative to the root ("" for the root itself), or false when it lies
// outside.
bool relativeWorkDir(const std::string& root, const std::string& cwd, std::string* rel) {
    if (cwd == root) {
        rel->clear();
        return true;
    }
    if (cwd.compare(0, root.size(), root) != 0 || cwd[root.size()] != '/') return false;
    *rel = cwd.substr(root.size() + 1);
    return true;
}

// PATH with every entry below the root moved into the view.
std::string viewPath(const char* path, const std::string& root) {
    std::string out;
    std::string rest = path ? path : "";
    size_t at = 0;
    while (at <= rest.size()) {
        size_t colon = rest.find(':', at);
        std::string entry = rest.substr(at, colon == std::string::npos ? colon : colon - at);
        if (entry == root || entry.compare(0, root.size() + 1, root + "/") == 0)
            entry = kRootInView + entry.substr(root.size());
        out += (out.empty() ? "" : ":") + entry;
        if (colon == std::string::npos) break;
        at = colon + 1;
    }
    return out;
}

// The top-level entries of the system to show in the view: directories (opened, as they are
// bound after the staging tmpfs covers the working directory) and symbolic links. 0, or the
// exit status of a failure.
int listTop(std::vector<TopEntry>* top) {
    DIR* dir = opendir("/");
    if (!dir) return fail("cannot list", "/");
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "l" || name == "tmp" || name == ".vxd-root")
            continue;
        std::string path = "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        TopEntry entry{name, -1, ""};
        if (S_ISDIR(st.st_mode)) {
            entry.fd = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (entry.fd < 0) continue;
        } else if (S_ISLNK(st.st_mode)) {
            char target[PATH_MAX];
            ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            entry.target.assign(target, static_cast<size_t>(n));
        } else {
            continue;
        }
        top->push_back(entry);
    }
    closedir(dir);
    return 0;
}

// The root and its l and tmp, opened before the staging tmpfs covers the working directory
// (l and tmp -1 when the root has none).
struct RootDirs {
    int root = -1;
    int l = -1;
    int tmp = -1;
};

// The new root's tree on a tmpfs at stage: the system's top-level entries, the root at
// kRootInView, its l and tmp at /l and /tmp. 0, or the exit status of a failure.
int stageView(const std::string& stage, const std::vector<TopEntry>& top, const std::string& root,
              const RootDirs& dirs, const std::string& cwd) {
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return fail("cannot make private", "/");
    if (mount("vxsh", stage.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=64k") != 0)
        return fail("cannot mount a tmpfs on", stage);
    for (const TopEntry& e : top) {
        std::string at = stage + "/" + e.name;
        if (e.fd < 0) {
            if (symlink(e.target.c_str(), at.c_str()) != 0) return fail("cannot link", at);
            continue;
        }
        mkdir(at.c_str(), 0755);
        // A system directory that cannot be bound (a user namespace may refuse some) stays empty.
        mount(fdPath(e.fd).c_str(), at.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
        close(e.fd);
    }
    const std::string rootAt = stage + kRootInView;
    mkdir(rootAt.c_str(), 0755);
    mkdir((stage + "/l").c_str(), 0755);
    mkdir((stage + "/tmp").c_str(), 01777);
    // Not recursive: the staging tmpfs on the working directory must not come along.
    if (mount(fdPath(dirs.root).c_str(), rootAt.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return fail("cannot bind", root);
    // The system directory holding the root brought the staging tmpfs along: uncover the
    // working directory there too.
    umount2((stage + cwd).c_str(), MNT_DETACH);
    if (dirs.l >= 0 && mount(fdPath(dirs.l).c_str(), (stage + "/l").c_str(), nullptr,
                             MS_BIND | MS_REC, nullptr) != 0)
        return fail("cannot bind", root + "/l");
    if (dirs.tmp >= 0 ? mount(fdPath(dirs.tmp).c_str(), (stage + "/tmp").c_str(), nullptr,
                              MS_BIND | MS_REC, nullptr) != 0
                      : mount("vxsh", (stage + "/tmp").c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                              "mode=1777") != 0)
        return fail("cannot mount", "/tmp");
    return 0;
}

// Makes the staged tree the root of this namespace and enters the working directory in it, with
// the environment the server programs find the root by. 0, or the exit status of a failure.
int enterView(const std::string& stage, const std::string& root, const std::string& rel) {
    if (chdir(stage.c_str()) != 0) return fail("cannot enter", stage);
    if (syscall(SYS_pivot_root, ".", ".") != 0) return fail("cannot pivot to", stage);
    if (umount2(".", MNT_DETACH) != 0) return fail("cannot detach", "the old root");
    std::string work = std::string(kRootInView) + (rel.empty() ? "" : "/" + rel);
    if (chdir(work.c_str()) != 0) return fail("cannot enter", work);
    setenv("PATH", viewPath(getenv("PATH"), root).c_str(), 1);
    setenv("VXD_ROOT", kRootInView, 1);
    // Where the root lies for programs outside this view (Squid reads the files kaka writes).
    setenv("VXD_SYSTEM_ROOT", root.c_str(), 1);
    return 0;
}

// The view of the root, staged on a tmpfs over the working directory (which the new root then
// covers again) and pivoted into.
int buildView(const std::string& root, const std::string& cwd) {
    std::string rel;
    if (!relativeWorkDir(root, cwd, &rel)) {
        errno = EACCES;
        return fail("working directory outside the root", cwd);
    }
    // Everything the view binds is opened before the staging tmpfs covers the working directory.
    std::vector<TopEntry> top;
    if (int rc = listTop(&top)) return rc;
    RootDirs dirs;
    dirs.root = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirs.root < 0) return fail("cannot open the root", root);
    dirs.l = open((root + "/l").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    dirs.tmp = open((root + "/tmp").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const std::string& stage = cwd;
    if (int rc = stageView(stage, top, root, dirs, cwd)) return rc;
    return enterView(stage, root, rel);
}

} // namespace

int main(int argc, char** argv) {
    if (vxVersionRequested("vxsh", argc, argv)) return 0;
    if (argc != 3 || strcmp(argv[1], "-c") != 0) {
        fprintf(stderr, "usage: vxsh -c COMMAND\n");
        return 2;
    }
    const char* rootVar = getenv("VXD_ROOT");
    char root[PATH_MAX];
    char cwd[PATH_MAX];
    if (rootVar && *rootVar && realpath(rootVar, root) && strcmp(root, "/") != 0) {
        if (!getcwd(cwd, sizeof cwd)) return fail("cannot read", "the working directory");
        if (enterNamespace()) {
            int rc = buildView(root, cwd);
            if (rc != 0) return rc;
        } else {
            // Without mount namespaces (no privilege, user namespaces switched off) the command
            // still runs, as before, with the system's /l and /tmp: the server programs of the
            // working directory find the root through VXD_ROOT, only absolute paths in the
            // command line itself are not the root's.
            fprintf(stderr, "vxsh: no mount namespace (%s): /l and /tmp are not the root's\n",
                    strerror(errno));
        }
    }
    char* shArgv[] = {const_cast<char*>("sh"), argv[1], argv[2], nullptr};
    execv("/bin/sh", shArgv);
    return fail("cannot run", "/bin/sh");
}
