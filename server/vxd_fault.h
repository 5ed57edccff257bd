// Fault injection for the server's fault tests: with VXD_FAULT="POINT:N" in the environment,
// the N-th pass of POINT in one instance's worker ends that process with SIGKILL (a vxd worker
// takes the whole service with it), so a test can stop the server at every step of an operation and
// check what the files look like afterwards. Without VXD_FAULT every fault point does nothing.
#pragma once

// A step named point; see above.
void vxdFaultPoint(const char* point);

// In a vxd worker: a fault ends the service process too.
void vxdFaultKillsParent();

// A reused worker counts the passes of its next instance from zero.
void vxdFaultRestart();
