// Line reading and in-place field splitting for the server's text files, parameter files and
// command output; a few string routines.
#pragma once

#include <cstddef>
#include <cstdio>

constexpr int VX_LINE_BUFFER = 4096; // the library's line buffer (vxReadLine)

// Reads one line of at most size-1 bytes (newline included) into buf and splits it into words:
// runs of bytes 0x21..0xFF; a word that starts with a double quote runs to the closing quote.
// words gets at most maxWords-1 entries and a terminating null entry (maxWords >= 1); further
// words of the line are dropped. Results: 0 (a line, possibly empty), -1 (end of file, nothing
// read), -2 (read error, recorded), -6 (line too long, 12 "Text line too long" recorded; the
// rest of the line stays in the stream).
int vxReadTextLine(FILE* stream, char* buf, char** words, int maxWords, int size, int* count);

// As vxReadTextLine; the word count, or -1 for any result other than 0.
int vxReadLineBuf(FILE* stream, char** words, int maxWords, char* buf, int size);

// As vxReadLineBuf with the library's 4096-byte line buffer; the words stay valid until the next
// call.
int vxReadLine(FILE* stream, char** words, int maxWords);

// In-place splitters over a NUL-ended string. Bytes in [low, high] are word bytes (SplitWords) or
// separators (SplitRuns, SplitEvery). Single quotes group and are removed. The list gets at most
// maxWords-1 words and a null entry; splitting stops when it is full and the rest of the string
// stays as it was. Each returns the number of words.
int vxSplitWords(char* s, int low, int high, char** words, int maxWords);
int vxSplitRuns(char* s, int low, int high, char** words, int maxWords);
int vxSplitEvery(char* s, int low, int high, char** words, int maxWords);

// Removes trailing blanks in place.
void vxTrimRight(char* text);

// The last occurrence of c in text, or nullptr.
char* vxLastChar(char* text, int c);
const char* vxLastChar(const char* text, int c);

// The first position of text's bytes in block[0..size), or nullptr; an empty text is found at
// the block's start.
const char* vxFindString(const char* block, const char* text, size_t size);

// Copies text with its NUL to *pool and advances *pool past it; returns the copy. The caller
// checks the pool's room (see vxPoolFits).
char* vxPoolString(const char* text, char** pool);

// True when text and its NUL fit between *pool and poolEnd.
bool vxPoolFits(const char* text, const char* pool, const char* poolEnd);
