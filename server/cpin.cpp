// Server program "./cpin PATH": checks a data file in: installs its lock copy.
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    return vxdToolMain("cpin", argc, argv, vxdCheckin);
}
