// Error recorder of the support library: the last error, the severity table and system texts.
#pragma once

#include <cstddef>

// Kinds of recorded errors.
enum VxErrorKind {
    VX_KIND_OS = 1,  // operating-system error numbers (errno), also the server's for transfers
    VX_KIND_DB = 5,  // status codes of a database interface (table rows only)
    VX_KIND_RPC = 7, // RPC library status codes, and 111 for a client that cannot be created
    VX_KIND_LIB = 8, // the library's own errors
};

constexpr int VX_ERROR_TEXT_MAX = 255; // longer texts are cut to their first 255 characters

struct VxError {
    int code = 0;
    int severity = 0;
    int kind = 0;
    char text[VX_ERROR_TEXT_MAX + 1] = {};
};

using VxErrorHandler = int (*)(int code, int severity, int kind, const char* text);

// Records an error (replacing the previous one) and passes it to the handler, if any.
// Returns the handler's result, or 0 without a handler. A null text records an empty text.
int vxSetError(int code, int severity, int kind, const char* text);

// While one lives, the errors of its thread are not recorded (nor handed to the handler): the
// work of a helper thread beside the thread whose errors the recorder tells.
class VxQuietErrors {
  public:
    VxQuietErrors();
    ~VxQuietErrors();
    VxQuietErrors(const VxQuietErrors&) = delete;
    VxQuietErrors& operator=(const VxQuietErrors&) = delete;
};

// Whether a VxQuietErrors lives on this thread (a reporter may then skip making its text).
bool vxErrorsQuiet();

// The last recorded error; code 0 when nothing has been recorded since vxClearError.
const VxError& vxLastError();
void vxClearError();

// Installs a handler (or none with nullptr); returns the previous one.
VxErrorHandler vxSetErrorHandler(VxErrorHandler handler);

// Severity of the first table row with this code and kind, or -1 when there is none.
int vxErrorSeverity(int code, int kind);

// The standard text of a table row, or nullptr when the row has none or does not exist.
const char* vxErrorStandardText(int code, int kind);

// Records errno as an operating-system error: strerror text, then " (subject)" when a subject is
// given, then " !". Severity from the table, 3 without a row. Records nothing when errno is 0.
// Returns the recorder's result (0 when nothing was recorded).
int vxSysError(const char* subject);

// As vxSysError for a given error number; 0 records nothing.
void vxWinError(int code, const char* subject);

// printf-style write to a file: mode 1 creates or truncates it, any other mode appends.
// Returns the number of characters written, or -1 (recorded as "vxPrintToFile: <path>").
int vxPrintToFile(const char* path, int mode, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Formats into a fixed buffer; returns false (and leaves a cut, NUL-ended text) when it did not
// fit.
bool vxFormat(char* out, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Copies a NUL-ended text into a fixed buffer; false (nothing copied) when it does not fit.
bool vxCopy(char* out, size_t size, const char* text);
