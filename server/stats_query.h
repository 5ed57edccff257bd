// The statistics tool's query: the time range, its buckets and the user asked about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

enum class StatsKind { Data, Url, Site };

// Longest user name, in the query and decoded from the log.
constexpr size_t STATS_USER_MAX = 255;

// The query file: start and end ("YYYY-MM-DD HH:MM:SS", local time of the server), the
// resolution code (0 minute, 1 ten minutes, 2 hour, 3 day, 4 calendar month), an optional user
// name (empty: all users), then optional lines of a keyword and its value: "group NAME" (the
// requests of the group's users) and "lines N" (at most N lines of a url or site list). Lines end
// with LF or CR LF.
struct StatsQuery {
    std::tm start{};
    std::tm end{};
    int resolution = 1;
    std::string user;  // empty: all users
    std::string group; // empty: no group
    // The group's users by the server's user list, sorted (statsSetMembers); the lists name
    // their requests after the group.
    std::vector<std::string> members;
    uint64_t lineLimit = UINT64_MAX; // url and site lists: lines written at most
};

// Longest query file read.
constexpr size_t STATS_QUERY_MAX = 4096;

// Whether a user's requests count for the query (its user, its group's users, or everyone).
bool statsAdmits(const StatsQuery& query, std::string_view user);

// Parses the query file's text. true, or false with a reason in error.
bool statsParseQuery(std::string_view text, StatsQuery* query, std::string* error);

// Upper bound of buckets of one query (a month per minute is 44,640).
constexpr size_t STATS_BUCKETS_MAX = 1000000;

// The bucket boundaries of a query: bucket i covers [bounds[i], bounds[i+1]). The first starts
// at the start minute; each is as wide as the resolution (days and months follow the local
// calendar); the last is the first that covers the end minute. An end before the start gives
// no bucket. false with a reason when the count exceeds STATS_BUCKETS_MAX.
bool statsBuckets(const StatsQuery& query, std::vector<time_t>* bounds, std::string* error);
