// The procedures of the vxd service and the table that routes calls to them.
#pragma once

#include "remote/vx_xdr.h"
#include "server/vxd_instances.h"
#include "server/vxd_rpc.h"

// Names procedure 30 reports other interfaces under (--netdev-alias NAME=INTERFACE), so that a
// machine without the proxy's interfaces can show traffic on the console's lines.
struct VxdNetdevAliases {
    static constexpr int kMax = 8;
    struct Alias {
        char name[16];  // reported
        char iface[16]; // as /proc/net/dev names it
    };
    // Adds "NAME=INTERFACE" (each 1 to 15 of [A-Za-z0-9._-]); false when malformed or full.
    bool add(const char* alias);
    Alias list[kMax] = {};
    int count = 0;
};

// Serves one call on the service numbers or on an instance.
void vxdDispatch(VxdRequest& request);

// ---- the procedures ----

// Procedure 4: the command line through /bin/sh -c; value = exit status as a signed byte.
// When the caller's connection callerFd closes while the command runs (its client gave up or
// went away), the command's process group is killed: nobody waits for its answer any more.
vx_reply vxdExec(const char* command, int callerFd = -1);
// True when the peer of connection fd has closed its side (or the connection failed).
bool vxdCallerGone(int fd);
// In a worker between calls: starts the shell that the next command line will run in (see
// vxd_commands.cpp), unless one is waiting already.
void vxdPrepareShell();
// Procedure 29: crypt(3) of the text after the first two characters, with those as salt.
vx_block vxdCrypt(const char* arg);
// Procedure 30: "name tx rx ..." for the interfaces of /proc/net/dev, whole triples only; the
// aliased interfaces come first, under their aliases, so that they fit the 128-byte text.
vx_reply vxdNetdev();
// Procedure 31: ping -c 3 -W 1 -i 0.2 TARGET (no shell) into "__vxPingFil.txt".
vx_reply vxdPing(const char* target);

// Procedures 6, 7, 8, 10 and 11: one file per instance, read or written in blocks.
vx_reply vxdOpenRead(VxdInstance* in, const char* path);
vx_reply vxdOpenNew(VxdInstance* in, const char* path);
vx_reply vxdCloseInstanceFile(VxdInstance* in, const char* path);
// Closes the instance's file; a file being written is renamed into place only when commit is
// set and every write succeeded. Returns 0 or an errno value.
int vxdCloseFile(VxdInstance* in, bool commit);
// Procedure 10 in two steps. The answer comes from vxdAcceptBlock: the block is refused when no
// file is being written, when it would pass the upload limit, or when an earlier block's write
// failed. vxdStoreBlock writes an accepted block after the answer, so the client sends the next
// block while this one goes to the file; a failed write is answered at the next block and at
// the close, which then discards the temporary file and keeps the old one.
vx_reply vxdAcceptBlock(VxdInstance* in, const vx_block* block);
void vxdStoreBlock(VxdInstance* in, const vx_block* block);
vx_block vxdReadBlock(VxdInstance* in, const char* path);
// After the answer carrying sent: reads the file's next block ahead, so that the next call of
// procedure 11 finds it read while the client was taking this one.
void vxdReadAhead(VxdInstance* in, const vx_block& sent);

// The procedure's name in the log ("EXEC", ...; "?" for an unknown number).
const char* vxdProcedureName(unsigned long number);
