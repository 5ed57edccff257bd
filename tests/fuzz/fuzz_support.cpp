// Working directory and file helpers of the fuzz targets.
#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string g_workdir;

void removeWorkdir() {
    if (g_workdir.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(g_workdir, ec);
}

} // namespace

void fuzzEnterWorkdir() {
    if (!g_workdir.empty()) return;
    const char* tmp = getenv("TMPDIR");
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
    std::string pattern = base + "/orvelan-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data()) || chdir(pattern.c_str()) != 0) {
        perror("fuzz working directory");
        abort();
    }
    g_workdir = pattern;
    atexit(removeWorkdir);
    // The registry store of the targets: a file of the working directory, absent unless a
    // target writes it.
    setenv("ORVELAN_REGISTRY", (g_workdir + "/registry.reg").c_str(), 1);
}

bool fuzzWriteFile(const char* path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

void fuzzSplit(const uint8_t* data, size_t size, const uint8_t** first, size_t* firstSize,
               const uint8_t** second, size_t* secondSize) {
    size_t n = size >= 2 ? (static_cast<size_t>(data[0]) << 8 | data[1]) : 0;
    size_t rest = size >= 2 ? size - 2 : 0;
    if (n > rest) n = rest;
    *first = data + (size >= 2 ? 2 : size);
    *firstSize = n;
    *second = *first + n;
    *secondSize = rest - n;
}
