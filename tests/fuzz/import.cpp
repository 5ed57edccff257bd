// Fuzz target of one import format (FUZZ_IMPORT: ImportUsers, ImportGroups or ImportUrls, one
// target each) of a local file.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "server_data.h"
#include "vx_err.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    if (!fuzzWriteFile("import.txt", data, size)) return 0;
    serverData.Reset();
    vxClearError();
    serverData.currentGroup = serverData.AddGroup("staff", "d", "");
    serverData.FUZZ_IMPORT("import.txt");
    return 0;
}
