// The statistics tool's query: the time range, its buckets and the user asked about.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

enum class StatsKind { Data, Url, Site };

// Longest user name, in the query and decoded from the log.
constexpr size_t STATS_USER_MAX = 255;

// The query file: start and end ("YYYY-MM-DD HH:MM:SS", local time of the server), the
// resolution code (0 minute, 1 ten minutes, 2 hour, 3 day, 4 calendar month) and an optional
// user name. Lines end with LF or CR LF.
struct StatsQuery {
    std::tm start{};
    std::tm end{};
    int resolution = 1;
    std::string user; // empty: all users
};

// Parses the query file's text. true, or false with a reason in error.
bool statsParseQuery(std::string_view text, StatsQuery* query, std::string* error);

// Upper bound of buckets of one query (a month per minute is 44,640).
constexpr size_t STATS_BUCKETS_MAX = 1000000;

// The bucket boundaries of a query: bucket i covers [bounds[i], bounds[i+1]). The first starts
// at the start minute; each is as wide as the resolution (days and months follow the local
// calendar); the last is the first that covers the end minute. An end before the start gives
// no bucket. false with a reason when the count exceeds STATS_BUCKETS_MAX.
bool statsBuckets(const StatsQuery& query, std::vector<time_t>* bounds, std::string* error);
