// orvelan-server-setup: lays out an installed proxy server's root (the working directory with
// "orvelan.cnf" and the server programs, the directories of the lists, the statistics tool, the
// Squid configuration) and sets the two console passwords that are not set yet. Run by the
// package after every installation and by an administrator at will: what exists is kept.
#include <cerrno>
#include <climits>
#include <crypt.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <iostream>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lib/vx_version.h"
#include "params/def.h"
#include "server/squid_config.h"
#include "server/vxd_fs.h"

namespace {

const char kUsage[] =
    "usage: orvelan-server-setup [--root DIR] [--password-stdin]\n"
    "\n"
    "Lays out what is missing of the proxy server's root DIR (default /var/lib/orvelan), the\n"
    "root vxd serves: \"orvelan.cnf\" and the server programs in it, the directories of the\n"
    "user, group and permit lists, /l/tools/getstats2 and the Squid configuration that\n"
    "/etc/squid/conf.d/orvelan.conf includes. Lists, \"orvelan.cnf\" and passwords that exist\n"
    "are never changed; a second run changes nothing.\n"
    "\n"
    "The console passwords (user level, administrator level) that are not set yet are set:\n"
    "  --password-stdin  from standard input, two lines: user level, then administrator level\n"
    "                    (the line of a level that is set is read and ignored)\n"
    "  otherwise         generated and printed once\n"
    "\n"
    "Exit status: 0 done, 1 failure (message on standard error), 2 usage.\n";

// The server programs the console runs in its working directory, and "kaka" and "grouppen"
// that its post-save commands name.
const char* const kWorkPrograms[] = {"cpout",  "cpin", "cpin2",   "cprestore",
                                     "vxtail", "kaka", "grouppen"};

struct Setup {
    std::string root = "/var/lib/orvelan";
    std::string helpers; // the directory of the installed server programs
    bool passwordStdin = false;
    bool changed = false;
    bool squidWritten = false;
};

void say(Setup& s, const std::string& what, bool change) {
    std::cout << (change ? "  made  " : "  kept  ") << what << "\n";
    if (change) s.changed = true;
}

bool fail(const std::string& what) {
    std::cerr << "orvelan-server-setup: " << what << ": " << strerror(errno) << "\n";
    return false;
}

// The directory of the server programs (the one that holds cpout); empty when none is found.
std::string findHelpers() {
    char dir[PATH_MAX];
    return vxdHelperDir("cpout", dir, sizeof dir) ? dir : "";
}

// A console path ("/l/apache/etc/users", or relative to the working directory) on this machine.
std::string local(const Setup& s, const std::string& path) {
    return path[0] == '/' ? s.root + path : s.root + "/" + path;
}

bool makeDir(Setup& s, const std::string& path, mode_t mode) {
    std::string partial;
    size_t pos = 0;
    bool made = false;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (mkdir(partial.c_str(), mode) == 0)
            made = true;
        else if (errno != EEXIST)
            return fail(partial);
    }
    if (made) say(s, path + "/", true);
    return true;
}

bool makeParentDir(Setup& s, const std::string& file) {
    return makeDir(s, file.substr(0, file.rfind('/')), 0755);
}

// A symbolic link to a server program. One that points elsewhere is brought up to date (a
// program moved by an upgrade); anything else by that name is left to the administrator.
bool linkProgram(Setup& s, const std::string& link, const std::string& target) {
    char current[PATH_MAX];
    ssize_t n = readlink(link.c_str(), current, sizeof current - 1);
    if (n >= 0 && std::string(current, n) == target) return true;
    struct stat st;
    if (n < 0 && lstat(link.c_str(), &st) == 0) {
        std::cout << "  left  " << link << " (not a link to " << target << ")\n";
        return true;
    }
    std::string temp = link + ".setup-tmp";
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0)
        return fail(link);
    say(s, link + " -> " + target, true);
    return true;
}

