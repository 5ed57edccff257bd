// Server program "grouppen": run after the group list was saved; rebuilds the Squid
// configuration from the lists.
#include "lib/vx_version.h"
#include "server/squid_config.h"

int main(int argc, char** argv) {
    if (vxVersionRequested("grouppen", argc, argv)) return 0;
    return vxdSquidMain("grouppen", argc, argv);
}
