// The network page's sampling arithmetic.
#include "serverdata/net_sampling.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "lib/txt0.h"
#include "lib/vx_err.h"

namespace {

// The line an interface feeds: 0 Internet, 1 LAN, 2 intranet, -1 none.
int lineOf(const char* name) {
    for (const char* internet : {"ppp0", "mc0", "eth2", "ippp0"})
        if (std::strcmp(name, internet) == 0) return 0;
    if (std::strcmp(name, "eth0") == 0) return 1;
    if (std::strcmp(name, "eth1") == 0) return 2;
    return -1;
}

// A counter as a decimal number; what is not one (also "nan" or "inf") counts as 0.
double counter(const char* word) {
    double value = std::strtod(word, nullptr);
    return std::isfinite(value) ? value : 0;
}

} // namespace

int NetReadCounters(NetSampler& sampler, const char* text) {
    char buffer[NET_COUNTERS_TEXT_MAX + 1];
    // At most one word per two bytes of text, plus the end marker.
    char* words[NET_COUNTERS_TEXT_MAX / 2 + 2];
    if (!vxCopy(buffer, sizeof buffer, text ? text : "")) {
        vxSetError(22, 2, VX_KIND_LIB, "Counters text too long");
        return -1;
    }
    int count = vxSplitWords(buffer, 0x21, 0xFF, words, static_cast<int>(std::size(words)));
    int triples = count / 3;
    for (int t = 0; t < triples; t++) {
        int line = lineOf(words[3 * t]);
        if (line < 0) continue;
        double out = counter(words[3 * t + 1]);
        double in = counter(words[3 * t + 2]);
        sampler.current[3 * line] = out;
        sampler.current[3 * line + 1] = in;
        sampler.current[3 * line + 2] = out + in;
    }
    return triples;
}

void NetTick(NetSampler& sampler, const LineSpeeds& speeds, NetCell cells[NET_CELLS]) {
    if (!sampler.sampled) {
        std::memcpy(sampler.previous, sampler.current, sizeof sampler.previous);
        sampler.sampled = true;
    }
    const double outgoing[3] = {speeds.internetOut, speeds.lanOut, speeds.intranetOut};
    for (int i = 0; i < NET_CELLS; i++) {
        double capacity = outgoing[i / 3] * 125; // bytes per second
        double d = sampler.current[i] - sampler.previous[i];
        // No speed set (0, or a file with nonsense in it): the amount alone, no load.
        double load = capacity > 0 ? d * 100 / capacity : 0;
        cells[i] = {d, load > 100 ? 100 : load};
    }
    std::memcpy(sampler.previous, sampler.current, sizeof sampler.previous);
}

bool NetCellText(double bytes, char* out, size_t size) {
    return vxFormat(out, size, "%3.1f Kbyte/sec", bytes / 1024);
}
