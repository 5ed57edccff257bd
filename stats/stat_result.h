// Readers of the statistics result "statout.txt": the lines of the table page and the values,
// labels and texts of the chart page.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "stats/stat_query.h"

// Pieces of the result file: lines are read in pieces of at most this many characters, so that
// a longer line counts as several.
constexpr int STAT_PIECE_MAX = 511;
// Fields a table piece is split into at most; further fields stay in the last one's tail.
constexpr int STAT_FIELDS_MAX = 251;
// Room for one shown table line: "%16s  %8d    %s" around fields of one piece.
constexpr size_t STAT_LINE_MAX = STAT_PIECE_MAX + 40;
// Points of one chart, and the room of a label ("YYYY MM.DD HH:MM" and its NUL, 19 characters).
constexpr int STAT_POINTS_MAX = 10000;
// The table page shows at most this many lines of a result.
constexpr int STAT_TABLE_LINES_MAX = 99999;
constexpr size_t STAT_LABEL_SIZE = 20;

// The last line of a URL or site result that the tool cut at the query's line limit: the lines
// and requests it left out, in the file's Windows-1250 ("további ... kérés").
#define STAT_OMITTED_FORMAT                                                                        \
    "A lista csonka: tov\xe1"                                                                      \
    "bbi %llu sor (%llu k\xe9r\xe9s) kimaradt."

// Whether a piece of a table result is that line (its line end aside).
bool StatOmittedLine(const char* piece);

// Receives one shown table line.
using StatLineSink = void (*)(const char* line, void* context);

// One piece of a table result, split in place: no field or a super user's entry (None), a free
// text line (Text: its text before the first separator), or an entry (user, count, target).
struct StatEntry {
    enum Kind { None, Text, Entry, Note } kind;
    const char* text; // Text: the piece's text before its first separator; Note: the line
    const char* user; // Entry: the fields
    int count;
    const char* target;
};
StatEntry StatTableEntry(char* piece, StatSuperCheck isSuper, void* context);

// Turns one piece (NUL-ended, split in place) into the shown line: 1 with the line in out, 0
// when the piece shows nothing (no field, or a super user's entry). One or two fields show the
// piece's text before its first separator; three or more "%16s  %8d    %s" from name, count and
// URL or site. isSuper may be nullptr (nobody is a super user).
int StatTableLine(char* piece, StatSuperCheck isSuper, void* context, char* out, size_t outSize);

// Reads a result file for the table and hands each shown line to sink. The number of lines
// shown, or -1 (recorded) when the file cannot be opened. With maxLines >= 0 reading stops at the
// first shown line beyond maxLines, and *truncated (when given) tells whether there was one; the
// tool's line on what it left out (StatOmittedLine) is shown whole and beyond the limit.
int ReadStatTable(const char* path, StatSuperCheck isSuper, void* superContext, StatLineSink sink,
                  void* sinkContext, int maxLines = -1, bool* truncated = nullptr);

// A count field: optional sign and the leading decimal digits; no digits give 0, and a count
// beyond the 32-bit range is held at its bound.
int StatCount(const char* field);

// A value: leading blanks skipped, then a decimal floating-point number as far as it goes; no
// number gives 0.0. Independent of the process's locale.
double StatValue(const char* text);

// Reads at most capacity values, one per piece (an empty line is a value of 0). The count of
// values, or -1 (recorded) when the file cannot be opened; *truncated (when given) tells whether
// the file held more pieces than capacity.
int ReadStatValues(const char* path, double* values, int capacity, bool* truncated);

// The label of each of count points from the query's start, stepping by the resolution: a
// calendar month for monthly (the first label already one month on), else 10, 60 or 1440
// minutes (1 for the per-minute code) added to the previous label. labels holds count slots.
void StatChartLabels(const StatQuery& query, int count, char (*labels)[STAT_LABEL_SIZE]);

// The title line: start, the resolution's name and end, 17 blanks between.
void StatPeriodLine(const StatQuery& query, char* out, size_t outSize);

// The resolution's name in the title line ("" for an unknown code).
const char* StatResolutionName(int resolution);

// Lowest and highest of the values, starting from 1,000,000 and -1.
void StatValueRange(const double* values, int count, double* lowest, double* highest);

// "Adatforgalom: %10.0f" of the sum.
void StatTotalLine(double sum, char* out, size_t outSize);

// A statistics result as the pages show it: the query it answers and, by the query's kind, the
// table's lines or the chart's series, read once from the result file.
struct StatResult {
    StatQuery query{};
    bool read = false; // the result file could be read; else the rest is empty
    // URL and site queries: the shown lines (ReadStatTable's, at most STAT_TABLE_LINES_MAX;
    // truncated: the file held more), in the file's Windows-1250.
    std::vector<std::string> lines;
    // The tool's line on what it left out of a cut list (STAT_OMITTED_FORMAT), or empty.
    std::string omitted;
    // Whose requests: the user's or the group's name of the query (Windows-1250), or empty for
    // all users.
    std::string scopeName;
    // Traffic queries: a value and a label per time bucket (ReadStatValues' and
    // StatChartLabels'; truncated: the file held more than STAT_POINTS_MAX), their lowest and
    // highest (StatValueRange) and sum, and the chart's period and total lines.
    std::vector<double> values;
    std::vector<std::string> labels;
    bool truncated = false;
    double lowest = 0, highest = 0, total = 0;
    std::string periodLine, totalLine;
};

// Reads a result file as the answer to query into *result (replacing what it held): the table's
// lines for a URL or site query (isSuper as for ReadStatTable), else the chart's series. false,
// with the error recorded and result->read false, when the file cannot be opened.
bool ReadStatResult(const char* path, const StatQuery& query, StatSuperCheck isSuper,
                    void* superContext, StatResult* result);
