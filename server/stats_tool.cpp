// The server's statistics tool "getstats2" over Squid's native access log.
#include "server/stats_tool.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "server/vxd_fs.h"

namespace {

// Lines of the log are in completion-time order only roughly (workers and clocks); the range
// searched for a query is widened by this much on both sides.
constexpr time_t kOrderSlack = 300;
// Lines of a time well past the query's end: this many in a row end the reading (a line with a
// damaged time does not).
constexpr int kPastEndLines = 16;
// Longest URL or site kept; longer ones are cut so a result line stays one console line.
constexpr size_t kTargetMax = 400;
// Longest decoded user name.
constexpr size_t kUserMax = 255;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int daysInMonth(int year, int month) { // month 1-12
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool parseDateTime(std::string_view line, std::tm* tm) {
    char text[64];
    if (line.size() >= sizeof text) return false;
    memcpy(text, line.data(), line.size());
    text[line.size()] = '\0';
    int y, mo, d, h, mi, s, used = 0;
    if (sscanf(text, "%d-%d-%d %d:%d:%d%n", &y, &mo, &d, &h, &mi, &s, &used) != 6) return false;
    if (text[used] != '\0') return false;
    if (y < 1970 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h < 0 ||
        h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return false;
    *tm = std::tm{};
    tm->tm_year = y - 1900;
    tm->tm_mon = mo - 1;
    tm->tm_mday = d;
    tm->tm_hour = h;
    tm->tm_min = mi;
    tm->tm_sec = 0; // buckets start on whole minutes
    tm->tm_isdst = -1;
    return true;
}

time_t localTime(std::tm tm) {
    tm.tm_isdst = -1;
    return mktime(&tm);
}

bool parseUnsigned(std::string_view field, uint64_t* value) {
    if (field.empty() || field.size() > 19) return false;
    uint64_t v = 0;
    for (char c : field) {
        if (!isDigit(c)) return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = v;
    return true;
}

// The timestamp at the start of a line ("seconds.millis"); -1 when the line has none.
time_t leadingTime(const char* p, const char* end) {
    const char* q = p;
    uint64_t v = 0;
    while (q < end && isDigit(*q) && q - p < 12)
        v = v * 10 + static_cast<uint64_t>(*q++ - '0');
    if (q == p || (q < end && *q != '.' && *q != ' ')) return -1;
    return static_cast<time_t>(v);
}

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

} // namespace

bool statsParseQuery(std::string_view text, StatsQuery* query, std::string* error) {
    std::string_view lines[4];
    int n = 0;
    while (!text.empty() && n < 4) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines[n++] = line;
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    }
    if (n < 3) {
        *error = "the query needs a start, an end and a resolution line";
        return false;
    }
    if (!parseDateTime(lines[0], &query->start)) {
        *error = "bad start date-time: " + std::string(lines[0]);
        return false;
    }
    if (!parseDateTime(lines[1], &query->end)) {
        *error = "bad end date-time: " + std::string(lines[1]);
        return false;
    }
    if (lines[2].size() != 1 || lines[2][0] < '0' || lines[2][0] > '4') {
        *error = "bad resolution (0-4): " + std::string(lines[2]);
        return false;
    }
    query->resolution = lines[2][0] - '0';
    query->user = n == 4 ? std::string(lines[3]) : std::string();
    if (query->user.size() > kUserMax) {
        *error = "user name too long";
        return false;
    }
    return true;
}

bool statsBuckets(const StatsQuery& query, std::vector<time_t>* bounds, std::string* error) {
    bounds->clear();
    const time_t start = localTime(query.start);
    const time_t stop = localTime(query.end) + 60; // the end minute is covered
    if (start == -1 || stop <= start) return true;
    static const time_t kWidth[3] = {60, 600, 3600};
    if (query.resolution <= 2) {
        time_t width = kWidth[query.resolution];
        uint64_t count = static_cast<uint64_t>((stop - start + width - 1) / width);
        if (count > STATS_BUCKETS_MAX) {
            *error = "too many buckets: " + std::to_string(count);
            return false;
        }
        bounds->reserve(count + 1);
        for (uint64_t i = 0; i < count; ++i)
            bounds->push_back(start + static_cast<time_t>(i) * width);
        bounds->push_back(stop); // the last bucket ends with the end minute
        return true;
    }
    // Days and months follow the local calendar (a day across a clock change is 23 or 25 h).
    bounds->push_back(start);
    while (bounds->back() < stop) {
        if (bounds->size() > STATS_BUCKETS_MAX) {
            *error = "too many buckets";
            bounds->clear();
            return false;
        }
        std::tm tm = query.start;
        int i = static_cast<int>(bounds->size());
        if (query.resolution == 3) {
            tm.tm_mday += i;
        } else {
            int month = tm.tm_mon + i;
            tm.tm_year += month / 12;
            tm.tm_mon = month % 12;
            tm.tm_mday = std::min(tm.tm_mday, daysInMonth(tm.tm_year + 1900, tm.tm_mon + 1));
        }
        bounds->push_back(localTime(tm));
    }
    bounds->back() = stop; // the last bucket ends with the end minute
    return true;
}

namespace {

// The blanks (blank and tab) and line ends of the 64 bytes at base, as bit masks (bit i: byte
// base[i]). Bytes at and after end read as line ends; nothing past end is read.
void scanWindow(const char* base, const char* end, uint64_t* blanks, uint64_t* newlines) {
    const char* text = base;
    char tail[64];
    if (end - base < 64) {
        size_t n = static_cast<size_t>(end - base);
        memcpy(tail, base, n);
        memset(tail + n, '\n', sizeof tail - n);
        text = tail;
    }
    uint64_t b = 0;
    uint64_t n = 0;
#ifdef __SSE2__
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i newline = _mm_set1_epi8('\n');
    for (int i = 0; i < 4; ++i) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * i));
        uint32_t vb = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, tab))));
        uint32_t vn = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, newline)));
        b |= static_cast<uint64_t>(vb) << (16 * i);
        n |= static_cast<uint64_t>(vn) << (16 * i);
    }
