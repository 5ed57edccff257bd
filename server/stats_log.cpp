// The statistics tool's log reader: range search, gzip and block streams.
#include "server/stats_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "server/stats_inflate.h"
#include "server/stats_line.h"

namespace {

// A plain log probed by pread (a few kilobytes a probe), for the range search.
class PlainLog {
  public:
    PlainLog(int fd, off_t size) : m_fd(fd), m_size(size) {}

    // The start of the first line after the byte at: past its LF. A line longer than
    // STATS_LINE_MAX is cut there (the place reads as a line without a time); m_size when the
    // file ends first.
    off_t nextLine(off_t at) {
        char buf[16384];
        for (off_t p = at; p < m_size && p - at < static_cast<off_t>(STATS_LINE_MAX);) {
            ssize_t n = pread(m_fd, buf, sizeof buf, p);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return m_size; // read failure or truncated: nothing more to probe
            if (const void* nl = memchr(buf, '\n', static_cast<size_t>(n)))
                return p + (static_cast<const char*>(nl) - buf) + 1;
            p += n;
        }
        return std::min(m_size, at + static_cast<off_t>(STATS_LINE_MAX));
    }
    off_t lineStartAtOrAfter(off_t at) { return at == 0 ? 0 : nextLine(at - 1); }

    // The time at the start of the line at at, or -1.
    time_t timeAt(off_t at) {
        char buf[32];
        ssize_t n = pread(m_fd, buf, sizeof buf, at);
        return n <= 0 ? -1 : statsLeadingTime(buf, buf + n);
    }

    // The time of the place at (a line start before hi): the middle one of the first three
    // timed lines there (the higher of two), looking at up to 64 lines before hi. *first is the
    // first timed line. -1 when none has a time.
    time_t probe(off_t at, off_t hi, off_t* first) {
        time_t times[3];
        int found = 0;
        off_t p = at;
        for (int n = 0; n < 64 && p < hi && found < 3; ++n, p = nextLine(p)) {
            time_t t = timeAt(p);
            if (t < 0) continue;
            if (found == 0) *first = p;
            times[found++] = t;
        }
        if (found == 0) return -1;
        std::sort(times, times + found);
        return times[found / 2];
    }

    // The first line in [lo, m_size) whose place is at least t (lines without a time are
    // judged by the timed lines after them).
    off_t search(off_t lo, time_t t) {
        off_t hi = m_size;
        while (lo < hi) {
            off_t mid = lo + (hi - lo) / 2;
            off_t s = lineStartAtOrAfter(mid);
            if (s >= hi) {
                hi = mid;
                continue;
            }
            off_t first = s;
            time_t probeTime = probe(s, hi, &first);
            if (probeTime >= 0 && probeTime < t)
                lo = nextLine(first);
            else
                hi = s;
        }
        return lo;
    }

  private:
    int m_fd;
    off_t m_size;
};

// The source of a block stream: a byte stream (an inflated file), or a plain file from an offset
// (which may be searched again for the range).
struct Source {
    StatsByteStream* stream = nullptr;
    int fd = -1;
    off_t at = 0; // plain: the offset of the next read
    time_t until = 0;

    // Reads into buf; the count, 0 at the end, -1 with error set.
    ssize_t read(char* buf, size_t size, std::string* error) {
        if (stream) {
            ssize_t n = stream->read(buf, size, error);
            if (n < 0) *error = "compressed log: " + *error;
            return n;
        }
        for (;;) {
            ssize_t n = pread(fd, buf, size, at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) *error = strerror(errno);
            if (n > 0) at += n;
            return n;
        }
    }

