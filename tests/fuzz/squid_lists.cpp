// Fuzz target: the post-save commands' readers of the proxy's lists (group list, user list and
// permit file) as kaka and grouppen read them to write the Squid configuration. Input: the
// group list, then the user list and the permit file (split twice as fuzzSplit does); the permit
// text is the permit file of every group named in the seeds ("staff", "guests") and of "/l/p".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "params/def.h"
#include "server/squid_config.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzEnterWorkdir();
    static VxdRoot root;
    static const bool kOpened = [] {
        vxResetParams();
        mkdir("l", 0755);
        mkdir("l/apache", 0755);
        mkdir("l/apache/etc", 0755);
        mkdir("l/apache/etc/permit", 0755);
        return vxdOpenRoot(&root, ".", ".") == 0;
    }();
    if (!kOpened) abort();
    const uint8_t *groups, *rest, *users, *permit;
    size_t groupsSize, restSize, usersSize, permitSize;
    fuzzSplit(data, size, &groups, &groupsSize, &rest, &restSize);
    fuzzSplit(rest, restSize, &users, &usersSize, &permit, &permitSize);
    fuzzWriteFile("l/apache/etc/groups", groups, groupsSize);
    fuzzWriteFile("l/apache/etc/users", users, usersSize);
    for (const char* path :
         {"l/apache/etc/permit/staff.deny", "l/apache/etc/permit/guests.allow", "l/p"})
        fuzzWriteFile(path, permit, permitSize);
    std::string error;
    vxdWriteSquidConfig(root, &error);
    return 0;
}
