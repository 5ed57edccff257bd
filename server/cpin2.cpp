// Server program "./cpin2 PATH": drops the lock copy of a data file.
#include "server/vxd_tools.h"

int main(int argc, char** argv) {
    return vxdToolMain("cpin2", argc, argv, vxdDropLock);
}
