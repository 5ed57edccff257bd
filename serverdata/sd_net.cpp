// The network probes over the remote link.
#include "serverdata/sd_net.h"

#include "remote/vx_remote.h"
#include "remote/vx_xdr.h"
#include "serverdata/sd_host.h"

bool SdNetCounters(const char* host, std::string& text) {
    text.clear();
    char buffer[VX_STRING_MAX + 1];
    if (vxNetCountersProg(host, buffer, sizeof buffer, VXPROG_MAIN) != 0) return false;
    text = buffer;
    return true;
}

int SdPing(const char* target, const char* localPath) {
    return vxRemotePing(SdHost(), target, localPath);
}
