// The statistics tool's summary of one log file: built from its lines, written and loaded, and
// counted into a query.
#include "server/stats_index.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

#include "server/stats_collector.h"
#include "server/stats_inflate.h"
#include "server/stats_line.h"
#include "server/stats_log.h"
#include "server/stats_strings.h"

namespace {

int64_t floorTo(int64_t t, int64_t width) {
    int64_t q = t / width;
    if (t % width < 0) --q;
    return q * width;
}

constexpr uint32_t kNone = ~0u;

// Times of the payload are written as steps from the one before, the first from this time (a
// whole number of hours, long before any log).
constexpr int64_t kTimeBase = -(int64_t(3600) << 28);

// Pairs of numbers below 2^32 and an entry number each: open addressing, emptied for each hour.
class PairTable {
  public:
    PairTable() : m_slots(1 << 12, Slot{kEmpty, 0}) {}
    // The entry of key; *fresh when it was not there (and is now, as entry).
    uint32_t find(uint64_t key, uint32_t entry, bool* fresh) {
        if (m_used * 10 >= m_slots.size() * 7) grow();
        const size_t mask = m_slots.size() - 1;
        for (size_t i = mix(key) & mask;; i = (i + 1) & mask) {
            if (m_slots[i].key == key) {
                *fresh = false;
                return m_slots[i].entry;
            }
            if (m_slots[i].key == kEmpty) {
                m_slots[i] = Slot{key, entry};
                ++m_used;
                *fresh = true;
                return entry;
            }
        }
    }
    void prefetch(uint64_t key) const {
        __builtin_prefetch(&m_slots[mix(key) & (m_slots.size() - 1)]);
    }
    void clear() {
        if (m_used == 0) return;
        std::fill(m_slots.begin(), m_slots.end(), Slot{kEmpty, 0});
        m_used = 0;
    }

  private:
    static constexpr uint64_t kEmpty = ~0ull;
    struct Slot {
        uint64_t key;
        uint32_t entry;
    };
    static uint64_t mix(uint64_t x) {
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdull;
        x ^= x >> 33;
        return x;
    }
    void grow() {
        std::vector<Slot> bigger(m_slots.size() * 2, Slot{kEmpty, 0});
        const size_t mask = bigger.size() - 1;
        for (const Slot& e : m_slots) {
            if (e.key == kEmpty) continue;
            size_t i = mix(e.key) & mask;
            while (bigger[i].key != kEmpty)
                i = (i + 1) & mask;
            bigger[i] = e;
        }
        m_slots.swap(bigger);
    }
    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

} // namespace

struct StatsIndexBuilder::State : StatsLogSink {
    explicit State(StatsIndex idx)
        : index(std::move(idx)), lastTime(index.lastTime), takenLength(index.length),
          at(index.length) {
        for (const std::string& u : index.users)
            users.intern(u);
        for (const std::string& site : index.sites)
            sites.intern(site);
        index.users.clear();
        index.sites.clear();
        // The last minute and hour may go on in the text that follows.
        if (!index.minutes.empty())
            for (uint32_t e = index.minutes.back().begin; e < index.bytes.size(); ++e)
                minuteEntry(index.bytes[e].user) = e;
        bool fresh;
        if (!index.hours.empty())
            for (uint32_t e = index.hours.back().begin; e < index.counts.size(); ++e)
                hourEntries.find(pairKey(index.counts[e].user, index.counts[e].site), e, &fresh);
        for (uint32_t e = 0; e < index.fileCounts.size(); ++e)
            fileEntries.find(pairKey(index.fileCounts[e].user, index.fileCounts[e].site), e,
                             &fresh);
    }

    static uint64_t pairKey(uint32_t user, uint32_t site) {
        return static_cast<uint64_t>(user) << 32 | site;
    }
    // The user's entry in the last minute's bytes (kNone: none yet).
    uint32_t& minuteEntry(uint32_t user) {
        if (user >= minuteEntries.size()) minuteEntries.resize(user + 1, kNone);
        return minuteEntries[user];
    }

