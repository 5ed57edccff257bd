// The statistics tool's log reader: range search, gzip and block streams.
#include "server/stats_log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "server/stats_line.h"

namespace {

const char* lineStartAtOrAfter(const char* data, size_t size, size_t at) {
    if (at == 0) return data;
    const void* nl = memchr(data + at - 1, '\n', size - (at - 1));
    return nl ? static_cast<const char*>(nl) + 1 : data + size;
}

// The first line whose time is at least t, in a file in time order (lines without a time are
// passed over as earlier ones).
const char* searchTime(const char* data, size_t size, time_t t) {
    size_t lo = 0;
    size_t hi = size;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        const char* s = lineStartAtOrAfter(data, size, mid);
        size_t si = static_cast<size_t>(s - data);
        if (si >= hi) {
            hi = mid;
            continue;
        }
        // A line without a time is judged by the next line that has one.
        const char* probe = s;
        time_t probeTime = -1;
        for (int n = 0; n < 64 && probe < data + hi && probeTime < 0; ++n) {
            probeTime = statsLeadingTime(probe, data + size);
            if (probeTime < 0) probe = lineStartAtOrAfter(data, size, probe - data + 1);
        }
        if (probeTime >= 0 && probeTime < t) {
            lo = static_cast<size_t>(lineStartAtOrAfter(data, size, probe - data + 1) - data);
        } else {
            hi = si;
        }
    }
    return data + lo;
}

bool isGzip(int fd) {
    unsigned char magic[2];
    return pread(fd, magic, 2, 0) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
}

// A gzip stream over a duplicate of fd, read from its start; nullptr when it cannot be opened.
gzFile openGzip(int fd) {
    int copy = lseek(fd, 0, SEEK_SET) == 0 ? dup(fd) : -1; // dup shares the offset
    gzFile gz = copy < 0 ? nullptr : gzdopen(copy, "rb");
    if (!gz && copy >= 0) close(copy);
    return gz;
}

// Reads a file from offset from (or a gzip stream) in blocks, handing complete lines on.
bool readStream(int fd, off_t from, gzFile gz, StatsLogSink* sink, std::string* error) {
    std::vector<char> buf(4 << 20);
    size_t kept = 0;
    off_t at = from;
    for (;;) {
        ssize_t n;
        if (gz) {
            n = gzread(gz, buf.data() + kept, static_cast<unsigned>(buf.size() - kept));
            if (n < 0) {
                int code = 0;
                *error = std::string("compressed log: ") + gzerror(gz, &code);
                return false;
            }
        } else {
            n = pread(fd, buf.data() + kept, buf.size() - kept, at);
            if (n < 0) {
                if (errno == EINTR) continue;
                *error = strerror(errno);
                return false;
            }
            at += n;
        }
        size_t have = kept + static_cast<size_t>(n);
        if (n == 0) {
            sink->addBlock(buf.data(), buf.data() + have);
            return true;
        }
        const char* lastNl = static_cast<const char*>(memrchr(buf.data(), '\n', have));
        if (!lastNl) {
            // A line longer than the buffer is no log line: counted, skipped.
            if (have == buf.size()) {
                sink->skippedLongLine();
                kept = 0;
            } else {
                kept = have;
            }
            continue;
        }
        size_t done = static_cast<size_t>(lastNl - buf.data()) + 1;
        if (!sink->addBlock(buf.data(), buf.data() + done)) return true;
        kept = have - done;
        memmove(buf.data(), buf.data() + done, kept);
    }
}

} // namespace

bool statsReadLog(int fd, time_t from, StatsLogSink* sink, std::string* error) {
    if (isGzip(fd)) {
        gzFile gz = openGzip(fd);
        if (!gz) {
            *error = "cannot read a compressed log";
            return false;
        }
        gzbuffer(gz, 1 << 18);
        bool ok = readStream(-1, 0, gz, sink, error);
        gzclose(gz);
        return ok;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *error = strerror(errno);
        return false;
    }
    size_t size = static_cast<size_t>(st.st_size);
    if (size == 0) return true;
    // The range is searched through a mapping (a few pages are touched) and then read in
    // blocks, so that memory stays small however large the log.
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        *error = strerror(errno);
        return false;
    }
    const char* data = static_cast<const char*>(map);
    off_t start = searchTime(data, size, from) - data;
    munmap(map, size);
    return readStream(fd, start, nullptr, sink, error);
}

time_t statsFirstTime(int fd) {
    char buf[4096];
    ssize_t n;
    if (isGzip(fd)) {
        gzFile gz = openGzip(fd);
        if (!gz) return -1;
        n = gzread(gz, buf, sizeof buf);
        gzclose(gz);
    } else {
        n = pread(fd, buf, sizeof buf, 0);
    }
    if (n <= 0) return -1;
    return statsLeadingTime(buf, buf + n);
}
