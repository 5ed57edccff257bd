// Hand-made ONC RPC records over a plain TCP socket, for the tests of what vxd does with records
// that no well-behaved client sends.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace rawrpc {

inline std::string u32(uint32_t v) {
    uint32_t n = htonl(v);
    return std::string(reinterpret_cast<const char*>(&n), 4);
}

// An XDR string or opaque: its count, the bytes, padding to a multiple of four.
inline std::string opaque(const std::string& bytes) {
    return u32(static_cast<uint32_t>(bytes.size())) + bytes +
           std::string((4 - bytes.size() % 4) % 4, '\0');
}

// A call message without credentials (AUTH_NONE) followed by args.
inline std::string call(uint32_t xid, unsigned long prog, unsigned long vers, unsigned long proc,
                        const std::string& args) {
    return u32(xid) + u32(0) + u32(2) + u32(static_cast<uint32_t>(prog)) +
           u32(static_cast<uint32_t>(vers)) + u32(static_cast<uint32_t>(proc)) + u32(0) + u32(0) +
           u32(0) + u32(0) + args;
}

// One record of one fragment.
inline std::string record(const std::string& body) {
    return u32(0x80000000u | static_cast<uint32_t>(body.size())) + body;
}

// A connected socket to 127.0.0.1:port, or -1.
inline int connectTo(unsigned short port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

inline bool sendAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Waits until fd is readable or the deadline passes; false when it passed.
inline bool readableBefore(int fd, std::chrono::steady_clock::time_point deadline) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    pollfd p{fd, POLLIN, 0};
    return left > 0 && poll(&p, 1, left) > 0;
}

// Reads exactly n bytes within ms milliseconds; false on timeout, end of stream or error.
inline bool readExactly(int fd, char* out, size_t n, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    size_t got = 0;
    while (got < n) {
        if (!readableBefore(fd, deadline)) return false;
        ssize_t r = recv(fd, out + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// The body of the next reply record, or "" when none came within ms.
inline std::string readReply(int fd, int ms = 5000) {
    char mark[4];
    if (!readExactly(fd, mark, 4, ms)) return "";
    uint32_t m;
    memcpy(&m, mark, 4);
    size_t length = ntohl(m) & 0x7fffffffu;
    std::string body(length, '\0');
    if (!readExactly(fd, body.data(), length, ms)) return "";
    return body;
}

inline uint32_t word(const std::string& body, size_t index) {
    if (body.size() < (index + 1) * 4) return 0xffffffffu;
    uint32_t v;
    memcpy(&v, body.data() + index * 4, 4);
    return ntohl(v);
}

// The accept status of an accepted reply without verifier body (0 success, 1 PROG_UNAVAIL,
// 2 PROG_MISMATCH, 3 PROC_UNAVAIL, 4 GARBAGE_ARGS); -1 for anything else.
inline int acceptStatus(const std::string& body) {
    if (word(body, 1) != 1 || word(body, 2) != 0 || word(body, 4) != 0) return -1;
    return static_cast<int>(word(body, 5));
}

// True when the server closes (or resets) the connection within ms.
inline bool closedByServer(int fd, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buf[4096];
    for (;;) {
        if (!readableBefore(fd, deadline)) return false;
        ssize_t r = recv(fd, buf, sizeof buf, 0);
        if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) return true;
    }
}

} // namespace rawrpc
