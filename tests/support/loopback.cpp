#include "tests/support/loopback.h"

#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

bool bringLoopbackUp() {
    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return false;
    struct ifreq request = {};
    strcpy(request.ifr_name, "lo");
    bool ok = ioctl(sock, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    ok = ok && ioctl(sock, SIOCSIFFLAGS, &request) == 0;
    close(sock);
    return ok;
}
