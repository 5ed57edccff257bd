// Fuzz target: the statistics result reader of the table page (ReadStatTable of "statout.txt"),
// with every third name a super user.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/vx_err.h"
#include "stats/stat_result.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    if (!fuzzWriteFile("statout.txt", data, size)) return 0;
    vxClearError();
    auto isSuper = [](const char* name, void*) { return strlen(name) % 3 == 0; };
    auto sink = [](const char* line, void*) {
        if (strlen(line) >= STAT_LINE_MAX) __builtin_trap();
    };
    ReadStatTable("statout.txt", isSuper, nullptr, sink, nullptr);
    return 0;
}
