// Line reading and in-place field splitting; small string routines.
#include "lib/txt0.h"

#include <cerrno>
#include <cstring>

#include "lib/vx_err.h"

namespace {

char g_lineBuffer[VX_LINE_BUFFER];

bool isWordByte(unsigned char c) {
    return c >= 0x21;
}

// Splits a line that ends at its first newline (or NUL) into words; returns the count.
int splitLine(char* p, char** words, int maxWords) {
    int count = 0;
    while (*p && *p != '\n') {
        if (!isWordByte(static_cast<unsigned char>(*p))) {
            *p++ = '\0';
            continue;
        }
        if (count >= maxWords - 1) break;
        if (*p == '"') {
            *p++ = '\0';
            words[count++] = p;
            // A quoted word runs to the closing quote; a control character or the line's end
            // also ends it.
            while (*p && *p != '"' && static_cast<unsigned char>(*p) >= 0x20)
                ++p;
            if (*p == '"') *p++ = '\0';
        } else {
            words[count++] = p;
            while (isWordByte(static_cast<unsigned char>(*p)))
                ++p;
        }
    }
    if (*p == '\n') *p = '\0';
    words[count] = nullptr;
    return count;
}

enum class SplitMode { Words, Runs, Every };

int split(char* s, int low, int high, char** words, int maxWords, SplitMode mode) {
    auto inRange = [&](unsigned char c) { return c >= low && c <= high; };
    auto isSeparator = [&](unsigned char c) {
        return mode == SplitMode::Words ? !inRange(c) : inRange(c);
    };
    int count = 0;
    bool quoting = false;
    bool inWord = false;
    // vxSplitEvery: a field begins at the string's start and after every separator.
    bool fieldPending = mode == SplitMode::Every;
    char* p = s;
    for (; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\'') {
            *p = '\0';
            if (quoting) {
                // A closing quote ends the word; two quotes in a row give an empty word.
                if (!inWord) {
                    if (count >= maxWords - 1) break;
                    words[count++] = p;
                }
                inWord = false;
                fieldPending = false;
            } else {
                inWord = false;
            }
            quoting = !quoting;
            continue;
        }
        if (!quoting && isSeparator(c)) {
            *p = '\0';
            if (mode == SplitMode::Every && fieldPending) {
                if (count >= maxWords - 1) break;
                words[count++] = p; // an empty field
            }
            inWord = false;
            fieldPending = mode == SplitMode::Every;
            continue;
        }
        if (!inWord) {
            if (count >= maxWords - 1) break;
            words[count++] = p;
            inWord = true;
            fieldPending = false;
        }
    }
    words[count] = nullptr;
    return count;
}

} // namespace

int vxReadTextLine(FILE* stream, char* buf, char** words, int maxWords, int size, int* count) {
    *count = 0;
    words[0] = nullptr;
    memset(buf, 0, static_cast<size_t>(size));
    errno = 0;
    if (!fgets(buf, size, stream)) {
        if (feof(stream)) return -1;
        vxSysError(nullptr);
        return -2;
    }
    size_t len = strlen(buf);
    if (len == 0 || buf[len - 1] != '\n') {
        if (feof(stream) && len + 1 < static_cast<size_t>(size)) {
            buf[len] = '\n'; // a last line without newline counts as complete
        } else {
            vxSetError(12, 2, VX_KIND_LIB, "Text line too long");
            return -6;
        }
    }
    *count = splitLine(buf, words, maxWords);
    return 0;
}

int vxReadLineBuf(FILE* stream, char** words, int maxWords, char* buf, int size) {
    int count = 0;
    return vxReadTextLine(stream, buf, words, maxWords, size, &count) == 0 ? count : -1;
}

int vxReadLine(FILE* stream, char** words, int maxWords) {
    return vxReadLineBuf(stream, words, maxWords, g_lineBuffer, sizeof g_lineBuffer);
}

int vxSplitWords(char* s, int low, int high, char** words, int maxWords) {
    return split(s, low, high, words, maxWords, SplitMode::Words);
}

int vxSplitRuns(char* s, int low, int high, char** words, int maxWords) {
    return split(s, low, high, words, maxWords, SplitMode::Runs);
}

int vxSplitEvery(char* s, int low, int high, char** words, int maxWords) {
    return split(s, low, high, words, maxWords, SplitMode::Every);
}

void vxTrimRight(char* text) {
    size_t n = strlen(text);
    while (n > 0 && text[n - 1] == ' ')
        text[--n] = '\0';
}

char* vxLastChar(char* text, int c) {
    return strrchr(text, c);
}

const char* vxLastChar(const char* text, int c) {
    return strrchr(text, c);
}

const char* vxFindString(const char* block, const char* text, size_t size) {
    size_t n = strlen(text);
    if (n == 0) return block;
    if (n > size) return nullptr;
    for (size_t i = 0; i + n <= size; ++i)
        if (memcmp(block + i, text, n) == 0) return block + i;
    return nullptr;
}

char* vxPoolString(const char* text, char** pool) {
    char* copy = *pool;
    size_t n = strlen(text) + 1;
    memcpy(copy, text, n);
    *pool += n;
    return copy;
}

bool vxPoolFits(const char* text, const char* pool, const char* poolEnd) {
    return poolEnd > pool && strlen(text) < static_cast<size_t>(poolEnd - pool);
}
