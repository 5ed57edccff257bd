// The client form of a permit-list URL: IDNA host, percent-encoded UTF-8 rest.
#include "server/squid_url.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <idn2.h>

namespace {

// Unicode code points of the Windows-1250 bytes 0x80..0xFF.
constexpr uint16_t kCp1250High[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039,
    0x015A, 0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141,
    0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB,
    0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
    0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB,
    0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

void appendUtf8(std::string* out, unsigned cp) {
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | (cp >> 6));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xE0 | (cp >> 12));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string percentEncoded(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        }
    }
    return out;
}

} // namespace

std::string vxdCp1250ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        appendUtf8(&out, b < 0x80 ? b : kCp1250High[b - 0x80]);
    }
    return out;
}

bool vxdClientUrl(const std::string& entry, std::string* out, std::string* error) {
    if (isAscii(entry)) {
        *out = entry;
        return true;
    }
    const std::string utf8 = vxdCp1250ToUtf8(entry);
    const size_t scheme = utf8.find("://");
    const size_t hostStart =
        scheme != std::string::npos && utf8.find_first_of("/?#") > scheme ? scheme + 3 : 0;
    size_t hostEnd = utf8.find_first_of("/:?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = utf8.size();
    std::string host = utf8.substr(hostStart, hostEnd - hostStart);
    if (!isAscii(host)) {
        char* ascii = nullptr;
        int rc = idn2_to_ascii_8z(host.c_str(), &ascii, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
        if (rc != IDN2_OK) {
            *error = "host " + host + " is no international domain name: " + idn2_strerror(rc);
            return false;
        }
        host = ascii;
        idn2_free(ascii);
    }
    *out = utf8.substr(0, hostStart) + host + percentEncoded(utf8.substr(hostEnd));
    return true;
}
