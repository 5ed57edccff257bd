// End-to-end test of the proxy policy: lists saved through orvelanctl and the reference server
// become a Squid configuration that Debian's squid parses and enforces on loopback, in front of
// an HTTP origin that the test runs.
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <crypt.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/console_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace fs = std::filesystem;

namespace {

constexpr int kIoTimeoutSeconds = 10;   // one request through the proxy
constexpr int kSquidStartSeconds = 30;  // until Squid accepts connections
constexpr int kReconfigureSeconds = 30; // until a reconfigured rule holds
constexpr const char* kSalt = "wj";     // the console's salt for new passwords
const std::string kAccentedIdna = "xn--rvztr-wqa0gx3bwi.test"; // árvíztűrő.test

void spill(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string des(const char* plain) {
    crypt_data data{};
    const char* out = crypt_r(plain, kSalt, &data);
    return out ? out : "";
}

std::string base64(const std::string& in) {
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
        if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
        out += table[(v >> 18) & 63];
        out += table[(v >> 12) & 63];
        out += i + 1 < in.size() ? table[(v >> 6) & 63] : '=';
        out += i + 2 < in.size() ? table[v & 63] : '=';
    }
    return out;
}

int connectLoopback(unsigned short port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{kIoTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A tiny HTTP origin on 127.0.0.1: every request gets 200 and the body "origin HOST".
class Origin {
  public:
    Origin() {
        m_fd = listenLoopback(&m_port);
        if (m_fd >= 0) m_thread = std::thread([this] { serve(); });
    }
    ~Origin() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_fd >= 0) close(m_fd);
    }
    unsigned short port() const { return m_port; }
    bool ok() const { return m_fd >= 0; }

  private:
    void serve() {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            int c = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            timeval tv{kIoTimeoutSeconds, 0};
            setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            std::string request;
            char buf[4096];
            ssize_t n;
            while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 &&
                   (n = read(c, buf, sizeof buf)) > 0)
                request.append(buf, static_cast<size_t>(n));
            std::string host = "?";
            size_t h = request.find("\r\nHost: ");
            if (h != std::string::npos) {
                size_t start = h + 8, end = request.find_first_of(":\r", start);
                host = request.substr(start, end - start);
            }
            std::string body = "origin " + host;
            std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                body;
            (void)!write(c, reply.data(), reply.size());
            close(c);
        }
    }

    int m_fd = -1;
    unsigned short m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Reply {
    int status = 0; // HTTP status; 0 when no reply came
    std::string body;
};

