// Unit tests of the remote link's error reporters and of the wire records' size limits.
#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"

namespace {

// (The texts with a subject are proven against a stopped server in the end-to-end tests.)
TEST(CreateError, TrimsLibraryText) {
    rpc_createerr.cf_stat = RPC_SYSTEMERROR;
    rpc_createerr.cf_error.re_errno = ECONNREFUSED;
    EXPECT_EQ(vxCreateError(nullptr), 111);
    EXPECT_STREQ(vxLastError().text, "RPC: Remote system error - Connection refused !");
}

// A TCP client of a listening socket that nobody serves: enough for calls that fail on this side.
class IdleServerClient : public ::testing::Test {
  protected:
    void SetUp() override {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(m_listener, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(m_listener, 1), 0);
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        int sock = RPC_ANYSOCK;
        m_client = clnttcp_create(&address, VXPROG_MAIN, VXVERS, &sock, 0, 0);
        ASSERT_NE(m_client, nullptr);
        clnt_control(m_client, CLSET_FD_CLOSE, nullptr);
    }
    void TearDown() override {
        if (m_client) clnt_destroy(m_client);
        if (m_listener >= 0) close(m_listener);
    }
    enum clnt_stat callWith(const char* argument, long seconds) {
        struct timeval timeout = {seconds, 0};
        return clnt_call(m_client, vxRPC_EXEC, reinterpret_cast<xdrproc_t>(xdr_vxstring),
                         reinterpret_cast<char*>(&argument),
                         reinterpret_cast<xdrproc_t>(xdr_vxreply), nullptr, timeout);
    }
    int m_listener = -1;
    CLIENT* m_client = nullptr;
};

TEST_F(IdleServerClient, TimeOutIsRecordedWithTrimmedText) {
    // Nobody answers: a zero time-out gives up at once.
    ASSERT_EQ(callWith("true", 0), RPC_TIMEDOUT);
    EXPECT_EQ(vxCallError(m_client, nullptr), 5);
    EXPECT_EQ(vxLastError().kind, 7);
    EXPECT_EQ(vxLastError().severity, 2); // no row for (5, 7)
    EXPECT_STREQ(vxLastError().text, "RPC: Timed out !");
}

// Encodes with filter into a memory stream; the encoded bytes, or nothing when it failed.
template <class T> bool encode(bool_t (*filter)(XDR*, T*), T* record, std::vector<char>& out) {
    out.assign(2 * VX_BLOCK_MAX, '\0');
    XDR xdrs;
    xdrmem_create(&xdrs, out.data(), static_cast<u_int>(out.size()), XDR_ENCODE);
    bool ok = filter(&xdrs, record);
    out.resize(ok ? xdr_getpos(&xdrs) : 0);
    xdr_destroy(&xdrs);
    return ok;
}

template <class T> bool decode(bool_t (*filter)(XDR*, T*), T* record, std::vector<char> bytes) {
    XDR xdrs;
    xdrmem_create(&xdrs, bytes.data(), static_cast<u_int>(bytes.size()), XDR_DECODE);
    bool ok = filter(&xdrs, record);
    xdr_destroy(&xdrs);
    return ok;
}

TEST(ReplyFilter, StringLimitIs128BytesBothWays) {
    std::string limit(128, 'm'), over(129, 't');
    char* message = limit.data();
    char* text = over.data();
    vx_reply reply = {7, 0, 0, 0, 0, message, text};
    std::vector<char> bytes;
    EXPECT_FALSE(encode(xdr_vxreply, &reply, bytes));
    reply.text = limit.data();
    ASSERT_TRUE(encode(xdr_vxreply, &reply, bytes));

    // Fixed receive buffers, each followed by a guard, so that a write past a limit shows.
    char buffers[2][VX_STRING_MAX + 1 + 8];
    memset(buffers, 'G', sizeof buffers);
    vx_reply decoded = {0, 0, 0, 0, 0, buffers[0], buffers[1]};
    ASSERT_TRUE(decode(xdr_vxreply, &decoded, bytes));
    EXPECT_EQ(decoded.value, 7);
    EXPECT_EQ(std::string(decoded.text), limit);

    // A reply whose text claims 129 bytes (a server breaking the limit) fails before any copy.
    std::vector<char> tooLong = bytes;
    size_t textCount = 20 + 4 + 128; // five longs, the message's count and bytes
    uint32_t count = htonl(129);
    memcpy(tooLong.data() + textCount, &count, 4);
    tooLong.insert(tooLong.end(), 4, 'x'); // 129 bytes padded to 132
    EXPECT_FALSE(decode(xdr_vxreply, &decoded, tooLong));
    for (const char* buffer : buffers)
        EXPECT_EQ(std::string(buffer + VX_STRING_MAX + 1, 8), "GGGGGGGG");
}

TEST(BlockFilter, LimitIs300000Bytes) {
    std::vector<char> data(VX_BLOCK_MAX + 1, 'd');
    vx_block block = {static_cast<int32_t>(VX_BLOCK_MAX + 1), 0, data.data()};
    std::vector<char> bytes;
    EXPECT_FALSE(encode(xdr_vxblock, &block, bytes));

    block.length = VX_BLOCK_MAX;
    ASSERT_TRUE(encode(xdr_vxblock, &block, bytes));
    EXPECT_EQ(bytes.size(), 12u + VX_BLOCK_MAX);
    std::vector<char> received(VX_BLOCK_MAX + 8, 'G');
    vx_block decoded = {0, 0, received.data()};
    ASSERT_TRUE(decode(xdr_vxblock, &decoded, bytes));
    EXPECT_EQ(decoded.length, static_cast<int32_t>(VX_BLOCK_MAX));
    EXPECT_EQ(received[VX_BLOCK_MAX - 1], 'd');
    EXPECT_EQ(received[VX_BLOCK_MAX], 'G');

    // Headers claiming 300001 bytes, a negative length, or a count that disagrees with length.
    auto withHeader = [&](int32_t length, uint32_t count) {
        std::vector<char> forged = bytes;
        uint32_t wireLength = htonl(static_cast<uint32_t>(length)), wireCount = htonl(count);
        memcpy(forged.data(), &wireLength, 4);
        memcpy(forged.data() + 8, &wireCount, 4);
        forged.resize(12 + ((count + 3) & ~3u), 'x');
        return forged;
    };
    EXPECT_FALSE(decode(xdr_vxblock, &decoded, withHeader(VX_BLOCK_MAX + 1, VX_BLOCK_MAX + 1)));
    EXPECT_FALSE(decode(xdr_vxblock, &decoded, withHeader(-1, 0)));
    EXPECT_FALSE(decode(xdr_vxblock, &decoded, withHeader(10, 12)));
    EXPECT_EQ(received[VX_BLOCK_MAX], 'G');
}

} // namespace
