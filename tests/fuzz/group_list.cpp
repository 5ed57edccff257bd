// Fuzz target: the group list reader (LoadGroups for viewing).
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
    fakeServe("/groups", data, size);
    serverData.LoadGroups(false);
    if (serverData.groupCount < 0 || serverData.groupCount > SD_MAX_GROUPS) __builtin_trap();
    return 0;
}
