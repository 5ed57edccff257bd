// The statistics tool's string table: an arena of blocks and an open-addressing hash table.
#include "server/stats_strings.h"

#include <cstring>

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

StatsStrings::StatsStrings() : m_slots(1 << 10, Slot{0, kNoRef}) {}

StatsStrings::~StatsStrings() {
    for (char* block : m_blocks)
        delete[] block;
}

std::string_view StatsStrings::at(uint32_t id) const {
    const char* text = record(m_refs[id]);
    uint16_t size;
    memcpy(&size, text, sizeof size);
    return {text + kHeader, size};
}

std::vector<uint32_t> StatsStrings::ids() const {
    std::vector<uint32_t> out(m_refs.size());
    for (uint32_t i = 0; i < out.size(); ++i)
        out[i] = i;
    return out;
}

uint32_t StatsStrings::hash(std::string_view s) {
    return hashText(s.substr(0, 0xfffe));
}

uint32_t StatsStrings::intern(std::string_view s, uint32_t hash) {
    if (s.size() > 0xfffe) s = s.substr(0, 0xfffe);
    if (m_refs.size() * 10 >= m_slots.size() * 6) {
        std::vector<Slot> bigger(m_slots.size() * 2, Slot{0, kNoRef});
        size_t mask = bigger.size() - 1;
        for (const Slot& e : m_slots) {
            if (e.ref == kNoRef) continue;
            size_t i = e.hash & mask;
            while (bigger[i].ref != kNoRef)
                i = (i + 1) & mask;
            bigger[i] = e;
        }
        m_slots.swap(bigger);
    }
    size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& e = m_slots[i];
        if (e.ref == kNoRef) {
            const size_t blockSize = size_t(1) << kBlockBits;
            uint16_t size = static_cast<uint16_t>(s.size());
            uint32_t id = static_cast<uint32_t>(m_refs.size());
            size_t need = kHeader + s.size();
            if (m_used + need > blockSize) {
                m_blocks.push_back(new char[blockSize]);
                m_used = 0;
            }
            char* at = m_blocks.back() + m_used;
            memcpy(at, &size, sizeof size);
            memcpy(at + sizeof size, &id, sizeof id);
            memcpy(at + kHeader, s.data(), s.size());
            e = Slot{hash, static_cast<uint32_t>((m_blocks.size() - 1) << kBlockBits | m_used)};
            m_refs.push_back(e.ref);
            m_used += need;
            return id;
        }
        if (e.hash == hash) {
            const char* text = record(e.ref);
            uint16_t size;
            memcpy(&size, text, sizeof size);
            if (size == s.size() && memcmp(text + kHeader, s.data(), size) == 0) {
                uint32_t id;
                memcpy(&id, text + sizeof size, sizeof id);
                return id;
            }
        }
    }
}
