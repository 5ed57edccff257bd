// Server program "grouppen": run after the group list was saved; rebuilds the Squid
// configuration from the lists.
#include "server/squid_config.h"

int main(int argc, char** argv) {
    return vxdSquidMain("grouppen", argc, argv);
}
