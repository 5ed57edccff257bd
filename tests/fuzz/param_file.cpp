// Fuzz target: the parameter-file reader (vxLoadParamFile) and lookups in the table it fills.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "lib/vx_err.h"
#include "params/def.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    setenv("ORVELAN_FUZZ_VAR", "/fuzz/value", 1); // a variable that values may name
    if (!fuzzWriteFile("params.txt", data, size)) return 0;
    vxResetParams();
    vxClearError();
    vxLoadParamFile("params.txt");
    static const char* const kNames[] = {"ProxyServerName", "USERLISTFIL", "PERMITDIR", "A", ""};
    for (const char* name : kNames)
        (void)vxGetParam(name);
    return 0;
}
