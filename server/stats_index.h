// The statistics tool's summary of one log file: the bytes per user and minute, and the
// requests per user and site in each hour, with which the data and site queries over the file
// are answered exactly as reading it would answer them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class StatsByteStream;
class StatsCollector;

// A summary covers only a file whose lines are all well formed (no malformed line, no user name
// that does not decode, no line too long) and in time order (no line earlier than the one
// before): for such a file the lines a query counts are exactly those of its range, however the
// file is searched or where the reading stops. Any other file is read.
struct StatsIndex {
    bool usable = true;   // the file is one a summary covers (see above)
    uint64_t length = 0;  // bytes of the log's text summarised: up to the end of a whole line
    time_t lastTime = -1; // time of the last line summarised; -1: none
    std::vector<std::string> users; // decoded, by number
    std::vector<std::string> sites; // by number

    struct Minute {
        int64_t start;  // a multiple of 60
        uint32_t begin; // its first entry in bytes
    };
    struct UserBytes {
        uint32_t user;
        uint64_t bytes;
    };
    std::vector<Minute> minutes; // in time order
    std::vector<UserBytes> bytes;

    struct Hour {
        int64_t start;   // a multiple of 3600
        uint64_t offset; // where its first line starts in the log's text
        uint32_t begin;  // its first entry in counts
    };
    // The (user, site) pairs of an hour in the order the hour's lines first name them.
    struct PairCount {
        uint32_t user;
        uint32_t site;
        uint32_t count;
    };
    std::vector<Hour> hours; // in time order
    std::vector<PairCount> counts;
    // The pairs of the whole file in the order its lines first name them: what a range that
    // holds all of the file's hours counts.
    std::vector<PairCount> fileCounts;

    // Serialised sections (see stats_index.cpp): a summary loaded for a data query holds no
    // hours, one for a site query no minutes.
    enum Parts { kMinutes = 1, kHours = 2, kAll = 3 };
};

// Builds or continues a summary from log text (whole lines; the last one of a compressed file
// may lack its line end). Lines are taken up to the last line end of the text given, or, with
// final, all of them.
class StatsIndexBuilder {
  public:
    // Continues index (which must hold all its parts); a new one is empty.
    explicit StatsIndexBuilder(StatsIndex index);
    ~StatsIndexBuilder();
    StatsIndexBuilder(const StatsIndexBuilder&) = delete;
    StatsIndexBuilder& operator=(const StatsIndexBuilder&) = delete;

    // Reads a byte stream (the log's text from index.length on) to its end, telling read (when
    // given) the bytes of text it takes in each block. false with a reason when the stream
    // fails; a damaged compressed file makes the summary unusable.
    bool read(StatsByteStream* stream, bool final, std::string* error,
              const std::function<void(uint64_t)>& read = nullptr);
    // The summary, once read.
    StatsIndex take();

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The 64-bit little-endian words of the cache files.
void statsPut64(char* p, uint64_t v);
uint64_t statsGet64(const char* p);

// Appends the summary's parts to out (the payload of a cache file); loads them back, false for
// anything that is not a whole, well formed summary. Only what a query of [from, to) counts is
// loaded: the whole file's pairs when the range holds all of its hours, else the pairs of the
// hours that meet the range (the other hours are kept without them). Such a summary counts
// queries of that range but cannot be continued.
void statsIndexWrite(const StatsIndex& index, std::string* out);
bool statsIndexRead(std::string_view payload, int parts, StatsIndex* index, time_t from = INT64_MIN,
                    time_t to = INT64_MAX);

// Keeps of a summary only what statsIndexRead would load for the parts and range (to count a
// query with a summary just built, in less memory).
void statsIndexKeep(StatsIndex* index, int parts, time_t from, time_t to);

// Counts a summarised file into the collector for its range: the data query from the minutes;
// the site query from the hours wholly inside the range, and the lines of an hour only partly
// inside from the log's text, which readText hands to the collector (the text between two
// offsets). false when readText fails, with its reason.
class StatsTextReader {
  public:
    // Hands the text [from, to) of the log, in whole lines, to the collector's addText.
    virtual bool read(uint64_t from, uint64_t to, StatsCollector* collector,
                      std::string* error) = 0;

  protected:
    ~StatsTextReader() = default;
};
bool statsIndexCount(const StatsIndex& index, bool site, StatsCollector* collector,
                     StatsTextReader* text, std::string* error);