    // Lines are taken in batches, so that the table slots of a batch's users, sites and pairs
    // are fetched from memory together rather than one cache miss after the other.
    struct Pending {
        time_t time;
        uint64_t bytes;
        uint64_t lineAt;
        std::string_view user; // decoded
        std::string_view site;
        uint32_t userHash, siteHash;
        uint32_t userNumber, siteNumber;
        std::string decoded;
    };
    static constexpr size_t kBatch = 32;

    void flush() {
        const size_t n = batchSize;
        batchSize = 0;
        for (size_t i = 0; i < n; ++i) {
            users.prefetchSlot(batch[i].userHash);
            sites.prefetchSlot(batch[i].siteHash);
        }
        for (size_t i = 0; i < n; ++i) {
            users.prefetchText(batch[i].userHash);
            sites.prefetchText(batch[i].siteHash);
        }
        for (size_t i = 0; i < n; ++i) {
            Pending& q = batch[i];
            q.userNumber = users.intern(q.user, q.userHash);
            q.siteNumber = sites.intern(q.site, q.siteHash);
            hourEntries.prefetch(pairKey(q.userNumber, q.siteNumber));
            fileEntries.prefetch(pairKey(q.userNumber, q.siteNumber));
        }
        for (size_t i = 0; i < n; ++i)
            take(batch[i]);
        index.length = takenLength;
    }

    void take(const Pending& q) {
        const uint32_t u = q.userNumber, s = q.siteNumber;
        const int64_t minute = floorTo(q.time, 60);
        if (index.minutes.empty() || index.minutes.back().start != minute) {
            index.minutes.push_back({minute, static_cast<uint32_t>(index.bytes.size())});
            std::fill(minuteEntries.begin(), minuteEntries.end(), kNone);
        }
        uint32_t& m = minuteEntry(u);
        if (m == kNone) {
            m = static_cast<uint32_t>(index.bytes.size());
            index.bytes.push_back({u, q.bytes});
        } else {
            index.bytes[m].bytes += q.bytes;
        }
        const int64_t hour = floorTo(q.time, 3600);
        if (index.hours.empty() || index.hours.back().start != hour) {
            index.hours.push_back({hour, q.lineAt, static_cast<uint32_t>(index.counts.size())});
            hourEntries.clear();
        }
        countPair(u, s, &hourEntries, &index.counts);
        countPair(u, s, &fileEntries, &index.fileCounts);
    }

    // One request of the pair (u, s) in a list of pair counts and its table.
    static void countPair(uint32_t u, uint32_t s, PairTable* table,
                          std::vector<StatsIndex::PairCount>* counts) {
        bool fresh;
        const uint32_t e =
            table->find(pairKey(u, s), static_cast<uint32_t>(counts->size()), &fresh);
        if (fresh)
            counts->push_back({u, s, 1});
        else if ((*counts)[e].count != UINT32_MAX)
            ++(*counts)[e].count;
    }

    const char* addBlock(const char* begin, const char* end) override {
        for (const char* p = begin; p < end && index.usable;) {
            StatsLogLine line;
            const char* next = nullptr;
            StatsLineResult r = statsParseLineAt(p, end, &line, &next);
            const bool whole = next > p && next[-1] == '\n';
            if (!whole && !final) break; // a line still being written: taken when it is whole
            const uint64_t lineAt = at + static_cast<uint64_t>(p - begin);
            bool bad = r == StatsLineResult::Malformed ||
                       (r == StatsLineResult::Parsed && line.time < lastTime);
            if (r == StatsLineResult::Parsed && !bad) {
                Pending& q = batch[batchSize];
                q.user = line.user;
                if (q.user.find('%') != std::string_view::npos) {
                    bad = !statsDecodeUser(q.user, &q.decoded);
                    q.user = q.decoded;
                }
                if (!bad) {
                    q.time = line.time;
                    q.bytes = line.bytes;
                    q.lineAt = lineAt;
                    q.site = statsSite(line.method, line.url);
                    q.userHash = StatsStrings::hash(q.user);
                    q.siteHash = StatsStrings::hash(q.site);
                    lastTime = line.time;
                    ++batchSize;
                }
            }
            if (bad) {
                flush();
                index.usable = false;
                break;
            }
            takenLength = lineAt + static_cast<uint64_t>(next - p);
            if (batchSize == kBatch) flush();
            p = next;
        }
        flush();
        index.lastTime = lastTime;
        at += static_cast<uint64_t>(end - begin);
        if (told) told(static_cast<uint64_t>(end - begin));
        return end;
    }
    size_t pastEndRun() const override { return 0; }
    void skippedLongLine() override { index.usable = false; }
    void skippedRest(const std::string&) override { index.usable = false; }

