// Host keys of SSH destinations that the user's known_hosts does not hold yet: the key the
// server offers, read with ssh-keyscan where ssh's own configuration says the server is, its
// SHA256 fingerprint, and the line that accepting it adds to the user's known_hosts.
#include "remote/vx_ssh_hostkey.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vxremote {

namespace {

// The key types in the order ssh prefers them when it knows none of the server's keys.
const char* const KEY_TYPES[] = {"ssh-ed25519", "ecdsa-sha2-nistp256", "ecdsa-sha2-nistp384",
                                 "ecdsa-sha2-nistp521", "ssh-rsa"};

std::string expandHome(const std::string& path) {
    if (path.rfind("~/", 0) != 0) return path;
    const char* home = getenv("HOME");
    return std::string(home ? home : "") + path.substr(1);
}

// A value of `ssh -G`: the first word after "key ".
std::string configValue(const std::string& config, const char* key) {
    std::istringstream lines(config);
    std::string line;
    const std::string prefix = std::string(key) + " ";
    while (std::getline(lines, line))
        if (line.rfind(prefix, 0) == 0) {
            std::string value = line.substr(prefix.size());
            return value.substr(0, value.find(' '));
        }
    return {};
}

// The scanned line of the most preferred key type; empty when there is none.
std::string preferredKeyLine(const std::string& scanned) {
    for (const char* type : KEY_TYPES) {
        std::istringstream lines(scanned);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream words(line);
            std::string host, keyType;
            words >> host >> keyType;
            if (keyType == type) return line;
        }
    }
    return {};
}

} // namespace

bool scanHostKey(const std::vector<std::string>& sshBase, const Deadline& deadline,
                 ScannedKey* out) {
    int status = -1;
    std::vector<std::string> query = sshBase;
    query.insert(query.begin() + 1, "-G");
    const std::string config = runCapture(query, "", deadline, &status);
    const std::string host = configValue(config, "hostname");
    const std::string port = configValue(config, "port");
    if (status != 0 || host.empty() || port.empty()) return false;
    out->knownHosts = expandHome(configValue(config, "userknownhostsfile"));
    const int seconds = std::max(1, deadline.remainingMs() / 1000);
    const std::string scanned =
        runCapture({"ssh-keyscan", "-T", std::to_string(seconds), "-p", port, "--", host}, "",
                   deadline, &status);
    out->line = preferredKeyLine(scanned);
    if (out->line.empty()) return false;
    // "256 SHA256:... host (ED25519)": the second word.
    const std::string listed = runCapture({"ssh-keygen", "-l", "-E", "sha256", "-f", "-"},
                                          out->line + "\n", deadline, &status);
    std::istringstream words(listed);
    std::string bits;
    words >> bits >> out->fingerprint;
    return status == 0 && out->fingerprint.rfind("SHA256:", 0) == 0;
}

bool addKnownHost(const ScannedKey& key) {
    if (key.knownHosts.empty() || key.knownHosts == "none") return false;
    // ~/.ssh is made as ssh makes it, private to the user.
    const size_t slash = key.knownHosts.rfind('/');
    if (slash != std::string::npos && slash > 0)
        mkdir(key.knownHosts.substr(0, slash).c_str(), 0700);
    int fd = open(key.knownHosts.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string line = key.line + "\n";
    const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    return close(fd) == 0 && written;
}

} // namespace vxremote