// Writes a new file whole; false when it exists already (nothing written) or on failure.
bool createFile(const std::string& path, const std::string& content, mode_t mode, bool* ok) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        *ok = errno == EEXIST || fail(path);
        return false;
    }
    *ok = vxdWriteAll(fd, content.data(), content.size()) == 0 && fsync(fd) == 0;
    if (close(fd) != 0 || !*ok) {
        *ok = fail(path);
        unlink(path.c_str());
        return false;
    }
    return true;
}

bool writeParams(Setup& s) {
    std::string text = "MainPasswdFile /l/apache/etc/empasswd\n"
                       "MainAdminPasswdFile /l/apache/etc/ampasswd\n"
                       "USERLISTFIL /l/apache/etc/users\n"
                       "USERDATALISTFIL /l/apache/etc/userdata\n"
                       "GROUPLISTFIL /l/apache/etc/groups\n"
                       "PERMITDIR /l/apache/etc/permit\n"
                       "USERPROC kaka\n"
                       "GROUPPROC grouppen\n"
                       "PROXYPROC kaka\n"
                       "SQUIDCONFDIR /etc/squid/orvelan\n"
                       "ACCESSLOG /var/log/squid/access.log\n"
                       "STATSCACHE /var/cache/orvelan\n"
                       "SQUIDRECONFIGURE " +
                       s.helpers + "/squid-reload\n";
    bool ok = true;
    std::string path = s.root + "/orvelan.cnf";
    say(s, path, createFile(path, text, 0644, &ok));
    if (ok && vxLoadParamFile(path.c_str()) < 0) {
        std::cerr << "orvelan-server-setup: " << path << " cannot be read\n";
        return false;
    }
    return ok;
}

