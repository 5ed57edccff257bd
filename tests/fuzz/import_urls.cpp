// Fuzz target: the urls import format (ImportUrls of a local file).
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
    serverData.ImportUrls("import.txt");
    return 0;
}
