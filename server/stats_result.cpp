// The statistics tool's result: the byte counts, or the url and site lists sorted and written.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "server/stats_collector.h"

namespace {

// Whether a name or URL needs quoting or escaping for the console's field splitter.
bool needsQuotes(std::string_view s) {
    for (unsigned char c : s)
        if (c <= 0x20 || c == 0x7f) return true;
    return false;
}

void appendField(std::string* out, std::string_view s) {
    if (s.find('\'') != std::string_view::npos || (needsQuotes(s) && !s.empty())) {
        if (s.find('\'') == std::string_view::npos) {
            out->push_back('\'');
            out->append(s);
            out->push_back('\'');
            return;
        }
        // A quote cannot be quoted: escape it and what would split the field, as URLs do.
        char hex[4];
        for (unsigned char c : s) {
            if (c <= 0x20 || c == 0x7f || c == '\'') {
                snprintf(hex, sizeof hex, "%%%02X", c);
                out->append(hex);
            } else {
                out->push_back(static_cast<char>(c));
            }
        }
        return;
    }
    out->append(s.empty() ? std::string_view("''") : s);
}

// Sorts numbers below 2^bits by their digits of 11 bits from the lowest (radix sort).
void radixSort(std::vector<uint64_t>* numbers, int bits) {
    std::vector<uint64_t>& v = *numbers;
    const size_t n = v.size();
    if (n < 4096) {
        std::sort(v.begin(), v.end());
        return;
    }
    constexpr int kDigit = 11;
    const int digits = std::max(1, (bits + kDigit - 1) / kDigit);
    std::vector<size_t> counts(static_cast<size_t>(digits) << kDigit, 0);
    for (uint64_t x : v)
        for (int d = 0; d < digits; ++d)
            ++counts[static_cast<size_t>(d) << kDigit | (x >> (kDigit * d) & ((1u << kDigit) - 1))];
    std::vector<uint64_t> other(n);
    for (int d = 0; d < digits; ++d) {
        size_t* count = &counts[static_cast<size_t>(d) << kDigit];
        size_t at = 0;
        for (size_t i = 0; i < (size_t(1) << kDigit); ++i) {
            size_t c = count[i];
            count[i] = at;
            at += c;
        }
        for (uint64_t x : v)
            other[count[x >> (kDigit * d) & ((1u << kDigit) - 1)]++] = x;
        v.swap(other);
    }
}

// The number of bits that hold the numbers below n.
int bitWidth(size_t n) {
    int bits = 0;
    while (bits < 64 && (n - 1) >> bits)
        ++bits;
    return bits;
}

// Output gathered in a buffer of its own and written in large blocks.
class BlockWriter {
  public:
    explicit BlockWriter(FILE* out) : m_out(out), m_buf(1 << 20) {}
    void append(const char* data, size_t size) {
        if (size == 0) return; // an empty text may have no address
        if (m_used + size > m_buf.size()) {
            flush();
            if (size > m_buf.size()) {
                m_ok = m_ok && fwrite(data, 1, size, m_out) == size;
                return;
            }
        }
        memcpy(m_buf.data() + m_used, data, size);
        m_used += size;
    }
    void append(std::string_view s) { append(s.data(), s.size()); }
    bool flush() {
        m_ok = m_ok && fwrite(m_buf.data(), 1, m_used, m_out) == m_used;
        m_used = 0;
        return m_ok;
    }

