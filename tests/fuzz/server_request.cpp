// Fuzz target: the server's decoding of requests: an RPC call message, then the argument its
// procedure takes (a string, a block or nothing) into the buffers vxd decodes into.
#include <cstddef>
#include <cstdint>
#include <rpc/rpc.h>

#include "remote/vx_xdr.h"

namespace {

char g_argText[VX_STRING_MAX + 1];
char g_blockData[VX_BLOCK_MAX];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XDR xdrs;
    xdrmem_create(&xdrs, const_cast<char*>(reinterpret_cast<const char*>(data)),
                  static_cast<u_int>(size), XDR_DECODE);
    char cred[MAX_AUTH_BYTES], verf[MAX_AUTH_BYTES];
    rpc_msg msg{};
    msg.rm_call.cb_cred.oa_base = cred;
    msg.rm_call.cb_verf.oa_base = verf;
    if (xdr_callmsg(&xdrs, &msg) && msg.rm_direction == CALL) {
        switch (msg.rm_call.cb_proc) {
        case vxRPC_ASK:
        case vxRPC_RELEASE:
            break;
        case vxRPC_WRITE: {
            vx_block block{};
            block.data = g_blockData;
            if (xdr_vxblock(&xdrs, &block) &&
                (block.length < 0 || block.length > static_cast<int32_t>(VX_BLOCK_MAX)))
                __builtin_trap();
            break;
        }
        default: {
            char* text = g_argText;
            xdr_vxstring(&xdrs, &text);
            break;
        }
        }
    }
    xdr_destroy(&xdrs);
    return 0;
}
