// A real sshd in front of a real server that nothing else reaches: the test process moves into a
// network namespace of its own, where only sshd's port listens on 127.0.0.1; rpcbind and vxd
// run in a second namespace, inside which each SSH connection gets its own `sshd -i`. Keys,
// authorized_keys, known_hosts and the client's ssh configuration lie in the test's directory.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

// Usage: SshTestServer ssh; ASSERT_TRUE(ssh.running()) << ssh.error();
// setenv("ORVELAN_SSH_CONFIG", ssh.clientConfig()) makes the link use the test's keys.
// With hidden false nothing moves: vxd runs on the process's own rpcbind, reachable directly as
// well (a benchmark compares both ways to the one server).
class SshTestServer {
  public:
    explicit SshTestServer(TestServerOptions options = {}, bool hidden = true);
    ~SshTestServer();
    SshTestServer(const SshTestServer&) = delete;
    SshTestServer& operator=(const SshTestServer&) = delete;

    bool running() const { return m_hidden > 0 && m_error.empty(); }
    const std::string& error() const { return m_error; }

    // The server name of the link: "ssh://root@127.0.0.1:PORT" (the user running the test).
    std::string destination() const;
    unsigned short port() const { return m_port; }
    // The ssh client configuration: the test's user key, its own known_hosts.
    std::string clientConfig() const { return m_dir.file("ssh_config"); }
    std::string knownHosts() const { return m_dir.file("known_hosts"); }
    // "SHA256:..." of the host key sshd offers now.
    std::string hostFingerprint() const;

    // Puts the current host key into known_hosts (as an administrator who checked it would).
    bool trustHostKey() const;
    // sshd offers a new host key from the next connection on.
    bool changeHostKey();
    // The client offers a key that authorized_keys does not hold.
    bool useWrongUserKey();
    // Every SSH connection ends at once (each connection's sshd gets SIGKILL); new ones are
    // still taken.
    void killSessions();
    // Processes running ssh with this test's client configuration (the client's masters).
    std::vector<pid_t> clientProcesses() const;
    // Relays (orvelan-ssh-relay) in front of an ssh to this sshd's port.
    std::vector<pid_t> relayProcesses() const;
    // Appends lines to the client's ssh configuration (they join its "Host *" block).
    bool addClientConfig(const std::string& lines);

    // The server behind sshd: its files, as TestServer gives them.
    const TestServer& server() const { return m_server; }

  private:
    bool fail(const std::string& text);
    bool makeKeys();
    bool startHidden();
    [[noreturn]] void runHidden(int listener, int status, int stop);
    std::vector<pid_t> sessions() const;

    TempDir m_dir{"sshd"};
    TestServer m_server;
    unsigned short m_port = 0;
    pid_t m_hidden = -1; // the process that holds the hidden namespace
    int m_stop = -1;     // closing it ends the hidden namespace's processes
    bool m_hide = true;
    std::string m_error;
};

// The fingerprint "SHA256:..." of a public key file; empty when it cannot be read.
std::string keyFingerprint(const std::string& publicKeyFile);
