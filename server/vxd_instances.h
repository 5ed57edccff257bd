// Server instances: program numbers handed out by procedure 5, each registered with rpcbind
// until procedure 9 releases it or it stays idle too long, each with at most one open file.
#pragma once

#include <climits>
#include <ctime>
#include <netinet/in.h>
#include <rpc/rpc.h>

#include "vx_xdr.h"

struct VxdInstance {
    unsigned long program = 0; // 0: free slot
    time_t lastUse = 0;        // CLOCK_MONOTONIC seconds
    int fd = -1;               // the open file (procedures 6 and 7)
    bool writing = false;      // fd is a temporary file that procedure 8 renames into place
    bool failed = false;       // a write failed: the close discards the temporary file
    int dirFd = -1;            // directory of the file being written
    char tmpName[64] = {};     // the temporary file's name in dirFd
    char name[NAME_MAX + 1] = {};
    char path[VX_STRING_MAX + 1] = {}; // the path as the client named it
};

using VxdDispatch = void (*)(svc_req*, SVCXPRT*);

// New instances are served by dispatch on listener, which listens at port.
void vxdInstancesInit(SVCXPRT* listener, unsigned short port, VxdDispatch dispatch);

VxdInstance* vxdFindInstance(unsigned long program);

// A new instance program number registered with rpcbind, or 0 (no free slot, or rpcbind
// refused).
unsigned long vxdNewInstance();

// Closes the instance's file; a file being written is renamed into place only when commit is
// set and every write succeeded. Returns 0 or an errno value.
int vxdCloseFile(VxdInstance* in, bool commit);

// Closes the file, drops the registration and frees the slot; why goes to the log.
void vxdReleaseInstance(VxdInstance* in, const char* why);

// Releases the instances unused for idleSeconds.
void vxdDropIdleInstances(long idleSeconds);

// Releases every instance (at shutdown).
void vxdReleaseAllInstances();

time_t vxdMonotonicSeconds();

// 127.0.0.1:port.
sockaddr_in vxdLoopback(unsigned short port);

// Port registered with the local rpcbind for (program, 1, tcp); 0 when none.
unsigned short vxdRegisteredPort(unsigned long program);
