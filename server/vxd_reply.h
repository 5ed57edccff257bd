// What every procedure of vxd shares: the context it serves in, and the reply it builds.
#pragma once

#include "remote/vx_xdr.h"
#include "server/vxd_access.h"
#include "server/vxd_fs.h"

struct VxdNetdevAliases;

// What every procedure may use: the root, the working directory (O_PATH descriptor) and the
// callers served.
struct VxdContext {
    const VxdRoot* root = nullptr;
    int workFd = -1;
    const VxdAccess* access = nullptr;
    const VxdNetdevAliases* netdevAliases = nullptr;
};

void vxdProceduresInit(const VxdContext& context);
const VxdContext& vxdContext();

// ---- replies (their texts live in static buffers until the next reply) ----

vx_reply vxdEmptyReply();
// A reply carrying an operating-system error: code errno, kind 1, the error table's severity.
vx_reply vxdErrorReply(int code, const char* subject);
// The text field of the current reply (VX_STRING_MAX + 1 bytes).
char* vxdReplyText();
