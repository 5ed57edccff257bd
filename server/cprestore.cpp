// Server program "./cprestore PATH": brings back a data file's content from before the last
// check-in.
#include "lib/vx_version.h"
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    if (vxVersionRequested("cprestore", argc, argv)) return 0;
    return vxdToolMain("cprestore", argc, argv, vxdRestore);
}
