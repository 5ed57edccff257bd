// The statistics tool's summary of one log file: built from its lines, written and loaded, and
// counted into a query.
#include "server/stats_index.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <zlib.h>

#include "server/stats_collector.h"
#include "server/stats_inflate.h"
#include "server/stats_line.h"
#include "server/stats_log.h"

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

// A string's number in a list of strings, kept beside it.
class Numbering {
  public:
    explicit Numbering(std::vector<std::string>* list) : m_list(list) {
        for (uint32_t i = 0; i < list->size(); ++i)
            m_numbers.emplace((*list)[i], i);
    }
    uint32_t number(std::string_view s) {
        auto it = m_numbers.find(s);
        if (it != m_numbers.end()) return it->second;
        uint32_t n = static_cast<uint32_t>(m_list->size());
        m_list->emplace_back(s);
        m_numbers.emplace(m_list->back(), n);
        return n;
    }

  private:
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    std::vector<std::string>* m_list;
    std::unordered_map<std::string, uint32_t, Hash, std::equal_to<>> m_numbers;
};

} // namespace

struct StatsIndexBuilder::State : StatsLogSink {
    explicit State(StatsIndex idx)
        : index(std::move(idx)), users(&index.users), sites(&index.sites), at(index.length) {
        // The last minute and hour may go on in the text that follows.
        if (!index.minutes.empty())
            for (uint32_t e = index.minutes.back().begin; e < index.bytes.size(); ++e)
                minuteEntry[index.bytes[e].user] = e;
        if (!index.hours.empty())
            for (uint32_t e = index.hours.back().begin; e < index.counts.size(); ++e)
                hourEntry[pairKey(index.counts[e].user, index.counts[e].site)] = e;
    }

    static uint64_t pairKey(uint32_t user, uint32_t site) {
        return static_cast<uint64_t>(user) << 32 | site;
    }

    void take(const StatsLogLine& line, uint64_t lineAt) {
        std::string_view user = line.user;
        if (user.find('%') != std::string_view::npos) {
            if (!statsDecodeUser(user, &decoded)) {
                index.usable = false;
                return;
            }
            user = decoded;
        }
        const uint32_t u = users.number(user);
        const int64_t minute = floorTo(line.time, 60);
        if (index.minutes.empty() || index.minutes.back().start != minute) {
            index.minutes.push_back({minute, static_cast<uint32_t>(index.bytes.size())});
            minuteEntry.clear();
        }
        auto [m, newUser] = minuteEntry.try_emplace(u, static_cast<uint32_t>(index.bytes.size()));
        if (newUser)
            index.bytes.push_back({u, line.bytes});
        else
            index.bytes[m->second].bytes += line.bytes;

        const uint32_t s = sites.number(statsSite(line.method, line.url));
        const int64_t hour = floorTo(line.time, 3600);
        if (index.hours.empty() || index.hours.back().start != hour) {
            index.hours.push_back({hour, lineAt, static_cast<uint32_t>(index.counts.size())});
            hourEntry.clear();
        }
        auto [h, newPair] =
            hourEntry.try_emplace(pairKey(u, s), static_cast<uint32_t>(index.counts.size()));
        if (newPair) {
            index.counts.push_back({u, s, 1});
        } else if (index.counts[h->second].count != UINT32_MAX) {
            ++index.counts[h->second].count;
        }
    }

    const char* addBlock(const char* begin, const char* end) override {
        for (const char* p = begin; p < end && index.usable;) {
            StatsLogLine line;
            const char* next = nullptr;
            StatsLineResult r = statsParseLineAt(p, end, &line, &next);
            const bool whole = next > p && next[-1] == '\n';
            if (!whole && !final) break; // a line still being written: taken when it is whole
            const uint64_t lineAt = at + static_cast<uint64_t>(p - begin);
            if (r == StatsLineResult::Malformed ||
                (r == StatsLineResult::Parsed && line.time < index.lastTime)) {
                index.usable = false;
                break;
            }
            if (r == StatsLineResult::Parsed) {
                take(line, lineAt);
                if (!index.usable) break;
                index.lastTime = line.time;
            }
            index.length = lineAt + static_cast<uint64_t>(next - p);
            p = next;
        }
        at += static_cast<uint64_t>(end - begin);
        return end;
    }
    size_t pastEndRun() const override { return 0; }
    void skippedLongLine() override { index.usable = false; }
    void skippedRest(const std::string&) override { index.usable = false; }

    StatsIndex index;
    Numbering users;
    Numbering sites;
    uint64_t at; // offset in the log's text of the block handed next
    bool final = false;
    std::string decoded;
    std::unordered_map<uint32_t, uint32_t> minuteEntry; // user: its entry in the last minute
    std::unordered_map<uint64_t, uint32_t> hourEntry;   // pair: its entry in the last hour
};

StatsIndexBuilder::StatsIndexBuilder(StatsIndex index)
    : m_state(std::make_unique<State>(std::move(index))) {}

StatsIndexBuilder::~StatsIndexBuilder() = default;

