// The times of one benchmarked operation over several rounds, printed as median and slowest.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

struct Series {
    const char* name;
    std::vector<double> ms;
    void print() {
        std::sort(ms.begin(), ms.end());
        printf("%-28s median %8.1f ms   slowest %8.1f ms   (%zu rounds)\n", name, ms[ms.size() / 2],
               ms.back(), ms.size());
    }
};
