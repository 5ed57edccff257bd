// Server program "./cprestore PATH": brings back a data file's content from before the last
// check-in.
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    return vxdToolMain("cprestore", argc, argv, vxdRestore);
}
