// Server program "./cpout PATH": checks a data file out: makes its lock copy.
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    return vxdToolMain("cpout", argc, argv, vxdCheckout);
}