#else
    for (int i = 0; i < 64; ++i) {
        b |= static_cast<uint64_t>(text[i] == ' ' || text[i] == '\t') << i;
        n |= static_cast<uint64_t>(text[i] == '\n') << i;
    }
#endif
    *blanks = b;
    *newlines = n;
}

enum class LineResult { Parsed, Malformed, Empty };

// Parses the line at p, which ends at the next line end or at end; *next is where the following
// line starts. Fields are found 64 bytes at a time: the bits where a run of non-blanks starts and
// ends, read off in order.
LineResult parseLineAt(const char* p, const char* end, StatsLogLine* line, const char** next) {
    if (p == end || *p == '\n' || (*p == '\r' && (p + 1 == end || p[1] == '\n'))) {
        *next = p == end ? end : p + 1 + (*p == '\r' && p + 1 < end);
        return LineResult::Empty;
    }
    // The first eight fields: time, elapsed, client, code/status, bytes, method, URL, user.
    const char* from[8];
    const char* to[8];
    int starts = 0;
    int ends = 0;
    const char* nl = nullptr;
    uint64_t carry = 1; // the byte before the line counts as a blank
    for (const char* base = p;; base += 64) {
        uint64_t blanks;
        uint64_t newlines;
        scanWindow(base, end, &blanks, &newlines);
        const uint64_t sep = blanks | newlines;
        const uint64_t afterSep = sep << 1 | carry;
        carry = sep >> 63;
        uint64_t s = ~sep & afterSep; // first bytes of fields
        uint64_t e = sep & ~afterSep; // first separators after fields
        if (newlines) {
            const uint64_t first = newlines & (~newlines + 1);
            s &= first - 1;
            e &= first | (first - 1);
            nl = base + __builtin_ctzll(newlines);
        }
        for (; s && starts < 8; s &= s - 1)
            from[starts++] = base + __builtin_ctzll(s);
        for (; e && ends < 8; e &= e - 1)
            to[ends++] = base + __builtin_ctzll(e);
        if (nl || ends == 8) break;
    }
    if (!nl) {
        nl = static_cast<const char*>(memchr(to[7], '\n', static_cast<size_t>(end - to[7])));
        if (!nl) nl = end;
    }
    for (int i = ends; i < 8; ++i) { // a short line: the missing fields are empty
        if (i >= starts) from[i] = nl;
        to[i] = nl;
    }
    *next = nl == end ? end : nl + 1;
    auto field = [&](int i) {
        return std::string_view(from[i], static_cast<size_t>(to[i] - from[i]));
    };
    // A CR of a CR LF line end is no part of the last field read.
    std::string_view user = field(7);
    if (!user.empty() && to[7] == nl && user.back() == '\r') user.remove_suffix(1);

    // The time: seconds, then optionally a dot and a fraction.
    const char* q = from[0];
    uint64_t seconds = 0;
    for (; q < to[0] && isDigit(*q); ++q) {
        if (q - from[0] == 19) return LineResult::Malformed;
        seconds = seconds * 10 + static_cast<uint64_t>(*q - '0');
    }
    if (q == from[0] || seconds > 0x7fffffffffull) return LineResult::Malformed;
    if (q < to[0] && *q++ != '.') return LineResult::Malformed;
    for (; q < to[0]; ++q)
        if (!isDigit(*q)) return LineResult::Malformed;
    const char* slash = from[3];
    while (slash < to[3] && *slash != '/')
        ++slash;
    if (slash == to[3] || user.empty()) return LineResult::Malformed;
    if (!parseUnsigned(field(4), &line->bytes)) return LineResult::Malformed;
    line->method = field(5);
    line->url = field(6);
    line->user = user;
    line->time = static_cast<time_t>(seconds);
    return LineResult::Parsed;
}

} // namespace

