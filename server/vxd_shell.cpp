// The shell of vxd's remote commands.
#include "server/vxd_shell.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

namespace {

// A server program with plain arguments: no quoting, expansion, redirection or second command.
bool serverProgramCall(const char* command) {
    static const char* const kPrograms[] = {"./cpout",     "./cpin",   "./cpin2",
                                            "./cprestore", "./vxtail", "./kaka",
                                            "./grouppen",  "kaka",     "grouppen"};
    if (strpbrk(command, ";&|`$()<>\n\\\"'*?[]{}~#=")) return false;
    size_t length = strcspn(command, " \t");
    for (const char* program : kPrograms)
        if (strlen(program) == length && strncmp(command, program, length) == 0) return true;
    return false;
}

bool needsRootView(const char* command) {
    return (strstr(command, "/l") || strstr(command, "/tmp")) && !serverProgramCall(command);
}

// vxsh beside this program (the build tree), or in the helper directory of an installed vxd
// (BIN/../lib/orvelan, wherever the tree was unpacked). Empty when neither exists.
void findShell(char* shell, size_t size) {
    char dir[PATH_MAX];
    int length = vxdHelperDir("vxsh", dir, sizeof dir) ? snprintf(shell, size, "%s/vxsh", dir) : 0;
    if (length <= 0 || static_cast<size_t>(length) >= size) shell[0] = '\0';
}

} // namespace

const char* vxdCommandShell(const VxdRoot& root, const char* command) {
    static char shell[PATH_MAX];
    if (strcmp(root.rootPath, "/") == 0 || !needsRootView(command)) return "/bin/sh";
    if (shell[0] == '\0') findShell(shell, sizeof shell);
    return shell[0] ? shell : "/bin/sh";
}
