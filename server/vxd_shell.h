// The shell of vxd's remote commands: vxsh beside vxd, which shows the command the server root
// at "/l" and "/tmp", or /bin/sh for a server whose root is "/".
#pragma once

#include "vxd_fs.h"

// The program to run "sh -c COMMAND" with (argv stays "sh", "-c", COMMAND). Falls back to
// /bin/sh when vxsh is missing.
const char* vxdCommandShell(const VxdRoot& root);
