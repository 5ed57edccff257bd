// The server's network probes for the network page: its interface counters and a ping from the
// server to a target.
#pragma once

#include <string>

// The counters text of the server (the reply of its counters procedure); false when the call
// failed (text is then empty).
bool SdNetCounters(const char* host, std::string& text);

// Pings target from the server; its output goes into localPath (which is missing when the
// server refused the target or could not be reached). 0 when the ping ran.
int SdPing(const char* target, const char* localPath);
