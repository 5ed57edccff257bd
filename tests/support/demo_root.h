// A realistic server root for the data layer's end-to-end tests: the server's "orvelan.cnf" with
// the keys the data layer reads, post-save scripts that succeed or fail, and a console working
// directory connected to the server.
#pragma once

#include <string>

#include "tests/support/test_server.h"

struct DemoRootOptions {
    std::string userProc = "./post_ok";  // USERPROC
    std::string groupProc = "./post_ok"; // GROUPPROC
    std::string proxyProc = "./post_ok"; // PROXYPROC
    std::string permitDir = "/l/apache/etc/permit";
};

// Writes "orvelan.cnf" and the scripts "./post_ok" (exit 0) and "./post_fail" (exit 1) into the
// server's working directory. false when a file cannot be written.
bool buildDemoRoot(const TestServer& server, const DemoRootOptions& options = {});

// Connects the process-wide ServerData to the server as the start-up does after its pings:
// host name, then the server's "orvelan.cnf" fetched into the current directory and loaded.
bool connectConsole(const TestServer& server);

// The command lines the server ran (EXEC requests of "tcp_srvr.log"), in order.
std::string serverCommands(const TestServer& server);
