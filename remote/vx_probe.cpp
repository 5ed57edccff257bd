// Network probes: ICMP echo from this machine, ping run by the server, interface counters.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <linux/icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "lib/vx_err.h"
#include "remote/vx_client.h"
#include "remote/vx_remote.h"
#include "remote/vx_ssh.h"

using namespace vxremote;

namespace {

constexpr int IP_HEADER_SIZE = 20;    // an IPv4 header without options
constexpr int ECHO_SIZE = 44;         // 8-byte header, 4-byte send time, 32 filler bytes
constexpr int PING_BUFFER = 1024;     // request and reply buffers
constexpr int PING_TIMEOUT_MS = 1000; // send and receive time-out
constexpr int PING_PAUSE_MS = 1000;   // after each answered request but the last
constexpr int PING_DEFAULT_COUNT = 100000;

uint32_t tickCount() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

void sleepMs(int ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// The Internet checksum (RFC 1071) in network byte order.
uint16_t internetChecksum(const unsigned char* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (size % 2) sum += static_cast<uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return htons(static_cast<uint16_t>(~sum & 0xFFFF));
}

// The echo socket: raw where permitted, else an unprivileged ICMP datagram socket, whose
// identifier the kernel owns and whose received data carries no IP header.
struct EchoSocket {
    int fd = -1;
    bool datagram = false;
    ~EchoSocket() {
        if (fd >= 0) close(fd);
    }
    bool open() {
        fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd < 0 && (errno == EPERM || errno == EACCES)) {
            fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
            datagram = fd >= 0;
        }
        if (fd < 0) return false;
        if (!datagram) {
            // A raw socket sees every ICMP message of the host, our own requests to a local
            // address among them; requests are never an answer, so the kernel drops them here.
            struct icmp_filter filter = {1u << ICMP_ECHO};
            if (setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0) return false;
        }
        return setTimeout(SO_SNDTIMEO) && setTimeout(SO_RCVTIMEO);
    }
    bool setTimeout(int option) {
        struct timeval timeout = {PING_TIMEOUT_MS / 1000, (PING_TIMEOUT_MS % 1000) * 1000};
        return setsockopt(fd, SOL_SOCKET, option, &timeout, sizeof timeout) == 0;
    }
};

void put(FILE* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void put(FILE* out, const char* format, ...) {
    if (!out) return;
    va_list args;
    va_start(args, format);
    vfprintf(out, format, args);
    va_end(args);
}

enum class Reply { Answer, Other };

// Decodes one received datagram, writing its line; Answer only for the echo reply of sequence.
Reply decodeReply(const unsigned char* buffer, int n, const struct sockaddr_in& from, bool datagram,
                  uint16_t identifier, uint16_t sequence, FILE* out) {
    int headerLength = datagram ? 0 : (buffer[0] & 0x0F) * 4;
    if (n < headerLength + 8) {
        // Too short to hold an echo header: nothing more can be read from it.
        put(out, "Too few bytes from %s\n", inet_ntoa(from.sin_addr));
        return Reply::Other;
    }
    const unsigned char* icmp = buffer + headerLength;
    if (icmp[0] != 0) {
        put(out, "non-echo type %d recvd\n", icmp[0]);
        return Reply::Other;
    }
    uint16_t replyIdentifier, replySequence;
    uint32_t sentAt;
    memcpy(&replyIdentifier, icmp + 4, 2);
    memcpy(&replySequence, icmp + 6, 2);
    memcpy(&sentAt, icmp + 8, 4);
    if (!datagram && replyIdentifier != identifier) {
        put(out, "someone else's packet!\n");
        return Reply::Other;
    }
    // The line counts the whole datagram; a datagram socket hands over the ICMP part only, after
    // an IP header of 20 bytes (an echo reply carries no IP options).
    put(out, "%d bytes from %s:", datagram ? n + IP_HEADER_SIZE : n, inet_ntoa(from.sin_addr));
    put(out, " icmp_seq = %d. ", replySequence);
    put(out, " time: %d ms ", static_cast<int>(tickCount() - sentAt));
    put(out, "\n");
    // A late answer to an earlier request was already counted lost; keep waiting for this one.
    return replySequence == sequence ? Reply::Answer : Reply::Other;
}

// Waits up to the time-out from sentAt for the answer to sequence: 1 answered, 0 timed out,
// -1 on a receive error (recorded).
int awaitAnswer(const EchoSocket& sock, uint32_t sentAt, uint16_t identifier, uint16_t sequence,
                FILE* out) {
    unsigned char buffer[PING_BUFFER];
    for (;;) {
        int remaining = PING_TIMEOUT_MS - static_cast<int>(tickCount() - sentAt);
        if (remaining <= 0) return 0;
        struct pollfd ready = {sock.fd, POLLIN, 0};
        int polled = poll(&ready, 1, remaining);
        if (polled < 0 && errno == EINTR) continue;
        if (polled < 0) break;
        if (polled == 0) return 0;
        memset(buffer, 0, sizeof buffer);
        struct sockaddr_in from = {};
        socklen_t fromLength = sizeof from;
        ssize_t n = recvfrom(sock.fd, buffer, sizeof buffer, MSG_DONTWAIT,
                             reinterpret_cast<struct sockaddr*>(&from), &fromLength);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
        if (n < 0) break;
        if (decodeReply(buffer, static_cast<int>(n), from, sock.datagram, identifier, sequence,
                        out) == Reply::Answer)
            return 1;
    }
    vxSysError("fnPing");
    return -1;
}

} // namespace

int fnPing(const char* host, FILE* out, int count) {
    if (!host || host[0] == '\0' || host[0] == ' ') {
        vxSetError(22, 2, VX_KIND_LIB, "Invalid argument in fnping");
        return -1;
    }
    EchoSocket sock;
    if (!sock.open()) {
        vxSysError("fnPing");
        return -1;
    }
    char subject[300];
    vxFormat(subject, sizeof subject, "fnPing: %s", host);
    struct sockaddr_in target = {};
    target.sin_family = AF_INET;
    // An SSH destination is pinged at its host.
    SshDestination destination;
    const bool ssh = parseSshDestination(host, &destination);
    if (!resolveHost(ssh ? destination.host.c_str() : host, &target.sin_addr, subject)) return -1;

    unsigned char request[PING_BUFFER] = {};
    const uint16_t identifier = static_cast<uint16_t>(getpid() & 0xFFFF);
    request[0] = 8; // echo request, code 0
    memcpy(request + 4, &identifier, 2);
    memset(request + 12, 'E', ECHO_SIZE - 12);

    if (count <= 0) count = PING_DEFAULT_COUNT;
    int losses = 0;
    for (int i = 0; i < count; ++i) {
        const uint16_t sequence = static_cast<uint16_t>(i);
        const uint32_t sentAt = tickCount();
        memset(request + 2, 0, 2);
        memcpy(request + 6, &sequence, 2);
        memcpy(request + 8, &sentAt, 4);
        const uint16_t checksum = internetChecksum(request, ECHO_SIZE);
        memcpy(request + 2, &checksum, 2);

        ssize_t sent = sendto(sock.fd, request, ECHO_SIZE, 0,
                              reinterpret_cast<const struct sockaddr*>(&target), sizeof target);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            put(out, "timed out\n");
            ++losses;
            continue;
        }
        if (sent < 0) {
            vxSysError("fnPing");
            return -1;
        }
        if (sent < ECHO_SIZE) put(out, "Wrote %d bytes\n", static_cast<int>(sent));

        int answered = awaitAnswer(sock, sentAt, identifier, sequence, out);
        if (answered < 0) return -1;
        if (answered == 0) {
            put(out, "timed out\n");
            ++losses;
        } else if (i + 1 < count) {
            sleepMs(PING_PAUSE_MS);
        }
    }
    if (out) fflush(out);
    return losses;
}