  private:
    FILE* m_out;
    std::vector<char> m_buf;
    size_t m_used = 0;
    bool m_ok = true;
};

// Users in byte order: each user's rank, and its field as written.
struct UserOrder {
    std::vector<uint64_t> rank;     // by user number: the rank, in a pair key's user bits
    std::vector<std::string> field; // by rank: the name as a field, and a blank
};

UserOrder orderUsers(const StatsStrings& users) {
    std::vector<uint32_t> byName = users.ids();
    std::sort(byName.begin(), byName.end(),
              [&](uint32_t a, uint32_t b) { return users.at(a) < users.at(b); });
    UserOrder order{std::vector<uint64_t>(byName.size()), std::vector<std::string>(byName.size())};
    for (uint32_t r = 0; r < byName.size(); ++r) {
        order.rank[byName[r]] = static_cast<uint64_t>(r) << 48;
        appendField(&order.field[r], users.at(byName[r]));
        order.field[r].push_back(' ');
    }
    return order;
}

// A ranked pair key (rank << 48 | site << 24 | rest) packed into as few bits as the numbers of
// users, sites and rests need, so that it sorts as a plain number.
struct KeyPacking {
    int restBits;
    int siteBits;
    int rankBits;
    int bits() const { return rankBits + siteBits + restBits; }
    uint64_t rankOf(uint64_t packed) const { return packed >> (siteBits + restBits); }
    uint64_t pack(uint64_t key) const {
        return key >> 48 << (siteBits + restBits) | (key >> 24 & 0xffffff) << restBits |
               (key & 0xffffff);
    }
    uint64_t unpack(uint64_t packed) const {
        return rankOf(packed) << 48 | (packed >> restBits & ((uint64_t(1) << siteBits) - 1)) << 24 |
               (packed & ((uint64_t(1) << restBits) - 1));
    }
};

// The pairs in the order of the result: by the user's rank, then by count, highest first, then
// by site and rest in the order the log first names them (their numbers). Pairs counted once
// (most URLs of a long period) are sorted as packed numbers, the others as pairs; for each user
// the others come first. With a line limit, the pairs of the users after those whose lines fill
// it are not ordered at all, only counted in leftLines and leftRequests.
struct OrderedPairs {
    std::vector<StatsPair> more; // ranked keys
    std::vector<uint64_t> once;  // packed ranked keys
    uint64_t leftLines = 0;
    uint64_t leftRequests = 0;
};

OrderedPairs orderPairs(std::vector<StatsPair> table, const std::vector<uint64_t>& rank,
                        const KeyPacking& packing, uint64_t limit) {
    constexpr uint64_t kSiteRest = (uint64_t(1) << 48) - 1;
    // Per rank: the pairs counted once, the others, and the requests of all.
    struct Tally {
        uint64_t once = 0;
        uint64_t more = 0;
        uint64_t requests = 0;
    };
    std::vector<Tally> perRank(rank.size());
    for (const StatsPair& p : table) {
        if (p.key == StatsPair::kEmpty) continue;
        Tally& t = perRank[rank[p.key >> 48] >> 48];
        ++(p.count == 1 ? t.once : t.more);
        t.requests += p.count;
    }
    // The last rank whose lines are written, at least in part; the ranks after it are left out.
    OrderedPairs out;
    uint64_t lastRank = 0;
    size_t once = 0;
    size_t more = 0;
    for (; lastRank < perRank.size(); ++lastRank) {
        once += perRank[lastRank].once;
        more += perRank[lastRank].more;
        if (once + more >= limit) break;
    }
    for (uint64_t r = lastRank + 1; r < perRank.size(); ++r) {
        out.leftLines += perRank[r].once + perRank[r].more;
        out.leftRequests += perRank[r].requests;
    }
    out.once.reserve(once);
    out.more.reserve(more);
    for (const StatsPair& p : table) {
        if (p.key == StatsPair::kEmpty) continue;
        const uint64_t ranked = rank[p.key >> 48] | (p.key & kSiteRest);
        if (ranked >> 48 > lastRank) continue;
        if (p.count == 1)
            out.once.push_back(packing.pack(ranked));
        else
            out.more.push_back(StatsPair{ranked, p.count});
    }
    std::vector<StatsPair>().swap(table); // the table is the largest: gone before the sorts
    std::sort(out.more.begin(), out.more.end(), [](const StatsPair& a, const StatsPair& b) {
        if (a.key >> 48 != b.key >> 48) return a.key < b.key;
        if (a.count != b.count) return a.count > b.count;
        return a.key < b.key;
    });
    radixSort(&out.once, packing.bits());
    return out;
}

// Whether a string can be written as it is (no quoting, no escape).
bool isPlain(std::string_view s) {
    return s.find('\'') == std::string_view::npos && !needsQuotes(s);
}

// Which strings can be written as they are.
std::vector<uint8_t> plainFlags(const StatsStrings& strings) {
    std::vector<uint8_t> plain(strings.size());
    for (uint32_t i = 0; i < plain.size(); ++i)
        plain[i] = isPlain(strings.at(i));
    return plain;
}

// Writes the lines "user count target" of the url and site lists.
class ListWriter {
  public:
    ListWriter(FILE* out, bool url, uint64_t limit, const StatsStrings& sites,
               const StatsStrings& rests, std::vector<std::string> userField)
        : m_writer(out), m_url(url), m_limit(limit), m_sites(sites), m_rests(rests),
          m_userField(std::move(userField)), m_plainSite(plainFlags(sites)) {}

    // Asks for the texts of a line to come to be brought into the cache: where they are kept
    // first (far ahead), then the texts themselves.
    void prefetchWhere(uint64_t key) const {
        m_sites.prefetchWhere(static_cast<uint32_t>(key >> 24) & 0xffffff);
        if (m_url) m_rests.prefetchWhere(static_cast<uint32_t>(key) & 0xffffff);
    }
    void prefetch(uint64_t key) const {
        m_sites.prefetch(static_cast<uint32_t>(key >> 24) & 0xffffff);
        if (m_url) m_rests.prefetch(static_cast<uint32_t>(key) & 0xffffff);
    }

