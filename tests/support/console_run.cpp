#include "tests/support/console_run.h"

#include <cstdlib>
#include <fstream>
#include <sys/wait.h>

#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "winlib/vx_reg.h"

bool setUpConsoleRegistry(const std::filesystem::path& dir) {
    setenv("ORVELAN_REGISTRY", (dir / "registry.reg").c_str(), 1);
    return vxWriteRegistryKey(nullptr, 0, (kConsoleSetupKey + "Set").c_str(), "X", REG_SZ) == 1 &&
           vxWriteRegistryKey(nullptr, 0, (kConsoleSetupKey + "ProxyServerName").c_str(),
                              TestServer::host(), REG_SZ) == 1;
}

void clearConsoleRegistry() {
    unsetenv("ORVELAN_REGISTRY");
}

CtlRun runConsoleProgram(const std::string& program, const std::filesystem::path& dir,
                         const std::string& args, const std::string& input) {
    std::ofstream(dir / "in", std::ios::binary) << input;
    std::string command = "cd '" + (dir / "work").string() + "' && '" + program + "' " + args +
                          " <'" + (dir / "in").string() + "' >'" + (dir / "out").string() +
                          "' 2>'" + (dir / "err").string() + "'";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFileBytes((dir / "out").string()),
            readFileBytes((dir / "err").string())};
}
