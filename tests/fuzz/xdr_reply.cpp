// Fuzz target: the client's decoding of replies: the bytes as a whole RPC reply message carrying
// a vx_reply, a vx_instance or a vx_block (the first byte picks), and as the bare record, into
// the caller-owned buffers the remote link uses and, for blocks, with allocation.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <rpc/rpc.h>

#include "remote/vx_xdr.h"

namespace {

char g_message[VX_STRING_MAX + 1], g_text[VX_STRING_MAX + 1];
char g_blockData[VX_BLOCK_MAX];

bool decode(const uint8_t* data, size_t size, int which, bool wholeMessage) {
    vx_reply reply{};
    reply.message = g_message;
    reply.text = g_text;
    vx_instance instance{};
    vx_block block{};
    block.data = g_blockData;
    void* result = which == 0   ? static_cast<void*>(&reply)
                   : which == 1 ? static_cast<void*>(&instance)
                                : static_cast<void*>(&block);
    xdrproc_t filter = which == 0   ? reinterpret_cast<xdrproc_t>(xdr_vxreply)
                       : which == 1 ? reinterpret_cast<xdrproc_t>(xdr_vxinstance)
                                    : reinterpret_cast<xdrproc_t>(xdr_vxblock);
    XDR xdrs;
    xdrmem_create(&xdrs, const_cast<char*>(reinterpret_cast<const char*>(data)),
                  static_cast<u_int>(size), XDR_DECODE);
    bool ok;
    if (wholeMessage) {
        rpc_msg msg{};
        char verf[MAX_AUTH_BYTES]; // the verifier body, as libtirpc's client supplies it
        msg.acpted_rply.ar_verf.oa_base = verf;
        msg.acpted_rply.ar_results.where = static_cast<caddr_t>(result);
        msg.acpted_rply.ar_results.proc = filter;
        ok = xdr_replymsg(&xdrs, &msg);
    } else {
        ok = which == 0   ? xdr_vxreply(&xdrs, &reply)
             : which == 1 ? xdr_vxinstance(&xdrs, &instance)
                          : xdr_vxblock(&xdrs, &block);
    }
    xdr_destroy(&xdrs);
    if (ok && which == 0 &&
        (strlen(reply.message) > VX_STRING_MAX || strlen(reply.text) > VX_STRING_MAX))
        __builtin_trap();
    if (ok && which == 2 && (block.length < 0 || block.length > static_cast<int32_t>(VX_BLOCK_MAX)))
        __builtin_trap();
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    int which = data[0] % 3;
    decode(data + 1, size - 1, which, true);
    decode(data + 1, size - 1, which, false);
    // A block decoded with allocation is freed again.
    vx_block block{};
    XDR xdrs;
    xdrmem_create(&xdrs, const_cast<char*>(reinterpret_cast<const char*>(data + 1)),
                  static_cast<u_int>(size - 1), XDR_DECODE);
    xdr_vxblock(&xdrs, &block);
    xdr_destroy(&xdrs);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_vxblock), reinterpret_cast<char*>(&block));
    return 0;
}
