// The statistics tool's gzip streams: ISA-L's igzip member by member, or zlib's gzread.
#include "server/stats_inflate.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

off_t fileSize(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? st.st_size : 0;
}

std::string damagedAt(off_t at, off_t size) {
    return "compressed data damaged at byte " + std::to_string(at) + " of " + std::to_string(size) +
           ": the rest of the file is skipped";
}

std::string cutShort(off_t size) {
    return "cut short: its last member ends early at byte " + std::to_string(size) +
           " (its last partial line is skipped)";
}

// The compressed bytes of fd, read with pread from its start into a buffer.
class CompressedInput {
  public:
    explicit CompressedInput(int fd) : m_fd(fd), m_buf(1 << 18) {}

    // Moves the size bytes at rest (within the buffer) to its front and reads more after them:
    // false when nothing more was read (the end of the file, or a read error with *error set).
    bool refill(const uint8_t* rest, size_t size, std::string* error) {
        if (size > 0) memmove(m_buf.data(), rest, size);
        for (;;) {
            ssize_t n = pread(m_fd, m_buf.data() + size, m_buf.size() - size, m_at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) *error = strerror(errno);
            if (n <= 0) return false;
            m_at += n;
            m_size = size + static_cast<size_t>(n);
            return true;
        }
    }
    uint8_t* data() { return m_buf.data(); }
    size_t size() const { return m_size; }
    off_t offset() const { return m_at; } // of the end of the bytes read so far

  private:
    int m_fd;
    std::vector<uint8_t> m_buf;
    size_t m_size = 0;
    off_t m_at = 0;
};

class IsalGunzip final : public StatsByteStream {
  public:
    explicit IsalGunzip(int fd) : m_fd(fd), m_in(fd) { startMember(nullptr, 0); }

    ssize_t read(char* buf, size_t size, std::string* error) override {
        while (!m_done) {
            if (m_state.avail_in == 0 && !refill(error)) {
                if (!error->empty()) return -1;
                if (m_inMember) m_skipped = cutShort(m_in.offset());
                m_done = true;
                break;
            }
            m_state.next_out = reinterpret_cast<uint8_t*>(buf);
            m_state.avail_out = static_cast<uint32_t>(std::min<size_t>(size, 1u << 30));
            int rc = isal_inflate(&m_state);
            size_t got = static_cast<size_t>(reinterpret_cast<char*>(m_state.next_out) - buf);
            if (rc < 0) {
                off_t at = m_in.offset() - static_cast<off_t>(m_state.avail_in);
                m_skipped = damagedAt(at, fileSize(m_fd));
                m_done = true;
            } else if (m_state.block_state == ISAL_BLOCK_FINISH && !nextMember(error)) {
                if (!error->empty()) return -1;
                m_done = true;
            }
            if (got > 0) return static_cast<ssize_t>(got);
        }
        return 0;
    }

    std::string skipped() const override { return m_skipped; }

  private:
    bool refill(std::string* error) {
        if (!m_in.refill(m_state.next_in, m_state.avail_in, error)) return false;
        m_state.next_in = m_in.data();
        m_state.avail_in = static_cast<uint32_t>(m_in.size());
        return true;
    }
    void startMember(uint8_t* next, uint32_t avail) {
        isal_inflate_init(&m_state);
        m_state.crc_flag = ISAL_GZIP;
        m_state.next_in = next;
        m_state.avail_in = avail;
        m_inMember = true;
    }

    // After a member: true when another one follows (by its first two bytes). Anything else
    // after the last member is ignored, as gzip(1) ignores trailing zeros.
    bool nextMember(std::string* error) {
        m_inMember = false;
        while (m_state.avail_in < 2)
            if (!refill(error)) return false;
        if (m_state.next_in[0] != 0x1f || m_state.next_in[1] != 0x8b) return false;
        startMember(m_state.next_in, m_state.avail_in);
        return true;
    }

    int m_fd;
    CompressedInput m_in;
    inflate_state m_state;
    bool m_done = false;
    bool m_inMember = false;
    std::string m_skipped;
};

class ZlibGunzip final : public StatsByteStream {
  public:
    explicit ZlibGunzip(int fd) : m_fd(fd) {
        int copy = dup(fd); // read by offset: a duplicate shares it, so seek it to the start
        if (copy >= 0 && lseek(copy, 0, SEEK_SET) == 0) m_gz = gzdopen(copy, "rb");
        if (!m_gz && copy >= 0) close(copy);
        if (m_gz) gzbuffer(m_gz, 1 << 18);
    }
    ~ZlibGunzip() override {
        if (m_gz) gzclose(m_gz);
    }

    ssize_t read(char* buf, size_t size, std::string* error) override {
        if (!m_gz) {
            *error = "cannot read a compressed log";
            return -1;
        }
        if (m_done) return 0;
        int n = gzread(m_gz, buf, static_cast<unsigned>(std::min<size_t>(size, 1u << 30)));
        int code = Z_OK;
        gzerror(m_gz, &code);
        if (n > 0) return n;
        m_done = true;
        if (code == Z_ERRNO) {
            *error = strerror(errno);
            return -1;
        }
        if (code == Z_BUF_ERROR) m_skipped = cutShort(fileSize(m_fd));
        if (code == Z_DATA_ERROR) m_skipped = damagedAt(gzoffset(m_gz), fileSize(m_fd));
        return 0;
    }

    std::string skipped() const override { return m_skipped; }

  private:
    int m_fd;
    gzFile m_gz = nullptr;
    bool m_done = false;
    std::string m_skipped;
};

} // namespace

StatsInflater statsInflater() {
    const char* v = getenv("GETSTATS2_INFLATE");
    return v && strcmp(v, "zlib") == 0 ? StatsInflater::Zlib : StatsInflater::Isal;
}

bool statsIsGzip(int fd) {
    unsigned char magic[2];
    return pread(fd, magic, 2, 0) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
}

std::unique_ptr<StatsByteStream> statsGunzip(int fd, StatsInflater inflater) {
    if (inflater == StatsInflater::Zlib) return std::make_unique<ZlibGunzip>(fd);
    return std::make_unique<IsalGunzip>(fd);
}
