// The statistics tool's progress file.
#include "server/stats_progress.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long long monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The size a gzip file's trailer gives for its (last) member's text, or 0 when it is no gzip
// file; the trailer keeps it modulo 2^32.
uint64_t gzipTextSize(int fd, uint64_t size) {
    unsigned char magic[2];
    unsigned char trailer[4];
    if (size < 18 || pread(fd, magic, 2, 0) != 2 || magic[0] != 0x1f || magic[1] != 0x8b ||
        pread(fd, trailer, 4, static_cast<off_t>(size - 4)) != 4)
        return 0;
    return uint64_t(trailer[0]) | uint64_t(trailer[1]) << 8 | uint64_t(trailer[2]) << 16 |
           uint64_t(trailer[3]) << 24;
}

} // namespace

StatsProgress::StatsProgress(const VxdRoot& root, const char* resultPath, int intervalMs)
    : m_intervalMs(intervalMs) {
    char name[NAME_MAX + 1];
    m_dirFd = vxdOpenParent(root, resultPath, name, sizeof name);
    if (m_dirFd < 0) return;
    m_name = std::string(name) + ".progress";
    if (m_name.size() > NAME_MAX) {
        close(m_dirFd);
        m_dirFd = -1;
    }
    unlinkat(m_dirFd, m_name.c_str(), 0); // one a killed run left would tell of that run
    // Tests slow the tool down to see its progress while it runs.
    if (const char* slow = getenv("ORVELAN_STATS_SLOW_MS")) m_slowMs = std::max(0, atoi(slow));
}

StatsProgress::~StatsProgress() {
    if (m_dirFd < 0) return;
    unlinkat(m_dirFd, m_name.c_str(), 0);
    close(m_dirFd);
}

uint64_t StatsProgress::fileSize(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void StatsProgress::beginFile(int fd) {
    m_fileSize = fileSize(fd);
    const uint64_t text = gzipTextSize(fd, m_fileSize);
    m_fileText = text > 0 ? text : std::max<uint64_t>(m_fileSize, 1);
    m_text = 0;
    m_current = 0;
}

void StatsProgress::advance(uint64_t textBytes) {
    m_text += textBytes;
    // A gzip trailer's size wraps beyond 4 GB: the estimate stops short of the file's end.
    const double part = std::min(1.0, double(m_text) / double(m_fileText));
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_current = std::min(m_fileSize, static_cast<uint64_t>(part * double(m_fileSize)));
    }
    tick();
}

void StatsProgress::tick() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const long long now = monotonicMs();
        if (m_lastMs < 0 || now - m_lastMs >= m_intervalMs) {
            m_lastMs = now;
            write();
        }
    }
    if (m_slowMs > 0) usleep(static_cast<useconds_t>(m_slowMs) * 1000);
}

void StatsProgress::flush() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lastMs = monotonicMs();
        write();
    }
    if (m_slowMs > 0) usleep(static_cast<useconds_t>(m_slowMs) * 1000);
}

void StatsProgress::advanceShared(uint64_t bytes) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_done += bytes;
    }
    tick();
}

double StatsProgress::bytesPerText(int fd) {
    const uint64_t size = fileSize(fd);
    const uint64_t text = gzipTextSize(fd, size);
    return text == 0 ? 1.0 : double(size) / double(text);
}

void StatsProgress::endFile() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_done += m_fileSize;
    m_current = 0;
    m_fileSize = 0;
}

void StatsProgress::write() {
    if (m_dirFd < 0) return;
    char temp[NAME_MAX + 1];
    int fd = vxdCreateTemp(m_dirFd, temp, sizeof temp, 0644);
    if (fd < 0) return;
    char line[64];
    int n = snprintf(line, sizeof line, "%llu %llu\n", static_cast<unsigned long long>(done()),
                     static_cast<unsigned long long>(std::max(m_total, done())));
    const bool ok = vxdWriteAll(fd, line, static_cast<size_t>(n)) == 0;
    if (close(fd) != 0 || !ok || renameat(m_dirFd, temp, m_dirFd, m_name.c_str()) != 0)
        unlinkat(m_dirFd, temp, 0);
}
