// Date-time arithmetic for the statistics chart's time buckets.
#pragma once

// year, month (1-12), day (1-31), hour (0-23), minute (0-59), second.
struct VxDateTime {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// out = in + minutes (minutes >= 0; a negative count leaves out equal to in). February's length
// is taken from in.year for the whole addition (29 days when it is divisible by 4).
void vxAddMinutes(VxDateTime* out, const VxDateTime* in, int minutes);
