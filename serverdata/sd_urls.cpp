// The permit files: loading, saving, releasing, exporting and importing the URL list of the
// current group; the checked editing of the URL table.
#include <algorithm>
#include <cstring>

#include "lib/txt0.h"
#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "serverdata/sd_text.h"
#include "serverdata/url_list.h"

namespace {

// The current group's permit file and its working copy "sites_of_<name>.txt", or the viewing
// copy "view_sites_of_<name>.txt" (local: 64 bytes; a name has at most 31 bytes).
ListFile permitFile(const GroupRecord& g, char* local, bool viewing = false) {
    std::snprintf(local, 64, "%ssites_of_%s.txt", viewing ? "view_" : "", g.name);
    return {g.permitPath, local};
}

constexpr size_t kEndOfFile = static_cast<size_t>(-1);
constexpr size_t kNulByte = static_cast<size_t>(-2);

// Reads one line of a URL import without its LF into line (size bytes, a longer line cut to
// size - 1 bytes and the rest of it skipped): its length, kEndOfFile at the end of the file or a
// read error, kNulByte for a line with a NUL byte.
size_t readImportLine(FILE* in, char* line, size_t size) {
    size_t n = 0;
    bool nul = false;
    int c;
    while ((c = std::getc(in)) != EOF && c != '\n') {
        nul = nul || c == '\0';
        if (n + 1 < size) line[n++] = static_cast<char>(c);
    }
    line[n] = '\0';
    if (c == EOF && (n == 0 || std::ferror(in)) && !nul) return kEndOfFile;
    return nul ? kNulByte : n;
}

} // namespace

bool UrlList::Write(FILE* f, const void* list, int) {
    const UrlList& l = *static_cast<const UrlList*>(list);
    for (int i = 0; i < l.m_count; i++)
        if (std::fprintf(f, "%s\n", l.m_urls[i]) < 0) return false;
    return true;
}

// Reads the words of a permit file into the emptied URL table, whatever the length of its lines:
// 0, or -1 (recorded) when a word is longer than 511 bytes or the table is full. Words are taken
// as the file holds them; the rule for entered URLs waits for the page.
int UrlList::ReadPermitFile(FILE* in) {
    char word[SD_URL_WORD_MAX + 1];
    size_t length = 0;
    int lineNo = 1;
    Clear();
    for (;;) {
        int c = std::getc(in);
        // A NUL byte would end the word where the file does not (and an empty word vanishes).
        if (c == '\0') return sdRefuseLine(-1, "permit file", lineNo, "a NUL byte");
        lineNo += c == '\n';
        bool separator = c == EOF || c == ' ' || (c >= '\t' && c <= '\r');
        if (!separator) {
            if (length == SD_URL_WORD_MAX) {
                word[length] = '\0';
                return sdRefuse(-1, word, "permit file word longer than 511 characters");
            }
            word[length++] = static_cast<char>(c);
            continue;
        }
        if (length > 0) {
            word[length] = '\0';
            length = 0;
            if (Append(word) < 0) return -1;
        }
        if (c == EOF) break;
    }
    if (std::ferror(in)) {
        vxSysError("permit file");
        return -1;
    }
    modified = 0;
    return 0;
}

int UrlList::Load(bool forEditing) {
    if (currentGroup < 0 || currentGroup >= m_groups.Count()) return 0;
    char local[64];
    ListFile file = permitFile(m_groups[currentGroup], local, !forEditing);
    int rc;
    if (forEditing) {
        rc = m_lock.Checkout(file.remote, file.local);
        if (rc < 0) return rc;
    } else {
        rc = vxGetRemoteFile(m_lock.Host(), file.remote, file.local);
        if (rc != 0 && rc != 2) return rc;
        rc = rc == 0 ? 1 : 0;
    }
    if (rc == 0) {
        Clear();
        return 1;
    }
    FILE* in = std::fopen(file.local, "rb");
    if (!in) {
        vxSysError(file.local);
        if (forEditing) m_lock.DropAfterFailure(&file, 1);
        return -2;
    }
    // A load that fails leaves the table as it was.
    static char savedPool[SD_URL_POOL_SIZE];
    static char* savedUrls[SD_MAX_URLS];
    std::memcpy(savedPool, m_pool, sizeof m_pool);
    std::memcpy(savedUrls, m_urls, sizeof m_urls);
    const int32_t savedCount = m_count, savedModified = modified;
    char* const savedCursor = m_cursor;
    rc = ReadPermitFile(in);
    std::fclose(in);
    if (rc < 0) {
        std::memcpy(m_pool, savedPool, sizeof m_pool);
        std::memcpy(m_urls, savedUrls, sizeof m_urls);
        m_count = savedCount, modified = savedModified, m_cursor = savedCursor;
    }
    if (!forEditing)
        sdRemove(file.local);
    else if (rc < 0)
        m_lock.DropAfterFailure(&file, 1);
    return rc < 0 ? -2 : 1;
}

