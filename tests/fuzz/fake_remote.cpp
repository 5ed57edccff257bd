// The remote link's operations that the data layer calls, served from memory for its fuzz
// targets (see fuzz_support.h). Linked instead of the real remote link.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "remote/vx_remote.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Served {
    const char* key;
    const uint8_t* data;
    size_t size;
};
Served g_served[4];
int g_servedCount = 0;
std::vector<std::pair<std::string, std::string>> g_uploads; // remote path, bytes

} // namespace

void fakeServe(const char* key, const uint8_t* data, size_t size) {
    if (g_servedCount < 4) g_served[g_servedCount++] = {key, data, size};
}

void fakeClear() {
    g_servedCount = 0;
}

int vxGetRemoteFile(const char*, const char* remotePath, const char* localPath) {
    for (int i = 0; i < g_servedCount; i++)
        if (strstr(remotePath, g_served[i].key))
            return fuzzWriteFile(localPath, g_served[i].data, g_served[i].size) ? 0 : -1;
    return 2;
}

int vxPutRemoteFile(const char*, const char* localPath, const char* remotePath) {
    FILE* f = fopen(localPath, "rb");
    if (!f) return -1;
    std::string bytes;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    fclose(f);
    g_uploads.emplace_back(remotePath, std::move(bytes));
    return 0;
}

const std::string* fakeUploaded(const char* key) {
    for (auto it = g_uploads.rbegin(); it != g_uploads.rend(); ++it)
        if (strstr(it->first.c_str(), key)) return &it->second;
    return nullptr;
}

void fakeClearUploads() {
    g_uploads.clear();
}

int vxRemoteExec(const char*, const char*) {
    return 0;
}

int vxRemoteCrypt(const char*, const char*, const char*, char* out, size_t outSize) {
    snprintf(out, outSize, "wjAAAAAAAAAAA");
    return 0;
}

int fnPing(const char*, FILE*, int) {
    return 0;
}