    StatsIndex index;     // its users and sites are in users and sites until taken
    time_t lastTime;      // of the last line taken into the batch
    uint64_t takenLength; // where the last line taken into the batch ends
    Pending batch[kBatch];
    size_t batchSize = 0;
    StatsStrings users;
    StatsStrings sites;
    uint64_t at; // offset in the log's text of the block handed next
    bool final = false;
    std::function<void(uint64_t)> told;  // of the text taken
    std::vector<uint32_t> minuteEntries; // by user: its entry in the last minute's bytes
    PairTable hourEntries;               // (user, site): its entry in the last hour's counts
    PairTable fileEntries;               // (user, site): its entry in the file's counts
};

StatsIndexBuilder::StatsIndexBuilder(StatsIndex index)
    : m_state(std::make_unique<State>(std::move(index))) {}

StatsIndexBuilder::~StatsIndexBuilder() = default;

bool StatsIndexBuilder::read(StatsByteStream* stream, bool final, std::string* error,
                             const std::function<void(uint64_t)>& read) {
    m_state->final = final;
    m_state->told = read;
    return statsReadStream(stream, m_state.get(), error);
}

StatsIndex StatsIndexBuilder::take() {
    StatsIndex index = std::move(m_state->index);
    for (uint32_t i = 0; i < m_state->users.size(); ++i)
        index.users.emplace_back(m_state->users.at(i));
    for (uint32_t i = 0; i < m_state->sites.size(); ++i)
        index.sites.emplace_back(m_state->sites.at(i));
    if (!index.usable) {
        StatsIndex none;
        none.usable = false;
        none.length = index.length;
        none.lastTime = index.lastTime;
        index = std::move(none);
    }
    return index;
}

// The payload: a table of five sections (users, sites, minutes, hours, the file's pairs), each
// its size and CRC-32, then the sections. Numbers are LEB128; times and offsets are written as
// steps from the one before.
namespace {

void putNumber(std::string* out, uint64_t v) {
    while (v >= 0x80) {
        out->push_back(static_cast<char>(v | 0x80));
        v >>= 7;
    }
    out->push_back(static_cast<char>(v));
}

void putStrings(std::string* out, const std::vector<std::string>& list) {
    putNumber(out, list.size());
    for (const std::string& s : list) {
        putNumber(out, s.size());
        out->append(s);
    }
}

class Reader {
  public:
    explicit Reader(std::string_view s) : m_p(s.data()), m_end(s.data() + s.size()) {}
    bool number(uint64_t* v) {
        uint64_t x = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (m_p == m_end) return false;
            const uint8_t b = static_cast<uint8_t>(*m_p++);
            x |= static_cast<uint64_t>(b & 0x7f) << shift;
            if (!(b & 0x80)) {
                *v = x;
                return true;
            }
        }
        return false;
    }
    bool number32(uint32_t* v, uint64_t below) {
        uint64_t x;
        if (!number(&x) || x >= below) return false;
        *v = static_cast<uint32_t>(x);
        return true;
    }
    bool strings(std::vector<std::string>* list) {
        uint64_t n;
        if (!number(&n) || n > static_cast<uint64_t>(m_end - m_p)) return false;
        list->reserve(n);
        for (uint64_t i = 0; i < n; ++i) {
            uint64_t size;
            if (!number(&size) || size > static_cast<uint64_t>(m_end - m_p)) return false;
            list->emplace_back(m_p, size);
            m_p += size;
        }
        return true;
    }
    bool done() const { return m_p == m_end; }
    size_t left() const { return static_cast<size_t>(m_end - m_p); }

  private:
    const char* m_p;
    const char* m_end;
};

constexpr int kSections = 5;
constexpr size_t kTableSize = kSections * 12;

uint32_t crcOf(std::string_view s) {
    return static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(s.data()), s.size()));
}

