// The statistics tool's view of the server's files: parameters of "orvelan.cnf" and the users of
// a group by the server's user list.
#pragma once

#include <cstddef>
#include <string>

#include "server/stats_query.h"
#include "server/vxd_fs.h"

// Reads a small server file whole (at most max bytes): 0, or an errno value.
int statsReadFile(const VxdRoot& root, const char* path, size_t max, std::string* out);

// A parameter of the working directory's "orvelan.cnf" (its first word after the name), or
// fallback when the file or the parameter is missing.
std::string statsParam(const VxdRoot& root, const char* name, const char* fallback);

// Fills query->members with the users of query->group from the user list ("USERLISTFIL",
// default /l/apache/etc/users; lines "name:group:password:p:e:s:..."), leaving out super users
// (right s), whose requests are never shown one by one. A group without users counts nothing.
// 0, or an errno value with *failed naming the file.
int statsSetMembers(const VxdRoot& root, StatsQuery* query, std::string* failed);
