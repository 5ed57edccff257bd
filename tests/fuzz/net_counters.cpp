// Fuzz target: the reader of the server's interface counters text (NetReadCounters) and one
// sampling tick over what it read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "serverdata/net_sampling.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    NetSampler sampler;
    LineSpeeds speeds{};
    DefaultLineSpeeds(speeds);
    NetCell cells[NET_CELLS];
    for (int tick = 0; tick < 2; tick++) {
        if (NetReadCounters(sampler, text.data()) < -1) __builtin_trap();
        NetTick(sampler, speeds, cells);
    }
    char cell[64];
    for (const NetCell& c : cells)
        NetCellText(c.bytes, cell, sizeof cell);
    return 0;
}