bool readMinutes(std::string_view s, size_t users, StatsIndex* index) {
    Reader r(s);
    uint64_t n;
    if (!r.number(&n) || n > r.left()) return false;
    index->minutes.reserve(n);
    int64_t t = 0;
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t step, entries;
        if (!r.number(&step) || !r.number(&entries) || entries > r.left()) return false;
        t = (i == 0 ? kTimeBase : t) + static_cast<int64_t>(step) * 60;
        if (i > 0 && step == 0) return false;
        index->minutes.push_back({t, static_cast<uint32_t>(index->bytes.size())});
        for (uint64_t e = 0; e < entries; ++e) {
            StatsIndex::UserBytes b;
            if (!r.number32(&b.user, users) || !r.number(&b.bytes)) return false;
            index->bytes.push_back(b);
        }
    }
    return r.done();
}

// The hours: their count, then for each its time, text offset, entries and the bytes its entries
// take, then the entries of all hours. Only the entries of the hours that meet [from, to) are
// read; the others keep their place with no entries.
bool readHours(std::string_view s, size_t users, size_t sites, uint64_t length, int64_t from,
               int64_t to, bool entriesToo, StatsIndex* index) {
    Reader r(s);
    uint64_t n;
    if (!r.number(&n) || n > r.left()) return false;
    struct Place {
        uint64_t entries, size;
    };
    std::vector<Place> places;
    places.reserve(n);
    index->hours.reserve(n);
    int64_t t = 0;
    uint64_t offset = 0, total = 0;
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t step, offsetStep;
        Place p;
        if (!r.number(&step) || !r.number(&offsetStep) || !r.number(&p.entries) ||
            !r.number(&p.size) || p.size > r.left() || p.entries > p.size)
            return false;
        if (i > 0 && (step == 0 || offsetStep == 0)) return false;
        t = (i == 0 ? kTimeBase : t) + static_cast<int64_t>(step) * 3600;
        offset += offsetStep;
        if (offset >= length) return false;
        index->hours.push_back({t, offset, 0});
        places.push_back(p);
        total += p.size;
    }
    if (total != r.left()) return false;
    if (!entriesToo) return true;
    std::string_view entries = s.substr(s.size() - r.left());
    for (size_t i = 0; i < places.size(); ++i) {
        index->hours[i].begin = static_cast<uint32_t>(index->counts.size());
        std::string_view mine = entries.substr(0, places[i].size);
        entries.remove_prefix(places[i].size);
        const int64_t start = index->hours[i].start;
        if (start + 3600 <= from || start >= to) continue;
        Reader e(mine);
        for (uint64_t k = 0; k < places[i].entries; ++k) {
            StatsIndex::PairCount c;
            if (!e.number32(&c.user, users) || !e.number32(&c.site, sites) ||
                !e.number32(&c.count, uint64_t(UINT32_MAX) + 1) || c.count == 0)
                return false;
            index->counts.push_back(c);
        }
        if (!e.done()) return false;
    }
    return true;
}

bool readPairs(std::string_view s, size_t users, size_t sites,
               std::vector<StatsIndex::PairCount>* pairs) {
    Reader r(s);
    uint64_t n;
    if (!r.number(&n) || n > r.left()) return false;
    pairs->reserve(n);
    for (uint64_t k = 0; k < n; ++k) {
        StatsIndex::PairCount c;
        if (!r.number32(&c.user, users) || !r.number32(&c.site, sites) ||
            !r.number32(&c.count, uint64_t(UINT32_MAX) + 1) || c.count == 0)
            return false;
        pairs->push_back(c);
    }
    return r.done();
}

// Whether a range holds all of a summary's hours.
bool holdsAllHours(const StatsIndex& index, int64_t from, int64_t to) {
    return !index.hours.empty() && index.hours.front().start >= from &&
           index.hours.back().start + 3600 <= to;
}

} // namespace

void statsPut64(char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<char>(v >> (8 * i));
}

uint64_t statsGet64(const char* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= static_cast<uint64_t>(static_cast<uint8_t>(p[i])) << (8 * i);
    return v;
}

