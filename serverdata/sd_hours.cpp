// The working hours file "attandance.txt": one line "HH:MM - HH:MM".
#include <cctype>
#include <climits>
#include <cstdio>

#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "serverdata/sd_text.h"
#include "serverdata/working_hours.h"

namespace {

constexpr const char* HOURS_FILE = "attandance.txt";

// Leading blanks, an optional sign, digits up to the first non-digit; no digits give 0. Stops
// growing at the int range instead of overflowing.
int typedNumber(const char* text) {
    while (*text == ' ' || *text == '\t')
        text++;
    int sign = *text == '-' ? -1 : 1;
    if (*text == '-' || *text == '+') text++;
    long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); text++)
        if (value < INT_MAX) value = value * 10 + (*text - '0');
    return static_cast<int>(sign * (value > INT_MAX ? INT_MAX : value));
}

} // namespace

int WorkingHours::Load(int* startHour, int* startMinute, int* endHour, int* endMinute) {
    const char* host = m_session.host;
    int v[4];
    FILE* in =
        vxGetRemoteFile(host, HOURS_FILE, HOURS_FILE) == 0 ? std::fopen(HOURS_FILE, "rb") : nullptr;
    int fields = in ? std::fscanf(in, "%2d:%2d - %2d:%2d", &v[0], &v[1], &v[2], &v[3]) : 0;
    if (in) std::fclose(in);
    if (fields != 4) { // not fetched, or not a working-hours line: the defaults
        if (in) sdRefuse(-1, HOURS_FILE, "not a working hours line");
        v[0] = 8, v[1] = 0, v[2] = 16, v[3] = 30;
    }
    *startHour = v[0], *startMinute = v[1], *endHour = v[2], *endMinute = v[3];
    return fields == 4 ? 0 : -1;
}

int WorkingHours::Save(const char* startHour, const char* startMinute, const char* endHour,
                       const char* endMinute) {
    int v[4] = {typedNumber(startHour), typedNumber(startMinute), typedNumber(endHour),
                typedNumber(endMinute)};
    auto write = [](FILE* f, const void* c) {
        const int* x = static_cast<const int*>(c);
        return std::fprintf(f, "%02d:%02d - %02d:%02d\r\n", x[0], x[1], x[2], x[3]) > 0;
    };
    if (sdWriteLocalFile(HOURS_FILE, write, v) != 0) return -2;
    return vxPutRemoteFile(m_session.host, HOURS_FILE, HOURS_FILE) == 0 ? 0 : -1;
}
