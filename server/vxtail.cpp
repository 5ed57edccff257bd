// Server program "./vxtail FILE N": the last N lines of FILE into "vxtail.tmp".
#include "lib/vx_version.h"
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    if (vxVersionRequested("vxtail", argc, argv)) return 0;
    return vxdTailMain(argc, argv);
}
