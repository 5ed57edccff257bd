// A real reference server for end-to-end tests: rpcbind (started when missing) and a vxd on a
// temporary root of its own, with the server programs installed in its working directory.
#pragma once

#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

struct TestServerOptions {
    std::string workdir = "srv";        // working directory below the root
    int idleSeconds = 600;              // vxd --idle
    std::vector<std::string> extraArgs; // more vxd options
    bool start = true;                  // start vxd in the constructor
    bool statsTool = false;             // install getstats2 as /l/tools/getstats2 of the root
    // Servers on the machine's rpcbind take turns (one program number per machine); a server
    // in a network namespace of its own has its own rpcbind and need not wait for the others.
    bool ownNetwork = false;
};

// Usage: TestServer server; ASSERT_TRUE(server.running()) << server.error();
// The destructor stops vxd and removes the temporary root.
class TestServer {
  public:
    explicit TestServer(TestServerOptions options = {});
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    bool running() const { return m_pid > 0; }
    const std::string& error() const { return m_error; }

    // Starts vxd (with --replace) and waits until program 0x48000003 is registered.
    bool start();
    // Stops vxd (SIGTERM, waiting for its exit); afterwards nothing answers at the program.
    void stop();
    bool restart();
    // The server dies at once: the service and its workers get SIGKILL together (a worker
    // would follow its service only once the service's exit is done). restart() starts anew.
    void crash();
    // The server stalls: the service and its workers are stopped (SIGSTOP), so connections
    // are still taken by the kernel but nothing answers; resume() lets them go on.
    void pause();
    void resume();
    // The service's worker processes, in ascending order.
    std::vector<pid_t> workers() const;

    pid_t pid() const { return m_pid; }
    static const char* host() { return "127.0.0.1"; }
    const std::string& root() const { return m_root; }       // local path of the server root
    const std::string& workdir() const { return m_workdir; } // local path of the working dir

    // Local path of a server path: absolute ones lie under root(), relative ones in workdir().
    std::string local(const std::string& serverPath) const;
    // Writes a server file (creating its directories); false on failure.
    bool writeFile(const std::string& serverPath, const std::string& content) const;
    // Content of a server file; empty when it cannot be read (see exists).
    std::string readFile(const std::string& serverPath) const;
    bool exists(const std::string& serverPath) const;
    // The daemon log "tcp_srvr.log" and vxd's own stderr output.
    std::string logText() const { return readFile("tcp_srvr.log"); }
    std::string stderrText() const;

  private:
    bool fail(const std::string& text);
    bool installPrograms();

    TestServerOptions m_options;
    std::string m_base; // temporary directory holding root/ and vxd's pid and stderr files
    std::string m_root;
    std::string m_workdir;
    pid_t m_pid = -1;
    std::string m_error;
};

// Makes sure rpcbind answers on 127.0.0.1 (starting it as root when it does not); false with a
// reason in error otherwise.
bool ensureRpcbind(std::string* error);

// A socket listening on 127.0.0.1 at a free port, whose number goes to *port; -1 when none could
// be opened (errno says why).
int listenLoopback(unsigned short* port);

// Opens the lock file that orders the test servers meeting at one rpcbind (program 0x48000003
// is one per rpcbind), and takes it: beside rpcbind's own files in /run, so that runs in network
// and mount namespaces of their own (each with its rpcbind and its /run) do not wait for each
// other; in /tmp where /run cannot be written. The descriptor, or -1.
int lockRpcbindForTests();

// Port registered with the local rpcbind for (program, version 1, TCP); 0 when none.
unsigned short testRegisteredPort(unsigned long program);

// Directory of the built vxd and server programs.
std::string testServerBinDir();

// The instances a server handed out (its daemon log's ASK) and those it released. It logs a
// release just after its reply, so this waits (up to waitMs) until the two sets agree.
struct InstanceLedger {
    std::set<std::string> asked, released;
};
InstanceLedger waitForReleases(const TestServer& server, int waitMs = 5000);
