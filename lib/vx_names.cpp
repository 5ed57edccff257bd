// The rule for proxy user and group names.
#include "lib/vx_names.h"

#include <cstdio>
#include <cstring>

const char* vxNameProblem(const char* name) {
    size_t n = std::strlen(name);
    if (n == 0) return "empty name";
    if (n > static_cast<size_t>(VX_NAME_MAX)) return "name longer than 255 bytes";
    if (name[0] == '.' || name[0] == '-') return "a name must not begin with '.' or '-'";
    static char reason[48]; // "'x' is not allowed in a name"
    for (size_t i = 0; i < n; i++) {
        unsigned char c = name[i];
        if (c <= 0x20 || c == 0x7F)
            return "blanks and control characters are not allowed in a name";
        if (std::strchr(VX_NAME_FORBIDDEN, c)) {
            std::snprintf(reason, sizeof reason, "'%c' is not allowed in a name", c);
            return reason;
        }
    }
    return nullptr;
}
