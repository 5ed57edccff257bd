// The statistics tool's cache of log summaries: files named by the log file's device and inode,
// each a header that says which file it summarises and how far, and the summary.
#include "server/stats_cache.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <zlib.h>

#include "server/stats_collector.h"
#include "server/stats_inflate.h"
#include "server/stats_line.h"

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'S', 'U', 'M', 'M', '\n'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 104;
constexpr size_t kProbe = 4096;                       // bytes hashed at each end
constexpr uint64_t kCacheFileMax = uint64_t(4) << 30; // larger: no cache file of ours
constexpr size_t kTailMax = 64 << 20;                 // a longer unsummarised tail: read the log
constexpr uint32_t kUsable = 1, kGzip = 2;            // header flags

// What a cache file says of the log file it summarises.
struct Header {
    uint32_t flags = 0;
    uint64_t dev = 0, ino = 0;
    uint64_t size = 0;    // compressed files: their size
    int64_t mtimeNs = 0;  // compressed files: their modification time
    uint64_t headLen = 0; // bytes hashed at the start of the file
    uint64_t headHash = 0;
    uint64_t length = 0;   // bytes of text summarised
    uint64_t tailHash = 0; // plain files: of the kProbe bytes before length
    int64_t lastTime = -1;
    uint64_t payloadLen = 0;
};

void encodeHeader(const Header& h, char* out) {
    memset(out, 0, kHeaderSize);
    memcpy(out, kMagic, 8);
    statsPut64(out + 8, static_cast<uint64_t>(h.flags) << 32 | kVersion);
    statsPut64(out + 16, h.dev);
    statsPut64(out + 24, h.ino);
    statsPut64(out + 32, h.size);
    statsPut64(out + 40, static_cast<uint64_t>(h.mtimeNs));
    statsPut64(out + 48, h.headLen);
    statsPut64(out + 56, h.headHash);
    statsPut64(out + 64, h.length);
    statsPut64(out + 72, h.tailHash);
    statsPut64(out + 80, static_cast<uint64_t>(h.lastTime));
    statsPut64(out + 88, h.payloadLen);
    statsPut64(out + 96, crc32_z(0, reinterpret_cast<const Bytef*>(out), 96));
}

bool decodeHeader(const char* in, Header* h) {
    if (memcmp(in, kMagic, 8) != 0) return false;
    if (statsGet64(in + 96) != crc32_z(0, reinterpret_cast<const Bytef*>(in), 96)) return false;
    const uint64_t word = statsGet64(in + 8);
    if ((word & 0xffffffff) != kVersion) return false;
    h->flags = static_cast<uint32_t>(word >> 32);
    h->dev = statsGet64(in + 16);
    h->ino = statsGet64(in + 24);
    h->size = statsGet64(in + 32);
    h->mtimeNs = static_cast<int64_t>(statsGet64(in + 40));
    h->headLen = statsGet64(in + 48);
    h->headHash = statsGet64(in + 56);
    h->length = statsGet64(in + 64);
    h->tailHash = statsGet64(in + 72);
    h->lastTime = static_cast<int64_t>(statsGet64(in + 80));
    h->payloadLen = statsGet64(in + 88);
    return true;
}

// Reads the bytes [at, at + size) of a file into out; false when they cannot all be read.
bool readAt(int fd, uint64_t at, size_t size, std::string* out) {
    out->resize(size);
    return statsReadAt(fd, at, size, out->data());
}

// The hash of the bytes [at, at + size) of a file: CRC-32 and Adler-32 side by side; false when
// they cannot all be read.
bool hashOf(int fd, uint64_t at, uint64_t size, uint64_t* hash) {
    std::string bytes;
    if (size > kProbe || !readAt(fd, at, static_cast<size_t>(size), &bytes)) return false;
    const Bytef* b = reinterpret_cast<const Bytef*>(bytes.data());
    *hash = static_cast<uint64_t>(crc32_z(0, b, size)) << 32 | adler32_z(1, b, size);
    return true;
}

// A plain file read with pread from an offset to its end.
class PlainStream : public StatsByteStream {
  public:
    PlainStream(int fd, uint64_t at) : m_fd(fd), m_at(at) {}
    ssize_t read(char* buf, size_t size, std::string* error) override {
        for (;;) {
            ssize_t n = pread(m_fd, buf, size, static_cast<off_t>(m_at));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) *error = strerror(errno);
            if (n > 0) m_at += static_cast<uint64_t>(n);
            return n;
        }
    }
    std::string skipped() const override { return ""; }

  private:
    int m_fd;
    uint64_t m_at;
};

std::string cacheName(const struct stat& st) {
    char name[64];
    snprintf(name, sizeof name, "%llx-%llx.idx", static_cast<unsigned long long>(st.st_dev),
             static_cast<unsigned long long>(st.st_ino));
    return name;
}