bool statsParseLine(const char* begin, const char* end, StatsLogLine* line) {
    const char* next = nullptr;
    return parseLineAt(begin, end, line, &next) == LineResult::Parsed;
}

bool statsDecodeUser(std::string_view logged, std::string* out) {
    out->clear();
    for (size_t i = 0; i < logged.size(); ++i) {
        char c = logged[i];
        if (c == '%' && i + 2 < logged.size() &&
            isxdigit(static_cast<unsigned char>(logged[i + 1])) &&
            isxdigit(static_cast<unsigned char>(logged[i + 2]))) {
            char hex[3] = {logged[i + 1], logged[i + 2], '\0'};
            c = static_cast<char>(strtol(hex, nullptr, 16));
            i += 2;
        }
        out->push_back(c);
    }
    return out->size() <= kUserMax;
}

std::string_view statsSite(std::string_view method, std::string_view url) {
    std::string_view host = url;
    if (method != "CONNECT") {
        size_t scheme = host.find("://");
        if (scheme != std::string_view::npos) host.remove_prefix(scheme + 3);
        size_t path = 0; // a plain loop: find_first_of searches the set once a byte
        while (path < host.size() && host[path] != '/' && host[path] != '?' && host[path] != '#')
            ++path;
        host = host.substr(0, path);
        size_t at = host.rfind('@');
        if (at != std::string_view::npos) host.remove_prefix(at + 1);
    }
    if (!host.empty() && host.front() == '[') { // an IPv6 literal keeps its brackets
        size_t close = host.find(']');
        return close == std::string_view::npos ? host : host.substr(0, close + 1);
    }
    size_t colon = host.rfind(':');
    if (colon != std::string_view::npos) host = host.substr(0, colon);
    return host;
}

// Collector ------------------------------------------------------------------------------------

namespace {

constexpr uint64_t kEmptyPair = ~0ull;

uint64_t mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    return x ^ (x >> 33);
}

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