    // After the sink stopped in a run of pastEnd lines past the range, at the file offset
    // stop (plain files): false when the reading may stop.
    bool goOn(size_t pastEnd, off_t stop) {
        if (stream) return pastEnd < STATS_PAST_END_LINES_GZ;
        struct stat st;
        if (fstat(fd, &st) != 0 || stop >= st.st_size) return false;
        // Lines before until further on (a clock that jumped ahead for a while): read on.
        return PlainLog(fd, st.st_size).search(stop, until) > stop;
    }
};

// Reads the source in blocks, handing complete lines on.
bool readStream(Source* src, StatsLogSink* sink, std::string* error, size_t lineMax) {
    std::vector<char> buf(lineMax);
    size_t kept = 0;
    bool skipping = false; // within a line too long to take, up to its LF
    for (;;) {
        ssize_t n = src->read(buf.data() + kept, buf.size() - kept, error);
        if (n < 0) return false;
        if (skipping) { // kept is 0
            if (n == 0) return true;
            const char* nl = static_cast<const char*>(memchr(buf.data(), '\n', size_t(n)));
            if (!nl) continue;
            skipping = false;
            n -= nl + 1 - buf.data();
            memmove(buf.data(), nl + 1, static_cast<size_t>(n));
            if (n == 0) continue;
        }
        size_t have = kept + static_cast<size_t>(n);
        if (n == 0) {
            // The rest of a damaged file is skipped, its last partial line with it.
            if (src->stream && !src->stream->skipped().empty()) {
                const char* lastNl = static_cast<const char*>(memrchr(buf.data(), '\n', have));
                have = lastNl ? static_cast<size_t>(lastNl - buf.data()) + 1 : 0;
            }
            sink->textAt(buf.data(), src->stream ? -1 : src->at - static_cast<off_t>(have));
            sink->addBlock(buf.data(), buf.data() + have);
            return true;
        }
        const char* lastNl = static_cast<const char*>(memrchr(buf.data(), '\n', have));
        if (!lastNl) {
            // A line longer than the buffer is no log line: counted, skipped to its end.
            kept = have;
            if (have == buf.size()) {
                sink->skippedLongLine();
                kept = 0;
                skipping = true;
            }
            continue;
        }
        size_t done = static_cast<size_t>(lastNl - buf.data()) + 1;
        const char* blockEnd = buf.data() + done;
        const off_t blockAt = src->at - static_cast<off_t>(have); // plain files only
        sink->textAt(buf.data(), src->stream ? -1 : blockAt);
        for (const char* p = buf.data(); (p = sink->addBlock(p, blockEnd)) < blockEnd;)
            if (!src->goOn(sink->pastEndRun(), blockAt + (p - buf.data()))) return true;
        if (sink->takesNoMore()) return true;
        kept = have - done;
        memmove(buf.data(), blockEnd, kept);
    }
}

} // namespace

bool statsReadStream(StatsByteStream* stream, StatsLogSink* sink, std::string* error,
                     size_t lineMax) {
    Source src;
    src.stream = stream;
    bool ok = readStream(&src, sink, error, lineMax);
    if (ok && !sink->takesNoMore() && !stream->skipped().empty())
        sink->skippedRest(stream->skipped());
    return ok;
}

bool statsReadLog(int fd, time_t from, time_t until, StatsLogSink* sink, std::string* error,
                  size_t lineMax) {
    if (statsIsGzip(fd)) {
        std::unique_ptr<StatsByteStream> gz = statsGunzip(fd, statsInflater());
        return statsReadStream(gz.get(), sink, error, lineMax);
    }
    Source src;
    src.until = until;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *error = strerror(errno);
        return false;
    }
    if (st.st_size == 0) return true;
    src.fd = fd;
    src.at = PlainLog(fd, st.st_size).search(0, from);
    const bool ok = readStream(&src, sink, error, lineMax);
    sink->textAt(nullptr, -1); // the buffer is gone
    return ok;
}

time_t statsFirstTime(int fd) {
    char buf[4096];
    ssize_t n;
    if (statsIsGzip(fd)) {
        std::string error;
        n = statsGunzip(fd, statsInflater())->read(buf, sizeof buf, &error);
    } else {
        n = pread(fd, buf, sizeof buf, 0);
    }
    if (n <= 0) return -1;
    return statsLeadingTime(buf, buf + n);
}