int64_t mtimeNs(const struct stat& st) {
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Reads a cache file's header, and its payload (the bytes after the header) when
// wantPayload(header) asks for it; false when the file is missing, no cache file or not whole.
template <typename Want>
bool readCacheFile(int dirFd, const std::string& name, Header* h, std::string* payload,
                   Want wantPayload) {
    int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    std::string header;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<uint64_t>(st.st_size) <= kCacheFileMax &&
              static_cast<size_t>(st.st_size) >= kHeaderSize &&
              readAt(fd, 0, kHeaderSize, &header) && decodeHeader(header.data(), h) &&
              h->payloadLen == static_cast<uint64_t>(st.st_size) - kHeaderSize;
    if (ok && wantPayload(*h)) ok = readAt(fd, kHeaderSize, h->payloadLen, payload);
    close(fd);
    return ok;
}

// The identity of a log file as a header would hold it (without what is summarised); false when
// its first bytes cannot be read.
bool identity(int fd, const struct stat& st, bool gz, uint64_t length, Header* h) {
    h->flags = gz ? kGzip : 0;
    h->dev = st.st_dev;
    h->ino = st.st_ino;
    h->size = gz ? static_cast<uint64_t>(st.st_size) : 0;
    h->mtimeNs = gz ? mtimeNs(st) : 0;
    h->headLen = std::min<uint64_t>(kProbe, gz ? h->size : length);
    if (!hashOf(fd, 0, h->headLen, &h->headHash)) return false;
    h->length = length;
    h->tailHash = 0;
    if (!gz) {
        const uint64_t n = std::min<uint64_t>(kProbe, length);
        if (!hashOf(fd, length - n, n, &h->tailHash)) return false;
    }
    return true;
}

// Whether text (after the summarised part of a log) is lines the summary could have taken: well
// formed, in time order from after, the last perhaps without its line end.
bool tailFits(std::string_view text, time_t after) {
    std::string decoded;
    for (const char *p = text.data(), *end = p + text.size(); p < end;) {
        StatsLogLine line;
        StatsLineResult r = statsParseLineAt(p, end, &line, &p);
        if (r == StatsLineResult::Empty) continue;
        if (r == StatsLineResult::Malformed || line.time < after) return false;
        if (line.user.find('%') != std::string_view::npos && !statsDecodeUser(line.user, &decoded))
            return false;
        after = line.time;
    }
    return true;
}

} // namespace

StatsCache::~StatsCache() {
    if (m_lockFd >= 0) close(m_lockFd);
    if (m_dirFd >= 0) close(m_dirFd);
}

bool StatsCache::open(const VxdRoot& root, const std::string& dir, std::string* error) {
    char rel[PATH_MAX];
    if (int err = vxdRelative(root, dir.c_str(), rel, sizeof rel)) {
        *error = strerror(err);
        return false;
    }
    int fd = dup(root.rootFd);
    std::string path = rel;
    for (size_t at = 0; fd >= 0 && at < path.size();) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        const std::string part = path.substr(at, slash - at);
        at = slash + 1;
        if (part.empty() || part == ".") continue;
        const bool last = at >= path.size();
        if (mkdirat(fd, part.c_str(), last ? 0700 : 0755) != 0 && errno != EEXIST) {
            *error = strerror(errno);
            close(fd);
            return false;
        }
        int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int err = errno;
        close(fd);
        if (next < 0) {
            *error = err == ELOOP ? "a symbolic link in the path" : strerror(err);
            return false;
        }
        fd = next;
    }
    if (fd < 0) {
        *error = strerror(errno);
        return false;
    }
    m_lockFd = openat(fd, "lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        *error = std::string("lock: ") + strerror(errno);
        close(fd);
        return false;
    }
    m_dirFd = fd;
    return true;
}

