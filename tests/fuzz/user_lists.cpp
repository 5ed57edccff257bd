// Fuzz target: the user list and user data readers (LoadUsers for viewing), the input split into
// the two server files, over a group table of two groups.
#include <cstddef>
#include <cstdint>

#include "lib/vx_err.h"
#include "serverdata/server_data.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    const uint8_t *users, *userData;
    size_t usersSize, userDataSize;
    fuzzSplit(data, size, &users, &usersSize, &userData, &userDataSize);
    serverData.Reset();
    vxClearError();
    serverData.groups.Add("staff", "d", "");
    serverData.groups.Add("guests", "a", "");
    fakeClear();
    fakeServe("/userdata", userData, userDataSize);
    fakeServe("/users", users, usersSize);
    serverData.users.Load(false);
    if (serverData.users.Count() < 0 || serverData.users.Count() > SD_MAX_USERS) __builtin_trap();
    return 0;
}
