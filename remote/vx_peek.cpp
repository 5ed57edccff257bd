// A look at a small server file from a thread beside the link's own: the progress of a remote
// command that the link's thread waits on.
#include <algorithm>
#include <cstring>
#include <memory>

#include "lib/vx_err.h"
#include "remote/vx_client.h"
#include "remote/vx_remote.h"
#include "remote/vx_wait.h"

using namespace vxremote;

namespace {

// Opens, reads the first block of and closes a server file at an instance: the bytes copied to
// out (NUL-ended, at most size - 1), or -1.
int peekAt(const char* host, unsigned long instance, const char* path, char* out, size_t size) {
    RpcClient client;
    if (!openClient(client, host, instance, RETRY_ATTEMPTS, host)) return -1;
    char message[VX_STRING_MAX + 1];
    char text[VX_STRING_MAX + 1];
    vx_reply reply = {0, 0, 0, 0, 0, message, text};
    const char* argument = path;
    if (client.call(vxRPC_FILOPEN_RDONLY, filter(xdr_vxstring), &argument, filter(xdr_vxreply),
                    &reply) != RPC_SUCCESS ||
        reply.code != 0)
        return -1;
    std::unique_ptr<char[]> data(new char[VX_BLOCK_MAX]);
    vx_block block = {0, 0, data.get()};
    int got = -1;
    if (client.call(vxRPC_READ, filter(xdr_vxstring), &argument, filter(xdr_vxblock), &block) ==
            RPC_SUCCESS &&
        block.status == 0) {
        got = static_cast<int>(std::min<size_t>(static_cast<size_t>(block.length), size - 1));
        memcpy(out, block.data, static_cast<size_t>(got));
        out[got] = '\0';
    }
    client.call(vxRPC_FILCLOS, filter(xdr_vxstring), &argument, filter(xdr_vxreply), &reply);
    return got;
}

} // namespace

int vxPeekRemoteFile(const char* host, const char* remotePath, char* out, size_t size) {
    if (out == nullptr || size == 0 || remotePath == nullptr || strlen(remotePath) > VX_STRING_MAX)
        return -1;
    out[0] = '\0';
    VxQuietErrors quiet;
    SideWaits side;
    unsigned long instance = vxAskServer(host, VXPROG_MAIN);
    if (instance == 0) return -1;
    int got = peekAt(host, instance, remotePath, out, size);
    vxReleaseServer(host, instance);
    return got;
}
