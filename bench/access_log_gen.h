// A generated Squid access log of a busy month for the benchmarks: time-ordered lines over the
// days from 1 April 2024 (local time), 400 users (a few logged URL-encoded, some
// unauthenticated), 30,000 sites with a skewed popularity, CONNECT tunnels, timeouts, sizes
// beyond 4 GB now and then and a malformed line in a million. The same lines on every run.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace access_log_gen {

inline uint64_t g_state = 88172645463325252ull;
inline uint64_t next() {
    g_state ^= g_state << 13;
    g_state ^= g_state >> 7;
    g_state ^= g_state << 17;
    return g_state;
}
inline double uniform() {
    return static_cast<double>(next() >> 11) / 9007199254740992.0;
}

// The k-th usual site of user u: popular sites are everybody's, the tail differs per user.
inline int favourite(int u, int k) {
    uint64_t x = static_cast<uint64_t>(u) * 1000003u + static_cast<uint64_t>(k) * 7919u + 17;
    x ^= x >> 31;
    x *= 0x9e3779b97f4a7c15ull;
    x ^= x >> 29;
    double r = static_cast<double>(x >> 11) / 9007199254740992.0;
    return static_cast<int>(30000 * std::pow(r, 2.0));
}

} // namespace access_log_gen

// The log's first second: 1 April 2024, 00:00 local time.
inline time_t AccessLogStart() {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 3;
    tm.tm_mday = 1;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

// Writes `lines` lines over `days` days to path (about 150 bytes a line); false when the file
// cannot be written.
inline bool GenerateAccessLog(const std::string& path, long lines, int days) {
    using namespace access_log_gen;
    g_state = 88172645463325252ull;
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return false;
    setvbuf(f, nullptr, _IOFBF, 1 << 20);
    const double span = days * 86400.0;
    const double start = static_cast<double>(AccessLogStart());
    char user[32];
    char url[96];
    for (long i = 0; i < lines; ++i) {
        double t = start + span * static_cast<double>(i) / static_cast<double>(lines);
        int u = static_cast<int>(400 * std::pow(uniform(), 1.5));
        if (uniform() < 0.03)
            snprintf(user, sizeof user, "-");
        else if (u % 40 == 7)
            snprintf(user, sizeof user, "vendeg%%20%03d", u);
        else
            snprintf(user, sizeof user, "user%03d", u);
        // Most requests go to one of the user's 40 usual sites, the rest anywhere.
        int site = uniform() < 0.85 ? favourite(u, static_cast<int>(40 * uniform() * uniform()))
                                    : static_cast<int>(30000 * std::pow(uniform(), 3.0));
        bool tunnel = uniform() < 0.15;
        const char* method = tunnel ? "CONNECT" : "GET";
        if (tunnel)
            snprintf(url, sizeof url, "www.site%05d.hu:443", site);
        else if (uniform() < 0.1) // API calls and adverts: URLs seen once or twice
            snprintf(url, sizeof url, "http://www.site%05d.hu/api?id=%d", site,
                     static_cast<int>(next() % 2000000));
        else
            snprintf(url, sizeof url, "http://www.site%05d.hu/p/%d.html", site,
                     static_cast<int>(3000 * std::pow(uniform(), 4.0)));
        uint64_t bytes = static_cast<uint64_t>(300 + 400000 * uniform() * uniform());
        if (next() % 100000 == 0) bytes += 5000000000ull;
        const char* hier = uniform() < 0.01 ? "TIMEOUT_DIRECT" : "HIER_DIRECT";
        if (next() % 1000000 == 0) fputs("this line is not a log line\n", f);
        fprintf(f, "%.3f %6d 192.168.%d.%d TCP_MISS/200 %llu %s %s %s %s/93.184.%d.%d text/html\n",
                t, static_cast<int>(next() % 90000), static_cast<int>(next() % 4),
                static_cast<int>(next() % 250) + 2, static_cast<unsigned long long>(bytes), method,
                url, user, hier, static_cast<int>(next() % 250), static_cast<int>(next() % 250));
    }
    return fclose(f) == 0;
}