int UrlList::Save() {
    if (!modified) return Release() < 0 ? -1 : 0; // nothing to write: only release
    std::sort(m_urls, m_urls + m_count, sdLess);
    if (currentGroup < 0 || currentGroup >= m_groups.Count()) return 0;
    char local[64];
    ListFile file = permitFile(m_groups[currentGroup], local);
    int rc = m_lock.CommitAll(&file, 1, "PROXYPROC", "kaka", Write, this);
    if (rc == 1) modified = 0;
    return rc;
}

int UrlList::Release() {
    for (int i = 0; i < m_groups.Count(); i++) {
        char local[64];
        ListFile file = permitFile(m_groups[i], local);
        if (m_lock.ReleaseAll(&file, 1) < 0) return -1;
    }
    modified = 0;
    return 0;
}

int UrlList::Export(const char* fileName) const {
    auto write = [](FILE* f, const void* c) {
        const UrlList& list = *static_cast<const UrlList*>(c);
        for (int i = 0; i < list.m_count; i++)
            if (std::fprintf(f, "%s\r\n", list.m_urls[i]) < 0) return false;
        return true;
    };
    return sdWriteLocalFile(fileName, write, this) == 0 ? 1 : -2;
}

int UrlList::Import(const char* fileName) {
    FILE* in = std::fopen(fileName, "rb");
    if (!in) {
        vxSysError(fileName);
        return -2;
    }
    // A URL of 511 characters with its CR LF; one byte more shows a longer line.
    char line[SD_URL_WORD_MAX + 4];
    int result = 1, lineNo = 0;
    size_t n = 0;
    while (result == 1 && (n = readImportLine(in, line, sizeof line)) != kEndOfFile) {
        ++lineNo;
        // A NUL byte would end the URL where the line does not (or drop the line).
        if (n == kNulByte) {
            result = sdRefuseLine(-4, fileName, lineNo, "a NUL byte");
            break;
        }
        if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
        if (n > static_cast<size_t>(SD_URL_WORD_MAX)) {
            result = sdRefuse(-4, fileName, "line longer than 511 characters");
            break;
        }
        vxTrimRight(line);
        bool known = false;
        for (int i = 0; i < m_count && !known; i++)
            known = std::strcmp(m_urls[i], line) == 0;
        if (line[0] && !known && Add(line) < 0) result = -4;
    }
    if (result == 1 && std::ferror(in)) result = sdRefuse(-4, fileName, "read error");
    std::fclose(in);
    return result;
}

int UrlList::Add(const char* url) {
    if (SdRefusal r = sdUrlProblem(url); r != SdRefusal::None) return sdRefuse(-1, url, r, url);
    return Append(url);
}

// Appends a URL to the pool and the table: the index used, or -1 (recorded) at their bounds.
int UrlList::Append(const char* url) {
    if (m_count >= SD_MAX_URLS) return sdRefuse(-1, url, "URL table full (at most 1024 URLs)");
    if (!m_cursor) m_cursor = m_pool;
    size_t n = std::strlen(url) + 1;
    if (m_cursor - m_pool + n > static_cast<size_t>(SD_URL_POOL_USABLE))
        return sdRefuse(-1, url, "URL pool full (32758 bytes)");
    std::memcpy(m_cursor, url, n);
    m_urls[m_count] = m_cursor;
    m_cursor += n;
    modified = 1;
    return m_count++;
}

void UrlList::Delete(int index) {
    if (index < 0 || index >= m_count) return;
    std::memmove(&m_urls[index], &m_urls[index + 1], (m_count - index - 1) * sizeof(char*));
    m_count--;
    modified = 1;
}

void UrlList::Clear() {
    m_cursor = m_pool;
    m_count = 0;
}

void UrlList::Restore(const std::vector<std::string>& urls) {
    Clear();
    for (const std::string& url : urls)
        if (Append(url.c_str()) < 0) break; // they fitted when they were copied out
    modified = 0;
}

void UrlList::Reset() {
    Clear();
    currentGroup = -1;
    modified = 0;
}

void UrlList::RenumberGroups(const int* newIndex, int oldCount) {
    if (currentGroup >= 0 && currentGroup < oldCount) currentGroup = newIndex[currentGroup];
}
