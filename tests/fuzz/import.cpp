// Fuzz target of one import format (FUZZ_IMPORT: the users, groups or urls list, one
// target each) of a local file.
#include <cstddef>
#include <cstdint>

#include "lib/vx_err.h"
#include "serverdata/server_data.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    if (!fuzzWriteFile("import.txt", data, size)) return 0;
    serverData.Reset();
    vxClearError();
    serverData.urls.currentGroup = serverData.groups.Add("staff", "d", "");
    serverData.FUZZ_IMPORT.Import("import.txt");
    return 0;
}
