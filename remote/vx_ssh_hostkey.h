// Reading and accepting the host key of an SSH destination that known_hosts does not hold.
#pragma once

#include <string>
#include <vector>

#include "remote/vx_ssh.h"

namespace vxremote {

struct ScannedKey {
    std::string line;        // the known_hosts line: host, key type, key
    std::string fingerprint; // "SHA256:..."
    std::string knownHosts;  // the user's known_hosts file (ssh's UserKnownHostsFile)
};

// Reads the host key the destination's server offers. sshBase is the ssh command line that
// reaches the destination (program, options, destination last); ssh -G on it gives the host, the
// port and the known_hosts file. false when no key could be read before the deadline.
bool scanHostKey(const std::vector<std::string>& sshBase, const Deadline& deadline,
                 ScannedKey* out);

// Appends the key's line to the user's known_hosts; false when it could not be written.
bool addKnownHost(const ScannedKey& key);

} // namespace vxremote