int StatsCache::scratchFile() const {
    if (m_dirFd < 0) return -1;
    int fd = openat(m_dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
    // A file system without unnamed files: a named one, removed at once.
    for (int i = 0; i < 100; ++i) {
        char name[64];
        snprintf(name, sizeof name, "scratch-%d-%d.tmp", static_cast<int>(getpid()), i);
        fd = openat(m_dirFd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            unlinkat(m_dirFd, name, 0);
            return fd;
        }
        if (errno != EEXIST) break;
    }
    return -1;
}

StatsSummary StatsCache::summary(const StatsLogFile& file, int parts, time_t from, time_t to,
                                 std::string* note, StatsProgress* progress) {
    StatsSummary out;
    struct stat st;
    if (m_dirFd < 0 || fstat(file.fd, &st) != 0) return out;
    // Progress: the file's bytes as its text is summarised, the rest once it is done.
    uint64_t text = 0, told = 0;
    const double perText = progress ? StatsProgress::bytesPerText(file.fd) : 1.0;
    auto taken = [&](uint64_t bytes) {
        text += bytes;
        const uint64_t now = std::min(static_cast<uint64_t>(st.st_size),
                                      static_cast<uint64_t>(double(text) * perText));
        if (progress && now > told) progress->advanceShared(now - told);
        told = std::max(told, now);
    };
    auto done = [&] {
        if (progress && static_cast<uint64_t>(st.st_size) > told)
            progress->advanceShared(static_cast<uint64_t>(st.st_size) - told);
    };
    const bool gz = statsIsGzip(file.fd);
    const std::string name = cacheName(st);

    // The cache file, when it is this log file's and whole.
    std::unique_ptr<StatsIndex> index;
    bool fresh = false; // summarised now: to be written back
    std::string bytes;
    Header h, now;
    // A file whose summarised lines all lie outside the range (a neighbour of a one-day query's
    // file, taken for lines out of order at the range's ends) counts nothing of it: its summary
    // is not read, unless the file has grown and its summary goes on.
    auto outside = [&](const Header& c) {
        return c.lastTime < from || (file.first >= 0 && file.first >= to);
    };
    auto grows = [&](const Header& c) {
        return !gz && static_cast<uint64_t>(st.st_size) > c.length;
    };
    if (readCacheFile(m_dirFd, name, &h, &bytes,
                      [&](const Header& c) { return grows(c) || !outside(c); }) &&
        h.dev == st.st_dev && h.ino == st.st_ino && ((h.flags & kGzip) != 0) == gz &&
        (gz || static_cast<uint64_t>(st.st_size) >= h.length) &&
        identity(file.fd, st, gz, h.length, &now) && now.size == h.size &&
        now.mtimeNs == h.mtimeNs && now.headLen == h.headLen && now.headHash == h.headHash &&
        now.tailHash == h.tailHash) {
        if (!(h.flags & kUsable)) return out; // known to be a file that is read
        index = std::make_unique<StatsIndex>();
        index->length = h.length;
        index->lastTime = h.lastTime;
        const std::string_view payload = bytes;
        bool read = true;
        if (grows(h))
            read = statsIndexRead(payload, StatsIndex::kAll, index.get());
        else if (!outside(h))
            read = statsIndexRead(payload, parts, index.get(), from, to);
        if (!read) {
            index.reset();
        } else if (grows(h)) {
            StatsIndexBuilder builder(std::move(*index));
            PlainStream stream(file.fd, h.length);
            std::string error;
            text = h.length; // the part summarised before counts as read
            if (!builder.read(&stream, false, &error, taken)) return out;
            index = std::make_unique<StatsIndex>(builder.take());
            fresh = true;
        }
    }
    bytes = std::string();
    if (!index) {
        StatsIndexBuilder builder{StatsIndex{}};
        std::unique_ptr<StatsByteStream> stream;
        if (gz)
            stream = statsGunzip(file.fd, statsInflater());
        else
            stream = std::make_unique<PlainStream>(file.fd, 0);
        std::string error;
        if (!builder.read(stream.get(), gz, &error, taken)) return out;
        index = std::make_unique<StatsIndex>(builder.take());
        fresh = true;
    }
    if (fresh) {
        Header w;
        if (identity(file.fd, st, gz, index->length, &w)) {
            w.flags |= index->usable ? kUsable : 0;
            w.lastTime = index->lastTime;
            std::string record(kHeaderSize, '\0');
            statsIndexWrite(*index, &record);
            w.payloadLen = record.size() - kHeaderSize;
            encodeHeader(w, record.data());
            std::lock_guard<std::mutex> guard(m_writing);
            flock(m_lockFd, LOCK_EX);
            char temp[NAME_MAX + 1];
            int fd = vxdCreateTemp(m_dirFd, temp, sizeof temp, 0600);
            int err = fd < 0 ? -fd : vxdWriteAll(fd, record.data(), record.size());
            if (fd >= 0 && close(fd) != 0 && err == 0) err = errno;
            if (err == 0 && renameat(m_dirFd, temp, m_dirFd, name.c_str()) != 0) err = errno;
            if (err != 0 && fd >= 0) unlinkat(m_dirFd, temp, 0);
            flock(m_lockFd, LOCK_UN);
            if (err != 0) *note = "cache of " + file.path + " not kept: " + strerror(err);
        }
    }
    if (!index->usable) return out;
    done();
    if (fresh) statsIndexKeep(index.get(), parts, from, to);
    if (!gz) {
        // Text written after the summarised part: the start of a line still being written, or
        // lines added since; counted from the text when they could have been summarised.
        struct stat again;
        if (fstat(file.fd, &again) != 0) return out;
        const uint64_t size = static_cast<uint64_t>(again.st_size);
        if (size < index->length) return out; // cut short meanwhile: read
        if (size > index->length) {
            if (size - index->length > kTailMax ||
                !readAt(file.fd, index->length, size - index->length, &out.tail) ||
                !tailFits(out.tail, index->lastTime))
                return out;
        }
    }
    out.index = std::move(index);
    return out;
}

void StatsCache::prune(const std::vector<StatsLogFile>& files) {
    if (m_dirFd < 0) return;
    std::set<std::string> kept;
    for (const StatsLogFile& f : files) {
        struct stat st;
        if (fstat(f.fd, &st) == 0) kept.insert(cacheName(st));
    }
    std::lock_guard<std::mutex> guard(m_writing);
    flock(m_lockFd, LOCK_EX);
    vxdRemoveStaleTemps(m_dirFd);
    int fd = openat(m_dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (!dir && fd >= 0) close(fd);
    std::vector<std::string> gone;
    while (dir) {
        dirent* e = readdir(dir);
        if (!e) break;
        unsigned long long dev, ino;
        char end = 0;
        if (sscanf(e->d_name, "%llx-%llx.id%c", &dev, &ino, &end) == 3 && end == 'x' &&
            !kept.count(e->d_name))
            gone.push_back(e->d_name);
    }
    if (dir) closedir(dir);
    for (const std::string& name : gone)
        unlinkat(m_dirFd, name.c_str(), 0);
    flock(m_lockFd, LOCK_UN);
}

namespace {

// The text of a summarised log between two offsets, handed to the collector: read in place from
// a plain file, inflated from the start of a compressed one.
class TextOfLog : public StatsTextReader {
  public:
    explicit TextOfLog(int fd) : m_fd(fd), m_gz(statsIsGzip(fd)) {}
    bool read(uint64_t from, uint64_t to, StatsCollector* collector, std::string* error) override {
        std::string text;
        if (!m_gz) {
            if (!readAt(m_fd, from, static_cast<size_t>(to - from), &text)) {
                *error = "the log changed while it was read";
                return false;
            }
            collector->addText(text.data(), text.data() + text.size());
            return true;
        }
        std::unique_ptr<StatsByteStream> gz = statsGunzip(m_fd, statsInflater());
        std::vector<char> buf(1 << 20);
        uint64_t at = 0;
        while (at < to) {
            ssize_t n = gz->read(buf.data(), buf.size(), error);
            if (n < 0) return false;
            if (n == 0) break;
            const uint64_t end = at + static_cast<uint64_t>(n);
            if (end > from) {
                const uint64_t a = std::max(at, from), b = std::min(end, to);
                text.append(buf.data() + (a - at), static_cast<size_t>(b - a));
            }
            at = end;
        }
        if (text.size() != to - from) {
            *error = "the compressed log changed while it was read";
            return false;
        }
        collector->addText(text.data(), text.data() + text.size());
        return true;
    }

  private:
    int m_fd;
    bool m_gz;
};

} // namespace

StatsCachedLogs::StatsCachedLogs(StatsCache* cache, const std::vector<const StatsLogFile*>& files,
                                 const StatsCollector& collector, bool site, unsigned jobs,
                                 StatsProgress* progress)
    : m_site(site) {
    if (progress) {
        uint64_t total = 0;
        for (const StatsLogFile* f : files)
            total += StatsProgress::fileSize(f->fd);
        progress->setTotal(total);
    }
    m_summaries.resize(files.size());
    std::vector<std::string> notes(files.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t k; (k = next++) < files.size();) {
            Entry& e = m_summaries[k];
            e.file = files[k];
            e.summary = cache->summary(*files[k], site ? StatsIndex::kHours : StatsIndex::kMinutes,
                                       collector.first(), collector.last(), &notes[k], progress);
            e.covered = e.summary.index != nullptr;
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < std::min<size_t>(jobs, files.size()); ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    if (progress) progress->flush();
    for (const std::string& note : notes)
        if (!note.empty()) fprintf(stderr, "getstats2: %s\n", note.c_str());
}

bool StatsCachedLogs::covers(const StatsLogFile& file) const {
    for (const Entry& e : m_summaries)
        if (e.file == &file) return e.covered;
    return false;
}

bool StatsCachedLogs::count(const StatsLogFile& file, StatsCollector* collector,
                            std::string* error) {
    for (Entry& e : m_summaries) {
        if (e.file != &file || !e.summary.index) continue;
        StatsSummary& s = e.summary;
        TextOfLog text(file.fd);
        bool ok = statsIndexCount(*s.index, m_site, collector, &text, error);
        if (ok && !s.tail.empty()) collector->addText(s.tail.data(), s.tail.data() + s.tail.size());
        s.index.reset(); // counted once; its memory goes now
        return ok;
    }
    *error = "no summary";
    return false;
}
