// gzip members written in memory for the statistics tests (a file may hold several).
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <zlib.h>

// One gzip member holding text.
inline std::string gzipMember(const std::string& text, int level = 6) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, text.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// What zlib inflates of a gzip file (members one after another) up to its end or damage.
inline std::string gunzipPrefix(const std::string& file) {
    std::string out;
    size_t at = 0;
    while (at + 2 <= file.size() && file[at] == '\x1f' && file[at + 1] == '\x8b') {
        z_stream z{};
        inflateInit2(&z, 31);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + at));
        z.avail_in = static_cast<uInt>(file.size() - at);
        int rc = Z_OK;
        char buf[65536];
        while (rc == Z_OK) {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            rc = inflate(&z, Z_NO_FLUSH);
            out.append(buf, sizeof buf - z.avail_out);
            if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
        }
        at += z.total_in;
        inflateEnd(&z);
        if (rc != Z_STREAM_END) break;
    }
    return out;
}