    void line(uint64_t key, uint32_t count) {
        if (m_written == m_limit) {
            ++m_leftLines;
            m_leftRequests += count;
            return;
        }
        ++m_written;
        m_writer.append(m_userField[key >> 48]);
        char number[24];
        char* e = number + sizeof number;
        *--e = ' ';
        do {
            *--e = static_cast<char>('0' + count % 10);
            count /= 10;
        } while (count);
        m_writer.append(e, static_cast<size_t>(number + sizeof number - e));
        const uint32_t site = static_cast<uint32_t>(key >> 24) & 0xffffff;
        const uint32_t rest = static_cast<uint32_t>(key) & 0xffffff;
        const std::string_view siteText = m_sites.at(site);
        const std::string_view restText = m_url ? m_rests.at(rest) : std::string_view();
        // A URL rest is looked at as it is written: most are written once, and many are
        // read back from their log.
        if (m_plainSite[site] && (!m_url || isPlain(restText)) &&
            !(siteText.empty() && restText.empty())) {
            m_writer.append(siteText);
            m_writer.append(restText);
        } else {
            m_target.assign(siteText);
            m_target.append(restText);
            std::string field;
            appendField(&field, m_target);
            m_writer.append(field);
        }
        m_writer.append("\n", 1);
    }

    // Lines left out that were never handed to line().
    void leftOut(uint64_t lines, uint64_t requests) {
        m_leftLines += lines;
        m_leftRequests += requests;
    }

    // Ends the list: past the limit, the line that says what was left out.
    bool finish() {
        if (m_leftLines > 0) {
            char note[128];
            int n = snprintf(note, sizeof note, STATS_OMITTED_FORMAT "\n",
                             static_cast<unsigned long long>(m_leftLines),
                             static_cast<unsigned long long>(m_leftRequests));
            m_writer.append(note, static_cast<size_t>(n));
        }
        // A rest that could not be read back from its log would have been written wrong.
        return m_writer.flush() && !m_rests.placesLost();
    }

  private:
    BlockWriter m_writer;
    const bool m_url;
    const uint64_t m_limit;
    uint64_t m_written = 0;
    uint64_t m_leftLines = 0;
    uint64_t m_leftRequests = 0;
    const StatsStrings& m_sites;
    const StatsStrings& m_rests;
    const std::vector<std::string> m_userField;
    const std::vector<uint8_t> m_plainSite;
    std::string m_target;
};

// Writes the two sorted runs merged by the user's rank.
void writeMerged(const OrderedPairs& pairs, const KeyPacking& packing, ListWriter* writer) {
    // The texts of a line a few lines ahead are asked for while this one is written, and where
    // they are kept four times as far ahead.
    constexpr size_t kAhead = 8;
    constexpr size_t kFar = 4 * kAhead;
    const std::vector<StatsPair>& more = pairs.more;
    const std::vector<uint64_t>& once = pairs.once;
    size_t i = 0;
    size_t j = 0;
    while (i < more.size() || j < once.size()) {
        if (i < more.size() && (j == once.size() || more[i].key >> 48 <= packing.rankOf(once[j]))) {
            if (i + kFar < more.size()) writer->prefetchWhere(more[i + kFar].key);
            if (i + kAhead < more.size()) writer->prefetch(more[i + kAhead].key);
            writer->line(more[i].key, more[i].count);
            ++i;
        } else {
            if (j + kFar < once.size()) writer->prefetchWhere(packing.unpack(once[j + kFar]));
            if (j + kAhead < once.size()) writer->prefetch(packing.unpack(once[j + kAhead]));
            writer->line(packing.unpack(once[j]), 1);
            ++j;
        }
    }
}

} // namespace

bool StatsCollector::writeData(FILE* out) const {
    for (uint64_t b : m_bytes)
        fprintf(out, "%llu\n", static_cast<unsigned long long>(b));
    return fflush(out) == 0 && !ferror(out);
}

bool StatsCollector::writeLists(FILE* out) {
    // Nothing is counted any more: the tables that found the strings go before the sorts.
    m_users.endInterning();
    m_sites.endInterning();
    m_rests.endInterning();
    UserOrder users = orderUsers(m_users);
    const KeyPacking packing{bitWidth(std::max<size_t>(m_rests.size(), 1)),
                             bitWidth(std::max<size_t>(m_sites.size(), 1)),
                             bitWidth(std::max<size_t>(users.field.size(), 1))};
    const OrderedPairs pairs =
        orderPairs(std::move(m_pairs), users.rank, packing, m_query.lineLimit);
    m_pairs.clear();
    m_pairCount = 0;
    ListWriter writer(out, m_kind == StatsKind::Url, m_query.lineLimit, m_sites, m_rests,
                      std::move(users.field));
    writeMerged(pairs, packing, &writer);
    writer.leftOut(pairs.leftLines, pairs.leftRequests);
    return writer.finish() && fflush(out) == 0 && !ferror(out);
}

bool StatsCollector::write(FILE* out) && {
    return m_kind == StatsKind::Data ? writeData(out) : writeLists(out);
}

void StatsCollector::write(std::string* out) && {
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    std::move(*this).write(f);
    fclose(f);
    out->assign(text, size);
    free(text);
}
