// The post-save commands "kaka" and "grouppen": the proxy server's lists as a Squid configuration.
#include "server/squid_config.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "lib/txt0.h"
#include "lib/vx_err.h"
#include "lib/vx_names.h"
#include "params/def.h"
#include "server/squid_url.h"
#include "server/vxd_fault.h"

namespace {

constexpr size_t kFileMax = 16 * 1024 * 1024; // a list file beyond this is refused
constexpr size_t kLineMax = 4096;

struct User {
    std::string name, group, password;
    bool proxy = false;
};

struct Group {
    std::string name, permitPath;
    bool deny = true;
    std::vector<std::string> users, urls;
};

// Reads a whole file below the root. 0, or an errno value (ENOENT for a missing file).
int readFile(const VxdRoot& root, const std::string& path, std::string& out) {
    int fd = vxdOpen(root, path.c_str(), O_RDONLY, 0);
    if (fd < 0) return -fd;
    char buf[65536];
    ssize_t n;
    int err = 0;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || out.size() + static_cast<size_t>(n) > kFileMax) {
            err = n < 0 ? errno : EFBIG;
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return err;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
        pos = end + 1;
    }
    return out;
}

void trimRight(std::string& s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
}

// Why a name cannot stand in a file name, an ACL name or the password file (the console checks
// the same rule when a name is entered); empty when the name is safe.
std::string nameProblem(const std::string& name) {
    const char* problem = vxNameProblem(name.c_str());
    return problem ? problem : "";
}

