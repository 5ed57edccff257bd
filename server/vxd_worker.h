// A worker process of the vxd service: what the service starts it with and what it reports back
// (see vxd_instances.h for why instances are served by workers).
#pragma once

#include <sys/types.h>

#include "server/vxd_rpc.h"

// What a worker reports to the service process over its channel (and the one notice the
// service sends the other way).
struct VxdWorkerReport {
    char kind; // 'R': released, taking a new number; 'S': a spare under program;
               // from the service to the worker, 'H': program has been handed out
    unsigned long program;
};

// What a worker is started with, in the process just forked (the service's own descriptors
// closed already).
struct VxdWorkerStart {
    int listenFd = -1;         // its listening socket, kept across its instances
    int channel = -1;          // its end of the report channel
    unsigned long program = 0; // the number registered for its first instance
    pid_t parent = 0;          // the service process
    VxdTransportLimits transport;
    VxdHandler handler = nullptr;
    void (*between)() = nullptr;  // run after each call and about once a second, when set
    long idleSeconds = 600;       // an instance handed out and without a call for this long
                                  // is dropped
    volatile int* stop = nullptr; // the process's stop flag (vxdStopFlag)
};

// Serves instance after instance at start.listenFd until the worker has served its share,
// rpcbind refuses a new number or it is told to stop; then ends the process.
[[noreturn]] void vxdWorkerMain(const VxdWorkerStart& start);
