// The statistics tool's log reader: a log file, plain or gzip-compressed, handed on in blocks of
// whole lines; a plain file in time order is searched for the range instead of read whole.
#pragma once

#include <ctime>
#include <string>

// Lines of the log are in completion-time order only roughly (workers and clocks); the range
// searched for a query is widened by this much on both sides.
constexpr time_t STATS_ORDER_SLACK = 300;

// Where the reader hands what it reads.
class StatsLogSink {
  public:
    // A block of whole lines (at the end of the file, the last may lack its line end). false:
    // the lines lie past what is wanted, the reading may stop.
    virtual bool addBlock(const char* begin, const char* end) = 0;
    // A line longer than the reader's buffer (4 MB) was skipped: no log line.
    virtual void skippedLongLine() = 0;

  protected:
    ~StatsLogSink() = default;
};

// Reads a whole log file (plain or gzip-compressed, by its content) into sink; false with a
// reason. Of a plain file only the lines from the first whose time is at least from are read
// (found by a binary search, which passes over lines without a time).
bool statsReadLog(int fd, time_t from, StatsLogSink* sink, std::string* error);

// Time of the first line of a log file (plain or gzip-compressed), or -1 when none is read.
time_t statsFirstTime(int fd);
