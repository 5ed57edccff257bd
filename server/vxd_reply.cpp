// The procedures' context and their replies' texts.
#include "server/vxd_reply.h"

#include "lib/vx_err.h"

namespace {

// Set once at start; the procedures are called through the dispatch table without a context.
VxdContext g_context;

// The texts of the reply being built: one call is served at a time and its reply is sent
// before the next, so one pair of buffers serves every reply.
char g_replyMessage[VX_STRING_MAX + 1];
char g_replyText[VX_STRING_MAX + 1];

} // namespace

void vxdProceduresInit(const VxdContext& context) {
    g_context = context;
}

const VxdContext& vxdContext() {
    return g_context;
}

vx_reply vxdEmptyReply() {
    vx_reply r{};
    g_replyMessage[0] = '\0';
    g_replyText[0] = '\0';
    r.message = g_replyMessage;
    r.text = g_replyText;
    return r;
}

vx_reply vxdErrorReply(int code, const char* subject) {
    vx_reply r = vxdEmptyReply();
    r.value = -1;
    r.code = code;
    r.kind = VX_KIND_OS;
    int severity = vxErrorSeverity(code, VX_KIND_OS);
    r.severity = severity < 0 ? 3 : severity;
    vxdErrorText(code, subject, g_replyMessage, sizeof g_replyMessage);
    return r;
}

char* vxdReplyText() {
    return g_replyText;
}
