// The procedure table and the dispatch of one call: access check, program check, argument
// decoding and the log line, then the procedure.
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

#include "vx_err.h"
#include "vxd_log.h"
#include "vxd_procedures.h"

namespace {

VxdContext g_context;

// Decoding buffers: arguments are decoded in place, never allocated.
char g_argText[VX_STRING_MAX + 1];
char g_blockData[VX_BLOCK_MAX];
char g_replyMessage[VX_STRING_MAX + 1];
char g_replyText[VX_STRING_MAX + 1];

// XDR filters as the svc functions take them (xdr_void has no parameters).
template <class F> xdrproc_t xdrProc(F filter) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(filter));
}

// One decoded call.
struct Call {
    svc_req* rq;
    SVCXPRT* xprt;
    const char* client; // the caller's address
    VxdInstance* in;    // the instance called; nullptr on a main program
    const char* arg;    // a string argument
    vx_block* block;    // a block argument
};

enum class Argument { None, String, Block };
enum class Where { Main, Instance };

struct Procedure {
    unsigned long number;
    const char* name;
    Where where;
    Argument argument;
    void (*run)(const Call&);
};

void logRequest(const Call& c, const char* argument) {
    char arg[VX_STRING_MAX * 4 + 1];
    vxdEscapeForLog(argument ? argument : "", arg, sizeof arg);
    vxdLog("%s 0x%08lx %lu %s %s", c.client, static_cast<unsigned long>(c.rq->rq_prog),
           static_cast<unsigned long>(c.rq->rq_proc), vxdProcedureName(c.rq->rq_proc), arg);
}

void sendReply(const Call& c, vx_reply reply) {
    if (!svc_sendreply(c.xprt, xdrProc(xdr_vxreply), reinterpret_cast<char*>(&reply)))
        vxdLog("cannot send a reply");
}

void sendBlock(const Call& c, vx_block block) {
    if (!svc_sendreply(c.xprt, xdrProc(xdr_vxblock), reinterpret_cast<char*>(&block)))
        vxdLog("cannot send a block");
}

void runAsk(const Call& c) {
    vx_instance inst{};
    inst.program = static_cast<int32_t>(vxdNewInstance());
    char text[32];
    snprintf(text, sizeof text, "-> 0x%08x", static_cast<unsigned>(inst.program));
    logRequest(c, text);
    svc_sendreply(c.xprt, xdrProc(xdr_vxinstance), reinterpret_cast<char*>(&inst));
}

void runRelease(const Call& c) {
    logRequest(c, "");
    // Unregistered before the answer, so a client sees the number gone once it returns.
    vxdReleaseInstance(c.in, "released");
    svc_sendreply(c.xprt, xdrProc(xdr_void), nullptr);
}

void runWrite(const Call& c) {
    char text[32];
    snprintf(text, sizeof text, "%d bytes", c.block->length);
    logRequest(c, text);
    sendReply(c, vxdWriteBlock(c.in, c.block));
}

void runCrypt(const Call& c) {
    // Only the salt goes to the log: the rest is a password.
    char salt[3] = {c.arg[0], c.arg[0] ? c.arg[1] : '\0', '\0'};
    logRequest(c, salt);
    sendBlock(c, vxdCrypt(c.arg));
}

void runRead(const Call& c) {
    logRequest(c, c.arg);
    sendBlock(c, vxdReadBlock(c.in, c.arg));
}

void runExec(const Call& c) {
    logRequest(c, c.arg);
    sendReply(c, vxdExec(c.arg));
}

void runOpenRead(const Call& c) {
    logRequest(c, c.arg);
    sendReply(c, vxdOpenRead(c.in, c.arg));
}

void runOpenNew(const Call& c) {
    logRequest(c, c.arg);
    sendReply(c, vxdOpenNew(c.in, c.arg));
}

void runClose(const Call& c) {
    logRequest(c, c.arg);
    sendReply(c, vxdCloseInstanceFile(c.in, c.arg));
}

void runNetdev(const Call& c) {
    logRequest(c, c.arg);
    sendReply(c, vxdNetdev());
}

void runPing(const Call& c) {
    logRequest(c, c.arg);
    sendReply(c, vxdPing(c.arg));
}

