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

// The reasons name the bounds as numbers.
static_assert(SD_GROUP_NAME_MAX == 31 && SD_URL_WORD_MAX == 511);

const char* sdRefusalReason(SdRefusal code, const char* refused) {
    switch (code) {
    case SdRefusal::None:
        return nullptr;
    case SdRefusal::TooLong:
        return "text too long";
    case SdRefusal::Separator:
        return "':' is not allowed";
    case SdRefusal::Quote:
        return "a single quote is not allowed";
    case SdRefusal::Control:
        return "control characters and line ends are not allowed";
    case SdRefusal::Name:
        return vxNameProblem(refused);
    case SdRefusal::GroupNameTooLong:
        return "group name longer than 31 bytes";
    case SdRefusal::KindLength:
        return "list kind must be 1 to 7 characters";
    case SdRefusal::KindCharacter:
        return "bad character in list kind";
    case SdRefusal::PathEmpty:
        return "empty path";
    case SdRefusal::PathTooLong:
        return "path too long";
    case SdRefusal::PathDash:
        return "path must not begin with '-'";
    case SdRefusal::PathCharacters:
        return "blanks, quotes, control characters and shell metacharacters are not allowed in a "
               "server path";
    case SdRefusal::UrlEmpty:
        return "empty URL";
    case SdRefusal::UrlTooLong:
        return "URL longer than 511 characters";
    case SdRefusal::UrlCharacters:
        return "blanks and control characters are not allowed in a URL";
    }
    return nullptr;
}

SdRefusal sdUserFieldProblem(const char* text, size_t capacity) {
    size_t n = std::strlen(text);
    if (n >= capacity) return SdRefusal::TooLong;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = text[i];
        if (c == ':') return SdRefusal::Separator;
        if (c == '\'') return SdRefusal::Quote;
        if (isControl(c)) return SdRefusal::Control;
    }
    return SdRefusal::None;
}

SdRefusal sdUserNameProblem(const char* name) {
    return vxNameProblem(name) ? SdRefusal::Name : SdRefusal::None;
}

SdRefusal sdUserRecordProblem(const UserRecord& u) {
    if (std::memchr(u.name, 0, sizeof u.name) == nullptr) return SdRefusal::TooLong;
    if (SdRefusal r = sdUserNameProblem(u.name); r != SdRefusal::None) return r;
    const struct {
        const char* text;
        size_t size;
    } fields[] = {{u.password, sizeof u.password}, {u.fullName, sizeof u.fullName},
                  {u.phone, sizeof u.phone},       {u.workPhone, sizeof u.workPhone},
                  {u.room, sizeof u.room},         {u.comment, sizeof u.comment},
                  {u.mailName, sizeof u.mailName}};
    for (const auto& f : fields) {
        if (std::memchr(f.text, 0, f.size) == nullptr) return SdRefusal::TooLong;
        if (SdRefusal r = sdUserFieldProblem(f.text, f.size); r != SdRefusal::None) return r;
    }
    return SdRefusal::None;
}

SdRefusal sdGroupNameProblem(const char* name) {
    if (std::strlen(name) > static_cast<size_t>(SD_GROUP_NAME_MAX))
        return SdRefusal::GroupNameTooLong;
    return sdUserNameProblem(name);
}

SdRefusal sdKindProblem(const char* kind) {
    size_t n = std::strlen(kind);
    if (n == 0 || n > 7) return SdRefusal::KindLength;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = kind[i];
        if (c <= 0x20 || c == 0x7F || c == '"' || c == '\'') return SdRefusal::KindCharacter;
    }
    return SdRefusal::None;
}

SdRefusal sdShellPathProblem(const char* path) {
    size_t n = std::strlen(path);
    if (n == 0) return SdRefusal::PathEmpty;
    if (n > 255 - std::strlen("./cprestore ") || n > 255 - std::strlen("._vx_lck_"))
        return SdRefusal::PathTooLong;
    if (path[0] == '-') return SdRefusal::PathDash;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = path[i];
        if (isControl(c) || isShellSpecial(c)) return SdRefusal::PathCharacters;
    }
    return SdRefusal::None;
}

SdRefusal sdUrlProblem(const char* url) {
    size_t n = std::strlen(url);
    if (n == 0) return SdRefusal::UrlEmpty;
    if (n > SD_URL_WORD_MAX) return SdRefusal::UrlTooLong;
    for (size_t i = 0; i < n; i++)
        if (static_cast<unsigned char>(url[i]) <= 0x20 || url[i] == 0x7F)
            return SdRefusal::UrlCharacters;
    return SdRefusal::None;
}

int sdRefuse(int result, const char* what, const char* reason) {
    char text[VX_ERROR_TEXT_MAX + 1];
    vxFormat(text, sizeof text, "%.80s: %s", what, reason); // the reason always fits
    vxSetError(22, 2, VX_KIND_LIB, text);
    return result;
}

int sdRefuse(int result, const char* what, SdRefusal code, const char* refused) {
    return sdRefuse(result, what, sdRefusalReason(code, refused));
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
