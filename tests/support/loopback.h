// Network namespaces of a test's own: the loopback interface of a fresh one starts down.
#pragma once

// Brings "lo" of the calling process's network namespace up; false when it cannot.
bool bringLoopbackUp();
