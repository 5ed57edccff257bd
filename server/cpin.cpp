// Server program "./cpin PATH": checks a data file in: installs its lock copy.
#include "lib/vx_version.h"
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    if (vxVersionRequested("cpin", argc, argv)) return 0;
    return vxdToolMain("cpin", argc, argv, vxdCheckin);
}
