// Fuzz target: getstats2's readers of outside bytes: the query file (parser and buckets), and the
// access log, whose user names and URLs come from clients: written to a file (plain or gzip) and
// read through the range search, the block reader with its line limit, the line parser and the
// collector, as getstats2 reads the current log. Input: a flag byte (bit 0: compress the log;
// bits 1-2: data, url or site; bit 3: the log bytes as a gzip file's deflate data), a byte choosing
// the line limit, then the query and the log (split as fuzzSplit does). A query that does not parse
// is replaced by one of 10 May 2024, the day of the seeds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <zlib.h>

#include "server/stats_collector.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool writeLog(const uint8_t* data, size_t size, uint8_t flags) {
    if (flags & 8) { // the bytes as the deflate data of a gzip file: damage for the inflater
        std::string file("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
        file.append(reinterpret_cast<const char*>(data), size);
        return fuzzWriteFile("access.log", reinterpret_cast<const uint8_t*>(file.data()),
                             file.size());
    }
    if (!(flags & 1)) return fuzzWriteFile("access.log", data, size);
    gzFile gz = gzopen("access.log", "wb1");
    if (!gz) return false;
    bool ok = size == 0 || gzwrite(gz, data, static_cast<unsigned>(size)) > 0;
    return gzclose(gz) == Z_OK && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    fuzzEnterWorkdir();
    static const bool kZone = (setenv("TZ", "UTC", 1), tzset(), true);
    (void)kZone;
    const uint8_t flags = data[0];
    // Line limits from 64 bytes to 16 KB, so that the inputs cross them.
    const size_t lineMax = size_t(64) << (data[1] % 9);
    const uint8_t *queryText, *log;
    size_t querySize, logSize;
    fuzzSplit(data + 2, size - 2, &queryText, &querySize, &log, &logSize);

    StatsQuery query;
    std::string error;
    std::string text(reinterpret_cast<const char*>(queryText), querySize);
    std::vector<time_t> bounds;
    if (!statsParseQuery(text, &query, &error) || !statsBuckets(query, &bounds, &error) ||
        bounds.size() > 2000) {
        statsParseQuery("2024-05-10 00:00:00\n2024-05-10 23:59:00\n2\n", &query, &error);
        statsBuckets(query, &bounds, &error);
    }
    const StatsKind kinds[] = {StatsKind::Data, StatsKind::Url, StatsKind::Site, StatsKind::Url};
    StatsCollector collector(kinds[(flags >> 1) & 3], query, std::move(bounds));
    if (!writeLog(log, logSize, flags)) return 0;
    int fd = open("access.log", O_RDONLY);
    if (fd < 0) return 0;
    collector.addFile(fd, &error, lineMax);
    (void)statsFirstTime(fd);
    close(fd);
    std::string out;
    std::move(collector).write(&out);
    return 0;
}
