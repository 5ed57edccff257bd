// The one host name of the console's server.
#include "serverdata/sd_host.h"

#include "lib/vx_err.h"
#include "serverdata/server_data.h"

const char* SdHost() {
    return serverData.host;
}

bool SdSetHost(const char* name) {
    if (name && vxCopy(serverData.host, sizeof serverData.host, name)) return true;
    serverData.host[0] = '\0';
    return false;
}
