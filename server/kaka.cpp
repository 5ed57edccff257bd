// Server program "kaka": run after the user list or a permit list was saved; rebuilds the Squid
// configuration from the lists.
#include "lib/vx_version.h"
#include "server/squid_config.h"

int main(int argc, char** argv) {
    if (vxVersionRequested("kaka", argc, argv)) return 0;
    return vxdSquidMain("kaka", argc, argv);
}
