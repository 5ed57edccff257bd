// The parser of Squid's native access-log lines: fields found 64 bytes at a time.
#include "server/stats_line.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "server/stats_query.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
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

// The first eight fields of a line (time, elapsed, client, code/status, bytes, method, URL,
// user) and where the line ends (its LF, or the end of the text).
struct LineFields {
    const char* from[8];
    const char* to[8];
    const char* nl;
};

// Finds the fields of the line at p: the bits where a run of non-blanks starts and ends, read
// off in order. The fields a short line lacks are empty, at its end.
void findFields(const char* p, const char* end, LineFields* f) {
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
            f->from[starts++] = base + __builtin_ctzll(s);
        for (; e && ends < 8; e &= e - 1)
            f->to[ends++] = base + __builtin_ctzll(e);
        if (nl || ends == 8) break;
    }
    if (!nl) {
        nl = static_cast<const char*>(memchr(f->to[7], '\n', static_cast<size_t>(end - f->to[7])));
        if (!nl) nl = end;
    }
    for (int i = ends; i < 8; ++i) {
        if (i >= starts) f->from[i] = nl;
        f->to[i] = nl;
    }
    f->nl = nl;
}

// The time field: seconds, then optionally a dot and a fraction. false when malformed.
bool parseTimeField(const char* from, const char* to, time_t* time) {
    const char* q = from;
    uint64_t seconds = 0;
    for (; q < to && isDigit(*q); ++q) {
        if (q - from == 19) return false;
        seconds = seconds * 10 + static_cast<uint64_t>(*q - '0');
    }
    if (q == from || seconds > 0x7fffffffffull) return false;
    if (q < to && *q++ != '.') return false;
    for (; q < to; ++q)
        if (!isDigit(*q)) return false;
    *time = static_cast<time_t>(seconds);
    return true;
}

} // namespace

StatsLineResult statsParseLineAt(const char* p, const char* end, StatsLogLine* line,
                                 const char** next) {
    if (p == end || *p == '\n' || (*p == '\r' && (p + 1 == end || p[1] == '\n'))) {
        *next = p == end ? end : p + 1 + (*p == '\r' && p + 1 < end);
        return StatsLineResult::Empty;
    }
    LineFields f;
    findFields(p, end, &f);
    *next = f.nl == end ? end : f.nl + 1;
    auto field = [&](int i) {
        return std::string_view(f.from[i], static_cast<size_t>(f.to[i] - f.from[i]));
    };
    // A CR of a CR LF line end is no part of the last field read.
    std::string_view user = field(7);
    if (!user.empty() && f.to[7] == f.nl && user.back() == '\r') user.remove_suffix(1);
    time_t time = 0;
    if (!parseTimeField(f.from[0], f.to[0], &time)) return StatsLineResult::Malformed;
    const char* slash = f.from[3];
    while (slash < f.to[3] && *slash != '/')
        ++slash;
    if (slash == f.to[3] || user.empty()) return StatsLineResult::Malformed;
    if (!parseUnsigned(field(4), &line->bytes)) return StatsLineResult::Malformed;
    line->method = field(5);
    line->url = field(6);
    line->user = user;
    line->time = time;
    return StatsLineResult::Parsed;
}

time_t statsLeadingTime(const char* p, const char* end) {
    const char* q = p;
    uint64_t v = 0;
    while (q < end && isDigit(*q) && q - p < 12)
        v = v * 10 + static_cast<uint64_t>(*q++ - '0');
    if (q == p || (q < end && *q != '.' && *q != ' ')) return -1;
    return static_cast<time_t>(v);
}

bool statsParseLine(const char* begin, const char* end, StatsLogLine* line) {
    const char* next = nullptr;
    return statsParseLineAt(begin, end, line, &next) == StatsLineResult::Parsed;
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
    return out->size() <= STATS_USER_MAX;
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
