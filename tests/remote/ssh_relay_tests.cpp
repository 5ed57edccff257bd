// Tests of the relay that the link puts in front of ssh (orvelan-ssh-relay): the real program
// between pipes of the test and a loopback TCP server of the test's own.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/support/test_server.h"

namespace {

constexpr int WAIT_MS = 20000; // every wait of these tests ends by then

// The relay started with its standard input, output and error on pipes of the test.
struct Relay {
    pid_t pid = -1;
    int in = -1, out = -1, err = -1;

    explicit Relay(const std::vector<std::string>& args) {
        int pipes[3][2];
        for (auto& p : pipes)
            if (pipe2(p, O_CLOEXEC) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(pipes[0][0], 0);
            dup2(pipes[1][1], 1);
            dup2(pipes[2][1], 2);
            std::vector<char*> argv = {const_cast<char*>(ORVELAN_SSH_RELAY_PROGRAM)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(pipes[0][0]);
        close(pipes[1][1]);
        close(pipes[2][1]);
        in = pipes[0][1];
        out = pipes[1][0];
        err = pipes[2][0];
    }
    ~Relay() {
        for (int fd : {in, out, err})
            if (fd >= 0) close(fd);
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    void closeInput() {
        close(in);
        in = -1;
    }
    // The exit status, or -1 when it has not exited within the bound (it is killed then).
    int status() {
        for (int waited = 0; waited < WAIT_MS; waited += 10) {
            int wstatus = 0;
            if (waitpid(pid, &wstatus, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
            }
            usleep(10000);
        }
        return -1;
    }
};

// Everything fd gives until its end (or the bound).
std::string readToEnd(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        struct pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, WAIT_MS) <= 0) break;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

bool writeAll(int fd, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A loopback server that takes one connection and hands it to serve on a thread of its own.
class OneConnectionServer {
  public:
    explicit OneConnectionServer(std::function<void(int)> serve) {
        m_listener = listenLoopback(&m_port);
        m_thread = std::thread([this, serve] {
            struct pollfd ready = {m_listener, POLLIN, 0};
            if (poll(&ready, 1, WAIT_MS) <= 0) return;
            int connection = accept(m_listener, nullptr, nullptr);
            if (connection < 0) return;
            serve(connection);
            close(connection);
        });
    }
    ~OneConnectionServer() {
        if (m_thread.joinable()) m_thread.join();
        if (m_listener >= 0) close(m_listener);
    }
    bool listening() const { return m_listener >= 0; }
    std::string port() const { return std::to_string(m_port); }
    void join() { m_thread.join(); }

  private:
    int m_listener = -1;
    unsigned short m_port = 0;
    std::thread m_thread;
};

std::string bytes(size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
    return data;
}

TEST(SshRelay, BytesPassBothWaysAndEachHalfCloseIsPassedOn) {
    // The end of the input reaches the server as a half-close: it answers only after it, and
    // the answer still comes back.
    const std::string data = bytes(3 * 1024 * 1024 + 17, 1);
    std::string received;
    {
        OneConnectionServer server([&received](int fd) {
            received = readToEnd(fd);
            std::string answer(received.rbegin(), received.rend());
            writeAll(fd, answer);
        });
        ASSERT_TRUE(server.listening());
        Relay relay({"127.0.0.1", server.port()});
        ASSERT_GT(relay.pid, 0);
        std::thread writer([&relay, &data] {
            writeAll(relay.in, data);
            relay.closeInput();
        });
        const std::string answer = readToEnd(relay.out);
        writer.join();
        EXPECT_EQ(relay.status(), 0);
        EXPECT_EQ(readToEnd(relay.err), "");
        server.join();
        EXPECT_EQ(received.size(), data.size());
        EXPECT_TRUE(received == data);
        EXPECT_TRUE(answer == std::string(data.rbegin(), data.rend())) << answer.size();
    }

    // The server's half-close ends the relay's output while its input still goes through.
    received.clear();
    OneConnectionServer server([&received](int fd) {
        writeAll(fd, "first");
        shutdown(fd, SHUT_WR);
        received = readToEnd(fd);
    });
    ASSERT_TRUE(server.listening());
    Relay relay({"127.0.0.1", server.port(), "5"});
    ASSERT_GT(relay.pid, 0);
    EXPECT_EQ(readToEnd(relay.out), "first");
    ASSERT_TRUE(writeAll(relay.in, "after the end of the output"));
    relay.closeInput();
    EXPECT_EQ(relay.status(), 0);
    server.join();
    EXPECT_EQ(received, "after the end of the output");
}

TEST(SshRelay, AFailedConnectEndsWithItsCause) {
    unsigned short closed = 0;
    close(listenLoopback(&closed));
    Relay refused({"127.0.0.1", std::to_string(closed)});
    ASSERT_GT(refused.pid, 0);
    EXPECT_EQ(refused.status(), 255);
    EXPECT_EQ(readToEnd(refused.err), "orvelan-ssh-relay: connect to host 127.0.0.1 port " +
                                          std::to_string(closed) + ": Connection refused\n");
    EXPECT_EQ(readToEnd(refused.out), "");

    Relay usage({"127.0.0.1"});
    ASSERT_GT(usage.pid, 0);
    EXPECT_EQ(usage.status(), 2);
    EXPECT_EQ(readToEnd(usage.err),
              "usage: orvelan-ssh-relay HOST PORT [CONNECT_TIMEOUT_SECONDS]\n");
}

} // namespace
