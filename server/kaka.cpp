// Server program "kaka": run after the user list or a permit list was saved; rebuilds the Squid
// configuration from the lists.
#include "server/squid_config.h"

int main(int argc, char** argv) {
    return vxdSquidMain("kaka", argc, argv);
}
