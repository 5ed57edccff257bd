// The statistics query: its file parsed, and its time range cut into calendar buckets.
#include "server/stats_query.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

int daysInMonth(int year, int month) { // month 1-12
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A decimal number as scanf's %d reads it (blanks before it, a sign), refused when it does not
// fit an int instead of wrapping round.
bool parseInt(std::string_view* text, int* value) {
    size_t i = 0;
    while (i < text->size() && isspace(static_cast<unsigned char>((*text)[i])))
        ++i;
    bool negative = i < text->size() && (*text)[i] == '-';
    if (i < text->size() && ((*text)[i] == '-' || (*text)[i] == '+')) ++i;
    size_t digits = i;
    int64_t v = 0;
    for (; i < text->size() && (*text)[i] >= '0' && (*text)[i] <= '9'; ++i) {
        v = v * 10 + ((*text)[i] - '0');
        if (v > INT32_MAX) return false;
    }
    if (i == digits) return false;
    *value = static_cast<int>(negative ? -v : v);
    text->remove_prefix(i);
    return true;
}

// "Y-M-D H:M:S": the numbers and the separators between them (blanks or none between date and
// time), nothing after.
bool parseDateTime(std::string_view line, std::tm* tm) {
    int v[6];
    static const char kSeparator[6] = {'-', '-', ' ', ':', ':', '\0'};
    for (int i = 0; i < 6; ++i) {
        if (!parseInt(&line, &v[i])) return false;
        if (kSeparator[i] == ' ') continue; // a blank matches any run of blanks, or none
        if (kSeparator[i] == '\0') break;
        if (line.empty() || line.front() != kSeparator[i]) return false;
        line.remove_prefix(1);
    }
    if (!line.empty()) return false;
    int y = v[0], mo = v[1], d = v[2], h = v[3], mi = v[4], s = v[5];
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

} // namespace

namespace {

// The optional keyword lines after the user line; false with a reason.
bool parseOptionLine(std::string_view line, StatsQuery* query, std::string* error) {
    size_t blank = line.find(' ');
    std::string_view key = line.substr(0, blank);
    std::string_view value = blank == std::string_view::npos ? "" : line.substr(blank + 1);
    if (key == "group" && !value.empty() && value.size() <= STATS_USER_MAX) {
        query->group = value;
        return true;
    }
    int n = 0;
    if (key == "lines" && parseInt(&value, &n) && value.empty() && n >= 0) {
        query->lineLimit = static_cast<uint64_t>(n);
        return true;
    }
    *error = "bad query line: " + std::string(line);
    return false;
}

} // namespace

bool statsParseQuery(std::string_view text, StatsQuery* query, std::string* error) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    }
    if (lines.size() < 3) {
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
    query->user = lines.size() > 3 ? std::string(lines[3]) : std::string();
    if (query->user.size() > STATS_USER_MAX) {
        *error = "user name too long";
        return false;
    }
    for (size_t i = 4; i < lines.size(); ++i)
        if (!lines[i].empty() && !parseOptionLine(lines[i], query, error)) return false;
    if (!query->user.empty() && !query->group.empty()) {
        *error = "a query names a user or a group, not both";
        return false;
    }
    return true;
}

bool statsAdmits(const StatsQuery& query, std::string_view user) {
    if (!query.group.empty())
        return std::binary_search(query.members.begin(), query.members.end(), user, std::less<>());
    return query.user.empty() || user == query.user;
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
