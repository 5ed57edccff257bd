// The statistics tool's byte streams: a gzip-compressed log inflated (ISA-L's igzip, or zlib),
// and a stream read ahead on a thread of its own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <sys/types.h>

// The bytes of a log, read in order.
class StatsByteStream {
  public:
    virtual ~StatsByteStream() = default;
    // Reads up to size bytes into buf: the count, 0 at the end, -1 with *error set.
    virtual ssize_t read(char* buf, size_t size, std::string* error) = 0;
    // Once read to its end: what of a damaged or cut short file was left unread ("" when
    // nothing was).
    virtual std::string skipped() const = 0;
};

enum class StatsInflater { Isal, Zlib };

// The inflater: ISA-L, or zlib when the environment's GETSTATS2_INFLATE is "zlib" (kept to
// compare the two).
StatsInflater statsInflater();

// Whether fd holds a gzip-compressed file (by its first bytes).
bool statsIsGzip(int fd);

// The inflated bytes of the gzip file fd (one member or several after one another), read with
// pread from its start. Damaged data or a file cut short ends the stream, with skipped() saying
// how much of the file was left; bytes after the last member that start no member are ignored.
// fd must stay open while the stream is in use.
std::unique_ptr<StatsByteStream> statsGunzip(int fd, StatsInflater inflater);

// The bytes of inner, read on a thread of its own in chunks of chunk bytes, at most chunks of
// them ahead of the reader. Dropping the stream stops the thread.
std::unique_ptr<StatsByteStream> statsReadAhead(std::unique_ptr<StatsByteStream> inner,
                                                size_t chunk = 1 << 20, size_t chunks = 8);
