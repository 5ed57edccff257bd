// The statistics tool's string table: an arena of blocks, places in log files, and an
// open-addressing hash table.
#include "server/stats_strings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

uint64_t load64(const char* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

uint64_t load32(const char* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

// The 128-bit product of a and b folded to 64 bits.
uint64_t mum(uint64_t a, uint64_t b) {
    __extension__ using Wide = unsigned __int128;
    Wide r = static_cast<Wide>(a) * b;
    return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

// A hash of a short text read 8 or 16 bytes at a time (the ends as overlapping words), without a
// loop over single bytes.
uint32_t hashText(std::string_view s) {
    constexpr uint64_t k0 = 0xa0761d6478bd642full;
    constexpr uint64_t k1 = 0xe7037ed1a0b428dbull;
    const char* p = s.data();
    const size_t n = s.size();
    uint64_t seed = k0 ^ n;
    uint64_t a = 0;
    uint64_t b = 0;
    if (n >= 8 && n <= 16) {
        a = load64(p);
        b = load64(p + n - 8);
    } else if (n > 16) {
        size_t left = n;
        for (; left > 16; left -= 16, p += 16)
            seed = mum(load64(p) ^ k1, load64(p + 8) ^ seed);
        a = load64(p + left - 16);
        b = load64(p + left - 8);
    } else if (n >= 4) {
        a = load32(p);
        b = load32(p + n - 4);
    } else if (n > 0) {
        a = static_cast<uint64_t>(static_cast<unsigned char>(p[0])) << 16 |
            static_cast<uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
            static_cast<unsigned char>(p[n - 1]);
    }
    return static_cast<uint32_t>(mum(k1 ^ n, mum(a ^ k1, b ^ seed)));
}

} // namespace

bool statsReadAt(int fd, uint64_t at, size_t size, char* out) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = pread(fd, out + got, size - got, static_cast<off_t>(at + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

StatsSpill::~StatsSpill() {
    close(m_fd);
}

uint64_t StatsSpill::append(std::string_view s) {
    const uint64_t at = m_size;
    while (!s.empty()) {
        const size_t block = static_cast<size_t>(m_size / kBlock);
        const size_t in = static_cast<size_t>(m_size % kBlock);
        if (block == m_blocks.size()) m_blocks.push_back(std::make_unique<char[]>(kBlock));
        const size_t n = std::min(s.size(), kBlock - in);
        memcpy(m_blocks[block].get() + in, s.data(), n);
        s.remove_prefix(n);
        m_size += n;
        if (in + n < kBlock || !m_writes) continue;
        // A full block goes to the file, or stays (and so do the blocks after it).
        size_t done = 0;
        while (done < kBlock) {
            ssize_t w = pwrite(m_fd, m_blocks[block].get() + done, kBlock - done,
                               static_cast<off_t>(block * kBlock + done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;
            done += static_cast<size_t>(w);
        }
        if (done == kBlock)
            m_blocks[block].reset();
        else
            m_writes = false;
    }
    return at;
}

bool StatsSpill::read(uint64_t offset, size_t size, char* out) const {
    if (offset > m_size || size > m_size - offset) return false;
    while (size > 0) {
        const size_t block = static_cast<size_t>(offset / kBlock);
        const size_t in = static_cast<size_t>(offset % kBlock);
        const size_t n = std::min(size, kBlock - in);
        if (m_blocks[block])
            memcpy(out, m_blocks[block].get() + in, n);
        else if (!statsReadAt(m_fd, offset, n, out))
            return false;
        out += n;
        offset += n;
        size -= n;
    }
    return true;
}

uint64_t StatsSpill::inMemory() const {
    uint64_t n = 0;
    for (size_t b = 0; b < m_blocks.size(); ++b)
        if (m_blocks[b]) n += std::min<uint64_t>(kBlock, m_size - b * kBlock);
    return n;
}

StatsStrings::StatsStrings() : m_slots(1 << 10, Slot{0, kNoId}) {}

StatsStrings::~StatsStrings() {
    for (char* block : m_blocks)
        delete[] block;
}

uint64_t StatsStrings::place(unsigned file, uint64_t offset, size_t size) {
    if (file >= kFiles || size > kPlaceSizeMax || offset >> kOffsetBits) return kNoPlace;
    return encode(file, offset, size);
}

bool StatsStrings::readPlace(uint64_t place) const {
    const size_t size = placeSize(place);
    const unsigned file = placeFile(place);
    const uint64_t offset = placeOffset(place);
    m_scratch.resize(size);
    const bool read = file == kFiles
                          ? m_spill && m_spill->read(offset, size, m_scratch.data())
                          : m_files && file < m_files->size() &&
                                statsReadAt((*m_files)[file], offset, size, m_scratch.data());
    if (!read) {
        m_lost = true;
        m_scratch.clear();
    }
    return read;
}

std::string_view StatsStrings::arenaText(uint64_t ref) const {
    const char* text = record(ref);
    uint16_t size;
    memcpy(&size, text, sizeof size);
    return {text + kHeader, size};
}

std::string_view StatsStrings::at(uint32_t id) const {
    const uint64_t where = m_where[id];
    if (where & kPlaceBit) return readPlace(where) ? std::string_view(m_scratch) : "";
    return arenaText(where);
}

std::vector<uint32_t> StatsStrings::ids() const {
    std::vector<uint32_t> out(m_where.size());
    for (uint32_t i = 0; i < out.size(); ++i)
        out[i] = i;
    return out;
}

uint32_t StatsStrings::hash(std::string_view s) {
    return hashText(s.substr(0, 0xfffe));
}

uint64_t StatsStrings::store(std::string_view s) {
    const size_t blockSize = size_t(1) << kBlockBits;
    const size_t need = kHeader + s.size();
    if (m_used + need > blockSize) {
        m_blocks.push_back(new char[blockSize]);
        m_used = 0;
    }
    char* at = m_blocks.back() + m_used;
    const uint16_t size = static_cast<uint16_t>(s.size());
    memcpy(at, &size, sizeof size);
    memcpy(at + kHeader, s.data(), s.size());
    const uint64_t ref = (m_blocks.size() - 1) << kBlockBits | m_used;
    m_used += need;
    return ref;
}

bool StatsStrings::same(uint32_t id, std::string_view s) {
    const uint64_t where = m_where[id];
    if (!(where & kPlaceBit)) return arenaText(where) == s;
    if (placeSize(where) != s.size() || !readPlace(where) ||
        memcmp(m_scratch.data(), s.data(), s.size()) != 0)
        return false;
    m_where[id] = store(s); // it occurs again: kept from now on
    return true;
}

uint32_t StatsStrings::intern(std::string_view s, uint32_t hash, uint64_t place) {
    if (s.size() > 0xfffe) s = s.substr(0, 0xfffe);
    if (m_where.size() * 10 >= m_slots.size() * 6) {
        std::vector<Slot> bigger(m_slots.size() * 2, Slot{0, kNoId});
        size_t mask = bigger.size() - 1;
        for (const Slot& e : m_slots) {
            if (e.id == kNoId) continue;
            size_t i = e.hash & mask;
            while (bigger[i].id != kNoId)
                i = (i + 1) & mask;
            bigger[i] = e;
        }
        m_slots.swap(bigger);
    }
    size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& e = m_slots[i];
        if (e.id == kNoId) {
            const uint32_t id = static_cast<uint32_t>(m_where.size());
            if (place != kNoPlace && m_files)
                m_where.push_back(place);
            else if (m_spill && s.size() <= kPlaceSizeMax && m_spill->size() >> kOffsetBits == 0)
                m_where.push_back(encode(kFiles, m_spill->append(s), s.size()));
            else
                m_where.push_back(store(s));
            e = Slot{hash, id};
            return id;
        }
        if (e.hash == hash && same(e.id, s)) return e.id;
    }
}
