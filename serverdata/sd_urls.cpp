// The permit files: loading, saving, releasing, exporting and importing the URL list of the
// current group.
#include <algorithm>
#include <cstring>

#include "lib/txt0.h"
#include "lib/vx_err.h"
#include "remote/vx_remote.h"
#include "serverdata/sd_text.h"
#include "serverdata/server_data.h"

namespace {

// The current group's permit file and its working copy "sites_of_<name>.txt", or the viewing
// copy "view_sites_of_<name>.txt" (local: 64 bytes; a name has at most 31 bytes).
ListFile permitFile(const GroupRecord& g, char* local, bool viewing = false) {
    std::snprintf(local, 64, "%ssites_of_%s.txt", viewing ? "view_" : "", g.name);
    return {g.permitPath, local};
}

int writeUrls(const ServerData& sd, FILE* f, int) {
    for (int i = 0; i < sd.urlCount; i++)
        if (std::fprintf(f, "%s\n", sd.urls[i]) < 0) return -1;
    return 0;
}

} // namespace

// Reads the words of a permit file into the emptied URL table, whatever the length of its lines:
// 0, or -1 (recorded) when a word is longer than 511 bytes or the table is full. Words are taken
// as the file holds them; the rule for entered URLs waits for the page.
int ServerData::ReadPermitFile(FILE* in) {
    char word[SD_URL_WORD_MAX + 1];
    size_t length = 0;
    ClearUrls();
    for (;;) {
        int c = std::getc(in);
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
            if (AppendUrl(word) < 0) return -1;
        }
        if (c == EOF) break;
    }
    if (std::ferror(in)) {
        vxSysError("permit file");
        return -1;
    }
    urlsModified = 0;
    return 0;
}

int ServerData::LoadUrls(bool forEditing) {
    if (currentGroup < 0 || currentGroup >= groupCount) return 0;
    char local[64];
    ListFile file = permitFile(groups[currentGroup], local, !forEditing);
    int rc;
    if (forEditing) {
        rc = CheckoutFile(host, file.remote, file.local);
        if (rc < 0) return rc;
    } else {
        rc = vxGetRemoteFile(host, file.remote, file.local);
        if (rc != 0 && rc != 2) return rc;
        rc = rc == 0 ? 1 : 0;
    }
    if (rc == 0) {
        ClearUrls();
        return 1;
    }
    FILE* in = std::fopen(file.local, "rb");
    if (!in) {
        vxSysError(file.local);
        if (forEditing) DropAfterFailure(&file, 1);
        return -2;
    }
    // A load that fails leaves the table as it was.
    static char savedPool[SD_URL_POOL_SIZE];
    static char* savedUrls[SD_MAX_URLS];
    std::memcpy(savedPool, urlPool, sizeof urlPool);
    std::memcpy(savedUrls, urls, sizeof urls);
    const int32_t savedCount = urlCount, savedModified = urlsModified;
    char* const savedCursor = poolCursor;
    rc = ReadPermitFile(in);
    std::fclose(in);
    if (rc < 0) {
        std::memcpy(urlPool, savedPool, sizeof urlPool);
        std::memcpy(urls, savedUrls, sizeof urls);
        urlCount = savedCount, urlsModified = savedModified, poolCursor = savedCursor;
    }
    if (!forEditing)
        sdRemove(file.local);
    else if (rc < 0)
        DropAfterFailure(&file, 1);
    return rc < 0 ? -2 : 1;
}

int ServerData::SaveUrls() {
    if (!urlsModified) return ReleaseUrls() < 0 ? -1 : 0; // nothing to write: only release
    std::sort(urls, urls + urlCount, sdLess);
    if (currentGroup < 0 || currentGroup >= groupCount) return 0;
    char local[64];
    ListFile file = permitFile(groups[currentGroup], local);
    int rc = CommitAll(&file, 1, "PROXYPROC", "kaka", writeUrls);
    if (rc == 1) urlsModified = 0;
    return rc;
}

int ServerData::ReleaseUrls() {
    for (int i = 0; i < groupCount; i++) {
        char local[64];
        ListFile file = permitFile(groups[i], local);
        if (ReleaseAll(&file, 1) < 0) return -1;
    }
    urlsModified = 0;
    return 0;
}

int ServerData::ExportUrls(const char* fileName) {
    auto write = [](FILE* f, const void* c) {
        const ServerData& sd = *static_cast<const ServerData*>(c);
        for (int i = 0; i < sd.urlCount; i++)
            if (std::fprintf(f, "%s\r\n", sd.urls[i]) < 0) return false;
        return true;
    };
    return sdWriteLocalFile(fileName, write, this) == 0 ? 1 : -2;
}

int ServerData::ImportUrls(const char* fileName) {
    FILE* in = std::fopen(fileName, "rb");
    if (!in) {
        vxSysError(fileName);
        return -2;
    }
    // A URL of 511 characters with its CR LF; one byte more shows a longer line.
    char line[SD_URL_WORD_MAX + 4];
    int result = 1;
    while (result == 1 && std::fgets(line, sizeof line, in)) {
        line[std::strcspn(line, "\n")] = '\0';
        size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
        if (n > static_cast<size_t>(SD_URL_WORD_MAX)) {
            result = sdRefuse(-4, fileName, "line longer than 511 characters");
            break;
        }
        vxTrimRight(line);
        bool known = false;
        for (int i = 0; i < urlCount && !known; i++)
            known = std::strcmp(urls[i], line) == 0;
        if (line[0] && !known && AddUrl(line) < 0) result = -4;
    }
    if (result == 1 && std::ferror(in)) result = sdRefuse(-4, fileName, "read error");
    std::fclose(in);
    return result;
}
