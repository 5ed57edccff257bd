// The remote link's limits and cancel: every wait of the link is bounded by a process-wide
// limit, and vxCancel ends the waits in progress (see vx_remote.h for the contract).
#include "remote/vx_wait.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <mutex>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <vector>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"

namespace vxremote {

namespace {

std::atomic<int> g_callMs{VX_CALL_TIMEOUT_DEFAULT_MS};
std::atomic<int> g_commandMs{VX_COMMAND_TIMEOUT_DEFAULT_MS};

// The scopes in progress, and a cancel that found none. A mutex rather than a lock-free list:
// vxCancel is called from a thread (a UI thread, orvelanctl's signal thread), never from a
// signal handler, and the scopes it touches must not end meanwhile.
std::mutex g_scopesLock;
std::vector<WaitScope*> g_scopes;
bool g_pending = false;
thread_local int g_sideDepth = 0; // SideWaits alive on this thread

int validLimit(int ms, int fallback) {
    return ms > 0 ? ms : fallback;
}

} // namespace

long long monotonicMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int Deadline::remainingMs() const {
    long long left = m_end - monotonicMs();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<long long>(left, INT_MAX));
}

SideWaits::SideWaits() {
    ++g_sideDepth;
}

SideWaits::~SideWaits() {
    --g_sideDepth;
}

WaitScope::WaitScope() : m_side(g_sideDepth > 0) {
    std::lock_guard<std::mutex> lock(g_scopesLock);
    if (g_pending && !m_side) {
        g_pending = false;
        m_cancelled = true;
    }
    g_scopes.push_back(this);
}

WaitScope::~WaitScope() {
    std::lock_guard<std::mutex> lock(g_scopesLock);
    g_scopes.erase(std::find(g_scopes.begin(), g_scopes.end(), this));
}

void WaitScope::watch(int fd) {
    std::lock_guard<std::mutex> lock(g_scopesLock);
    m_fd = fd;
    if (m_cancelled && fd >= 0) shutdown(fd, SHUT_RDWR);
}

void cancelWaits() {
    std::lock_guard<std::mutex> lock(g_scopesLock);
    bool mainWait = false;
    for (WaitScope* scope : g_scopes) {
        mainWait = mainWait || !scope->m_side;
        scope->m_cancelled = true;
        // A blocked read sees the end of the stream, a blocked write an error: the call returns.
        if (scope->m_fd >= 0) shutdown(scope->m_fd, SHUT_RDWR);
    }
    if (!mainWait) g_pending = true;
}

void forgetPendingCancel() {
    std::lock_guard<std::mutex> lock(g_scopesLock);
    g_pending = false;
}

} // namespace vxremote

void vxSetCallTimeout(int ms) {
    vxremote::g_callMs = vxremote::validLimit(ms, VX_CALL_TIMEOUT_DEFAULT_MS);
}

int vxCallTimeout() {
    return vxremote::g_callMs;
}

void vxSetCommandTimeout(int ms) {
    vxremote::g_commandMs = vxremote::validLimit(ms, VX_COMMAND_TIMEOUT_DEFAULT_MS);
}

int vxCommandTimeout() {
    return vxremote::g_commandMs;
}

void vxCancel() {
    vxremote::cancelWaits();
}

void vxResetCancel() {
    vxremote::forgetPendingCancel();
}
