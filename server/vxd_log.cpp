#include "server/vxd_log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/vxd_fs.h"

namespace {

constexpr off_t kLogRotateSize = 4 * 1024 * 1024; // tcp_srvr.log moves to ".1" beyond this
constexpr const char* kLogName = "tcp_srvr.log";

// The log is written from everywhere in the process, so its descriptors are the process's.
int g_workFd = -1;
int g_logFd = -1;

// Moves a full log aside; the next line starts a new file.
void rotateIfFull() {
    struct stat st;
    if (g_logFd < 0 || fstat(g_logFd, &st) != 0 || st.st_size <= kLogRotateSize) return;
    close(g_logFd);
    g_logFd = -1;
    char old[64];
    snprintf(old, sizeof old, "%s.1", kLogName);
    renameat(g_workFd, kLogName, g_workFd, old);
}

} // namespace

void vxdLogInit(int workFd) {
    g_workFd = workFd;
}

void vxdLog(const char* format, ...) {
    rotateIfFull();
    if (g_logFd < 0)
        g_logFd = openat(g_workFd, kLogName, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                         0644);
    char line[512]; // time (19) + address + procedure + a 128-byte argument escaped (4x)
    time_t now = time(nullptr);
    struct tm tmNow;
    localtime_r(&now, &tmNow);
    size_t n = strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S ", &tmNow);
    va_list ap;
    va_start(ap, format);
    int m = vsnprintf(line + n, sizeof line - n - 1, format, ap);
    va_end(ap);
    if (m < 0) return;
    n +=
        static_cast<size_t>(m) < sizeof line - n - 1 ? static_cast<size_t>(m) : sizeof line - n - 2;
    line[n++] = '\n';
    if (g_logFd >= 0) vxdWriteAll(g_logFd, line, n);
}

void vxdEscapeForLog(const char* text, char* out, size_t size) {
    size_t o = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
        if (o + 5 >= size) break;
        if (*p < 0x20 || *p >= 0x7f || *p == '\\')
            o += static_cast<size_t>(snprintf(out + o, size - o, "\\x%02x", *p));
        else
            out[o++] = static_cast<char>(*p);
    }
    out[o] = '\0';
}