class SquidE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(squid.c_str(), X_OK) != 0)
            GTEST_SKIP() << "squid is not installed (scripts/setup installs it)";
        ASSERT_TRUE(server.running()) << server.error();
        ASSERT_TRUE(origin.ok());
        // Not below /tmp: remote commands see the server root's own /tmp there.
        char base[] = "/var/tmp/orvelan-squid-XXXXXX";
        ASSERT_NE(mkdtemp(base), nullptr) << strerror(errno);
        dir = base;
        fs::create_directories(dir / "run");
        fs::create_directories(dir / "work");
        // As root Squid works as the user "proxy": it must reach the generated files below the
        // server root and write its logs.
        if (geteuid() == 0) {
            passwd* pw = getpwnam("proxy");
            ASSERT_NE(pw, nullptr) << "no user proxy for Squid to run as";
            for (fs::path p = server.root(); p != "/" && p != "/tmp" && p != "/var/tmp";
                 p = p.parent_path())
                chmod(p.c_str(), 0755);
            chmod(dir.c_str(), 0755);
            ASSERT_EQ(chown((dir / "run").c_str(), pw->pw_uid, pw->pw_gid), 0) << strerror(errno);
        }
        ASSERT_TRUE(setUpConsoleRegistry(dir));
        ASSERT_TRUE(server.writeFile("orvelan.cnf", serverParams(false)));
        ASSERT_TRUE(server.writeFile("/l/apache/etc/permit/README", "permit lists\n"));
        unsigned short free = 0;
        int fd = listenLoopback(&free);
        ASSERT_GE(fd, 0);
        close(fd); // Squid binds it next; nothing else on loopback asks for this port
        squidPort = free;
        spill(dir / "hosts",
              "127.0.0.1 allowed.test denied.test other.test " + kAccentedIdna + "\n");
        spill(dir / "squid.conf", squidConf());
        // What "squid -k reconfigure" does on a server whose root is "/". Here the server's
        // commands see the test root's /tmp at /tmp, where this Squid's configuration names
        // files it could not find, so the command signals Squid directly.
        spill(dir / "reconfigure",
              "#!/bin/sh\nexec kill -HUP \"$(cat '" + (dir / "run/squid.pid").string() + "')\"\n");
        chmod((dir / "reconfigure").c_str(), 0755);
    }

    void TearDown() override {
        if (HasFailure() && !dir.empty())
            std::cerr << "squid output:\n"
                      << readFileBytes(dir / "squid.out") << "\ncache.log:\n"
                      << readFileBytes(dir / "run/cache.log") << "\naccess.log:\n"
                      << readFileBytes(dir / "run/access.log") << "\nvxd log:\n"
                      << server.logText() << "\n";
        stopSquid();
        clearConsoleRegistry();
        if (!dir.empty()) fs::remove_all(dir);
    }

    std::string serverParams(bool reconfigure) const {
        std::string text = "USERPROC kaka\nGROUPPROC grouppen\nPROXYPROC kaka\n";
        if (reconfigure) text += "SQUIDRECONFIGURE " + (dir / "reconfigure").string() + "\n";
        return text;
    }

    std::string squidConf() const {
        std::string conf = "http_port 127.0.0.1:" + std::to_string(squidPort) + "\n";
        const std::string run = (dir / "run").string();
        conf += "pid_filename " + run + "/squid.pid\ncache_log " + run + "/cache.log\n" +
                "access_log stdio:" + run + "/access.log\ncoredump_dir " + run + "\n";
        conf += "cache_store_log none\ncache deny all\nnetdb_filename none\npinger_enable off\n"
                "shutdown_lifetime 0 seconds\nvisible_hostname orvelan-test\n"
                "dns_nameservers 127.0.0.1\nhosts_file " +
                (dir / "hosts").string() + "\n";
        if (geteuid() == 0) conf += "cache_effective_user proxy\n";
        return conf + "include " + server.local("/etc/squid/orvelan/orvelan.conf") +
               "\nhttp_access deny all\n";
    }

    // Runs a command line; its exit status, output in *out (stdout and stderr).
    int run(const std::string& command, std::string* out) const {
        const fs::path log = dir / "cmd.out";
        int raw = std::system((command + " >'" + log.string() + "' 2>&1 </dev/null").c_str());
        *out = readFileBytes(log);
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    // orvelanctl in the test's working directory.
    int ctl(const std::string& args, std::string* out) const {
        return run("cd '" + (dir / "work").string() + "' && '" ORVELANCTL "' " + args, out);
    }

    // Saves a list from a file of the given content through "orvelanctl LIST import FILE [GROUP]".
    int import(const std::string& list, const std::string& content, std::string* out,
               const std::string& group = "") const {
        spill(dir / "work" / "list.txt", content);
        return ctl(list + " import list.txt " + group, out);
    }

    bool startSquid(std::string* why) {
        const std::string conf = (dir / "squid.conf").string(), out = (dir / "squid.out").string();
        squidPid = fork();
        if (squidPid == 0) { // only what is safe after a fork in a process with threads
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int null = open("/dev/null", O_RDONLY);
            if (fd < 0 || null < 0 || dup2(null, 0) < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0)
                _exit(126);
            execl(squid.c_str(), squid.c_str(), "-N", "-f", conf.c_str(), nullptr);
            _exit(127);
        }
        if (squidPid < 0) {
            *why = std::string("cannot start squid: ") + strerror(errno);
            return false;
        }
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kSquidStartSeconds);
        while (std::chrono::steady_clock::now() < until) {
            int status;
            if (waitpid(squidPid, &status, WNOHANG) == squidPid) {
                squidPid = -1;
                *why = "squid exited at start: " + readFileBytes(out) +
                       readFileBytes(dir / "run/cache.log");
                return false;
            }
            int fd = connectLoopback(squidPort);
            if (fd >= 0) {
                close(fd);
                return true;
            }
            usleep(100 * 1000);
        }
        *why = "squid does not accept connections: " + readFileBytes(dir / "run/cache.log");
        return false;
    }

    void stopSquid() {
        if (squidPid <= 0) return;
        kill(squidPid, SIGTERM);
        pid_t done = 0;
        for (int i = 0; i < 100 && (done = waitpid(squidPid, nullptr, WNOHANG)) == 0; i++)
            usleep(100 * 1000);
        if (done == 0) {
            kill(squidPid, SIGKILL);
            waitpid(squidPid, nullptr, 0);
        }
        squidPid = -1;
    }

    // GET http://HOST:originport/ through the proxy with basic credentials (none when empty).
    Reply get(const std::string& host, const std::string& user, const std::string& password) {
        Reply reply;
        int fd = connectLoopback(squidPort);
        if (fd < 0) return reply;
        std::string url = "http://" + host + ":" + std::to_string(origin.port()) + "/";
        std::string request = "GET " + url + " HTTP/1.1\r\nHost: " + host + ":" +
                              std::to_string(origin.port()) + "\r\nConnection: close\r\n";
        if (!user.empty())
            request += "Proxy-Authorization: Basic " + base64(user + ":" + password) + "\r\n";
        request += "\r\n";
        std::string text;
        if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buf[4096];
            ssize_t n;
            while ((n = read(fd, buf, sizeof buf)) > 0 && text.size() < 1 << 20)
                text.append(buf, static_cast<size_t>(n));
        }
        close(fd);
        if (text.rfind("HTTP/1.1 ", 0) == 0) reply.status = std::atoi(text.c_str() + 9);
        size_t body = text.find("\r\n\r\n");
        if (body != std::string::npos) reply.body = text.substr(body + 4);
        return reply;
    }

    TestServer server;
    Origin origin;
    const std::string squid = "/usr/sbin/squid"; // Debian's
    fs::path dir;
    unsigned short squidPort = 0;
    pid_t squidPid = -1;
};

