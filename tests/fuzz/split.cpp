// Fuzz target of one splitter (FUZZ_SPLITTER: vxSplitEvery, vxSplitRuns or vxSplitWords, one
// target each) over a NUL-ended copy of the input; the first three bytes give the byte range and
// the size of the word list.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lib/txt0.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    std::vector<char> text(data + 3, data + size);
    text.push_back('\0');
    char* words[65];
    int maxWords = 1 + data[2] % 65;
    int n = FUZZ_SPLITTER(text.data(), data[0], data[1], words, maxWords);
    if (n < 0 || n >= maxWords || words[n] != nullptr) __builtin_trap();
    for (int i = 0; i < n; i++)
        (void)strlen(words[i]); // every word is a NUL-ended string inside the buffer
    return 0;
}
