// The console's start-up sequence and the loading of its configuration.
#include "serverdata/startup.h"

#include <cstdio>
#include <cstring>

#include "lib/txt0.h"
#include "lib/vx_err.h"
#include "params/def.h"
#include "remote/vx_remote.h"
#include "serverdata/server_data.h"
#include "winlib/vx_reg.h"

int noServer = 0;

int ServerData::LoadConfig(const char* source) {
    if (vxLoadParamFile(source) < 0) return -2;
    const char* name = vxGetParam("ProxyServerName");
    if (!name) return -2;
    char* host = session.host;
    if (!vxCopy(host, sizeof session.host, name)) {
        vxSetError(22, 2, VX_KIND_LIB, "ProxyServerName: host name too long");
        return -2;
    }
    if (fnPing(host, stderr, 1) != 0) return -1;
    if (vxGetRemoteFile(host, "orvelan.cnf", "orvelan.cnf") != 0) {
        vxSysError("orvelan.cnf");
        return -1;
    }
    return vxLoadParamFile("orvelan.cnf") < 0 ? -1 : 0;
}

namespace {

StartupResult finish(const char* text) {
    if (text) noServer = 1;
    return {text, text ? "ERROR !" : nullptr, -1, noServer};
}

} // namespace

bool SetMarkDone() {
    char path[512], mark[256] = "";
    vxFormat(path, sizeof path, "%s\\Setup\\Set", ORVELAN_REGISTRY_ROOT);
    if (vxReadRegistryKey(nullptr, 0, path, mark, sizeof mark) < 0) return false;
    return std::strcmp(mark, "X") == 0;
}

StartupResult RunStartup(const char* commandLine) {
    char line[260]; // at most 259 characters of command line
    char* words[16];
    if (!commandLine) commandLine = "";
    if (!vxCopy(line, sizeof line, commandLine)) {
        vxSetError(22, 2, VX_KIND_LIB, "Command line longer than 259 characters");
        noServer = 1;
        line[0] = '\0';
    }
    const char* source = line;
    if (vxSplitWords(line, 0x21, 0xFF, words, 16) == 0) { // empty, or only blanks
        vxFormat(line, sizeof line, "%s\\Setup", ORVELAN_REGISTRY_ROOT);
    } else {
        source = words[0];
    }
    if (!SetMarkDone()) noServer = 1;
    if (noServer) return finish(nullptr);
    int rc = serverData.LoadConfig(source);
    if (rc == -1) return finish("Hiba a proxy szerveren !!");
    if (rc < 0) {
        noServer = 1;
        return finish(nullptr);
    }
    if (fnPing(serverData.session.host, stderr, 1) != 0) return finish("Hiba a proxy szerveren !");
    return finish(nullptr);
}
