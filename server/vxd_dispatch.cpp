// The procedure table and the dispatch of one call: access check, program check, argument
// decoding and the log line, then the procedure.
#include <cstdio>
#include <cstring>
#include <poll.h>

#include "server/vxd_decode.h"
#include "server/vxd_log.h"
#include "server/vxd_procedures.h"
#include "server/vxd_reply.h"

namespace {

// The decoding buffer of a string argument: arguments are decoded in place, never allocated,
// and one call is served at a time.
char g_argText[VX_STRING_MAX + 1];

// One decoded call.
struct Call {
    VxdRequest* rq;
    VxdInstance* in; // the instance called; nullptr on a main program
    const char* arg; // a string argument
    vx_block* block; // a block argument
};

enum class Where { Main, Instance };

struct Procedure {
    unsigned long number;
    const char* name;
    Where where;
    VxdArgument argument;
    void (*run)(const Call&);
};

void logRequest(const Call& c, const char* argument) {
    char arg[VX_STRING_MAX * 4 + 1];
    vxdEscapeForLog(argument ? argument : "", arg, sizeof arg);
    vxdLog("%s 0x%08lx %lu %s %s", c.rq->client, c.rq->prog, c.rq->proc,
           vxdProcedureName(c.rq->proc), arg);
}

void sendReply(const Call& c, vx_reply reply) {
    vxdSendReply(*c.rq, vxdXdr(xdr_vxreply), &reply);
}

// A block as xdr_vxblock encodes it, without its data: length, status and the data's count.
bool_t xdrBlockHead(XDR* x, vx_block* block) {
    u_int count = static_cast<u_int>(block->length);
    return xdr_int32_t(x, &block->length) && xdr_int32_t(x, &block->status) && xdr_u_int(x, &count);
}

void sendBlock(const Call& c, vx_block block) {
    if (block.length < 0 || static_cast<unsigned>(block.length) > VX_BLOCK_MAX) block.length = 0;
    vxdSendReplyWithData(*c.rq, vxdXdr(xdrBlockHead), &block, block.data,
                         static_cast<size_t>(block.length));
}

void runAsk(const Call& c) {
    vx_instance inst{};
    inst.program = static_cast<int32_t>(vxdHandOutInstance());
    char text[32];
    snprintf(text, sizeof text, "-> 0x%08x", static_cast<unsigned>(inst.program));
    logRequest(c, text);
    vxdSendReply(*c.rq, vxdXdr(xdr_vxinstance), &inst);
}

void runRelease(const Call& c) {
    logRequest(c, "");
    // Unregistered before the answer, so a client sees the number gone once it returns; the
    // worker ends after the answer.
    vxdEndInstance("released");
    vxdSendReply(*c.rq, vxdXdr(xdr_void), nullptr);
}

void runWrite(const Call& c) {
    char text[32];
    snprintf(text, sizeof text, "%d bytes", c.block->length);
    logRequest(c, text);
    vx_reply r = vxdAcceptBlock(c.in, c.block);
    const bool accepted = r.code == 0;
    sendReply(c, r);
    // The block lies in the call record, which stays as it is until this call returns.
    if (accepted) vxdStoreBlock(c.in, c.block);
}

void runCrypt(const Call& c) {
    // Only the salt goes to the log: the rest is a password.
    char salt[3] = {c.arg[0], c.arg[0] ? c.arg[1] : '\0', '\0'};
    logRequest(c, salt);
    sendBlock(c, vxdCrypt(c.arg));
}

void runRead(const Call& c) {
    logRequest(c, c.arg);
    vx_block block = vxdReadBlock(c.in, c.arg);
    sendBlock(c, block);
    vxdReadAhead(c.in, block);
}

void runExec(const Call& c) {
    logRequest(c, c.arg);
    sendReply(c, vxdExec(c.arg, c.rq->fd));
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
    {vxRPC_EXEC, "EXEC", Where::Instance, VxdArgument::String, runExec},
    {vxRPC_ASK, "ASK", Where::Main, VxdArgument::None, runAsk},
    {vxRPC_FILOPEN_RDONLY, "FILOPEN_RDONLY", Where::Instance, VxdArgument::String, runOpenRead},
    {vxFILOPEN_NEW, "FILOPEN_NEW", Where::Instance, VxdArgument::String, runOpenNew},
    {vxRPC_FILCLOS, "FILCLOS", Where::Instance, VxdArgument::String, runClose},
    {vxRPC_RELEASE, "RELEASE", Where::Instance, VxdArgument::None, runRelease},
    {vxRPC_WRITE, "WRITE", Where::Instance, VxdArgument::Block, runWrite},
    {vxRPC_READ, "READ", Where::Instance, VxdArgument::String, runRead},
    {vxRPC_CRYPT, "CRYPT", Where::Main, VxdArgument::String, runCrypt},
    {vxRPC_NETDEV, "NETDEV", Where::Main, VxdArgument::String, runNetdev},
    {vxRPC_PING, "PING", Where::Instance, VxdArgument::String, runPing},
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
    if (vxdDecodeArgument(p.argument, call->rq->args, g_argText, call->block)) {
        if (p.argument == VxdArgument::String) call->arg = g_argText;
        return true;
    }
    if (p.argument != VxdArgument::None)
        logRequest(*call, p.argument == VxdArgument::String ? "(bad argument)" : "(bad block)");
    vxdSendAcceptError(*call->rq, GARBAGE_ARGS);
    return false;
}

} // namespace