// Eight characters (all that the traditional crypt reads) without look-alikes.
std::string generatePassword() {
    static const char kLetters[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::string out;
    while (out.size() < 8) {
        unsigned char byte;
        if (getrandom(&byte, 1, 0) != 1) continue;
        if (byte < 256 / (sizeof kLetters - 1) * (sizeof kLetters - 1))
            out += kLetters[byte % (sizeof kLetters - 1)];
    }
    return out;
}

// True when a password file holds a password (the console's logon then asks for it).
bool passwordSet(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rbe");
    if (!f) return false;
    int c = fgetc(f);
    fclose(f);
    return c != EOF && c != '\r' && c != '\n';
}

// Sets one level's password when it is not set: encrypted as the console encrypts it (crypt(3)
// with the salt "wj"), no line end, readable by root only.
bool setPassword(Setup& s, const char* level, const std::string& path, std::string plain) {
    if (passwordSet(path)) {
        say(s, path + " (" + level + " password)", false);
        return true;
    }
    bool generated = !s.passwordStdin;
    if (generated) plain = generatePassword();
    if (plain.empty()) {
        std::cerr << "orvelan-server-setup: the " << level << " password is empty\n";
        return false;
    }
    crypt_data data{};
    const char* encrypted = crypt_r(plain.c_str(), "wj", &data);
    if (!encrypted || encrypted[0] == '*')
        return fail(std::string("crypt of the ") + level + " password");
    unlink(path.c_str()); // an empty file: the logon takes an empty password
    bool ok = true;
    if (!createFile(path, encrypted, 0600, &ok)) return ok ? fail(path) : false;
    say(s, path + " (" + level + " password)", true);
    if (generated)
        std::cout << "        " << level << " password: " << plain << "   (shown only now)\n";
    return true;
}

bool setPasswords(Setup& s) {
    std::string lines[2];
    if (s.passwordStdin)
        for (std::string& line : lines) {
            std::getline(std::cin, line);
            if (!line.empty() && line.back() == '\r') line.pop_back();
        }
    return setPassword(s, "user level",
                       local(s, vxdParam("MainPasswdFile", "/l/apache/etc/empasswd")), lines[0]) &&
           setPassword(s, "administrator level",
                       local(s, vxdParam("MainAdminPasswdFile", "/l/apache/etc/ampasswd")),
                       lines[1]);
}

// The Squid configuration of the lists as they are, when there is none yet: the include in
// /etc/squid/conf.d needs the file.
bool writeSquidConfig(Setup& s) {
    std::string dir = vxdParam("SQUIDCONFDIR", VXD_SQUID_DIR);
    std::string conf = local(s, dir + "/orvelan.conf");
    if (access(conf.c_str(), F_OK) == 0) {
        say(s, conf, false);
        return true;
    }
    VxdRoot root;
    std::string error;
    if (int err = vxdOpenRoot(&root, s.root.c_str(), ".")) {
        errno = err;
        return fail(s.root);
    }
    int rc = vxdWriteSquidConfig(root, &error);
    close(root.rootFd);
    if (rc != 0) {
        std::cerr << "orvelan-server-setup: the Squid configuration: " << error << "\n";
        return false;
    }
    say(s, conf, true);
    s.squidWritten = true;
    return true;
}

bool layOut(Setup& s) {
    if (!makeDir(s, s.root, 0755) || !writeParams(s)) return false;
    const char* const lists[][2] = {{"USERLISTFIL", "/l/apache/etc/users"},
                                    {"USERDATALISTFIL", "/l/apache/etc/userdata"},
                                    {"GROUPLISTFIL", "/l/apache/etc/groups"},
                                    {"MainPasswdFile", "/l/apache/etc/empasswd"},
                                    {"MainAdminPasswdFile", "/l/apache/etc/ampasswd"}};
    for (const auto& list : lists)
        if (!makeParentDir(s, local(s, vxdParam(list[0], list[1])))) return false;
    if (!makeDir(s, local(s, vxdParam("PERMITDIR", "/l/apache/etc/permit")), 0755) ||
        !makeDir(s, s.root + "/l/tools", 0755) || !makeDir(s, s.root + "/tmp", 0700) ||
        !makeDir(s, s.root + "/var/log", 0755))
        return false;
    for (const char* program : kWorkPrograms)
        if (!linkProgram(s, s.root + "/" + program, s.helpers + "/" + program)) return false;
    return linkProgram(s, s.root + "/l/tools/getstats2", s.helpers + "/getstats2") &&
           setPasswords(s) && writeSquidConfig(s);
}

void sayWhatIsLeft(const Setup& s) {
    std::cout << (s.changed ? "done.\n" : "nothing to do: everything was in place.\n")
              << "left for the administrator:\n"
                 "  - vxd listens on loopback only: set \"listen\" and \"allow\" in "
                 "/etc/orvelan/vxd.conf\n"
                 "    (anyone the allowed networks admit runs commands as root here), then\n"
                 "    systemctl restart vxd\n"
                 "  - point the console at this server: its Setup page (\"Varrow\": this host's "
                 "name),\n"
                 "    or the \"ProxyServerName\" of orvelanctl's parameter source\n";
    if (s.squidWritten)
        std::cout << "  - Squid applies the Orvelan lists after a reload: systemctl reload squid\n";
}

int parseOptions(int argc, char** argv, Setup* s) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            fputs(kUsage, stdout);
            return 0;
        } else if (a == "--root" && i + 1 < argc && argv[i + 1][0]) {
            s->root = argv[++i];
        } else if (a == "--password-stdin") {
            s->passwordStdin = true;
        } else {
            fputs(kUsage, stderr);
            return 2;
        }
    }
    while (s->root.size() > 1 && s->root.back() == '/')
        s->root.pop_back();
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (vxVersionRequested("orvelan-server-setup", argc, argv)) return 0;
    Setup s;
    int rc = parseOptions(argc, argv, &s);
    if (rc >= 0) return rc;
    umask(022);
    s.helpers = findHelpers();
    if (s.helpers.empty()) {
        std::cerr << "orvelan-server-setup: the server programs (cpout, ...) are neither beside "
                     "this program nor in ../lib/orvelan\n";
        return 1;
    }
    std::cout << "orvelan-server-setup: server root " << s.root << "\n";
    if (!layOut(s)) return 1;
    sayWhatIsLeft(s);
    return 0;
}
