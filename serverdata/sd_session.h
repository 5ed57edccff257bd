// The console's session with its one proxy server: the host every remote operation goes to and
// the logon levels.
#pragma once

#include <cstdint>

struct SdSession {
    char host[256];        // "ProxyServerName"; empty before the configuration is loaded
    int32_t SelectedLevel; // the level the LogOn page asks for: 0 user, 1 administrator
    int32_t GrantedLevel;  // the level the last accepted logon granted
};