bool vxdCallerGone(int fd) {
    if (fd < 0) return false;
    pollfd p{fd, POLLRDHUP, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

const char* vxdProcedureName(unsigned long number) {
    if (number == NULLPROC) return "NULL";
    const Procedure* p = findProcedure(number);
    return p ? p->name : "?";
}

void vxdDispatch(VxdRequest& rq) {
    if (!rq.v4 || !vxdContext().access->allows(rq.addr)) {
        vxdLog("%s 0x%08lx %lu refused", rq.client, rq.prog, rq.proc);
        vxdSendAuthError(rq, AUTH_TOOWEAK);
        return;
    }
    // The service process serves the service numbers, a worker its instance's number.
    vx_block block{};
    Call call{&rq, vxdFindInstance(rq.prog), nullptr, &block};
    bool served = call.in || (isMainProgram(rq.prog) && !vxdIsWorker());
    if (!served) {
        vxdSendAcceptError(rq, PROG_UNAVAIL);
        return;
    }
    if (rq.vers != VXVERS) {
        vxdSendVersionMismatch(rq);
        return;
    }
    if (call.in) {
        call.in->handedOut = true;
        call.in->lastUseMs = vxdMonotonicMs();
        call.in->calls++;
    }
    if (rq.proc == NULLPROC) {
        vxdSendReply(rq, vxdXdr(xdr_void), nullptr);
        return;
    }
    const Procedure* p = findProcedure(rq.proc);
    if (!p || (p->where == Where::Instance) != (call.in != nullptr)) {
        logRequest(call, "(no such procedure here)");
        vxdSendAcceptError(rq, PROC_UNAVAIL);
        return;
    }
    if (!decodeArgument(*p, &call)) return;
    // A client that gave up before its call was taken (it timed out while the server was
    // stopped or busy) waits for no answer: its call is not run, so that it neither hands out an
    // instance nobody will release nor runs a command late. A release is run all the same.
    if (rq.proc != vxRPC_RELEASE && vxdCallerGone(rq.fd)) {
        logRequest(call, "(client gone: not run)");
        rq.replied = true;
        return;
    }
    p->run(call);
    // The idle clock starts again when the call ends: a command may run longer than the idle
    // time.
    if (call.in) call.in->lastUseMs = vxdMonotonicMs();
}
