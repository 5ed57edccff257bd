// Server program "./cpin2 PATH": drops the lock copy of a data file.
#include "lib/vx_version.h"
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    if (vxVersionRequested("cpin2", argc, argv)) return 0;
    return vxdToolMain("cpin2", argc, argv, vxdDropLock);
}
