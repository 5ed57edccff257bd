// Fuzz target: the group list reader (LoadGroups for viewing).
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
    fakeServe("/groups", data, size);
    serverData.groups.Load(false);
    if (serverData.groups.Count() < 0 || serverData.groups.Count() > SD_MAX_GROUPS)
        __builtin_trap();
    return 0;
}
