// Error recorder of the support library: the last error, the severity table and system texts.
#include "lib/vx_err.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

VxError g_error;
VxErrorHandler g_handler = nullptr;

struct ErrorRow {
    int code;
    int severity;
    int kind;
    const char* text;
};

// Searched by code and kind; the row with code 0 ends it.
const ErrorRow kErrorTable[] = {
    {2, 5, 1, "The object does not exeist !"},
    {6, 5, 1, nullptr},
    {13, 5, 1, nullptr},
    {17, 5, 1, nullptr},
    {5, 5, 1, nullptr},
    {53, 5, 1, nullptr},
    {28, 2, 1, nullptr},
    {24, 2, 1, nullptr},
    {27, 2, 1, nullptr},
    {100, 6, 5, nullptr},
    {-239, 5, 5, nullptr},
    {-1261, 4, 5, nullptr},
    {-1262, 4, 5, nullptr},
    {-1263, 4, 5, nullptr},
    {-1264, 4, 5, nullptr},
    {-1265, 4, 5, nullptr},
    {-1266, 4, 5, nullptr},
    {-1267, 4, 5, nullptr},
    {-1268, 4, 5, nullptr},
    {-1270, 4, 5, nullptr},
    {-1271, 4, 5, nullptr},
    {-1276, 4, 5, nullptr},
    {-1277, 4, 5, nullptr},
    {-1301, 4, 5, nullptr},
    {-1317, 4, 5, nullptr},
    {-1117, 4, 5, nullptr},
    {-1200, 4, 5, nullptr},
    {-1201, 4, 5, nullptr},
    {-1213, 4, 5, nullptr},
    {-1204, 4, 5, nullptr},
    {-1206, 4, 5, nullptr},
    {-1210, 4, 5, nullptr},
    {-1214, 4, 5, nullptr},
    {-1215, 4, 5, nullptr},
    {-1216, 4, 5, nullptr},
    {-1218, 4, 5, nullptr},
    {-1221, 4, 5, nullptr},
    {-1222, 4, 5, nullptr},
    {-1223, 4, 5, nullptr},
    {-1224, 4, 5, nullptr},
    {-1226, 4, 5, nullptr},
    {1, 4, 7, nullptr},
    {2, 4, 7, nullptr},
    {11, 4, 7, nullptr},
    {7, 5, 7, nullptr},
    {101, 4, 8, "Corrupted data file"},
    {102, 4, 8, "Parameter file error"},
    {103, 4, 8, "Compressing error"},
    {104, 4, 8, "Data error"},
    {105, 5, 8, "Processing error"},
    {106, 4, 8, "Not a PIXRA file"},
    {107, 5, 8, "No such parameter"},
    {108, 2, 8, "Syntax error"},
    {109, 5, 8, "Time out"},
    {110, 5, 8, "Object not found"},
    {0, 0, 0, nullptr},
};

const ErrorRow* findRow(int code, int kind) {
    for (const ErrorRow* row = kErrorTable; row->code != 0; ++row)
        if (row->code == code && row->kind == kind) return row;
    return nullptr;
}

} // namespace

namespace {
thread_local int g_quiet = 0; // VxQuietErrors alive on this thread
} // namespace

VxQuietErrors::VxQuietErrors() {
    ++g_quiet;
}

VxQuietErrors::~VxQuietErrors() {
    --g_quiet;
}

bool vxErrorsQuiet() {
    return g_quiet > 0;
}

int vxSetError(int code, int severity, int kind, const char* text) {
    if (g_quiet > 0) return 0;
    g_error.code = code;
    g_error.severity = severity;
    g_error.kind = kind;
    g_error.text[0] = '\0';
    if (text) {
        size_t n = strnlen(text, VX_ERROR_TEXT_MAX);
        memcpy(g_error.text, text, n);
        g_error.text[n] = '\0';
    }
    return g_handler ? g_handler(code, severity, kind, g_error.text) : 0;
}

const VxError& vxLastError() {
    return g_error;
}

void vxClearError() {
    g_error = VxError{};
}

VxErrorHandler vxSetErrorHandler(VxErrorHandler handler) {
    VxErrorHandler previous = g_handler;
    g_handler = handler;
    return previous;
}

int vxErrorSeverity(int code, int kind) {
    const ErrorRow* row = findRow(code, kind);
    return row ? row->severity : -1;
}

const char* vxErrorStandardText(int code, int kind) {
    const ErrorRow* row = findRow(code, kind);
    return row ? row->text : nullptr;
}

static int recordSystemError(int code, const char* subject) {
    if (code == 0) return 0;
    // System text (at most 256 characters) + " (" + subject + ")" + " !"; vxSetError cuts to 255.
    char text[600];
    snprintf(text, sizeof text, "%.256s%s%.300s%s !", strerror(code), subject ? " (" : "",
             subject ? subject : "", subject ? ")" : "");
    int severity = vxErrorSeverity(code, VX_KIND_OS);
    return vxSetError(code, severity < 0 ? 3 : severity, VX_KIND_OS, text);
}

int vxSysError(const char* subject) {
    return recordSystemError(errno, subject);
}

void vxWinError(int code, const char* subject) {
    recordSystemError(code, subject);
}

int vxPrintToFile(const char* path, int mode, const char* format, ...) {
    FILE* f = fopen(path, mode == 1 ? "w+" : "a");
    if (!f) {
        char subject[300];
        snprintf(subject, sizeof subject, "vxPrintToFile: %.280s", path);
        vxSysError(subject);
        return -1;
    }
    va_list args;
    va_start(args, format);
    int written = vfprintf(f, format, args);
    va_end(args);
    if (fclose(f) != 0 || written < 0) {
        char subject[300];
        snprintf(subject, sizeof subject, "vxPrintToFile: %.280s", path);
        vxSysError(subject);
        return -1;
    }
    return written;
}

bool vxFormat(char* out, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(out, size, format, args);
    va_end(args);
    return n >= 0 && static_cast<size_t>(n) < size;
}

bool vxCopy(char* out, size_t size, const char* text) {
    size_t n = strlen(text);
    if (n >= size) return false;
    memcpy(out, text, n + 1);
    return true;
}
