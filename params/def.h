// Parameter table (file, environment-variable or registry sources), environment expansion, the
// environment setter, and local commands.
#pragma once

#include <sys/types.h>

constexpr int VX_PARAM_ENTRIES = 256;  // entries of the parameter table
constexpr int VX_PARAM_POOL = 8192;    // bytes of names and values
constexpr int VX_PARAM_VALUE_MAX = 79; // characters of an expanded value
constexpr int VX_ENV_POOL = 2048;      // bytes of name=value texts kept for the environment
constexpr int VX_REG_BASE_MAX = 255;   // characters of the registry base path
constexpr int VX_COMMAND_MAX = 255;    // characters of a local command line

// Loads a parameter source and appends its entries (a name that is already there keeps its first
// value). A source beginning with "HKEY_LOCAL_MACHINE" switches registry mode on (nothing is read
// now). Otherwise the file is the value of the environment variable named by the source, else the
// text of the registry value at that path, else the source itself.
// Results: 0; -1 the file cannot be opened; -4 an undefined variable in a value, a value, table
// or pool that does not fit, or a failed close (entries added so far stay).
int vxLoadParamFile(const char* source);

// The value of the first entry named so, or (registry mode) the registry value under the base
// path, which is then kept in the table. nullptr when there is none (107 recorded).
const char* vxGetParam(const char* name);

// Empties the table and leaves registry mode (for tests and a fresh start).
void vxResetParams();

// Replaces $NAME references (NAME runs to the next "/" or the end) with environment values into
// out (VX_PARAM_VALUE_MAX + 1 bytes); joins never produce "//". 0; -1 a variable is not set; -2
// the text or the result is longer than VX_PARAM_VALUE_MAX.
int vxExpandEnv(const char* text, char* out);

// Sets a variable of the process environment from a "name=value" text, kept alive in a pool.
void PutEnv(const char* assignment);

// Runs a command line with /bin/sh -c, vxPPID set to this process's id. A trailing "&" runs it in
// the background. Results: the exit code; 0 at once for a background command; 1 when there is no
// command or it is too long (22 recorded); -1 when it cannot be started or waited for.
int vxSystem(const char* command);

// Waits for a child process: its exit code (128 + the signal number when a signal ended it), or -1.
int vxWaitProcess(pid_t pid);
