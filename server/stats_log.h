// The statistics tool's log reader: a log file, plain or gzip-compressed, handed on in blocks of
// whole lines; a plain file in time order is searched for the range instead of read whole.
#pragma once

#include <ctime>
#include <string>

class StatsByteStream;

// Lines of the log are in completion-time order only roughly (workers and clocks); the range
// searched for a query is widened by this much on both sides.
constexpr time_t STATS_ORDER_SLACK = 300;

// Longest line the reader takes (and the size of its reads); a longer one is skipped whole.
constexpr size_t STATS_LINE_MAX = 4 << 20;

// Runs of lines well past the range read before the reader looks whether the reading may stop:
// in a plain file, and in a compressed one (which cannot be searched).
constexpr size_t STATS_PAST_END_LINES = 16;
constexpr size_t STATS_PAST_END_LINES_GZ = 100000;

// Where the reader hands what it reads.
class StatsLogSink {
  public:
    // A block of whole lines (at the end of the file, the last may lack its line end). The sink
    // stops after every STATS_PAST_END_LINES-th line of a run of lines well past what is
    // wanted, and returns where it stopped (end when it took the block whole).
    virtual const char* addBlock(const char* begin, const char* end) = 0;
    // How many lines in a row, up to the last one taken, lie well past what is wanted.
    virtual size_t pastEndRun() const = 0;
    // A line longer than STATS_LINE_MAX was skipped up to its line end: no log line.
    virtual void skippedLongLine() = 0;
    // The rest of a damaged or cut short compressed file was skipped; what says how much.
    virtual void skippedRest(const std::string& what) = 0;
    // The text handed on next, from start on, lies at offset of the file being read (offset -1:
    // it is no file's own bytes, such as inflated text).
    virtual void textAt(const char* start, long long offset) {
        (void)start;
        (void)offset;
    }
    // The sink takes no more lines (what it makes of them has already failed): the reading
    // stops after the block at hand.
    virtual bool takesNoMore() const { return false; }

  protected:
    ~StatsLogSink() = default;
};

// Reads a log file (plain or gzip-compressed, by its content, inflated here) into sink; false
// with a reason.
// A plain file is read from the first line whose time is at least from, found by a binary
// search that judges a place by the middle one of a few timed lines there (so that one damaged
// time does not mislead it). When the sink stops in a run of lines past what it wants, the rest
// of a plain file is searched for lines before until (a clock that jumped ahead, then back) and
// the reading stops only when there are none; a compressed one stops after a run of
// STATS_PAST_END_LINES_GZ. The file is read with pread, never
// mapped: a log truncated meanwhile (rotation by copytruncate) is read as far as it lasts.
// lineMax: the longest line taken (smaller only to reach the limit in tests with small files).
bool statsReadLog(int fd, time_t from, time_t until, StatsLogSink* sink, std::string* error,
                  size_t lineMax = STATS_LINE_MAX);

// Reads the bytes of a compressed log (inflated by stream) into sink, the same way; false with
// a reason when the stream fails to be read. A damaged or cut short file is read up to the
// damage (its last partial line dropped), and the sink is told what was skipped.
bool statsReadStream(StatsByteStream* stream, StatsLogSink* sink, std::string* error,
                     size_t lineMax = STATS_LINE_MAX);

// Time of the first line of a log file (plain or gzip-compressed), or -1 when none is read.
time_t statsFirstTime(int fd);