bool StatsIndexBuilder::read(StatsByteStream* stream, bool final, std::string* error) {
    m_state->final = final;
    return statsReadStream(stream, m_state.get(), error);
}

StatsIndex StatsIndexBuilder::take() {
    StatsIndex index = std::move(m_state->index);
    if (!index.usable)
        index = StatsIndex{false, index.length, index.lastTime, {}, {}, {}, {}, {}, {}};
    return index;
}

// The payload: a table of four sections (users, sites, minutes, hours), each its size and
// CRC-32, then the sections. Numbers are LEB128; times and offsets are written as steps from the
// one before.
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

constexpr int kSections = 4;
constexpr size_t kTableSize = kSections * 12;

uint32_t crcOf(std::string_view s) {
    return static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(s.data()), s.size()));
}

void put64(char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<char>(v >> (8 * i));
}
uint64_t get64(const char* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= static_cast<uint64_t>(static_cast<uint8_t>(p[i])) << (8 * i);
    return v;
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

bool readHours(std::string_view s, size_t users, size_t sites, uint64_t length, StatsIndex* index) {
    Reader r(s);
    uint64_t n;
    if (!r.number(&n) || n > r.left()) return false;
    index->hours.reserve(n);
    int64_t t = 0;
    uint64_t offset = 0;
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t step, offsetStep, entries;
        if (!r.number(&step) || !r.number(&offsetStep) || !r.number(&entries) || entries > r.left())
            return false;
        if (i > 0 && step == 0) return false;
        t = (i == 0 ? kTimeBase : t) + static_cast<int64_t>(step) * 3600;
        if (i > 0 && offsetStep == 0) return false;
        offset += offsetStep;
        if (offset >= length) return false;
        index->hours.push_back({t, offset, static_cast<uint32_t>(index->counts.size())});
        for (uint64_t e = 0; e < entries; ++e) {
            StatsIndex::PairCount c;
            if (!r.number32(&c.user, users) || !r.number32(&c.site, sites) ||
                !r.number32(&c.count, uint64_t(UINT32_MAX) + 1) || c.count == 0)
                return false;
            index->counts.push_back(c);
        }
    }
    return r.done();
}

} // namespace

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
    for (size_t i = 0; i < index.hours.size(); ++i) {
        const int64_t before = i == 0 ? kTimeBase : index.hours[i - 1].start;
        putNumber(&h, static_cast<uint64_t>(index.hours[i].start - before) / 3600);
        putNumber(&h, index.hours[i].offset - (i == 0 ? 0 : index.hours[i - 1].offset));
        const uint32_t end =
            i + 1 < index.hours.size() ? index.hours[i + 1].begin : index.counts.size();
        putNumber(&h, end - index.hours[i].begin);
        for (uint32_t e = index.hours[i].begin; e < end; ++e) {
            putNumber(&h, index.counts[e].user);
            putNumber(&h, index.counts[e].site);
            putNumber(&h, index.counts[e].count);
        }
    }
    const size_t table = out->size();
    out->resize(table + kTableSize);
    for (int i = 0; i < kSections; ++i) {
        char* entry = out->data() + table + 12 * i;
        put64(entry, sections[i].size());
        const uint32_t crc = crcOf(sections[i]);
        memcpy(entry + 8, &crc, 4);
    }
    for (const std::string& s : sections)
        out->append(s);
}

bool statsIndexRead(std::string_view payload, int parts, StatsIndex* index) {
    if (payload.size() < kTableSize) return false;
    std::string_view section[kSections];
    size_t at = kTableSize;
    for (int i = 0; i < kSections; ++i) {
        const uint64_t size = get64(payload.data() + 12 * i);
        if (size > payload.size() - at) return false;
        section[i] = payload.substr(at, size);
        at += size;
        const bool wanted = i == 0 || (i == 1 && (parts & StatsIndex::kHours)) ||
                            (i == 2 && (parts & StatsIndex::kMinutes)) ||
                            (i == 3 && (parts & StatsIndex::kHours));
        uint32_t crc;
        memcpy(&crc, payload.data() + 12 * i + 8, 4);
        if (wanted && crcOf(section[i]) != crc) return false;
    }
    if (at != payload.size()) return false;
    if (!Reader(section[0]).strings(&index->users)) return false;
    if ((parts & StatsIndex::kHours) && !Reader(section[1]).strings(&index->sites)) return false;
    if ((parts & StatsIndex::kMinutes) && !readMinutes(section[2], index->users.size(), index))
        return false;
    if ((parts & StatsIndex::kHours) &&
        !readHours(section[3], index->users.size(), index->sites.size(), index->length, index))
        return false;
    return true;
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
        for (uint32_t e = h->begin; e < end; ++e) {
            const StatsIndex::PairCount& c = index.counts[e];
            uint32_t& u = userNumber[c.user];
            if (u == kNone - 1)
                u = admits(c.user) ? collector->listUser(index.users[c.user]) : kNone;
            if (u == kNone) continue;
            uint32_t& s = siteNumber[c.site];
            if (s == kNone - 1) s = collector->listSite(index.sites[c.site]);
            collector->addPairCount(u, s, c.count);
        }
    }
    return true;
}