int vxPingProc(const char* host, const char* target, unsigned long instance,
               const char* localPath) {
    if (vxServerCall(host, target, instance, vxRPC_PING) != 0) return -1;
    if (localPath && vxGetRemoteFile(host, "__vxPingFil.txt", localPath) != 0) return -1;
    return 0;
}

int vxRemotePing(const char* host, const char* target, const char* localPath) {
    unsigned long instance = vxAskServer(host, VXPROG_MAIN);
    if (instance == 0) return -1;
    int result = vxPingProc(host, target, instance, nullptr);
    if (result == 0)
        result = vxReceiveFile(host, "__vxPingFil.txt", localPath, instance) == 0 ? 0 : -1;
    vxReleaseServer(host, instance);
    return result;
}

int vxNetCountersProg(const char* host, char* out, size_t outSize, unsigned long program) {
    int result = vxServerCall(host, "xxx", program, vxRPC_NETDEV) < 0 ? -1 : 0;
    // The output receives the reply text buffer as it stands: after a failed call that is the
    // text of the last reply any operation received (empty before the first).
    if (!out || !vxCopy(out, outSize, vxLastReply().text)) {
        if (out && outSize > 0) out[0] = '\0';
        vxSetError(22, 2, VX_KIND_LIB, "Output buffer too small in vxNetCounters");
        return -1;
    }
    return result;
}

int vxNetCounters(const char* host, char* out, size_t outSize) {
    vxNetCountersProg(host, out, outSize, VXPROG_MAIN);
    return 0;
}