void statsIndexWrite(const StatsIndex& index, std::string* out) {
    std::string sections[kSections];
    putStrings(&sections[0], index.users);
    putStrings(&sections[1], index.sites);
    std::string& m = sections[2];
    putNumber(&m, index.minutes.size());
    for (size_t i = 0; i < index.minutes.size(); ++i) {
        const int64_t before = i == 0 ? kTimeBase : index.minutes[i - 1].start;
        putNumber(&m, static_cast<uint64_t>(index.minutes[i].start - before) / 60);
        const uint32_t end =
            i + 1 < index.minutes.size() ? index.minutes[i + 1].begin : index.bytes.size();
        putNumber(&m, end - index.minutes[i].begin);
        for (uint32_t e = index.minutes[i].begin; e < end; ++e) {
            putNumber(&m, index.bytes[e].user);
            putNumber(&m, index.bytes[e].bytes);
        }
    }
    std::string& h = sections[3];
    putNumber(&h, index.hours.size());
    std::string entries;
    for (size_t i = 0; i < index.hours.size(); ++i) {
        const int64_t before = i == 0 ? kTimeBase : index.hours[i - 1].start;
        putNumber(&h, static_cast<uint64_t>(index.hours[i].start - before) / 3600);
        putNumber(&h, index.hours[i].offset - (i == 0 ? 0 : index.hours[i - 1].offset));
        const uint32_t end =
            i + 1 < index.hours.size() ? index.hours[i + 1].begin : index.counts.size();
        const size_t at = entries.size();
        for (uint32_t e = index.hours[i].begin; e < end; ++e) {
            putNumber(&entries, index.counts[e].user);
            putNumber(&entries, index.counts[e].site);
            putNumber(&entries, index.counts[e].count);
        }
        putNumber(&h, end - index.hours[i].begin);
        putNumber(&h, entries.size() - at);
    }
    h += entries;
    std::string& f = sections[4];
    putNumber(&f, index.fileCounts.size());
    for (const StatsIndex::PairCount& c : index.fileCounts) {
        putNumber(&f, c.user);
        putNumber(&f, c.site);
        putNumber(&f, c.count);
    }
    const size_t table = out->size();
    out->resize(table + kTableSize);
    for (int i = 0; i < kSections; ++i) {
        char* entry = out->data() + table + 12 * i;
        statsPut64(entry, sections[i].size());
        const uint32_t crc = crcOf(sections[i]);
        memcpy(entry + 8, &crc, 4);
    }
    for (const std::string& s : sections)
        out->append(s);
}

bool statsIndexRead(std::string_view payload, int parts, StatsIndex* index, time_t from,
                    time_t to) {
    if (payload.size() < kTableSize) return false;
    std::string_view section[kSections];
    uint32_t crc[kSections];
    size_t at = kTableSize;
    for (int i = 0; i < kSections; ++i) {
        const uint64_t size = statsGet64(payload.data() + 12 * i);
        if (size > payload.size() - at) return false;
        section[i] = payload.substr(at, size);
        at += size;
        memcpy(&crc[i], payload.data() + 12 * i + 8, 4);
    }
    if (at != payload.size()) return false;
    auto whole = [&](int i) { return crcOf(section[i]) == crc[i]; };
    const bool hours = parts & StatsIndex::kHours;
    if (!whole(0) || !Reader(section[0]).strings(&index->users)) return false;
    if (hours && (!whole(1) || !Reader(section[1]).strings(&index->sites))) return false;
    if ((parts & StatsIndex::kMinutes) &&
        (!whole(2) || !readMinutes(section[2], index->users.size(), index)))
        return false;
    if (!hours) return true;
    const size_t users = index->users.size(), sites = index->sites.size();
    if (!whole(3) || !readHours(section[3], users, sites, index->length, from, to, false, index))
        return false;
    // The file's pairs when the range holds every hour (and to continue the summary), else the
    // hours' own.
    const bool all = parts == StatsIndex::kAll && from == INT64_MIN && to == INT64_MAX;
    if (all || !holdsAllHours(*index, from, to)) {
        index->hours.clear();
        if (!readHours(section[3], users, sites, index->length, from, to, true, index))
            return false;
    }
    if ((all || holdsAllHours(*index, from, to)) &&
        (!whole(4) || !readPairs(section[4], users, sites, &index->fileCounts)))
        return false;
    return true;
}

