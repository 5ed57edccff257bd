// Readers of the statistics result for the table and the chart.
#include "stats/stat_result.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "lib/arit.h"
#include "lib/txt0.h"
#include "lib/vx_err.h"

namespace {

// Opens the result file for reading; nullptr with the error recorded.
FILE* openResult(const char* path) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) vxSysError(path);
    return f;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int StatCount(const char* field) {
    const char* p = field;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    for (; isDigit(*p); ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

bool StatOmittedLine(const char* piece) {
    unsigned long long lines = 0, requests = 0;
    int used = -1;
    if (sscanf(piece, STAT_OMITTED_FORMAT "%n", &lines, &requests, &used) != 2 || used < 0)
        return false;
    return strspn(piece + used, "\r\n") == strlen(piece + used);
}

StatEntry StatTableEntry(char* piece, StatSuperCheck isSuper, void* context) {
    if (StatOmittedLine(piece)) {
        piece[strcspn(piece, "\r\n")] = '\0';
        return StatEntry{StatEntry::Note, piece, nullptr, 0, nullptr};
    }
    char* fields[STAT_FIELDS_MAX + 1];
    int n = vxSplitWords(piece, 0x21, 0xFF, fields, STAT_FIELDS_MAX + 1);
    if (n == 0) return StatEntry{StatEntry::None, nullptr, nullptr, 0, nullptr};
    // With one or two fields the splitter has cut the piece at its first separator.
    if (n < 3) return StatEntry{StatEntry::Text, piece, nullptr, 0, nullptr};
    if (isSuper != nullptr && isSuper(fields[0], context))
        return StatEntry{StatEntry::None, nullptr, nullptr, 0, nullptr};
    return StatEntry{StatEntry::Entry, nullptr, fields[0], StatCount(fields[1]), fields[2]};
}

int StatTableLine(char* piece, StatSuperCheck isSuper, void* context, char* out, size_t outSize) {
    StatEntry e = StatTableEntry(piece, isSuper, context);
    if (e.kind == StatEntry::None) return 0;
    if (e.kind == StatEntry::Text || e.kind == StatEntry::Note)
        snprintf(out, outSize, "%s", e.text);
    else
        snprintf(out, outSize, "%16s  %8d    %s", e.user, e.count, e.target);
    return 1;
}

int ReadStatTable(const char* path, StatSuperCheck isSuper, void* superContext, StatLineSink sink,
                  void* sinkContext, int maxLines, bool* truncated) {
    if (truncated != nullptr) *truncated = false;
    FILE* f = openResult(path);
    if (f == nullptr) return -1;
    char piece[STAT_PIECE_MAX + 1];
    char line[STAT_LINE_MAX];
    int shown = 0;
    while (fgets(piece, sizeof piece, f) != nullptr) {
        const bool note = StatOmittedLine(piece);
        if (StatTableLine(piece, isSuper, superContext, line, sizeof line) == 1) {
            if (!note && maxLines >= 0 && shown >= maxLines) {
                if (truncated != nullptr) *truncated = true;
                break;
            }
            sink(line, sinkContext);
            ++shown;
        }
    }
    fclose(f);
    return shown;
}

double StatValue(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Only a decimal number is read: no hexadecimal form, no "inf" or "nan".
    if (!isDigit(*p) && !(*p == '.' && isDigit(p[1]))) return 0.0;
    double value = 0.0;
    auto [end, error] = std::from_chars(p, p + strlen(p), value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Either far too large or far too small: the digits before the exponent decide.
        const char* e = p;
        while (isDigit(*e) || *e == '.')
            ++e;
        value = (e[1] == '-') ? 0.0 : HUGE_VAL;
    }
    (void)end;
    return negative ? -value : value;
}

int ReadStatValues(const char* path, double* values, int capacity, bool* truncated) {
    if (truncated != nullptr) *truncated = false;
    FILE* f = openResult(path);
    if (f == nullptr) return -1;
    char piece[STAT_PIECE_MAX + 1];
    int count = 0;
    while (fgets(piece, sizeof piece, f) != nullptr) {
        if (count == capacity) {
            if (truncated != nullptr) *truncated = true;
            break;
        }
        for (char* p = piece; *p; ++p)
            if (*p == '\n') *p = ' ';
        values[count++] = StatValue(piece);
    }
    fclose(f);
    return count;
}

void StatChartLabels(const StatQuery& q, int count, char (*labels)[STAT_LABEL_SIZE]) {
    VxDateTime at{q.startYear, q.startMonth, q.startDay, q.startHour, q.startMinute, 0};
    int step = 1;
    if (q.resolution == STAT_RES_10MIN) step = 10;
    if (q.resolution == STAT_RES_HOUR) step = 60;
    if (q.resolution == STAT_RES_DAY) step = 1440;
    for (int i = 0; i < count; ++i) {
        if (q.resolution == STAT_RES_MONTH) {
            if (++at.month > 12) {
                at.month = 1;
                ++at.year;
            }
        } else if (i > 0) {
            VxDateTime next;
            vxAddMinutes(&next, &at, step);
            at = next;
        }
        snprintf(labels[i], STAT_LABEL_SIZE, "%4d %02d.%02d %02d:%02d", at.year, at.month, at.day,
                 at.hour, at.minute);
    }
}

const char* StatResolutionName(int resolution) {
    static const char* const kNames[] = {"1/ perc", "1/ 10perc", "1/óra", "1/nap", "1/hónap"};
    if (resolution < 0 || resolution > 4) return "";
    return kNames[resolution];
}

void StatPeriodLine(const StatQuery& q, char* out, size_t outSize) {
    char start[64];
    char end[64];
    snprintf(start, sizeof start, "%4d.%02d.%02d %02d:%02d", q.startYear, q.startMonth, q.startDay,
             q.startHour, q.startMinute);
    snprintf(end, sizeof end, "%4d.%02d.%02d %02d:%02d", q.endYear, q.endMonth, q.endDay, q.endHour,
             q.endMinute);
    snprintf(out, outSize, "%s                 %s                 %s", start,
             StatResolutionName(q.resolution), end);
}

void StatValueRange(const double* values, int count, double* lowest, double* highest) {
    double low = 1000000.0;
    double high = -1.0;
    for (int i = 0; i < count; ++i) {
        if (values[i] > high) high = values[i];
        if (values[i] < low) low = values[i];
    }
    *lowest = low;
    *highest = high;
}

void StatTotalLine(double sum, char* out, size_t outSize) {
    snprintf(out, outSize, "Adatforgalom: %10.0f", sum);
}

namespace {

void collectLine(const char* line, void* lines) {
    static_cast<std::vector<std::string>*>(lines)->emplace_back(line);
}

bool readSeries(const char* path, const StatQuery& q, StatResult* r) {
    r->values.resize(STAT_POINTS_MAX);
    const int n = ReadStatValues(path, r->values.data(), STAT_POINTS_MAX, &r->truncated);
    r->values.resize(n < 0 ? 0 : static_cast<size_t>(n));
    if (n < 0) return false;
    std::unique_ptr<char[][STAT_LABEL_SIZE]> labels(
        new char[static_cast<size_t>(n)][STAT_LABEL_SIZE]);
    StatChartLabels(q, n, labels.get());
    r->labels.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        r->labels.emplace_back(labels[i]);
    StatValueRange(r->values.data(), n, &r->lowest, &r->highest);
    for (double value : r->values)
        r->total += value;
    char line[512];
    StatPeriodLine(q, line, sizeof line);
    r->periodLine = line;
    StatTotalLine(r->total, line, sizeof line);
    r->totalLine = line;
    return true;
}

} // namespace

bool ReadStatResult(const char* path, const StatQuery& query, StatSuperCheck isSuper,
                    void* superContext, StatResult* result) {
    *result = StatResult{};
    result->query = query;
    if (query.kind == STAT_KIND_URL || query.kind == STAT_KIND_SITE) {
        result->read = ReadStatTable(path, isSuper, superContext, collectLine, &result->lines,
                                     STAT_TABLE_LINES_MAX, &result->truncated) >= 0;
        if (!result->lines.empty() && StatOmittedLine(result->lines.back().c_str())) {
            result->omitted = std::move(result->lines.back());
            result->lines.pop_back();
        }
    } else
        result->read = readSeries(path, query, result);
    return result->read;
}
