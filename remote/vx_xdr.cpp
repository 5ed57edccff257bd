// XDR filters of the proxy server's ONC RPC records.
#include "remote/vx_xdr.h"

bool_t xdr_vxstring(XDR* xdrs, char** text) {
    return xdr_string(xdrs, text, VX_STRING_MAX);
}

bool_t xdr_vxreply(XDR* xdrs, vx_reply* reply) {
    return xdr_int32_t(xdrs, &reply->value) && xdr_int32_t(xdrs, &reply->aux) &&
           xdr_int32_t(xdrs, &reply->code) && xdr_int32_t(xdrs, &reply->severity) &&
           xdr_int32_t(xdrs, &reply->kind) && xdr_vxstring(xdrs, &reply->message) &&
           xdr_vxstring(xdrs, &reply->text);
}

bool_t xdr_vxinstance(XDR* xdrs, vx_instance* instance) {
    return xdr_int32_t(xdrs, &instance->program) && xdr_int32_t(xdrs, &instance->spare);
}

bool_t xdr_vxblock(XDR* xdrs, vx_block* block) {
    if (!xdr_int32_t(xdrs, &block->length) || !xdr_int32_t(xdrs, &block->status)) return FALSE;
    if (xdrs->x_op != XDR_FREE &&
        (block->length < 0 || static_cast<unsigned>(block->length) > VX_BLOCK_MAX))
        return FALSE;
    u_int count = static_cast<u_int>(block->length);
    if (!xdr_bytes(xdrs, &block->data, &count, VX_BLOCK_MAX)) return FALSE;
    // The opaque data carries its own count, which must agree with length.
    return xdrs->x_op == XDR_FREE || count == static_cast<u_int>(block->length);
}
