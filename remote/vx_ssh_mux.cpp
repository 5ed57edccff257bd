// Channels through the SSH master: OpenSSH's multiplexing protocol on the master's control
// socket asks for a stdio forward to 127.0.0.1:port on the server and hands the master one end
// of a socket pair, whose other end the RPC client uses as its connected socket.
#include "remote/vx_ssh_mux.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <rpc/rpc.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vxremote {

namespace {

// Messages of the multiplexing protocol (OpenSSH's PROTOCOL.mux), version 4.
constexpr uint32_t MUX_VERSION = 4;
constexpr uint32_t MUX_MSG_HELLO = 0x00000001;
constexpr uint32_t MUX_C_NEW_STDIO_FWD = 0x10000008;
constexpr uint32_t MUX_S_FAILURE = 0x80000003;
constexpr uint32_t MUX_S_SESSION_OPENED = 0x80000006;
constexpr uint32_t MUX_PACKET_MAX = 256 * 1024; // more than any answer the master sends

constexpr int SLICE_MS = 50; // a cancel is seen within this long

void putU32(std::string& out, uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

void putString(std::string& out, const std::string& text) {
    putU32(out, static_cast<uint32_t>(text.size()));
    out += text;
}

uint32_t getU32(const std::string& in, size_t at) {
    if (at + 4 > in.size()) return 0;
    const auto* b = reinterpret_cast<const unsigned char*>(in.data() + at);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

// Waits until fd is ready for events; false when the deadline passed or the scope was cancelled.
bool waitReady(int fd, short events, const Deadline& deadline, const WaitScope& scope) {
    while (!scope.cancelled() && !deadline.passed()) {
        struct pollfd ready = {fd, events, 0};
        int n = poll(&ready, 1, std::min(deadline.remainingMs(), SLICE_MS));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
    return false;
}

// Sends one packet (its length first); MuxStatus::Lost when the master went away.
MuxStatus sendPacket(int fd, const std::string& body, const Deadline& deadline,
                     const WaitScope& scope) {
    std::string packet;
    putString(packet, body);
    size_t sent = 0;
    while (sent < packet.size()) {
        if (!waitReady(fd, POLLOUT, deadline, scope))
            return scope.cancelled() ? MuxStatus::Cancelled : MuxStatus::TimedOut;
        ssize_t n = send(fd, packet.data() + sent, packet.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return MuxStatus::Lost;
        sent += static_cast<size_t>(n);
    }
    return MuxStatus::Ok;
}

MuxStatus readExactly(int fd, char* out, size_t size, const Deadline& deadline,
                      const WaitScope& scope) {
    size_t got = 0;
    while (got < size) {
        if (!waitReady(fd, POLLIN, deadline, scope))
            return scope.cancelled() ? MuxStatus::Cancelled : MuxStatus::TimedOut;
        ssize_t n = recv(fd, out + got, size - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return MuxStatus::Lost;
        got += static_cast<size_t>(n);
    }
    return MuxStatus::Ok;
}

MuxStatus readPacket(int fd, std::string* body, const Deadline& deadline, const WaitScope& scope) {
    char header[4];
    MuxStatus status = readExactly(fd, header, sizeof header, deadline, scope);
    if (status != MuxStatus::Ok) return status;
    const uint32_t length = getU32(std::string(header, 4), 0);
    if (length < 4 || length > MUX_PACKET_MAX) return MuxStatus::Lost;
    body->assign(length, '\0');
    return readExactly(fd, body->data(), length, deadline, scope);
}

// Passes fd to the master: one byte of data carrying it, as the master reads it.
bool sendDescriptor(int socket, int fd) {
    char byte = 0;
    struct iovec data = {&byte, 1};
    union {
        struct cmsghdr header;
        char space[CMSG_SPACE(sizeof(int))];
    } control = {};
    struct msghdr message = {};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.space;
    message.msg_controllen = sizeof control.space;
    struct cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ssize_t n;
    while ((n = sendmsg(socket, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n == 1;
}

// Connects to the control socket and exchanges the greetings.
MuxStatus greet(const std::string& controlPath, const Deadline& deadline, const WaitScope& scope,
                int* out) {
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (controlPath.size() >= sizeof address.sun_path) return MuxStatus::Lost;
    memcpy(address.sun_path, controlPath.c_str(), controlPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return MuxStatus::Lost;
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return MuxStatus::Lost;
    }
    std::string hello;
    putU32(hello, MUX_MSG_HELLO);
    putU32(hello, MUX_VERSION);
    std::string answer;
    MuxStatus status = sendPacket(fd, hello, deadline, scope);
    if (status == MuxStatus::Ok) status = readPacket(fd, &answer, deadline, scope);
    if (status == MuxStatus::Ok &&
        (getU32(answer, 0) != MUX_MSG_HELLO || getU32(answer, 4) != MUX_VERSION))
        status = MuxStatus::Lost;
    if (status != MuxStatus::Ok) {
        close(fd);
        return status;
    }
    *out = fd;
    return MuxStatus::Ok;
}

} // namespace

MuxStatus muxAlive(const std::string& controlPath, const Deadline& deadline,
                   const WaitScope& scope) {
    int fd = -1;
    MuxStatus status = greet(controlPath, deadline, scope, &fd);
    if (fd >= 0) close(fd);
    return status;
}

MuxStatus muxOpenForward(const std::string& controlPath, unsigned short port,
                         const Deadline& deadline, const WaitScope& scope, int* fd, int* control) {
    int ctl = -1;
    MuxStatus status = greet(controlPath, deadline, scope, &ctl);
    if (status != MuxStatus::Ok) return status;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        close(ctl);
        return MuxStatus::Lost;
    }
    std::string request;
    putU32(request, MUX_C_NEW_STDIO_FWD);
    putU32(request, 1); // request id: one request per control connection
    putString(request, "");
    putString(request, "127.0.0.1");
    putU32(request, port);
    status = sendPacket(ctl, request, deadline, scope);
    // The master takes the forward's input and output as two descriptors: both are our pair's
    // far end.
    if (status == MuxStatus::Ok && !(sendDescriptor(ctl, pair[1]) && sendDescriptor(ctl, pair[1])))
        status = MuxStatus::Lost;
    close(pair[1]);
    std::string answer;
    if (status == MuxStatus::Ok) status = readPacket(ctl, &answer, deadline, scope);
    if (status == MuxStatus::Ok && getU32(answer, 0) != MUX_S_SESSION_OPENED)
        status = getU32(answer, 0) == MUX_S_FAILURE ? MuxStatus::Refused : MuxStatus::Lost;
    if (status != MuxStatus::Ok) {
        close(pair[0]);
        close(ctl);
        return status;
    }
    *fd = pair[0];
    *control = ctl;
    return MuxStatus::Ok;
}

} // namespace vxremote
