#include "server/vxd_fault.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// The fault point read once from the environment, and the passes counted across the calls of
// the process (fault points sit deep in calls that carry no context).
bool g_parsed = false;
char g_point[32] = {};
long g_at = 0;
long g_passes = 0;
bool g_killParent = false;

void parse() {
    g_parsed = true;
    const char* text = getenv("VXD_FAULT");
    const char* colon = text ? strchr(text, ':') : nullptr;
    if (!colon || static_cast<size_t>(colon - text) >= sizeof g_point) return;
    memcpy(g_point, text, static_cast<size_t>(colon - text));
    g_at = strtol(colon + 1, nullptr, 10);
}

} // namespace

void vxdFaultPoint(const char* point) {
    if (!g_parsed) parse();
    if (g_at <= 0 || strcmp(point, g_point) != 0 || ++g_passes != g_at) return;
    if (g_killParent) kill(getppid(), SIGKILL);
    raise(SIGKILL);
}

void vxdFaultKillsParent() {
    g_killParent = true;
}

void vxdFaultRestart() {
    g_passes = 0;
}
