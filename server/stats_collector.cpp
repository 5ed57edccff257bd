// The statistics tool's collector: requests counted per bucket, or per (user, site, rest).
#include "server/stats_collector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/stats_progress.h"

namespace {

// Longest URL or site kept; longer ones are cut so a result line stays one console line.
constexpr size_t kTargetMax = 400;

uint64_t mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    return x ^ (x >> 33);
}

} // namespace

StatsCollector::StatsCollector(StatsKind kind, const StatsQuery& query, std::vector<time_t> bounds)
    : m_kind(kind), m_query(query), m_bounds(std::move(bounds)) {
    if (m_kind == StatsKind::Data)
        m_bytes.assign(m_bounds.empty() ? 0 : m_bounds.size() - 1, 0);
    else
        m_pairs.assign(1 << 12, StatsPair{StatsPair::kEmpty, 0});
}

StatsCollector::~StatsCollector() {
    for (int fd : m_fds)
        close(fd);
}

namespace {

// The hash of the first size bytes of a file; false when they cannot all be read.
bool headHash(int fd, uint32_t size, uint32_t* hash) {
    std::string head(size, '\0');
    if (!statsReadAt(fd, 0, size, head.data())) return false;
    *hash = StatsStrings::hash(head);
    return true;
}

} // namespace