void statsIndexKeep(StatsIndex* index, int parts, time_t from, time_t to) {
    if (!(parts & StatsIndex::kMinutes)) {
        std::vector<StatsIndex::Minute>().swap(index->minutes);
        std::vector<StatsIndex::UserBytes>().swap(index->bytes);
    }
    if (!(parts & StatsIndex::kHours)) {
        std::vector<std::string>().swap(index->sites);
        std::vector<StatsIndex::Hour>().swap(index->hours);
        std::vector<StatsIndex::PairCount>().swap(index->counts);
        std::vector<StatsIndex::PairCount>().swap(index->fileCounts);
    } else if (holdsAllHours(*index, from, to)) {
        std::vector<StatsIndex::PairCount>().swap(index->counts);
        for (StatsIndex::Hour& h : index->hours)
            h.begin = 0;
    } else {
        std::vector<StatsIndex::PairCount>().swap(index->fileCounts);
    }
}

bool statsIndexCount(const StatsIndex& index, bool site, StatsCollector* collector,
                     StatsTextReader* text, std::string* error) {
    const int64_t first = collector->first(), last = collector->last();
    if (first >= last) return true;
    std::vector<uint8_t> admitted(index.users.size(), 2); // 2: not asked yet
    auto admits = [&](uint32_t u) {
        if (admitted[u] == 2) admitted[u] = collector->admits(index.users[u]);
        return admitted[u] == 1;
    };
    if (!site) {
        auto m =
            std::lower_bound(index.minutes.begin(), index.minutes.end(), first,
                             [](const StatsIndex::Minute& a, int64_t t) { return a.start < t; });
        for (; m != index.minutes.end() && m->start < last; ++m) {
            const uint32_t end = m + 1 != index.minutes.end()
                                     ? m[1].begin
                                     : static_cast<uint32_t>(index.bytes.size());
            uint64_t sum = 0;
            for (uint32_t e = m->begin; e < end; ++e)
                if (admits(index.bytes[e].user)) sum += index.bytes[e].bytes;
            if (sum) collector->addBytes(m->start, sum);
        }
        return true;
    }
    std::vector<uint32_t> userNumber(index.users.size(), kNone - 1); // kNone - 1: not asked yet
    std::vector<uint32_t> siteNumber(index.sites.size(), kNone - 1);
    // Counts pairs in batches, so that the collector fetches their table slots together.
    auto count = [&](const StatsIndex::PairCount* from, const StatsIndex::PairCount* to) {
        for (const StatsIndex::PairCount* c = from; c < to;) {
            uint32_t users[256], sites[256], counts[256];
            size_t n = 0;
            for (; c < to && n < 256; ++c) {
                uint32_t& u = userNumber[c->user];
                if (u == kNone - 1)
                    u = admits(c->user) ? collector->listUser(index.users[c->user]) : kNone;
                if (u == kNone) continue;
                uint32_t& s = siteNumber[c->site];
                if (s == kNone - 1) s = collector->listSite(index.sites[c->site]);
                users[n] = u;
                sites[n] = s;
                counts[n++] = c->count;
            }
            collector->addPairCounts(users, sites, counts, n);
        }
    };
    if (holdsAllHours(index, first, last) && !index.fileCounts.empty()) {
        collector->expectPairs(index.fileCounts.size());
        count(index.fileCounts.data(), index.fileCounts.data() + index.fileCounts.size());
        return true;
    }
    auto h = std::lower_bound(index.hours.begin(), index.hours.end(), first - 3600 + 1,
                              [](const StatsIndex::Hour& a, int64_t t) { return a.start < t; });
    for (; h != index.hours.end() && h->start < last; ++h) {
        const bool last_ = h + 1 == index.hours.end();
        if (h->start < first || h->start + 3600 > last) {
            // Partly inside the range: its lines, of which the collector takes those inside.
            if (!text->read(h->offset, last_ ? index.length : h[1].offset, collector, error))
                return false;
            continue;
        }
        const uint32_t end = last_ ? static_cast<uint32_t>(index.counts.size()) : h[1].begin;
        count(index.counts.data() + h->begin, index.counts.data() + end);
    }
    return true;
}