StatsCollector::StatsCollector(StatsKind kind, const StatsQuery& query, std::vector<time_t> bounds)
    : m_kind(kind), m_query(query), m_bounds(std::move(bounds)) {
    if (m_kind == StatsKind::Data)
        m_bytes.assign(m_bounds.empty() ? 0 : m_bounds.size() - 1, 0);
    else
        m_pairs.assign(1 << 12, Pair{kEmptyPair, 0});
}

StatsCollector::~StatsCollector() = default;

void StatsCollector::growPairs() {
    std::vector<Pair> bigger(m_pairs.size() * 2, Pair{kEmptyPair, 0});
    size_t mask = bigger.size() - 1;
    for (const Pair& p : m_pairs) {
        if (p.key == kEmptyPair) continue;
        size_t i = mix(p.key) & mask;
        while (bigger[i].key != kEmptyPair)
            i = (i + 1) & mask;
        bigger[i] = p;
    }
    m_pairs.swap(bigger);
}

void StatsCollector::countPair(uint64_t key) {
    if (m_pairCount * 10 >= m_pairs.size() * 7) growPairs();
    size_t mask = m_pairs.size() - 1;
    for (size_t i = mix(key) & mask;; i = (i + 1) & mask) {
        Pair& p = m_pairs[i];
        if (p.key == key) {
            if (p.count != UINT32_MAX) ++p.count;
            return;
        }
        if (p.key == kEmptyPair) {
            p = Pair{key, 1};
            ++m_pairCount;
            return;
        }
    }
}

void StatsCollector::flushBatch() {
    const size_t n = m_batchSize;
    m_batchSize = 0;
    if (n == 0) return;
    const bool url = m_kind == StatsKind::Url;
    for (size_t i = 0; i < n; ++i) {
        m_sites.prefetchSlot(m_batch[i].siteHash);
        if (url) m_rests.prefetchSlot(m_batch[i].restHash);
    }
    for (size_t i = 0; i < n; ++i) {
        m_sites.prefetchText(m_batch[i].siteHash);
        if (url) m_rests.prefetchText(m_batch[i].restHash);
    }
    for (size_t i = 0; i < n; ++i) {
        Pending& q = m_batch[i];
        uint32_t site = m_sites.intern(q.site, q.siteHash);
        uint32_t rest = url ? m_rests.intern(q.rest, q.restHash) : 0;
        if (site >= (1u << 24) || rest >= (1u << 24)) {
            m_overflow = true;
            q.key = kEmptyPair;
            continue;
        }
        q.key = static_cast<uint64_t>(q.user) << 48 | static_cast<uint64_t>(site) << 24 | rest;
    }
    // A table about to grow is grown first, so that the slots fetched stay the slots used.
    if ((m_pairCount + n) * 10 >= m_pairs.size() * 7) growPairs();
    const size_t mask = m_pairs.size() - 1;
    for (size_t i = 0; i < n; ++i)
        if (m_batch[i].key != kEmptyPair) __builtin_prefetch(&m_pairs[mix(m_batch[i].key) & mask]);
    for (size_t i = 0; i < n; ++i)
        if (m_batch[i].key != kEmptyPair) countPair(m_batch[i].key);
}

void StatsCollector::count(const StatsLogLine& line) {
    if (line.time < first() || line.time >= last()) return;
    std::string_view user = line.user;
    if (user.find('%') != std::string_view::npos) {
        if (!statsDecodeUser(user, &m_decoded)) {
            ++m_malformed;
            return;
        }
        user = m_decoded;
    }
    if (!m_query.user.empty() && user != m_query.user) return;
    if (m_kind == StatsKind::Data) {
        size_t i = m_cursor;
        if (!(m_bounds[i] <= line.time && line.time < m_bounds[i + 1])) {
            i = static_cast<size_t>(std::upper_bound(m_bounds.begin(), m_bounds.end(), line.time) -
                                    m_bounds.begin()) -
                1;
            m_cursor = i;
        }
        m_bytes[i] += line.bytes;
        return;
    }
    Pending& q = m_batch[m_batchSize];
    q.user = m_users.intern(user);
    if (q.user >= 0xffff) {
        m_overflow = true;
        return;
    }
    if (m_kind == StatsKind::Site) {
        q.site = statsSite(line.method, line.url);
    } else {
        // A URL as its scheme and host, and the rest (path and query), each kept once.
        std::string_view url = line.url.substr(0, kTargetMax);
        size_t scheme = url.find("://");
        size_t rest = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
        if (rest == std::string_view::npos) rest = url.size();
        q.site = url.substr(0, rest);
        q.rest = url.substr(rest);
        q.restHash = StatsStrings::hash(q.rest);
    }
    q.siteHash = StatsStrings::hash(q.site);
    if (++m_batchSize == kBatch) flushBatch();
}

