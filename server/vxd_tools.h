// The server programs that the console runs through procedure 4: the checkout lock commands
// ("./cpout", "./cpin", "./cpin2", "./cprestore") and the log tail ("./vxtail").
#pragma once

#include "server/vxd_fs.h"

// Suffixes of the files kept beside a data file PATH.
constexpr const char* VXD_LOCK_SUFFIX = "._vx_lck_"; // the lock copy the console edits
constexpr const char* VXD_PREV_SUFFIX = "._vx_prv_"; // content before the last check-in
constexpr const char* VXD_NONE_SUFFIX = "._vx_new_"; // marks: PATH did not exist before it

// Exit statuses of the lock commands.
constexpr int VXD_EXIT_OK = 0;
constexpr int VXD_EXIT_FAILED = 1;
constexpr int VXD_EXIT_HELD = 255; // "./cpout": the file is checked out already (-1)

// "./cpout PATH": creates the lock copy PATH._vx_lck_ with PATH's content. VXD_EXIT_HELD when a
// lock copy exists; VXD_EXIT_OK without a lock copy when PATH does not exist (the console then
// fetches nothing and edits an empty list); VXD_EXIT_FAILED otherwise, leaving no lock copy.
int vxdCheckout(const VxdRoot& root, const char* path);

// "./cpin PATH": keeps PATH's content (or the fact that it did not exist) for vxdRestore, then
// replaces PATH by a copy of the lock copy with one rename. The lock copy stays.
int vxdCheckin(const VxdRoot& root, const char* path);

// "./cpin2 PATH": removes the lock copy; a missing lock copy is no error.
int vxdDropLock(const VxdRoot& root, const char* path);

// "./cprestore PATH": brings back PATH's content from before the last check-in (removing PATH
// when it did not exist then). VXD_EXIT_FAILED when there was no check-in.
int vxdRestore(const VxdRoot& root, const char* path);

// "./vxtail FILE N": writes the last N lines (1 <= N <= 100000) of FILE to "vxtail.tmp" in the
// working directory, replacing it whole. At most N * VXD_TAIL_LINE_BYTES bytes (and never more
// than VXD_TAIL_MAX_BYTES) are written: a file with few line ends gives its last bytes, the first
// line cut at its front.
constexpr long VXD_TAIL_LINE_BYTES = 4096;
constexpr long VXD_TAIL_MAX_BYTES = 16L << 20;
int vxdTail(const VxdRoot& root, const char* file, const char* count);

// Common main of the programs: opens the root from $VXD_ROOT, checks the argument count and
// runs the command, writing a line to stderr on failure.
int vxdToolMain(const char* name, int argc, char** argv, int (*run)(const VxdRoot&, const char*));
int vxdTailMain(int argc, char** argv);
