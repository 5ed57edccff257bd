// Fuzz target: the line-speed settings reader (ReadLineSpeeds of "setup.bin").
#include <cstddef>
#include <cstdint>

#include "serverdata/line_speeds.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    if (!fuzzWriteFile("setup.bin", data, size)) return 0;
    LineSpeeds speeds{};
    if (ReadLineSpeeds(speeds) == 0 && size != sizeof speeds) __builtin_trap();
    return 0;
}
