// Lines of a Squid native access log for the statistics tests, at local times of the test's own.
#pragma once

#include <ctime>
#include <string>

// The time_t of a local date and time (daylight saving as the zone has it then).
inline time_t localTime(int y, int mo, int d, int h, int mi, int s = 0) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

// One request of the user for the URL at t, of the given size.
inline std::string accessLogLine(time_t t, unsigned long long bytes, const std::string& user,
                                 const std::string& url = "http://www.index.hu/",
                                 const std::string& method = "GET") {
    return std::to_string(t) + ".500    120 192.168.1.20 TCP_MISS/200 " + std::to_string(bytes) +
           " " + method + " " + url + " " + user + " DIRECT/80.99.1.1 text/html\n";
}
