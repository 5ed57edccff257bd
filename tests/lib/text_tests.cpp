// Tests of the line reader, the splitters, the string routines and the date-time adder.
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "lib/arit.h"
#include "lib/txt0.h"
#include "lib/vx_err.h"

namespace {

// A stream over the given bytes.
FILE* streamOf(const std::string& bytes) {
    FILE* f = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

std::vector<std::string> listOf(char** words) {
    std::vector<std::string> out;
    for (; *words; ++words)
        out.emplace_back(*words);
    return out;
}

using Words = std::vector<std::string>;

TEST(LineReader, WordsQuotesAndLineEnds) {
    FILE* f = streamOf("MainPasswdFile /l/apache/etc/empasswd two more\r\n"
                       "  \t \n"
                       "\n"
                       "name \"a quoted value\" x\n"
                       "\"open quote runs to the end\n"
                       "last line without newline");
    char buf[VX_LINE_BUFFER];
    char* words[8];
    int count = -1;
    for (const Words& line :
         {Words{"MainPasswdFile", "/l/apache/etc/empasswd", "two", "more"}, Words{}, Words{},
          Words{"name", "a quoted value", "x"}, Words{"open quote runs to the end"},
          Words{"last", "line", "without", "newline"}}) {
        EXPECT_EQ(vxReadTextLine(f, buf, words, 8, sizeof buf, &count), 0);
        EXPECT_EQ(listOf(words), line);
        EXPECT_EQ(count, static_cast<int>(line.size()));
    }
    EXPECT_EQ(vxReadTextLine(f, buf, words, 8, sizeof buf, &count), -1);
    fclose(f);
}

TEST(LineReader, LineLongerThanBufferAndExactFit) {
    std::string longLine(5000, 'a');
    FILE* f = streamOf(longLine + "\n" + std::string(4094, 'b') + "\nend\n");
    char* words[4];
    vxClearError();
    EXPECT_EQ(vxReadLine(f, words, 4), -1); // -6 from the reader
    EXPECT_EQ(vxLastError().code, 12);
    EXPECT_STREQ(vxLastError().text, "Text line too long");
    // The rest of the long line is read as a line of its own.
    EXPECT_EQ(vxReadLine(f, words, 4), 1);
    EXPECT_EQ(strlen(words[0]), 5000u - 4095u);
    // 4094 characters and the newline fill the 4096-byte buffer exactly.
    EXPECT_EQ(vxReadLine(f, words, 4), 1);
    EXPECT_EQ(strlen(words[0]), 4094u);
    EXPECT_EQ(vxReadLine(f, words, 4), 1);
    EXPECT_STREQ(words[0], "end");
    fclose(f);

    char buf[VX_LINE_BUFFER];
    int count = 0;
    f = streamOf(std::string(5000, 'c'));
    EXPECT_EQ(vxReadTextLine(f, buf, words, 4, sizeof buf, &count), -6);
    fclose(f);
}

// Colon records keep empty fields or skip runs; single quotes group in every splitter.
TEST(Splitters, ColonRecordsAndQuotes) {
    const struct {
        int (*split)(char*, int, int, char**, int);
        std::string text;
        Words words;
    } cases[] = {
        {vxSplitEvery, "kovacs::P:x:", {"kovacs", "", "P", "x"}},
        {vxSplitRuns, "kovacs::P:x:", {"kovacs", "P", "x"}},
        {vxSplitEvery, ":lead", {"", "lead"}},
        {vxSplitEvery, "", {}},
        {vxSplitEvery, "name:'a:b:c':tail", {"name", "a:b:c", "tail"}},
        {vxSplitRuns, "x::'':y", {"x", "", "y"}},
    };
    char* words[10];
    for (auto c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.split(c.text.data(), ':', ':', words, 10), static_cast<int>(c.words.size()));
        EXPECT_EQ(listOf(words), c.words);
    }
    char a[] = "orvelan 'two words' \t third";
    EXPECT_EQ(vxSplitWords(a, 0x21, 0xFF, words, 10), 3);
    EXPECT_EQ(listOf(words), (Words{"orvelan", "two words", "third"}));
    char b[] = "ab'cd ef'gh"; // a quote ends the current word
    EXPECT_EQ(vxSplitWords(b, 0x21, 0xFF, words, 10), 3);
    EXPECT_EQ(listOf(words), (Words{"ab", "cd ef", "gh"}));
}

TEST(Splitters, StopAtCapacityAndLeaveTheRest) {
    char* words[3];
    FILE* f = streamOf("a b c d e f\n");
    EXPECT_EQ(vxReadLine(f, words, 3), 2);
    EXPECT_EQ(listOf(words), (Words{"a", "b"}));
    fclose(f);
    char a[] = "a:b:c:d";
    EXPECT_EQ(vxSplitEvery(a, ':', ':', words, 3), 2);
    EXPECT_EQ(listOf(words), (Words{"a", "b"}));
    EXPECT_STREQ(a + 4, "c:d"); // not cut further
    char b[] = "one two three";
    EXPECT_EQ(vxSplitWords(b, 0x21, 0xFF, words, 3), 2);
    EXPECT_EQ(words[2], nullptr);
    char* one[1];
    char c[] = "x y";
    EXPECT_EQ(vxSplitWords(c, 0x21, 0xFF, one, 1), 0);
    EXPECT_EQ(one[0], nullptr);
}

TEST(StringRoutines, TrimFindLastPool) {
    char blanks[] = "    ";
    vxTrimRight(blanks);
    EXPECT_STREQ(blanks, "");
    char text[] = "Kovács János  ";
    vxTrimRight(text);
    EXPECT_STREQ(text, "Kovács János");
    char empty[] = "";
    vxTrimRight(empty);
    EXPECT_STREQ(empty, "");

    const char path[] = "/l/apache/etc/users";
    EXPECT_EQ(vxLastChar(path, '/'), path + 13);
    EXPECT_EQ(vxLastChar(path, ':'), nullptr);

    const char block[] = {'a', 'b', '\0', 'c', 'd', 'e'};
    EXPECT_EQ(vxFindString(block, "cd", sizeof block), block + 3);
    EXPECT_EQ(vxFindString(block, "", sizeof block), block);
    EXPECT_EQ(vxFindString(block, "de", 5), nullptr); // only within the block's size
    EXPECT_EQ(vxFindString(block, "abcdefg", sizeof block), nullptr);

    char pool[8];
    char* next = pool;
    EXPECT_TRUE(vxPoolFits("abc", next, pool + sizeof pool));
    char* first = vxPoolString("abc", &next);
    char* second = vxPoolString("de", &next);
    EXPECT_STREQ(first, "abc");
    EXPECT_STREQ(second, "de");
    EXPECT_EQ(next, pool + 7);
    EXPECT_TRUE(vxPoolFits("", next, pool + sizeof pool));
    EXPECT_FALSE(vxPoolFits("f", next, pool + sizeof pool));
}

TEST(AddMinutes, CarriesAcrossDaysMonthsAndYears) {
    const struct {
        VxDateTime in;
        int minutes;
        const char* out;
    } cases[] = {
        {{2024, 2, 28, 23, 30, 17}, 1500, "2024-03-01 00:30:17"}, // 25 hours, through 29 February
        {{2024, 2, 28, 23, 30, 0}, 1500 + 24 * 60, "2024-03-02 00:30:00"},
        {{2023, 2, 28, 23, 30, 0}, 30, "2023-03-01 00:00:00"},
        {{2023, 12, 31, 22, 59, 0}, 61, "2024-01-01 00:00:00"},
        {{2023, 5, 5, 5, 5, 5}, 0, "2023-05-05 05:05:05"},
    };
    for (const auto& c : cases) {
        VxDateTime t{};
        vxAddMinutes(&t, &c.in, c.minutes);
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
        EXPECT_STREQ(text, c.out) << c.minutes;
    }
}

} // namespace
