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
    serverData.urls.currentGroup = serverData.groups.Add("staff", "d", "");
    fakeClear();
    fakeServe("/permit/", data, size);
    serverData.urls.Load(false);
    if (serverData.urls.Count() < 0 || serverData.urls.Count() > SD_MAX_URLS) __builtin_trap();
    return 0;
}