void StatsCollector::addLine(const char* begin, const char* end) {
    StatsLogLine line;
    if (statsParseLine(begin, end, &line))
        count(line);
    else
        ++m_malformed;
    flushBatch();
}

bool StatsCollector::addRange(const char* begin, const char* end) {
    const time_t stop = last() + kOrderSlack;
    for (const char* p = begin; p < end;) {
        StatsLogLine line;
        LineResult r = parseLineAt(p, end, &line, &p);
        if (r == LineResult::Malformed) {
            ++m_malformed;
        } else if (r == LineResult::Parsed) {
            if (line.time < stop) {
                m_pastEnd = 0;
            } else if (++m_pastEnd == kPastEndLines) {
                flushBatch();
                return false;
            }
            count(line);
        }
    }
    flushBatch();
    return true;
}

namespace {

const char* lineStartAtOrAfter(const char* data, size_t size, size_t at) {
    if (at == 0) return data;
    const void* nl = memchr(data + at - 1, '\n', size - (at - 1));
    return nl ? static_cast<const char*>(nl) + 1 : data + size;
}

// The first line whose time is at least t, in a file in time order (lines without a time are
// passed over as earlier ones).
const char* searchTime(const char* data, size_t size, time_t t) {
    size_t lo = 0;
    size_t hi = size;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        const char* s = lineStartAtOrAfter(data, size, mid);
        size_t si = static_cast<size_t>(s - data);
        if (si >= hi) {
            hi = mid;
            continue;
        }
        // A line without a time is judged by the next line that has one.
        const char* probe = s;
        time_t probeTime = -1;
        for (int n = 0; n < 64 && probe < data + hi && probeTime < 0; ++n) {
            probeTime = leadingTime(probe, data + size);
            if (probeTime < 0) probe = lineStartAtOrAfter(data, size, probe - data + 1);
        }
        if (probeTime >= 0 && probeTime < t) {
            lo = static_cast<size_t>(lineStartAtOrAfter(data, size, probe - data + 1) - data);
        } else {
            hi = si;
        }
    }
    return data + lo;
}

bool isGzip(int fd) {
    unsigned char magic[2];
    return pread(fd, magic, 2, 0) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
}

} // namespace

// Reads a file from offset from (or a gzip stream) in blocks, handing complete lines on.
bool StatsCollector::addStream(int fd, off_t from, void* gzHandle, std::string* error) {
    gzFile gz = static_cast<gzFile>(gzHandle);
    std::vector<char> buf(4 << 20);
    size_t kept = 0;
    off_t at = from;
    for (;;) {
        ssize_t n;
        if (gz) {
            n = gzread(gz, buf.data() + kept, static_cast<unsigned>(buf.size() - kept));
            if (n < 0) {
                int code = 0;
                *error = std::string("compressed log: ") + gzerror(gz, &code);
                return false;
            }
        } else {
            n = pread(fd, buf.data() + kept, buf.size() - kept, at);
            if (n < 0) {
                if (errno == EINTR) continue;
                *error = strerror(errno);
                return false;
            }
            at += n;
        }
        size_t have = kept + static_cast<size_t>(n);
        if (n == 0) {
            addRange(buf.data(), buf.data() + have);
            return true;
        }
        const char* lastNl = static_cast<const char*>(memrchr(buf.data(), '\n', have));
        if (!lastNl) {
            // A line longer than the buffer is no log line: counted, skipped.
            if (have == buf.size()) {
                ++m_malformed;
                kept = 0;
            } else {
                kept = have;
            }
            continue;
        }
        size_t done = static_cast<size_t>(lastNl - buf.data()) + 1;
        if (!addRange(buf.data(), buf.data() + done)) return true;
        kept = have - done;
        memmove(buf.data(), buf.data() + done, kept);
    }
}

