// Server program "./cpout PATH": checks a data file out: makes its lock copy.
#include "lib/vx_version.h"
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    if (vxVersionRequested("cpout", argc, argv)) return 0;
    return vxdToolMain("cpout", argc, argv, vxdCheckout);
}
