// The one host name of the console's server.
#include "serverdata/sd_host.h"

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "serverdata/server_data.h"
#include "serverdata/startup.h"

const char* SdHost() {
    return serverData.session.host;
}

bool SdSetHost(const char* name) {
    if (name && vxCopy(serverData.session.host, sizeof serverData.session.host, name)) return true;
    serverData.session.host[0] = '\0';
    return false;
}

bool sdServerUsable() {
    return !noServer && SdHost()[0];
}

void SdCancelRemote() {
    vxCancel();
}

void SdResetCancel() {
    vxResetCancel();
}

void SdSetHostKeyQuestion(SdHostKeyQuestion question) {
    vxSetHostKeyQuestion(question);
}
