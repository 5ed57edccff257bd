// Fuzz target: the working hours reader (LoadWorkingHours of "attandance.txt").
#include <cstddef>
#include <cstdint>

#include "lib/vx_err.h"
#include "serverdata/server_data.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    serverData.Reset();
    vxClearError();
    fakeClear();
    fakeServe("attandance.txt", data, size);
    int v[4];
    serverData.hours.Load(&v[0], &v[1], &v[2], &v[3]);
    return 0;
}
