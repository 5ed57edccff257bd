// Fuzz target: the line reader (vxReadTextLine, vxReadLineBuf, vxReadLine) over a whole stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "lib/txt0.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // The first byte picks the buffer size and word count, so short buffers are reached too.
    int bufSize = 1 + data[0] % 64 * 8;
    FILE* in = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb");
    if (!in) return 0;
    char buf[513];
    char* words[9];
    int count = 0;
    for (int lines = 0; lines < 10000; lines++) {
        int rc = lines % 3 == 0   ? vxReadTextLine(in, buf, words, 1 + data[0] % 9, bufSize, &count)
                 : lines % 3 == 1 ? vxReadLineBuf(in, words, 9, buf, bufSize)
                                  : vxReadLine(in, words, 9);
        if (rc == -1 && feof(in)) break;
        if (rc < -1) break;
    }
    fclose(in);
    return 0;
}
