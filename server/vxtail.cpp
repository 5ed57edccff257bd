// Server program "./vxtail FILE N": the last N lines of FILE into "vxtail.tmp".
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    return vxdTailMain(argc, argv);
}
