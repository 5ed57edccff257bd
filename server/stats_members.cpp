// The statistics tool's parameters and the members of a group.
#include "server/stats_members.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

// The user list is refused beyond this size, as the post-save commands refuse it.
constexpr size_t kListMax = 16 * 1024 * 1024;

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The fields of a user list line separated by colons, trailing blanks cut.
std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    for (;;) {
        size_t colon = line.find(':');
        out.push_back(trimRight(line.substr(0, colon)));
        if (colon == std::string_view::npos) return out;
        line.remove_prefix(colon + 1);
    }
}

} // namespace

int statsReadFile(const VxdRoot& root, const char* path, size_t max, std::string* out) {
    int fd = vxdOpenRegular(root, path);
    if (fd < 0) return -fd;
    out->clear();
    char buf[65536];
    int err = 0;
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || out->size() + static_cast<size_t>(n) > max) {
            err = n < 0 ? errno : EFBIG;
            break;
        }
        out->append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return err;
}

std::string statsParam(const VxdRoot& root, const char* name, const char* fallback) {
    std::string conf;
    if (statsReadFile(root, "orvelan.cnf", 1 << 20, &conf) != 0) return fallback;
    size_t at = 0;
    while (at < conf.size()) {
        size_t nl = conf.find('\n', at);
        std::string line = conf.substr(at, nl == std::string::npos ? nl : nl - at);
        at = nl == std::string::npos ? conf.size() : nl + 1;
        char key[64];
        char value[PATH_MAX];
        if (sscanf(line.c_str(), " %63s %4095s", key, value) == 2 && strcmp(key, name) == 0)
            return value;
    }
    return fallback;
}

int statsSetMembers(const VxdRoot& root, StatsQuery* query, std::string* failed) {
    query->members.clear();
    const std::string path = statsParam(root, "USERLISTFIL", "/l/apache/etc/users");
    std::string text;
    if (int err = statsReadFile(root, path.c_str(), kListMax, &text)) {
        *failed = path;
        return err;
    }
    std::string_view rest = text;
    while (!rest.empty()) {
        size_t nl = rest.find('\n');
        std::vector<std::string_view> f = fields(rest.substr(0, nl));
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        if (f.size() < 2 || f[0].empty() || f[1] != query->group) continue;
        bool super = false;
        for (size_t i = 3; i <= 5 && i < f.size(); ++i)
            super = super || (!f[i].empty() && f[i][0] == 's');
        if (!super) query->members.emplace_back(f[0]);
    }
    std::sort(query->members.begin(), query->members.end());
    return 0;
}
