// What end-to-end tests of the console's programs share: the console's registry store pointing
// at the test server, and running a program such as orvelanctl as an administrator would.
#pragma once

#include <filesystem>
#include <string>

// The registry key of the console's setup values.
inline const std::string kConsoleSetupKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup\\";

// Points the console's registry store (ORVELAN_REGISTRY) at dir/registry.reg, marked set and
// naming the test server as the proxy server; false when it cannot be written.
bool setUpConsoleRegistry(const std::filesystem::path& dir);
// Forgets the store again.
void clearConsoleRegistry();

// A program's exit status (-1 when it did not exit), standard output and standard error.
struct CtlRun {
    int status;
    std::string out, err;
};

// Runs "program args" through the shell in dir/work with input on standard input; the input,
// output and error files lie in dir.
CtlRun runConsoleProgram(const std::string& program, const std::filesystem::path& dir,
                         const std::string& args, const std::string& input = "");