int StatsCollector::keepReadingFile() {
    struct stat st;
    KeptFile kept{0, 0, 0};
    if (m_fds.size() >= StatsStrings::kFiles || fstat(m_readingFd, &st) != 0) return kNotKept;
    kept.headSize = static_cast<uint32_t>(std::min<off_t>(st.st_size, 4096));
    int fd = fcntl(m_readingFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return kNotKept;
    if (!headHash(fd, kept.headSize, &kept.headHash)) {
        close(fd);
        return kNotKept;
    }
    m_fds.push_back(fd);
    m_kept.push_back(kept);
    m_rests.setFiles(&m_fds);
    return static_cast<int>(m_fds.size()) - 1;
}

uint64_t StatsCollector::placeOf(std::string_view rest) {
    if (m_textOffset < 0 || !m_textStart || m_readingFd < 0) return StatsStrings::kNoPlace;
    if (m_readingFile == kNotYet) m_readingFile = keepReadingFile();
    if (m_readingFile == kNotKept) return StatsStrings::kNoPlace;
    const uint64_t offset =
        static_cast<uint64_t>(m_textOffset) + static_cast<uint64_t>(rest.data() - m_textStart);
    const uint64_t place =
        StatsStrings::place(static_cast<unsigned>(m_readingFile), offset, rest.size());
    if (place != StatsStrings::kNoPlace) {
        KeptFile& kept = m_kept[static_cast<size_t>(m_readingFile)];
        kept.end = std::max<uint64_t>(kept.end, offset + rest.size());
    }
    return place;
}

void StatsCollector::spillTo(int fd) {
    if (!keepsTextOut() || m_spill) {
        close(fd);
        return;
    }
    m_spill = std::make_unique<StatsSpill>(fd);
    m_rests.setSpill(m_spill.get());
}

bool StatsCollector::placesKept() const {
    if (m_rests.placesLost()) return false;
    for (size_t i = 0; i < m_fds.size(); ++i) {
        struct stat st;
        uint32_t hash = 0;
        if (fstat(m_fds[i], &st) != 0 || static_cast<uint64_t>(st.st_size) < m_kept[i].end ||
            !headHash(m_fds[i], m_kept[i].headSize, &hash) || hash != m_kept[i].headHash)
            return false;
    }
    return true;
}

void StatsCollector::growPairs(size_t atLeast) {
    size_t size = m_pairs.size() * 2;
    while (atLeast * 10 >= size * 7)
        size *= 2;
    std::vector<StatsPair> bigger(size, StatsPair{StatsPair::kEmpty, 0});
    size_t mask = bigger.size() - 1;
    for (const StatsPair& p : m_pairs) {
        if (p.key == StatsPair::kEmpty) continue;
        size_t i = mix(p.key) & mask;
        while (bigger[i].key != StatsPair::kEmpty)
            i = (i + 1) & mask;
        bigger[i] = p;
    }
    m_pairs.swap(bigger);
}

void StatsCollector::countPair(uint64_t key) {
    if (m_pairCount * 10 >= m_pairs.size() * 7) growPairs();
    size_t mask = m_pairs.size() - 1;
    for (size_t i = mix(key) & mask;; i = (i + 1) & mask) {
        StatsPair& p = m_pairs[i];
        if (p.key == key) {
            if (p.count != UINT32_MAX) ++p.count;
            return;
        }
        if (p.key == StatsPair::kEmpty) {
            p = StatsPair{key, 1};
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
        uint32_t rest = url ? m_rests.intern(q.rest, q.restHash, q.restPlace) : 0;
        if (site >= (1u << 24) || rest >= (1u << 24)) {
            m_overflow = true;
            q.key = StatsPair::kEmpty;
            continue;
        }
        q.key = static_cast<uint64_t>(q.user) << 48 | static_cast<uint64_t>(site) << 24 | rest;
    }
    // A table about to grow is grown first, so that the slots fetched stay the slots used.
    if ((m_pairCount + n) * 10 >= m_pairs.size() * 7) growPairs();
    const size_t mask = m_pairs.size() - 1;
    for (size_t i = 0; i < n; ++i)
        if (m_batch[i].key != StatsPair::kEmpty)
            __builtin_prefetch(&m_pairs[mix(m_batch[i].key) & mask]);
    for (size_t i = 0; i < n; ++i)
        if (m_batch[i].key != StatsPair::kEmpty) countPair(m_batch[i].key);
}

void StatsCollector::count(const StatsLogLine& line) {
    if (line.time < first() || line.time >= last() || m_overflow) return;
    std::string_view user = line.user;
    if (user.find('%') != std::string_view::npos) {
        if (!statsDecodeUser(user, &m_decoded)) {
            ++m_malformed;
            return;
        }
        user = m_decoded;
    }
    if ((!m_query.user.empty() || !m_query.group.empty()) && !statsAdmits(m_query, user)) return;
    if (!m_query.group.empty()) user = m_query.group; // the lists name the group
    if (m_kind == StatsKind::Data) {
        m_bytes[bucketOf(line.time)] += line.bytes;
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
        q.restPlace = placeOf(q.rest);
    }
    q.siteHash = StatsStrings::hash(q.site);
    if (++m_batchSize == kBatch) flushBatch();
}

bool StatsCollector::admits(std::string_view user) const {
    return (m_query.user.empty() && m_query.group.empty()) || statsAdmits(m_query, user);
}

size_t StatsCollector::bucketOf(time_t t) {
    if (!(m_bounds[m_cursor] <= t && t < m_bounds[m_cursor + 1]))
        m_cursor = static_cast<size_t>(std::upper_bound(m_bounds.begin(), m_bounds.end(), t) -
                                       m_bounds.begin()) -
                   1;
    return m_cursor;
}

void StatsCollector::addBytes(time_t minute, uint64_t bytes) {
    if (m_kind != StatsKind::Data || minute < first() || minute >= last()) return;
    m_bytes[bucketOf(minute)] += bytes;
}

uint32_t StatsCollector::listUser(std::string_view user) {
    flushBatch(); // lines counted before come first
    uint32_t u = m_users.intern(m_query.group.empty() ? user : std::string_view(m_query.group));
    if (u < 0xffff) return u;
    m_overflow = true;
    return STATS_NO_NUMBER;
}

uint32_t StatsCollector::listSite(std::string_view site) {
    flushBatch();
    uint32_t s = m_sites.intern(site);
    if (s < (1u << 24)) return s;
    m_overflow = true;
    return STATS_NO_NUMBER;
}

void StatsCollector::expectPairs(size_t n) {
    // A user's or group's query counts a part of them only.
    if (m_kind != StatsKind::Data && m_query.user.empty() && m_query.group.empty() &&
        n > m_pairCount && (m_pairCount + n) * 10 >= m_pairs.size() * 7)
        growPairs(m_pairCount + n);
}

void StatsCollector::addPairCounts(const uint32_t* users, const uint32_t* sites,
                                   const uint32_t* counts, size_t n) {
    if ((m_pairCount + n) * 10 >= m_pairs.size() * 7) growPairs();
    const size_t mask = m_pairs.size() - 1;
    uint64_t keys[64];
    for (size_t done = 0; done < n;) {
        const size_t batch = std::min<size_t>(64, n - done);
        for (size_t i = 0; i < batch; ++i) {
            keys[i] = static_cast<uint64_t>(users[done + i]) << 48 |
                      static_cast<uint64_t>(sites[done + i]) << 24;
            __builtin_prefetch(&m_pairs[mix(keys[i]) & mask]);
        }
        for (size_t i = 0; i < batch; ++i) {
            if (users[done + i] == STATS_NO_NUMBER || sites[done + i] == STATS_NO_NUMBER) continue;
            const uint32_t count = counts[done + i];
            for (size_t j = mix(keys[i]) & mask;; j = (j + 1) & mask) {
                StatsPair& p = m_pairs[j];
                if (p.key == keys[i]) {
                    p.count = static_cast<uint32_t>(
                        std::min<uint64_t>(UINT32_MAX, static_cast<uint64_t>(p.count) + count));
                    break;
                }
                if (p.key == StatsPair::kEmpty) {
                    p = StatsPair{keys[i], count};
                    ++m_pairCount;
                    break;
                }
            }
        }
        done += batch;
    }
}

void StatsCollector::addLine(const char* begin, const char* end) {
    StatsLogLine line;
    if (statsParseLine(begin, end, &line))
        count(line);
    else
        ++m_malformed;
    flushBatch();
}

const char* StatsCollector::addBlock(const char* begin, const char* end) {
    const char* stop = addRange(begin, end);
    if (m_progress) m_progress->advance(static_cast<uint64_t>(stop - begin));
    return stop;
}

const char* StatsCollector::addRange(const char* begin, const char* end) {
    const time_t stop = last() + STATS_ORDER_SLACK;
    for (const char* p = begin; p < end;) {
        StatsLogLine line;
        StatsLineResult r = statsParseLineAt(p, end, &line, &p);
        if (r == StatsLineResult::Malformed) {
            ++m_malformed;
        } else if (r == StatsLineResult::Parsed) {
            if (line.time >= stop) {
                if (++m_pastEnd % STATS_PAST_END_LINES == 0 && p < end) {
                    flushBatch();
                    return p;
                }
                continue;
            }
            m_outOfOrder += m_pastEnd;
            m_pastEnd = 0;
            count(line);
        }
    }
    flushBatch();
    return end;
}

bool StatsCollector::addFile(int fd, std::string* error, size_t lineMax) {
    if (m_bounds.empty()) return true;
    m_pastEnd = 0; // a run at the end of the file before is no run in this one
    m_skipped.clear();
    if (keepsTextOut()) m_readingFd = fd;
    const bool ok = statsReadLog(fd, first() - STATS_ORDER_SLACK, last() + STATS_ORDER_SLACK, this,
                                 error, lineMax);
    m_readingFd = -1;
    m_readingFile = kNotYet;
    m_textOffset = -1;
    return ok;
}

bool StatsCollector::addStream(StatsByteStream* stream, std::string* error, size_t lineMax) {
    if (m_bounds.empty()) return true;
    m_pastEnd = 0;
    m_skipped.clear();
    return statsReadStream(stream, this, error, lineMax);
}
