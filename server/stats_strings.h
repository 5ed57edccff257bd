// Interned strings of the statistics tool: users, sites and URLs each kept once, by number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Asks for the cache line at p to be brought into the cache. GCC 12 drops a __builtin_prefetch
// whose address is computed from a load (as most of these are), so the instruction is given as
// it is.
inline void statsPrefetch(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
    __builtin_prefetch(p);
#endif
}

// Reads the size bytes at offset at of a file into out; false when they cannot all be read.
bool statsReadAt(int fd, uint64_t at, size_t size, char* out);

// Text written out to an unnamed scratch file in blocks of 1 MB and read back at its offset: the
// text a string table would hold of strings met once, out of memory. A block that cannot be
// written (a full disk) stays in memory, and so do the blocks after it.
class StatsSpill {
  public:
    // Takes the descriptor of an empty file open for reading and writing.
    explicit StatsSpill(int fd) : m_fd(fd) {}
    ~StatsSpill();
    StatsSpill(const StatsSpill&) = delete;
    StatsSpill& operator=(const StatsSpill&) = delete;
    // Appends s: its offset.
    uint64_t append(std::string_view s);
    // Reads size bytes at offset into out; false when they cannot all be read.
    bool read(uint64_t offset, size_t size, char* out) const;
    // Bytes appended, and of them those only in memory (not written out).
    uint64_t size() const { return m_size; }
    uint64_t inMemory() const;

  private:
    static constexpr size_t kBlock = size_t(1) << 20;
    int m_fd;
    std::vector<std::unique_ptr<char[]>> m_blocks; // by number; empty: written out
    uint64_t m_size = 0;
    bool m_writes = true; // false once a write failed
};

// Interned byte strings: each distinct string is stored once and numbered from 0 in the order of
// first appearance. A string's text is kept in an arena of 4 MB blocks, or, for a string of a log
// file read from disk (setFiles), as its place in that file, read back when it is compared or
// asked for: most URLs of a log occur once, and their text need not be held a second time. A
// string kept as a place that turns out to occur again is kept in the arena from then on.
class StatsStrings {
  public:
    StatsStrings();
    ~StatsStrings();
    StatsStrings(const StatsStrings&) = delete;
    StatsStrings& operator=(const StatsStrings&) = delete;

    // The files whose places intern() may be given (their descriptors, by number; the table
    // only reads them).
    void setFiles(const std::vector<int>* fds) { m_files = fds; }
    // Where the text of new strings without a place goes instead of the arena (nullptr: the
    // arena); texts met again are kept in the arena as ever.
    void setSpill(StatsSpill* spill) { m_spill = spill; }
    // A place: the size bytes at offset of file number file; kNoPlace when it cannot be told
    // (a file number of kFiles or more, a string of more than 2047 bytes).
    static constexpr uint64_t kNoPlace = 0;
    static constexpr unsigned kFiles = 15; // the next number is the spill's
    static uint64_t place(unsigned file, uint64_t offset, size_t size);

    // Strings are at most 65534 bytes (longer ones are cut).
    uint32_t intern(std::string_view s) { return intern(s, hash(s)); }
    // The same with the string's hash (of hash()) computed beforehand, and the place where s
    // lies (kNoPlace: its text is kept).
    uint32_t intern(std::string_view s, uint32_t hash, uint64_t place = kNoPlace);
    static uint32_t hash(std::string_view s);
    // Ask for the table slot of a hash, and then for the text of the string that slot names,
    // to be brought into the cache ahead of intern() (a batch of lookups then waits for memory
    // once).
    void prefetchSlot(uint32_t hash) const { statsPrefetch(&m_slots[hash & (m_slots.size() - 1)]); }
    void prefetchText(uint32_t hash) const {
        const Slot& e = m_slots[hash & (m_slots.size() - 1)];
        if (e.id == kNoId || e.hash != hash) return;
        const uint64_t where = m_where[e.id];
        if (!(where & kPlaceBit)) statsPrefetch(record(where));
    }
    // Ask for where a string is kept, and later (once that has come) for its text, to be
    // brought into the cache ahead of at().
    void prefetchWhere(uint32_t id) const { statsPrefetch(&m_where[id]); }
    void prefetch(uint32_t id) const {
        if (!(m_where[id] & kPlaceBit)) statsPrefetch(record(m_where[id]));
    }
    // The text of a string. One kept as a place is read into a buffer of the table's, valid
    // until the next call; when it cannot be read back (its file was cut short meanwhile) the
    // text is empty and placesLost() is true.
    std::string_view at(uint32_t id) const;
    size_t size() const { return m_where.size(); }
    // The numbers of all strings, in the order of first appearance.
    std::vector<uint32_t> ids() const;
    // Whether a place could not be read back whole.
    bool placesLost() const { return m_lost; }
    // Lets go of the table that finds a string's number (8 to 16 bytes a string) once no more
    // are interned: at() and ids() go on working, intern() may not be called again.
    void endInterning() { std::vector<Slot>().swap(m_slots); }

  private:
    static constexpr unsigned kBlockBits = 22;
    static constexpr uint32_t kNoId = ~0u;
    static constexpr uint64_t kPlaceBit = uint64_t(1) << 63;
    // A place word: kPlaceBit, 4 bits of file number (kFiles: the spill), 11 bits of size and 48
    // bits of offset.
    static constexpr size_t kPlaceSizeMax = 2047;
    static constexpr unsigned kOffsetBits = 48;
    static constexpr unsigned kFileShift = 59;
    static uint64_t encode(unsigned file, uint64_t offset, size_t size) {
        return kPlaceBit | uint64_t(file) << kFileShift | uint64_t(size) << kOffsetBits | offset;
    }
    static size_t placeSize(uint64_t place) { return place >> kOffsetBits & kPlaceSizeMax; }
    static unsigned placeFile(uint64_t place) { return place >> kFileShift & 15; }
    static uint64_t placeOffset(uint64_t place) {
        return place & ((uint64_t(1) << kOffsetBits) - 1);
    }
    // A string in the arena: its size (2 bytes) and its bytes.
    static constexpr size_t kHeader = 2;
    struct Slot {
        uint32_t hash;
        uint32_t id; // kNoId: unused
    };
    const char* record(uint64_t ref) const {
        return m_blocks[ref >> kBlockBits] + (ref & ((1u << kBlockBits) - 1));
    }
    // The text of the string at an arena place.
    std::string_view arenaText(uint64_t ref) const;
    // Stores s in the arena: its place there.
    uint64_t store(std::string_view s);
    // Whether string id is s (hashes equal); a place found to be s is stored in the arena.
    bool same(uint32_t id, std::string_view s);
    // Reads a place's bytes into m_scratch; false (and m_lost) when they cannot all be read.
    bool readPlace(uint64_t place) const;

    std::vector<Slot> m_slots;
    // Where each string is: its arena place (block << 22 | offset), or a place word (encode).
    std::vector<uint64_t> m_where;
    std::vector<char*> m_blocks;
    size_t m_used = size_t(1) << kBlockBits; // bytes used in the last block (full: none yet)
    const std::vector<int>* m_files = nullptr;
    StatsSpill* m_spill = nullptr;
    mutable std::string m_scratch;
    mutable bool m_lost = false;
};