bool printable(const std::string& s) {
    return std::none_of(s.begin(), s.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::string fail(const std::string& file, size_t line, const std::string& what) {
    return file + (line ? ":" + std::to_string(line) : "") + ": " + what;
}

// Group list lines: name, kind, "permit path" (missing fields as the console derives them).
bool readGroups(const std::string& path, const std::string& text, const std::string& permitDir,
                std::vector<Group>& groups, std::string* error) {
    size_t lineNo = 0;
    for (std::string line : lines(text)) {
        ++lineNo;
        if (line.size() >= kLineMax) return (*error = fail(path, lineNo, "line too long"), false);
        line += '\n';
        char* words[8];
        int count = 0;
        FILE* f = fmemopen(line.data(), line.size(), "r");
        char buf[kLineMax + 2];
        int rc = vxReadTextLine(f, buf, words, 8, sizeof buf, &count);
        fclose(f);
        if (rc != 0 || count == 0) continue;
        Group g;
        g.name = words[0];
        g.deny = count < 2 || words[1][0] == 'd';
        g.permitPath = count >= 3 ? words[2] : permitDir + g.name + (g.deny ? ".deny" : ".allow");
        if (std::string why = nameProblem(g.name); !why.empty())
            return (*error = fail(path, lineNo, "unsafe group name \"" + g.name + "\": " + why),
                    false);
        for (const Group& other : groups)
            if (other.name == g.name)
                return (*error = fail(path, lineNo, "duplicate group " + g.name), false);
        groups.push_back(g);
    }
    return true;
}

// User list lines: name:group:password:p:e:s:mail:
bool readUsers(const std::string& path, const std::string& text, std::vector<Group>& groups,
               std::vector<User>& users, std::string* error) {
    size_t lineNo = 0;
    for (std::string line : lines(text)) {
        ++lineNo;
        if (line.size() >= kLineMax) return (*error = fail(path, lineNo, "line too long"), false);
        char* fields[16];
        int count = vxSplitEvery(line.data(), ':', ':', fields, 16);
        if (count == 0) continue;
        User u;
        u.name = fields[0];
        trimRight(u.name);
        if (count < 3) return (*error = fail(path, lineNo, "fewer than three fields"), false);
        u.group = fields[1];
        trimRight(u.group);
        u.password = fields[2];
        trimRight(u.password);
        for (int i = 3; i < 6 && i < count; ++i)
            u.proxy = u.proxy || fields[i][0] == 'p';
        if (std::string why = nameProblem(u.name); !why.empty())
            return (*error = fail(path, lineNo, "unsafe user name \"" + u.name + "\": " + why),
                    false);
        if (!printable(u.password))
            return (*error = fail(path, lineNo, "control character in the password"), false);
        for (const User& other : users)
            if (other.name == u.name)
                return (*error = fail(path, lineNo, "duplicate user " + u.name), false);
        if (!u.group.empty()) {
            auto g = std::find_if(groups.begin(), groups.end(),
                                  [&](const Group& x) { return x.name == u.group; });
            if (g == groups.end())
                return (*error =
                            fail(path, lineNo, "unknown group " + u.group + " of user " + u.name),
                        false);
            g->users.push_back(u.name);
        }
        users.push_back(u);
    }
    return true;
}

// A permit-list entry as a url_regex pattern that matches the entry literally.
std::string literalPattern(const std::string& url) {
    std::string out;
    for (char c : url) {
        if (strchr("\\^$.|?*+()[]{}", c)) out += '\\';
        out += c;
    }
    return out;
}

int makeDirs(const VxdRoot& root, const std::string& path) {
    char rel[PATH_MAX];
    if (int err = vxdRelative(root, path.c_str(), rel, sizeof rel)) return err;
    std::string r = rel;
    // Every parent of the last component, from the top down.
    for (size_t slash = r.find('/'); slash != std::string::npos; slash = r.find('/', slash + 1))
        if (mkdirat(root.rootFd, r.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST)
            return errno;
    return 0;
}

// Writes a whole file below the root: a temporary file beside it, then a rename.
int writeFile(const VxdRoot& root, const std::string& path, const std::string& content) {
    char name[PATH_MAX];
    int dirFd = vxdOpenParent(root, path.c_str(), name, sizeof name);
    if (dirFd < 0) return -dirFd;
    char tmp[PATH_MAX];
    int fd = vxdCreateTemp(dirFd, tmp, sizeof tmp, 0644);
    int err = fd < 0 ? -fd : vxdWriteAll(fd, content.data(), content.size());
    if (fd >= 0) {
        if (!err && fsync(fd) != 0) err = errno;
        close(fd);
        if (!err && renameat(dirFd, tmp, dirFd, name) != 0) err = errno;
        if (err) unlinkat(dirFd, tmp, 0);
    }
    close(dirFd);
    return err;
}

std::string joinLines(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    std::string out;
    for (const std::string& s : items)
        out += s + "\n";
    return out;
}

// dir is the configuration directory as the server names it (where the files are written),
// hostDir the same directory as Squid on this machine sees it (the names inside orvelan.conf).
std::map<std::string, std::string> buildFiles(const std::string& dir, const std::string& hostDir,
                                              std::vector<Group>& groups,
                                              const std::vector<User>& users) {
    std::map<std::string, std::string> files;
    std::vector<std::string> passwd;
    for (const User& u : users)
        if (u.proxy && !u.password.empty()) passwd.push_back(u.name + ":" + u.password);
    files[dir + "/passwd"] = joinLines(passwd);

    std::string conf =
        "# Generated from the proxy server's user, group and permit lists; do not edit.\n"
        "auth_param basic program /usr/lib/squid/basic_ncsa_auth " +
        hostDir +
        "/passwd\n"
        "auth_param basic realm Orvelan proxy\n"
        "acl orvelan_users proxy_auth REQUIRED\n";
    std::string rules;
    for (Group& g : groups) {
        std::vector<std::string> patterns;
        for (const std::string& url : g.urls)
            patterns.push_back(literalPattern(url));
        files[dir + "/groups/" + g.name + ".users"] = joinLines(g.users);
        files[dir + "/groups/" + g.name + ".urls"] = joinLines(patterns);
        std::string members = "orvelan_g_" + g.name, sites = "orvelan_s_" + g.name;
        conf += "acl " + members + " proxy_auth \"" + hostDir + "/groups/" + g.name + ".users\"\n";
        conf += "acl " + sites + " url_regex -i \"" + hostDir + "/groups/" + g.name + ".urls\"\n";
        // A deny list blocks its sites and allows the rest; an allow list the other way round.
        rules += "http_access " + std::string(g.deny ? "deny " : "allow ") + members + " " + sites +
                 "\n";
        // A deny line that ends with an authentication ACL makes Squid ask for credentials again
        // (407) instead of refusing (403): "all" ends it.
        rules += "http_access " + std::string(g.deny ? "allow " : "deny ") + members +
                 (g.deny ? "" : " all") + "\n";
    }
    conf += rules + "http_access allow orvelan_users\n";
    files[dir + "/orvelan.conf"] = conf;
    return files;
}

// Removes the generated files of groups that are gone: every "*.users" and "*.urls" of the
// groups directory that this run did not write. Run after orvelan.conf no longer names them.
int removeStale(const VxdRoot& root, const std::string& dir,
                const std::map<std::string, std::string>& files) {
    const std::string groupsDir = dir + "/groups";
    int dirFd = vxdOpen(root, groupsDir.c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (dirFd < 0) return -dirFd;
    DIR* d = fdopendir(dirFd);
    if (d == nullptr) {
        int err = errno;
        close(dirFd);
        return err;
    }
    std::vector<std::string> stale;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        const bool generated = (name.size() > 6 && name.ends_with(".users")) ||
                               (name.size() > 5 && name.ends_with(".urls"));
        if (generated && !files.contains(groupsDir + "/" + name)) stale.push_back(name);
    }
    int err = 0;
    for (const std::string& name : stale)
        if (unlinkat(dirfd(d), name.c_str(), 0) != 0 && errno != ENOENT && !err) err = errno;
    closedir(d);
    return err;
}

} // namespace

const char* vxdParam(const char* name, const char* fallback) {
    const char* value = vxGetParam(name);
    return value && *value ? value : fallback;
}

int vxdWriteSquidConfig(const VxdRoot& root, std::string* error) {
    std::string userList = vxdParam("USERLISTFIL", "/l/apache/etc/users");
    std::string groupList = vxdParam("GROUPLISTFIL", "/l/apache/etc/groups");
    std::string permitDir = vxdParam("PERMITDIR", "/l/apache/etc/permit");
    std::string dir = vxdParam("SQUIDCONFDIR", VXD_SQUID_DIR);
    if (permitDir.back() != '/') permitDir += '/';
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();

    std::string text;
    std::vector<Group> groups;
    std::vector<User> users;
    int err = readFile(root, groupList, text);
    if (err && err != ENOENT) return (*error = fail(groupList, 0, strerror(err)), 1);
    if (!readGroups(groupList, text, permitDir, groups, error)) return 1;
    text.clear();
    err = readFile(root, userList, text);
    if (err && err != ENOENT) return (*error = fail(userList, 0, strerror(err)), 1);
    if (!readUsers(userList, text, groups, users, error)) return 1;
    for (Group& g : groups) {
        text.clear();
        err = readFile(root, g.permitPath, text);
        if (err && err != ENOENT) return (*error = fail(g.permitPath, 0, strerror(err)), 1);
        size_t lineNo = 0;
        for (const std::string& line : lines(text)) {
            ++lineNo;
            // Permit files hold whitespace-separated words, one URL each.
            size_t pos = 0;
            while ((pos = line.find_first_not_of(" \t", pos)) != std::string::npos) {
                size_t end = line.find_first_of(" \t", pos);
                std::string url = line.substr(pos, end == std::string::npos ? end : end - pos);
                if (!printable(url))
                    return (*error = fail(g.permitPath, lineNo, "control character in a URL"), 1);
                // Squid compares the URL a client sends: IDNA host, percent-encoded UTF-8.
                std::string client, why;
                if (!vxdClientUrl(url, &client, &why))
                    return (*error = fail(g.permitPath, lineNo, why), 1);
                g.urls.push_back(client);
                pos = end;
            }
        }
    }

    // Squid reads the files outside the server's root mapping (and outside the view of vxsh,
    // which names the root's real path in VXD_SYSTEM_ROOT): name them by their real path.
    const char* systemRoot = getenv("VXD_SYSTEM_ROOT");
    std::string realRoot = systemRoot && *systemRoot ? systemRoot : root.rootPath;
    std::string hostDir = realRoot == "/" ? dir : realRoot + dir;
    std::map<std::string, std::string> files = buildFiles(dir, hostDir, groups, users);
    if ((err = makeDirs(root, dir + "/groups/x"))) return (*error = fail(dir, 0, strerror(err)), 1);
    for (const auto& [path, content] : files) {
        vxdFaultPoint("squid"); // one step per configuration file
        if ((err = writeFile(root, path, content)))
            return (*error = fail(path, 0, strerror(err)), 1);
    }
    if ((err = removeStale(root, dir, files)))
        return (*error = fail(dir + "/groups", 0, strerror(err)), 1);
    return 0;
}

int vxdSquidMain(const char* name, int argc, char** argv) {
    (void)argv;
    if (argc != 1) {
        fprintf(stderr, "usage: %s (no arguments; run in the server's working directory)\n", name);
        return 1;
    }
    VxdRoot root;
    if (int err = vxdOpenRootFromEnv(&root)) {
        fprintf(stderr, "%s: VXD_ROOT: %s\n", name, strerror(err));
        return 1;
    }
    if (access("orvelan.cnf", R_OK) == 0 && vxLoadParamFile("orvelan.cnf") < 0) {
        fprintf(stderr, "%s: orvelan.cnf cannot be read: %s\n", name, vxLastError().text);
        return 1;
    }
    std::string error;
    if (vxdWriteSquidConfig(root, &error) != 0) {
        fprintf(stderr, "%s: %s\n", name, error.c_str());
        return 1;
    }
    // A running Squid takes the new configuration only when told; "SQUIDRECONFIGURE" names the
    // command that tells it (e.g. "squid -k reconfigure"). Its failure is the command's failure:
    // the lists were saved, but the proxy does not enforce them yet.
    const char* reconfigure = vxGetParam("SQUIDRECONFIGURE");
    if (reconfigure && *reconfigure) {
        fflush(nullptr);
        int status = system(reconfigure);
        if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "%s: SQUIDRECONFIGURE \"%s\" failed (status %d)\n", name, reconfigure,
                    status == -1        ? -1
                    : WIFEXITED(status) ? WEXITSTATUS(status)
                                        : 128 + WTERMSIG(status));
            return 1;
        }
    }
    return 0;
}
