// Fuzz target: the registry store parser: reads of a few values from a store file of fuzz bytes,
// then a write that must leave a store it can read again.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/vx_err.h"
#include "tests/fuzz/fuzz_support.h"
#include "winlib/vx_reg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    if (!fuzzWriteFile("registry.reg", data, size)) return 0;
    vxClearError();
    static const char* const kPaths[] = {
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup\\Set",
        ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup\\"
         "ProxyServerName"),
        "HKEY_CURRENT_USER\\A\\B", "HKEY_LOCAL_MACHINE\\", "HKEY_USERS\\x\\"};
    char out[256];
    for (const char* path : kPaths)
        vxReadRegistryKey(nullptr, 0, path, out, sizeof out);
    if (vxWriteRegistryKey(nullptr, 0, kPaths[1], "fuzz.example", 1) >= 0 &&
        vxReadRegistryKey(nullptr, 0, kPaths[1], out, sizeof out) < 0)
        __builtin_trap(); // a written value must read back
    return 0;
}
