// The Setup page's settings: load and save over the registry store, "setup.bin" and the
// server's working hours.
#include "serverdata/setup_settings.h"

#include <cmath>
#include <cstdlib>

#include "lib/vx_err.h"
#include "params/def.h"
#include "serverdata/edit_session.h"
#include "serverdata/line_speeds.h"
#include "serverdata/sd_host.h"
#include "serverdata/server_data.h"
#include "serverdata/startup.h"
#include "winlib/vx_reg.h"

const char* const SETUP_SERVER_PARAMS[SETUP_SERVERS] = {"ProxyServerName", "InternetServerForPing",
                                                        "LanServerForPing", "FrameServerForPing"};

namespace {

// The six speeds of the page's fields, in the order of SetupInput.
double LineSpeeds::*const TYPED_SPEEDS[SETUP_SPEEDS] = {
    &LineSpeeds::internetIn,  &LineSpeeds::lanIn,  &LineSpeeds::intranetIn,
    &LineSpeeds::internetOut, &LineSpeeds::lanOut, &LineSpeeds::intranetOut};

// Writes one text value under the Setup key of the console's registry root; false on failure.
bool writeSetupValue(const char* name, const char* value) {
    char path[512];
    if (!vxFormat(path, sizeof path, "%s\\Setup\\%s", ORVELAN_REGISTRY_ROOT, name)) return false;
    return vxWriteRegistryKey(nullptr, 0, path, value, REG_SZ) >= 0;
}

} // namespace

SetupLoaded SetupLoad() {
    SetupLoaded loaded{};
    if (ReadLineSpeeds(lineSpeeds) != 0) {
        loaded.speedsMissing = true;
        DefaultLineSpeeds(lineSpeeds);
    } else {
        lineSpeeds.internetTotal = lineSpeeds.internetIn + lineSpeeds.internetOut;
        lineSpeeds.lanTotal = lineSpeeds.lanIn + lineSpeeds.lanOut;
        lineSpeeds.intranetTotal = lineSpeeds.intranetIn + lineSpeeds.intranetOut;
    }
    int* h = loaded.hours;
    if (noServer)
        h[0] = 8, h[1] = 0, h[2] = 16, h[3] = 30;
    else
        serverData.hours.Load(&h[0], &h[1], &h[2], &h[3]);
    for (int i = 0; i < SETUP_SERVERS; i++)
        loaded.servers[i] = vxGetParam(SETUP_SERVER_PARAMS[i]);
    return loaded;
}

double SetupSpeedValue(const char* text) {
    double value = std::strtod(text ? text : "", nullptr);
    return std::isfinite(value) ? value : 0;
}

const char* SetupSave(const SetupInput& input) {
    for (int i = 0; i < SETUP_SPEEDS; i++)
        lineSpeeds.*TYPED_SPEEDS[i] = SetupSpeedValue(input.speeds[i]);
    WriteLineSpeeds(lineSpeeds);

    bool written = writeSetupValue(SETUP_SERVER_PARAMS[0], input.servers[0]);
    // The next remote operation goes to the server typed, whatever the store says.
    SdSetHost(input.servers[0]);
    if (!written) return SETUP_REGISTRY_FAILED;
    for (int i = 1; i < SETUP_SERVERS; i++)
        if (!writeSetupValue(SETUP_SERVER_PARAMS[i], input.servers[i]))
            return SETUP_REGISTRY_FAILED;
    if (!writeSetupValue("ActiveNetworkDevice", "X")) return SETUP_REGISTRY_FAILED;
    if (!writeSetupValue("Set", "X")) return SETUP_REGISTRY_FAILED;

    if (noServer) return "";
    const char* const* h = input.hours;
    switch (serverData.hours.Save(h[0], h[1], h[2], h[3])) {
    case -2:
        return SETUP_HOURS_LOCAL_FAILED;
    case -1:
        return SdResultText(SD_SERVER);
    default:
        return "";
    }
}