const Procedure kProcedures[] = {
    {vxRPC_EXEC, "EXEC", Where::Instance, Argument::String, runExec},
    {vxRPC_ASK, "ASK", Where::Main, Argument::None, runAsk},
    {vxRPC_FILOPEN_RDONLY, "FILOPEN_RDONLY", Where::Instance, Argument::String, runOpenRead},
    {vxFILOPEN_NEW, "FILOPEN_NEW", Where::Instance, Argument::String, runOpenNew},
    {vxRPC_FILCLOS, "FILCLOS", Where::Instance, Argument::String, runClose},
    {vxRPC_RELEASE, "RELEASE", Where::Instance, Argument::None, runRelease},
    {vxRPC_WRITE, "WRITE", Where::Instance, Argument::Block, runWrite},
    {vxRPC_READ, "READ", Where::Instance, Argument::String, runRead},
    {vxRPC_CRYPT, "CRYPT", Where::Main, Argument::String, runCrypt},
    {vxRPC_NETDEV, "NETDEV", Where::Main, Argument::String, runNetdev},
    {vxRPC_PING, "PING", Where::Instance, Argument::String, runPing},
};

const Procedure* findProcedure(unsigned long number) {
    for (const Procedure& p : kProcedures)
        if (p.number == number) return &p;
    return nullptr;
}

bool isMainProgram(unsigned long prog) {
    return prog == VXPROG_MAIN || prog == VXPROG_ALT;
}

// Decodes the argument the procedure takes into call; false (with the log line and the error
// answer sent) when it does not decode.
bool decodeArgument(const Procedure& p, Call* call) {
    switch (p.argument) {
    case Argument::None:
        if (svc_getargs(call->xprt, xdrProc(xdr_void), nullptr)) return true;
        break;
    case Argument::String: {
        char* text = g_argText;
        if (svc_getargs(call->xprt, xdrProc(xdr_vxstring), reinterpret_cast<char*>(&text))) {
            call->arg = g_argText;
            return true;
        }
        logRequest(*call, "(bad argument)");
        break;
    }
    case Argument::Block:
        call->block->data = g_blockData;
        if (svc_getargs(call->xprt, xdrProc(xdr_vxblock), reinterpret_cast<char*>(call->block)))
            return true;
        logRequest(*call, "(bad block)");
        break;
    }
    svcerr_decode(call->xprt);
    return false;
}

} // namespace

void vxdProceduresInit(const VxdContext& context) {
    g_context = context;
}

const VxdContext& vxdContext() {
    return g_context;
}

const char* vxdProcedureName(unsigned long number) {
    if (number == NULLPROC) return "NULL";
    const Procedure* p = findProcedure(number);
    return p ? p->name : "?";
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

void vxdDispatch(svc_req* rq, SVCXPRT* xprt) {
    char client[INET6_ADDRSTRLEN];
    uint32_t addr = 0;
    bool v4 = vxdCallerAddress(xprt, &addr, client, sizeof client);
    if (!v4 || !g_context.access->allows(addr)) {
        vxdLog("%s 0x%08lx %lu refused", client, static_cast<unsigned long>(rq->rq_prog),
               static_cast<unsigned long>(rq->rq_proc));
        svcerr_auth(xprt, AUTH_TOOWEAK);
        return;
    }
    if (rq->rq_proc == NULLPROC) {
        svc_sendreply(xprt, xdrProc(xdr_void), nullptr);
        return;
    }
    vx_block block{};
    Call call{rq, xprt, client, nullptr, nullptr, &block};
    if (!isMainProgram(rq->rq_prog)) {
        call.in = vxdFindInstance(rq->rq_prog);
        if (!call.in) {
            svcerr_noprog(xprt);
            return;
        }
        call.in->lastUse = vxdMonotonicSeconds();
    }
    const Procedure* p = findProcedure(rq->rq_proc);
    if (!p || (p->where == Where::Instance) != (call.in != nullptr)) {
        logRequest(call, "(no such procedure here)");
        svcerr_noproc(xprt);
        return;
    }
    if (decodeArgument(*p, &call)) p->run(call);
}
