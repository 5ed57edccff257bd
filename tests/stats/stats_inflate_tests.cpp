// Tests of the statistics tool's compressed-log streams: ISA-L and zlib inflating the same
// files (members one after the other, trailing bytes, damage, a file cut short), directly and
// read ahead on a thread.
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "server/stats_inflate.h"
#include "tests/stats/gzip_member.h"
#include "tests/support/temp_dir.h"

namespace {

// Log-like text of about size bytes that compresses the way a log does (repeats and noise).
std::string logText(size_t size, unsigned seed) {
    std::string text;
    uint64_t x = seed * 2654435761u + 1;
    while (text.size() < size) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        text += std::to_string(1715335200 + text.size() / 97) + ".500 " + std::to_string(x % 997) +
                " GET http://www.site" + std::to_string(x % 301) +
                ".hu/p?id=" + std::to_string(x >> 40) + " user" + std::to_string(x % 17) + "\n";
    }
    return text;
}

class StatsInflate : public ::testing::TestWithParam<int> {
  protected:
    // Everything the stream of the file holding bytes gives, read in pieces of odd sizes, by
    // the inflater and read-ahead of the test's parameter; *skipped what it says it skipped.
    std::string inflate(const std::string& bytes, std::string* skipped) {
        m_tmp.write("log.gz", bytes);
        int fd = open(m_tmp.file("log.gz").c_str(), O_RDONLY);
        EXPECT_GE(fd, 0);
        EXPECT_TRUE(statsIsGzip(fd));
        const int p = GetParam();
        auto stream = statsGunzip(fd, p & 1 ? StatsInflater::Zlib : StatsInflater::Isal);
        if (p & 2) stream = statsReadAhead(std::move(stream), 4096, 3);
        std::string out, error;
        char buf[7777];
        ssize_t n;
        size_t piece = 1;
        while ((n = stream->read(buf, piece, &error)) > 0) {
            out.append(buf, static_cast<size_t>(n));
            piece = piece * 3 % sizeof buf + 1;
        }
        EXPECT_EQ(n, 0) << error;
        *skipped = stream->skipped();
        stream.reset();
        close(fd);
        return out;
    }
    TempDir m_tmp{"inflate"};
};

TEST_P(StatsInflate, MembersAfterOneAnotherAndTrailingBytes) {
    const std::string a = logText(700000, 1), b = logText(3000, 2), c = logText(400000, 3);
    std::string skipped;
    EXPECT_EQ(inflate(gzipMember(a), &skipped), a);
    EXPECT_EQ(skipped, "");
    // An empty member among them, a stored (level 0) one, and zeros after the last (as some
    // writers pad a file): ignored.
    std::string file = gzipMember(a) + gzipMember("") + gzipMember(b, 0) + gzipMember(c, 9);
    EXPECT_EQ(inflate(file, &skipped), a + b + c);
    EXPECT_EQ(skipped, "");
    EXPECT_EQ(inflate(file + std::string(1000, '\0'), &skipped), a + b + c);
    EXPECT_EQ(skipped, "");
    // A single 0x1f after the last member starts no member.
    EXPECT_EQ(inflate(file + "\x1f", &skipped), a + b + c);
    EXPECT_EQ(skipped, "");
}

TEST_P(StatsInflate, DamageAndAFileCutShortEndTheStreamAndAreSaid) {
    const std::string a = logText(300000, 4), b = logText(300000, 5);
    const std::string first = gzipMember(a), second = gzipMember(b);
    std::string skipped;
    // Cut within the second member: what came before is given whole, what is left of the
    // second member only in part.
    std::string out = inflate(first + second.substr(0, second.size() / 2), &skipped);
    EXPECT_GT(out.size(), a.size());
    EXPECT_LT(out.size(), a.size() + b.size());
    EXPECT_TRUE(out == (a + b).substr(0, out.size()));
    EXPECT_EQ(skipped, "cut short: its last member ends early at byte " +
                           std::to_string(first.size() + second.size() / 2) +
                           " (its last partial line is skipped)");
    // Cut within the header of the second member.
    EXPECT_TRUE(inflate(first + second.substr(0, 5), &skipped) == a);
    EXPECT_NE(skipped.find("cut short"), std::string::npos);

    // Garbage in the middle of the second member's compressed data: the stream ends there. What
    // an inflater had decoded of a damaged member may be given or not (and may be wrong: the
    // check sum at the member's end would have told), so only the bytes before it are sure.
    std::string damaged = first + second;
    for (size_t i = 0; i < 64; ++i)
        damaged[first.size() + second.size() / 2 + i] ^= static_cast<char>(0x5a + i);
    out = inflate(damaged, &skipped);
    EXPECT_TRUE(
        out.compare(0, std::min(out.size(), a.size()), a, 0, std::min(out.size(), a.size())) == 0);
    EXPECT_EQ(skipped.rfind("compressed data damaged at byte ", 0), 0u) << skipped;
    EXPECT_NE(
        skipped.find(" of " + std::to_string(damaged.size()) + ": the rest of the file is skipped"),
        std::string::npos)
        << skipped;

    // A wrong check sum in the first member's trailer: the second member is never read.
    damaged = first + second;
    damaged[first.size() - 8] ^= 1;
    out = inflate(damaged, &skipped);
    EXPECT_TRUE(out.size() <= a.size() && a.compare(0, out.size(), out) == 0);
    EXPECT_EQ(skipped.rfind("compressed data damaged at byte ", 0), 0u) << skipped;
}

// 0: ISA-L, 1: zlib, 2: ISA-L read ahead, 3: zlib read ahead.
INSTANTIATE_TEST_SUITE_P(Inflaters, StatsInflate, ::testing::Values(0, 1, 2, 3));

} // namespace