TEST_F(SquidE2eTest, SavedListsAreEnforcedAndAListChangeTakesEffectOrFailsTheSave) {
    std::string out;
    // The lists, saved as the console saves them; each save runs its post-save command.
    ASSERT_EQ(import("groups", "open a\r\nstaff d\r\n", &out), 0) << out;
    const std::string users = "anna:open:" + des("alma") + ":p:::Anna : : : : \r\n" +
                              "bela:staff:" + des("korte") + ":p:e::Bela : : : : \r\n" +
                              "cili:staff:" + des("szilva") + "::e::Cili : : : : \r\n";
    ASSERT_EQ(import("users", users, &out), 0) << out;
    // "árvíztűrő.test" in Windows-1250, as the console writes it.
    ASSERT_EQ(import("urls", "allowed.test\r\n\xe1rv\xedzt\xfbr\xf5.test\r\n", &out, "open"), 0)
        << out;
    ASSERT_EQ(import("urls", "denied.test\r\n", &out, "staff"), 0) << out;
    EXPECT_EQ(server.readFile("/etc/squid/orvelan/passwd"),
              "anna:" + des("alma") + "\nbela:" + des("korte") + "\n");

    ASSERT_EQ(run(squid + " -k parse -f '" + (dir / "squid.conf").string() + "'", &out), 0) << out;
    EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
    EXPECT_EQ(out.find("FATAL"), std::string::npos) << out;

    std::string why;
    ASSERT_TRUE(startSquid(&why)) << why;

    // Allow list: the listed site only.
    Reply r = get("allowed.test", "anna", "alma");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "origin allowed.test");
    EXPECT_EQ(get("other.test", "anna", "alma").status, 403);
    // An accented host is listed in the form a browser sends it.
    r = get(kAccentedIdna, "anna", "alma");
    EXPECT_EQ(r.status, 200) << server.readFile("/etc/squid/orvelan/groups/open.urls");
    EXPECT_EQ(r.body, "origin " + kAccentedIdna);
    // Deny list: everything but the listed site.
    EXPECT_EQ(get("denied.test", "bela", "korte").status, 403);
    r = get("other.test", "bela", "korte");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "origin other.test");
    // Credentials: a wrong password, none at all, a user without the proxy right.
    EXPECT_EQ(get("allowed.test", "anna", "korte").status, 407);
    EXPECT_EQ(get("allowed.test", "", "").status, 407);
    EXPECT_EQ(get("other.test", "cili", "szilva").status, 407);
    EXPECT_EQ(get("other.test", "nobody", "alma").status, 407);

    // A list change saved through orvelanctl reaches the running Squid without a manual step.
    ASSERT_TRUE(server.writeFile("orvelan.cnf", serverParams(true)));
    ASSERT_EQ(import("urls", "other.test\r\n", &out, "staff"), 0) << out << server.logText();
    EXPECT_EQ(server.readFile("/l/apache/etc/permit/staff.deny"), "denied.test\nother.test\n");
    int status = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kReconfigureSeconds);
    while ((status = get("other.test", "bela", "korte").status) != 403 &&
           std::chrono::steady_clock::now() < until)
        usleep(200 * 1000);
    EXPECT_EQ(status, 403) << readFileBytes(dir / "run/cache.log");
    EXPECT_EQ(get("allowed.test", "bela", "korte").status, 200);
    EXPECT_EQ(get("allowed.test", "anna", "alma").status, 200);
    EXPECT_EQ(waitpid(squidPid, nullptr, WNOHANG), 0); // the same Squid, reconfigured

    // Squid stopped: telling it to reconfigure fails, so the save is not done.
    stopSquid();
    EXPECT_EQ(import("urls", "third.test\r\n", &out, "staff"), 1);
    // The cause names the command and ends with its own last error line.
    EXPECT_EQ(out.rfind("Hiba a proxy szerveren !\n"
                        "  post-save command \"kaka\" failed with exit status 1: "
                        "kaka: SQUIDRECONFIGURE \"",
                        0),
              0u)
        << out;
    EXPECT_EQ(server.readFile("/l/apache/etc/permit/staff.deny"), "denied.test\nother.test\n");
    EXPECT_FALSE(server.exists("/l/apache/etc/permit/staff.deny._vx_lck_"));
}

} // namespace
