// Instance numbers at the local rpcbind: registered, dropped and looked up, over one connection
// kept while the process lives.
#pragma once

#include <netinet/in.h>

// Registers a fresh random instance number for the TCP port; 0 when rpcbind refused every
// attempt. inUse, when set, passes over numbers known to be taken. rpcbind refuses a number that
// is registered already, which every live instance's number is.
unsigned long vxdRegisterNumber(unsigned short port, bool (*inUse)(unsigned long));

// Drops every registration of an instance number; false when rpcbind refused.
bool vxdDropNumber(unsigned long program);

// In a worker just forked: the kept connection is the service's, so this copy of it is closed
// and the worker opens its own when it first asks.
void vxdRpcbindForgetInherited();

// Drops registrations of instance numbers whose port nobody listens at on listenAddress (left by
// a service that was killed).
void vxdDropStaleRegistrations(const char* listenAddress);

// 127.0.0.1:port.
sockaddr_in vxdLoopback(unsigned short port);

// Port registered with the local rpcbind for (program, 1, tcp); 0 when none.
unsigned short vxdRegisteredPort(unsigned long program);
