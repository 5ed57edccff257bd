// Text rules of the server's list files, safe local file writing and bounded line reading.
#include "serverdata/sd_text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lib/vx_err.h"
#include "lib/vx_names.h"
#include "params/def.h"

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// Bytes a shell (or the permit and list formats) would read as more than text.
bool isShellSpecial(unsigned char c) {
    return c != 0 && std::strchr(" \"'`$\\;&|<>(){}[]*?!#~^", c);
}

} // namespace

const char* sdUserFieldProblem(const char* text, size_t capacity) {
    size_t n = std::strlen(text);
    if (n >= capacity) return "text too long";
    for (size_t i = 0; i < n; i++) {
        unsigned char c = text[i];
        if (c == ':') return "':' is not allowed";
        if (c == '\'') return "a single quote is not allowed";
        if (isControl(c)) return "control characters and line ends are not allowed";
    }
    return nullptr;
}

const char* sdUserRecordProblem(const UserRecord& u) {
    if (std::memchr(u.name, 0, sizeof u.name) == nullptr) return "text too long";
    if (const char* p = vxNameProblem(u.name)) return p;
    const struct {
        const char* text;
        size_t size;
    } fields[] = {{u.password, sizeof u.password}, {u.fullName, sizeof u.fullName},
                  {u.phone, sizeof u.phone},       {u.workPhone, sizeof u.workPhone},
                  {u.room, sizeof u.room},         {u.comment, sizeof u.comment},
                  {u.mailName, sizeof u.mailName}};
    for (const auto& f : fields) {
        if (std::memchr(f.text, 0, f.size) == nullptr) return "text too long";
        if (const char* p = sdUserFieldProblem(f.text, f.size)) return p;
    }
    return nullptr;
}

const char* sdGroupNameProblem(const char* name) {
    if (name[0] != '\0' && std::strlen(name) > 31) return "group name longer than 31 bytes";
    return vxNameProblem(name);
}

const char* sdKindProblem(const char* kind) {
    size_t n = std::strlen(kind);
    if (n == 0 || n > 7) return "list kind must be 1 to 7 characters";
    for (size_t i = 0; i < n; i++) {
        unsigned char c = kind[i];
        if (c <= 0x20 || c == 0x7F || c == '"' || c == '\'') return "bad character in list kind";
    }
    return nullptr;
}

const char* sdShellPathProblem(const char* path) {
    size_t n = std::strlen(path);
    if (n == 0) return "empty path";
    if (n > 255 - std::strlen("./cprestore ") || n > 255 - std::strlen("._vx_lck_"))
        return "path too long";
    if (path[0] == '-') return "path must not begin with '-'";
    for (size_t i = 0; i < n; i++) {
        unsigned char c = path[i];
        if (isControl(c) || isShellSpecial(c))
            return "blanks, quotes, control characters and shell metacharacters are not allowed "
                   "in a server path";
    }
    return nullptr;
}

const char* sdUrlProblem(const char* url) {
    size_t n = std::strlen(url);
    if (n == 0) return "empty URL";
    if (n > SD_URL_WORD_MAX) return "URL longer than 511 characters";
    for (size_t i = 0; i < n; i++)
        if (static_cast<unsigned char>(url[i]) <= 0x20 || url[i] == 0x7F)
            return "blanks and control characters are not allowed in a URL";
    return nullptr;
}

int sdRefuse(int result, const char* what, const char* reason) {
    char text[VX_ERROR_TEXT_MAX + 1];
    vxFormat(text, sizeof text, "%.80s: %s", what, reason); // the reason always fits
    vxSetError(22, 2, VX_KIND_LIB, text);
    return result;
}

int sdWriteLocalFile(const char* path, bool (*write)(FILE*, const void*), const void* context,
                     unsigned mode) {
    char tmp[512];
    if (!vxFormat(tmp, sizeof tmp, "%s.tmp", path)) return sdRefuse(-2, path, "name too long");
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC, mode);
    FILE* f = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (!f) {
        if (fd >= 0) close(fd);
        vxSysError(tmp);
        return -2;
    }
    bool ok = write(f, context) && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    int savedErrno = errno;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(tmp, path) != 0) {
        if (ok) savedErrno = errno;
        unlink(tmp);
        errno = savedErrno ? savedErrno : EIO;
        vxSysError(path);
        return -2;
    }
    return 0;
}

int sdRefuseLine(int result, const char* fileName, int lineNo, const char* reason) {
    char text[VX_ERROR_TEXT_MAX + 1];
    vxFormat(text, sizeof text, "%.80s:%d: %s", fileName, lineNo, reason);
    vxSetError(22, 2, VX_KIND_LIB, text);
    return result;
}

int sdReadLine(FILE* in, char* buf, int size, const char* fileName, int* lineNo) {
    int n = 0;
    int c = 0;
    ++*lineNo;
    while ((c = std::getc(in)) != EOF) {
        if (c == '\0') return sdRefuseLine(-1, fileName, *lineNo, "a NUL byte");
        buf[n++] = static_cast<char>(c);
        if (c == '\n') break;
        if (n == size - 1) {
            char text[VX_ERROR_TEXT_MAX + 1];
            vxFormat(text, sizeof text, "%s: line longer than %d characters", fileName, size - 1);
            vxSetError(12, 2, VX_KIND_LIB, text);
            return -1;
        }
    }
    if (c == EOF && std::ferror(in)) {
        vxSysError(fileName);
        return -1;
    }
    buf[n] = '\0';
    if (n == 0) return 0;
    const char* cr = static_cast<const char*>(std::memchr(buf, '\r', static_cast<size_t>(n)));
    if (cr && !(cr == buf + n - 2 && buf[n - 1] == '\n'))
        return sdRefuseLine(-1, fileName, *lineNo, "a line ended by CR alone");
    return 1;
}

const char* sdParam(const char* key, const char* fallback) {
    SdKeepError keep; // a parameter that falls back to its default is no failure to report
    const char* v = vxGetParam(key);
    return v ? v : fallback;
}

SdKeepError::SdKeepError()
    : m_code(vxLastError().code), m_severity(vxLastError().severity), m_kind(vxLastError().kind) {
    vxCopy(m_text, sizeof m_text, vxLastError().text); // both hold VX_ERROR_TEXT_MAX + 1
}

SdKeepError::~SdKeepError() {
    if (m_code == 0)
        vxClearError();
    else
        vxSetError(m_code, m_severity, m_kind, m_text);
}

void sdRemove(const char* path) {
    unlink(path);
}
