// The shell of vxd's remote commands.
#include "vxd_shell.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

const char* vxdCommandShell(const VxdRoot& root) {
    static char shell[PATH_MAX];
    if (strcmp(root.rootPath, "/") == 0) return "/bin/sh";
    if (shell[0] == '\0') {
        char self[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return "/bin/sh";
        self[n] = '\0';
        char* slash = strrchr(self, '/');
        if (slash) *slash = '\0';
        if (snprintf(shell, sizeof shell, "%s/vxsh", self) >= static_cast<int>(sizeof shell) ||
            access(shell, X_OK) != 0) {
            shell[0] = '\0';
            return "/bin/sh";
        }
    }
    return shell;
}
