// Fuzz target: the permit file reader (LoadUrls for viewing) of a deny-list group.
#include <cstddef>
#include <cstdint>

#include "lib/vx_err.h"
#include "serverdata/server_data.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    serverData.Reset();
    vxClearError();
    serverData.currentGroup = serverData.AddGroup("staff", "d", "");
    fakeClear();
    fakeServe("/permit/", data, size);
    serverData.LoadUrls(false);
    if (serverData.urlCount < 0 || serverData.urlCount > SD_MAX_URLS) __builtin_trap();
    return 0;
}
