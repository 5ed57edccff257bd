// The shell of vxd's remote commands: vxsh (beside vxd in the build tree, ../lib/orvelan/vxsh
// from an installed vxd), which shows the command the server root at "/l" and "/tmp", or /bin/sh
// for a server whose root is "/".
#pragma once

#include "server/vxd_fs.h"

// The program to run "sh -c COMMAND" with (argv stays "sh", "-c", COMMAND). Falls back to
// /bin/sh when vxsh is missing.
//
// Building and tearing down the private view costs several times the command "true" itself, so
// it is built only where it changes what the command sees: for a command line that names "/l"
// or "/tmp", unless it is a plain call of one of the server programs, which map the paths they
// are given below $VXD_ROOT themselves. Relative paths resolve alike in both, since the working
// directory lies below the root.
const char* vxdCommandShell(const VxdRoot& root, const char* command);
