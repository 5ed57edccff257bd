// orvelan-ssh-relay: the link's ProxyCommand for ssh. It connects to HOST PORT and copies its
// standard input to the connection and the connection to its standard output, acknowledging
// every read from the connection at once.
//
// Why: at the end of each large RPC record sshd sends a small window adjustment, and its Nagle
// then holds the service's reply behind it until the client side acknowledges; ssh has nothing
// to send, so the kernel delays that acknowledgement by 40 ms (one stall per 300000-byte block,
// and the tail of the remote commands' latency). TCP_QUICKACK, set again after every read since
// Linux clears it, makes the acknowledgement go at once.
//
//   orvelan-ssh-relay HOST PORT [CONNECT_TIMEOUT_SECONDS]
//
// Exit status 0 when both directions ended; 255 (as ssh's own) with a message on standard error
// when the connection could not be made or failed.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t BUFFER = 256 * 1024; // per direction: most of one 300000-byte record
constexpr int FAILED = 255;           // ssh's own status for a connection that failed

[[noreturn]] void fail(const std::string& what, const char* host, const char* port, int error) {
    fprintf(stderr, "orvelan-ssh-relay: %s to host %s port %s: %s\n", what.c_str(), host, port,
            strerror(error));
    exit(FAILED);
}

// A connected TCP socket to one address within timeoutMs; -1 with errno set otherwise.
int connectWithin(const struct addrinfo* a, int timeoutMs) {
    int fd = socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int error = 0;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            struct pollfd ready = {fd, POLLOUT, 0};
            int n;
            while ((n = poll(&ready, 1, timeoutMs)) < 0 && errno == EINTR) {
            }
            socklen_t length = sizeof error;
            if (n == 0)
                error = ETIMEDOUT;
            else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
        }
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// The first address of host:port that accepts, as ssh tries them; exits with a message when none
// does.
int connectHost(const char* host, const char* port, int timeoutMs) {
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    if (int status = getaddrinfo(host, port, &hints, &found); status != 0) {
        fprintf(stderr, "orvelan-ssh-relay: Could not resolve hostname %s: %s\n", host,
                gai_strerror(status));
        exit(FAILED);
    }
    int fd = -1, error = EHOSTUNREACH;
    for (const struct addrinfo* a = found; a && fd < 0; a = a->ai_next)
        if ((fd = connectWithin(a, timeoutMs)) < 0) error = errno;
    freeaddrinfo(found);
    if (fd < 0) fail("connect", host, port, error);
    return fd;
}

// One direction of the copy: bytes read from `from` wait in the buffer until `to` takes them.
struct Direction {
    int from;
    int to;
    bool fromSocket;
    std::vector<char> buffer = std::vector<char>(BUFFER);
    size_t start = 0, end = 0; // the bytes waiting are buffer[start, end)
    bool eof = false;          // `from` has ended (or failed)
    bool done = false;         // eof, everything written, and the end passed on
};

void setNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void quickAck(int socket) {
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

void readSome(Direction& d) {
    ssize_t n = read(d.from, d.buffer.data() + d.end, d.buffer.size() - d.end);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (d.fromSocket) quickAck(d.from);
    if (n <= 0)
        d.eof = true;
    else
        d.end += static_cast<size_t>(n);
}

// false when the receiving side has gone (the copy cannot go on).
bool writeSome(Direction& d) {
    ssize_t n = write(d.to, d.buffer.data() + d.start, d.end - d.start);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    d.start += static_cast<size_t>(n);
    if (d.start == d.end) d.start = d.end = 0;
    return true;
}

// The end of one direction goes on as a half-close: shutdown towards the server, the closed
// standard output towards ssh.
void passEnd(Direction& d, int socket) {
    if (d.to == socket)
        shutdown(socket, SHUT_WR);
    else
        close(d.to);
    d.done = true;
}

int relay(int socket) {
    Direction up{STDIN_FILENO, socket, false}, down{socket, STDOUT_FILENO, true};
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, socket})
        setNonBlocking(fd);
    Direction* both[2] = {&up, &down};
    while (!up.done || !down.done) {
        struct pollfd ready[4];
        Direction* owner[4];
        int count = 0;
        for (Direction* d : both) {
            if (d->done) continue;
            if (!d->eof && d->end < d->buffer.size()) {
                ready[count] = {d->from, POLLIN, 0};
                owner[count++] = d;
            }
            if (d->end > d->start) {
                ready[count] = {d->to, POLLOUT, 0};
                owner[count++] = d;
            }
        }
        if (count > 0 && poll(ready, static_cast<nfds_t>(count), -1) < 0) {
            if (errno == EINTR) continue;
            perror("orvelan-ssh-relay: poll");
            return FAILED;
        }
        for (int i = 0; i < count; ++i) {
            Direction& d = *owner[i];
            if (ready[i].revents == 0) continue;
            if (ready[i].events == POLLIN) {
                readSome(d);
            } else if (!writeSome(d)) {
                if (d.to != socket) return 0; // ssh has gone: nobody takes the rest
                perror("orvelan-ssh-relay: send");
                return FAILED;
            }
        }
        for (Direction* d : both)
            if (!d->done && d->eof && d->end == d->start) passEnd(*d, socket);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: orvelan-ssh-relay HOST PORT [CONNECT_TIMEOUT_SECONDS]\n");
        return 2;
    }
    // The relay belongs to the ssh that started it, even when that ssh is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    signal(SIGPIPE, SIG_IGN);
    const int seconds = argc == 4 ? atoi(argv[3]) : 0;
    const int timeoutMs = seconds > 0 ? std::min(seconds, 3600) * 1000 : -1;
    int socket = connectHost(argv[1], argv[2], timeoutMs);
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    quickAck(socket);
    int status = relay(socket);
    close(socket);
    return status;
}
