// The network page's sampling arithmetic: the server's interface counters turned into the
// amount and the load of each line and direction, without windows.
#pragma once

#include <cstddef>

#include "serverdata/line_speeds.h"

// Cells in the page's order: Internet out, in, total; LAN out, in, total; intranet out, in, total.
constexpr int NET_CELLS = 9;
constexpr int NET_COUNTERS_TEXT_MAX = 128; // the counters text of the server's reply

// The sample store: the values of the last counters text and those of the tick before.
struct NetSampler {
    double current[NET_CELLS] = {};
    double previous[NET_CELLS] = {};
    bool sampled = false; // a tick has run: the first one shows no traffic
};

// What one tick gives a cell: bytes since the last tick and that amount as a percentage of the
// line's outgoing speed (capped at 100; 0 when the speed is not above 0).
struct NetCell {
    double bytes;
    double load;
};

// Reads a counters text (words over 0x21..0xFF, three at a time: name, first counter (outgoing),
// second counter (incoming)) into sampler.current. "ppp0", "mc0", "eth2" and "ippp0" feed the
// Internet line, "eth0" the LAN, "eth1" the intranet; a later triple of a line overwrites an
// earlier one, a line without an interface keeps its values, an incomplete last triple is
// skipped. Returns the number of whole triples, or -1 for a text longer than
// NET_COUNTERS_TEXT_MAX (nothing changed).
int NetReadCounters(NetSampler& sampler, const char* text);

// One tick after NetReadCounters: the growth of each cell since the previous values, measured
// against the line's outgoing speed (kilobits per second times 125 bytes); then the current
// values become the previous ones.
void NetTick(NetSampler& sampler, const LineSpeeds& speeds, NetCell cells[NET_CELLS]);

// The text of a cell: "%3.1f Kbyte/sec" of bytes / 1024. False when out is too small.
bool NetCellText(double bytes, char* out, size_t size);
