// A realistic server root for the data layer's end-to-end tests.
#include "tests/support/demo_root.h"

#include <cstring>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

#include "params/def.h"
#include "remote/vx_remote.h"
#include "serverdata/server_data.h"

bool buildDemoRoot(const TestServer& server, const DemoRootOptions& o) {
    std::string cnf = "MainPasswdFile /l/apache/etc/empasswd\n"
                      "MainAdminPasswdFile /l/apache/etc/ampasswd\n"
                      "USERLISTFIL /l/apache/etc/users\n"
                      "USERDATALISTFIL /l/apache/etc/userdata\n"
                      "GROUPLISTFIL /l/apache/etc/groups\n"
                      "PERMITDIR " +
                      o.permitDir +
                      "\n"
                      "USERPROC " +
                      o.userProc +
                      "\n"
                      "GROUPPROC " +
                      o.groupProc +
                      "\n"
                      "PROXYPROC " +
                      o.proxyProc +
                      "\n"
                      "MAIL_NAME_2 @example.hu\n";
    if (!server.writeFile("orvelan.cnf", cnf)) return false;
    std::error_code ec; // the installation's data directories exist even while they are empty
    for (const std::string& d : {std::string("/l/apache/etc"), o.permitDir})
        if (!std::filesystem::create_directories(server.local(d), ec) && ec) return false;
    if (!server.writeFile("post_ok", "#!/bin/sh\nexit 0\n")) return false;
    if (!server.writeFile("post_fail", "#!/bin/sh\nexit 1\n")) return false;
    for (const char* script : {"post_ok", "post_fail"})
        if (chmod(server.local(script).c_str(), 0755) != 0) return false;
    return true;
}

bool connectConsole(const TestServer& server) {
    std::strcpy(serverData.session.host, server.host());
    return vxGetRemoteFile(serverData.session.host, "orvelan.cnf", "orvelan.cnf") == 0 &&
           vxLoadParamFile("orvelan.cnf") == 0;
}

std::string serverCommands(const TestServer& server) {
    std::istringstream log(server.logText());
    std::string line, out;
    while (std::getline(log, line)) {
        size_t at = line.find(" EXEC ");
        if (at != std::string::npos) out += line.substr(at + 6) + "\n";
    }
    return out;
}
