// The line-speed settings file "setup.bin".
#include "serverdata/line_speeds.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "serverdata/sd_text.h"

LineSpeeds lineSpeeds;

namespace {

constexpr const char* SPEEDS_FILE = "setup.bin";
constexpr int SPEED_COUNT = 9;

double* values(LineSpeeds& s) {
    return &s.internetIn;
}
const double* values(const LineSpeeds& s) {
    return &s.internetIn;
}

} // namespace

int ReadLineSpeeds(LineSpeeds& speeds) {
    unsigned char bytes[8 * SPEED_COUNT + 1];
    FILE* in = std::fopen(SPEEDS_FILE, "rb");
    if (!in) return 1;
    size_t n = std::fread(bytes, 1, sizeof bytes, in);
    std::fclose(in);
    if (n != 8 * SPEED_COUNT) return 1; // a short or long file is not a settings file
    for (int i = 0; i < SPEED_COUNT; i++) {
        uint64_t bits = 0;
        for (int b = 7; b >= 0; b--)
            bits = bits << 8 | bytes[8 * i + b];
        std::memcpy(&values(speeds)[i], &bits, 8);
    }
    return 0;
}

int WriteLineSpeeds(const LineSpeeds& speeds) {
    auto write = [](FILE* f, const void* c) {
        const double* v = static_cast<const double*>(c);
        unsigned char bytes[8 * SPEED_COUNT];
        for (int i = 0; i < SPEED_COUNT; i++) {
            uint64_t bits;
            std::memcpy(&bits, &v[i], 8);
            for (int b = 0; b < 8; b++)
                bytes[8 * i + b] = static_cast<unsigned char>(bits >> 8 * b);
        }
        return std::fwrite(bytes, 1, sizeof bytes, f) == sizeof bytes;
    };
    return sdWriteLocalFile(SPEEDS_FILE, write, values(speeds)) == 0 ? 0 : 1;
}

void DefaultLineSpeeds(LineSpeeds& speeds) {
    speeds.internetIn = speeds.internetOut = 128;
    speeds.lanIn = speeds.lanOut = 10000;
    speeds.intranetIn = speeds.intranetOut = 128;
}
