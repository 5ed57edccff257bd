// Fuzz target: the statistics result reader of the chart page (ReadStatValues of "statout.txt")
// and the range and total of what it read.
#include <cstddef>
#include <cstdint>

#include "lib/vx_err.h"
#include "stats/stat_result.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

double g_values[STAT_POINTS_MAX];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    if (!fuzzWriteFile("statout.txt", data, size)) return 0;
    vxClearError();
    bool truncated = false;
    int n = ReadStatValues("statout.txt", g_values, STAT_POINTS_MAX, &truncated);
    if (n > STAT_POINTS_MAX) __builtin_trap();
    double low, high, sum = 0;
    StatValueRange(g_values, n < 0 ? 0 : n, &low, &high);
    for (int i = 0; i < n; i++)
        sum += g_values[i];
    char line[64];
    StatTotalLine(sum, line, sizeof line);
    return 0;
}
