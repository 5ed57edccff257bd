// The post-save commands "kaka" and "grouppen": turn the proxy server's user list, group list and
// permit files into a Squid configuration.
#pragma once

#include <string>

#include "server/vxd_fs.h"

// Where the generated configuration goes unless the server's "orvelan.cnf" names "SQUIDCONFDIR".
constexpr const char* VXD_SQUID_DIR = "/etc/squid/orvelan";

// Reads the lists named by the working directory's "orvelan.cnf" ("USERLISTFIL",
// "GROUPLISTFIL", "PERMITDIR", "SQUIDCONFDIR"; the console's defaults otherwise), checks that they
// agree, and writes below the configuration directory:
//   passwd            NCSA password file, "name:encrypted" for every user with right P
//   groups/G.users    the user names of group G (proxy_auth ACL)
//   groups/G.urls     the permit list of G as literal url_regex patterns, each URL in the form
//                     clients send it (vxdClientUrl)
//   orvelan.conf      auth_param, acl and http_access lines to include from squid.conf
// Every file is written whole (temporary file, then rename); then the "*.users" and "*.urls" files
// of groups no longer listed are removed. When the lists are inconsistent
// (an unknown group, a duplicate or unsafe name, a malformed line) nothing is written.
// Returns 0, or 1 with *error describing the first problem.
int vxdWriteSquidConfig(const VxdRoot& root, std::string* error);

// main() of both commands.
int vxdSquidMain(const char* name, int argc, char** argv);

// A parameter of the loaded parameter table, or fallback when it is missing or empty.
const char* vxdParam(const char* name, const char* fallback);
