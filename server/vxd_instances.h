// Server instances: program numbers handed out by procedure 5. Each instance is served by a
// worker process of its own, listening at a port of its own under the instance number.
//
// Why processes: an instance runs commands that may take minutes (a statistics run, a ping, a
// slow post-save command) and holds an open file across calls. A process per instance serves
// every instance independently of the others and of the service numbers, keeps the per-call
// buffers and the open file of one instance away from the others, and a worker that crashes
// ends only its own instance: the service process reaps it and drops its registration. The
// service process itself only hands out numbers and answers procedures 29 and 30, so it never
// waits on a command.
//
// Why spares: registering a number with rpcbind and starting a worker take longer than a
// command. The service keeps a few workers started and registered ahead of use, so that
// procedure 5 answers at once and the next spare starts after the answer.
//
// Why reuse: starting a process and ending it cost more than a short command. A released
// worker keeps its process and its port, takes a new number after its answer and reports itself
// a spare again over a channel to the service; only its open file and instance state start
// afresh. A worker ends after a few hundred instances, and a fresh one takes its place.
//
// The pool of workers is vxd_workers.cpp, a worker's own loop vxd_worker.cpp, the numbers'
// registrations with rpcbind vxd_rpcbind.cpp.
#pragma once

#include <climits>
#include <csignal>
#include <ctime>

#include "remote/vx_xdr.h"
#include "server/vxd_rpc.h"

struct VxdInstance {
    unsigned long program = 0;
    long long lastUseMs = 0; // CLOCK_MONOTONIC ms: hand-out, or start or end of the last call
    bool handedOut = false;  // procedure 5 gave it to a client: its idle clock runs
    long calls = 0;          // calls served
    int fd = -1;             // the open file (procedures 6 and 7)
    bool writing = false;    // fd is a temporary file that procedure 8 renames into place
    bool failed = false;     // a write failed: the close discards the temporary file
    int error = 0;           // why (an errno value)
    static constexpr int kNothingAhead = -1000000;
    int ahead = kNothingAhead; // the next block read ahead: its length, or -errno
    long long written = 0;     // bytes written to fd
    long long flushing = 0;    // bytes of fd whose writing out has been started
    int dirFd = -1;            // directory of the file being written
    char tmpName[64] = {};     // the temporary file's name in dirFd
    char name[NAME_MAX + 1] = {};
    char path[VX_STRING_MAX + 1] = {}; // the path as the client named it
};

struct VxdInstanceLimits {
    int maxInstances = 64;           // instances handed out at once
    long idleSeconds = 600;          // an instance handed out and without a call for this long
                                     // is dropped
    long long maxUpload = 1LL << 30; // bytes of one uploaded file
    int commandTimeout = 0;          // seconds a command may run; 0: no limit
    int spares = 2;                  // workers started ahead of use
};

// Set by SIGTERM and SIGINT, and in a worker by the end of its instance.
volatile int* vxdStopFlag();

// ---- the service process ----

// Workers listen on listenAddress and serve their instance with handler over transport;
// serviceFd is the service's listening socket (closed in every worker). A worker runs between
// (when set) after each call and about once a second.
void vxdWorkersInit(const char* listenAddress, int serviceFd, const VxdInstanceLimits& limits,
                    const VxdTransportLimits& transport, VxdHandler handler,
                    void (*between)() = nullptr);
const VxdInstanceLimits& vxdInstanceLimits();

// Procedure 5: a registered instance number, or 0 (at the instance limit, or rpcbind refused).
unsigned long vxdHandOutInstance();

// Reaps ended workers (dropping the registrations of those that crashed), retires old spares
// and starts new ones.
void vxdWorkersTick();

// Ends every worker and drops what they had registered.
void vxdWorkersShutdown();

// ---- a worker ----

bool vxdIsWorker();

// The instance of this worker when program is its number; nullptr in the service process.
VxdInstance* vxdFindInstance(unsigned long program);

// Procedure 9: closes the file and drops the registration now; after the reply the worker takes
// a new number and becomes a spare again.
void vxdEndInstance(const char* why);

// Seconds of CLOCK_MONOTONIC.
inline time_t vxdMonotonicSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec;
}

// Milliseconds of CLOCK_MONOTONIC.
inline long long vxdMonotonicMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