bool StatsCollector::addFile(int fd, std::string* error) {
    if (m_bounds.empty()) return true;
    if (isGzip(fd)) {
        int copy = lseek(fd, 0, SEEK_SET) == 0 ? dup(fd) : -1; // dup shares the offset
        gzFile gz = copy < 0 ? nullptr : gzdopen(copy, "rb");
        if (!gz) {
            if (copy >= 0) close(copy);
            *error = "cannot read a compressed log";
            return false;
        }
        gzbuffer(gz, 1 << 18);
        bool ok = addStream(-1, 0, gz, error);
        gzclose(gz);
        return ok;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *error = strerror(errno);
        return false;
    }
    size_t size = static_cast<size_t>(st.st_size);
    if (size == 0) return true;
    // The range is searched through a mapping (a few pages are touched) and then read in
    // blocks, so that memory stays small however large the log.
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        *error = strerror(errno);
        return false;
    }
    const char* data = static_cast<const char*>(map);
    off_t from = searchTime(data, size, first() - kOrderSlack) - data;
    munmap(map, size);
    return addStream(fd, from, nullptr, error);
}

namespace {

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

} // namespace

bool StatsCollector::write(FILE* out) const {
    if (m_kind == StatsKind::Data) {
        for (uint64_t b : m_bytes)
            fprintf(out, "%llu\n", static_cast<unsigned long long>(b));
        return fflush(out) == 0 && !ferror(out);
    }
    // Users in byte order once, each with its field as written.
    std::vector<uint32_t> byName = m_users.ids();
    std::sort(byName.begin(), byName.end(),
              [&](uint32_t a, uint32_t b) { return m_users.at(a) < m_users.at(b); });
    std::vector<uint64_t> rank(byName.size());
    std::vector<std::string> userField(byName.size());
    for (uint32_t r = 0; r < byName.size(); ++r) {
        rank[byName[r]] = static_cast<uint64_t>(r) << 48;
        appendField(&userField[r], m_users.at(byName[r]));
        userField[r].push_back(' ');
    }
    // The pairs in the order of the result: by the user's rank, then by count, highest first,
    // then by site and rest in the order the log first names them (their numbers). Pairs counted
    // once (most URLs of a long period) are sorted as plain numbers of rank, site and rest packed
    // into as few bits as they need, the others as pairs; for each user the others come first.
    const int restBits = bitWidth(std::max<size_t>(m_rests.size(), 1));
    const int siteBits = bitWidth(std::max<size_t>(m_sites.size(), 1));
    const int rankBits = bitWidth(std::max<size_t>(byName.size(), 1));
    auto pack = [&](uint64_t key) {
        return rank[key >> 48] >> 48 << (siteBits + restBits) | (key >> 24 & 0xffffff) << restBits |
               (key & 0xffffff);
    };
    auto unpack = [&](uint64_t packed) {
        return packed >> (siteBits + restBits) << 48 |
               (packed >> restBits & ((uint64_t(1) << siteBits) - 1)) << 24 |
               (packed & ((uint64_t(1) << restBits) - 1));
    };
    constexpr uint64_t kSiteRest = (uint64_t(1) << 48) - 1;
    std::vector<uint64_t> once;
    std::vector<Pair> more;
    once.reserve(m_pairCount);
    for (const Pair& p : m_pairs) {
        if (p.key == kEmptyPair) continue;
        if (p.count == 1)
            once.push_back(pack(p.key));
        else
            more.push_back(Pair{rank[p.key >> 48] | (p.key & kSiteRest), p.count});
    }
    std::vector<Pair>().swap(m_pairs);
    std::sort(more.begin(), more.end(), [](const Pair& a, const Pair& b) {
        if (a.key >> 48 != b.key >> 48) return a.key < b.key;
        if (a.count != b.count) return a.count > b.count;
        return a.key < b.key;
    });
    radixSort(&once, rankBits + siteBits + restBits);
    // Which sites and rests can be written as they are (no quoting, no escape).
    auto plainFlags = [](const StatsStrings& strings) {
        std::vector<uint8_t> plain(strings.size());
        for (uint32_t i = 0; i < plain.size(); ++i) {
            std::string_view s = strings.at(i);
            plain[i] = s.find('\'') == std::string_view::npos && !needsQuotes(s);
        }
        return plain;
    };
    const bool url = m_kind == StatsKind::Url;
    const std::vector<uint8_t> plainSite = plainFlags(m_sites);
    const std::vector<uint8_t> plainRest = url ? plainFlags(m_rests) : std::vector<uint8_t>();
    BlockWriter writer(out);
    std::string target;
    char number[24];
    // The texts of a line a few lines ahead are asked for while this one is written.
    constexpr size_t kAhead = 8;
    auto prefetch = [&](uint64_t key) {
        m_sites.prefetch(static_cast<uint32_t>(key >> 24) & 0xffffff);
        if (url) m_rests.prefetch(static_cast<uint32_t>(key) & 0xffffff);
    };
    size_t i = 0;
    size_t j = 0;
    while (i < more.size() || j < once.size()) {
        uint64_t key;
        uint32_t count;
        if (i < more.size() &&
            (j == once.size() || more[i].key >> 48 <= once[j] >> (siteBits + restBits))) {
            if (i + kAhead < more.size()) prefetch(more[i + kAhead].key);
            key = more[i].key;
            count = more[i].count;
            ++i;
        } else {
            if (j + kAhead < once.size()) prefetch(unpack(once[j + kAhead]));
            key = unpack(once[j]);
            count = 1;
            ++j;
        }
        writer.append(userField[key >> 48]);
        char* e = number + sizeof number;
        *--e = ' ';
        do {
            *--e = static_cast<char>('0' + count % 10);
            count /= 10;
        } while (count);
        writer.append(e, static_cast<size_t>(number + sizeof number - e));
        const uint32_t site = static_cast<uint32_t>(key >> 24) & 0xffffff;
        const uint32_t rest = static_cast<uint32_t>(key) & 0xffffff;
        const std::string_view siteText = m_sites.at(site);
        const std::string_view restText = url ? m_rests.at(rest) : std::string_view();
        if (plainSite[site] && (!url || plainRest[rest]) &&
            !(siteText.empty() && restText.empty())) {
            writer.append(siteText);
            writer.append(restText);
        } else {
            target.assign(siteText);
            target.append(restText);
            std::string field;
            appendField(&field, target);
            writer.append(field);
        }
        writer.append("\n", 1);
    }
    return writer.flush() && fflush(out) == 0 && !ferror(out);
}
void StatsCollector::write(std::string* out) const {
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    write(f);
    fclose(f);
    out->assign(text, size);
    free(text);
}

time_t statsFirstTime(int fd) {
    char buf[4096];
    ssize_t n;
    if (isGzip(fd)) {
        int copy = lseek(fd, 0, SEEK_SET) == 0 ? dup(fd) : -1; // dup shares the offset
        gzFile gz = copy < 0 ? nullptr : gzdopen(copy, "rb");
        if (!gz) {
            if (copy >= 0) close(copy);
            return -1;
        }
        n = gzread(gz, buf, sizeof buf);
        gzclose(gz);
    } else {
        n = pread(fd, buf, sizeof buf, 0);
    }
    if (n <= 0) return -1;
    return leadingTime(buf, buf + n);
}
