// The release number, defined by the build for this one file.
#include "lib/vx_version.h"

#include <cstdio>
#include <cstring>

const char* vxVersion() {
    return ORVELAN_VERSION;
}

bool vxVersionRequested(const char* name, int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--version") != 0) return false;
    std::printf("%s (Orvelan) %s\n", name, vxVersion());
    return true;
}
