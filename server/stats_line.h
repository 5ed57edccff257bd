// One line of Squid's native access log, as the statistics tool reads it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// One request of the access log. The views point into the line.
struct StatsLogLine {
    time_t time = 0;    // completion time, whole seconds
    uint64_t bytes = 0; // bytes delivered to the client
    std::string_view method;
    std::string_view url;
    std::string_view user; // as logged: URL-encoded, "-" for none
};

// Parses one line of Squid's native format ("time elapsed client code/status bytes method URL
// user hierarchy/peer type", separated by runs of blanks and tabs). The line ends at end or at
// its first LF (a CR before it is dropped). false for a malformed line.
bool statsParseLine(const char* begin, const char* end, StatsLogLine* line);

enum class StatsLineResult { Parsed, Malformed, Empty };

// The same for the line at p within a block of lines: an empty line (nothing, or a lone CR) is
// told apart from a malformed one, and *next is where the following line starts.
StatsLineResult statsParseLineAt(const char* p, const char* end, StatsLogLine* line,
                                 const char** next);

// The timestamp at the start of a line ("seconds.millis"); -1 when the line has none.
time_t statsLeadingTime(const char* p, const char* end);

// Decodes %XX escapes of a logged user name into out; false when it does not fit.
bool statsDecodeUser(std::string_view logged, std::string* out);

// The site of a request: the host of the URL ("CONNECT host:443": host), without port, user
// information or path.
std::string_view statsSite(std::string_view method, std::string_view url);
