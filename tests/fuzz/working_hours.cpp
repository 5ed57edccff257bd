// Fuzz target: the working hours reader (LoadWorkingHours of "attandance.txt").
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "server_data.h"
#include "vx_err.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    serverData.Reset();
    vxClearError();
    fakeClear();
    fakeServe("attandance.txt", data, size);
    int v[4];
    serverData.LoadWorkingHours(&v[0], &v[1], &v[2], &v[3]);
    return 0;
}
