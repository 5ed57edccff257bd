// Date-time arithmetic for the statistics chart's time buckets.
#include "lib/arit.h"

void vxAddMinutes(VxDateTime* out, const VxDateTime* in, int minutes) {
    static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    *out = *in;
    if (minutes < 0) return;
    int hours = minutes / 60;
    int minute = in->minute + minutes % 60;
    int carry = minute / 60;
    out->minute = minute % 60;
    int hour = in->hour + carry + hours % 24;
    int days = hours / 24 + hour / 24;
    out->hour = hour % 24;
    int februaryDays = in->year % 4 == 0 ? 29 : 28;
    for (; days > 0; --days) {
        int length = out->month == 2 ? februaryDays : kMonthDays[(out->month - 1 + 12) % 12];
        if (++out->day > length) {
            out->day = 1;
            if (++out->month > 12) {
                out->month = 1;
                ++out->year;
            }
        }
    }
}
