// Interned strings of the statistics tool: users, sites and URLs each kept once, by number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Interned byte strings: each distinct string is stored once in an arena of 4 MB blocks and
// numbered from 0 in the order of first appearance.
class StatsStrings {
  public:
    StatsStrings();
    ~StatsStrings();
    StatsStrings(const StatsStrings&) = delete;
    StatsStrings& operator=(const StatsStrings&) = delete;
    // Strings are at most 65534 bytes (longer ones are cut).
    uint32_t intern(std::string_view s) { return intern(s, hash(s)); }
    // The same with the string's hash (of hash()) computed beforehand.
    uint32_t intern(std::string_view s, uint32_t hash);
    static uint32_t hash(std::string_view s);
    // Ask for the table slot of a hash, and then for the string that slot names, to be brought
    // into the cache ahead of intern() (a batch of lookups then waits for memory once).
    void prefetchSlot(uint32_t hash) const {
        __builtin_prefetch(&m_slots[hash & (m_slots.size() - 1)]);
    }
    void prefetchText(uint32_t hash) const {
        const Slot& e = m_slots[hash & (m_slots.size() - 1)];
        if (e.ref != kNoRef && e.hash == hash) __builtin_prefetch(record(e.ref));
    }
    // Ask for the text of a string to be brought into the cache ahead of at().
    void prefetch(uint32_t id) const { __builtin_prefetch(record(m_refs[id])); }
    std::string_view at(uint32_t id) const;
    size_t size() const { return m_refs.size(); }
    // The numbers of all strings, in the order of first appearance.
    std::vector<uint32_t> ids() const;
    // Lets go of the table that finds a string's number (8 to 16 bytes a string) once no more
    // are interned: at() and ids() go on working, intern() may not be called again.
    void endInterning() { std::vector<Slot>().swap(m_slots); }

  private:
    static constexpr unsigned kBlockBits = 22;
    static constexpr uint32_t kNoRef = ~0u;
    // A string in the arena: its size (2 bytes), its number (4 bytes), its bytes.
    static constexpr size_t kHeader = 6;
    struct Slot {
        uint32_t hash;
        uint32_t ref; // arena place of the string; kNoRef: unused
    };
    const char* record(uint32_t ref) const {
        return m_blocks[ref >> kBlockBits] + (ref & ((1u << kBlockBits) - 1));
    }
    std::vector<Slot> m_slots;
    std::vector<uint32_t> m_refs; // arena place of each string: block << 22 | offset
    std::vector<char*> m_blocks;
    size_t m_used = size_t(1) << kBlockBits; // bytes used in the last block (full: none yet)
};
