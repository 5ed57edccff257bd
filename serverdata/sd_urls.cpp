// The permit files: loading, saving, releasing, exporting and importing the URL list of the
// current group.
#include <algorithm>
#include <cstring>

#include "sd_text.h"
#include "server_data.h"
#include "txt0.h"
#include "vx_err.h"
#include "vx_remote.h"

namespace {

// The current group's permit file and its local copy "sites_of_<name>.txt" (local: 64 bytes).
ListFile permitFile(const GroupRecord& g, char* local) {
    std::snprintf(local, 64, "sites_of_%s.txt", g.name); // a name has at most 31 bytes
    return {g.permitPath, local};
}

int writeUrls(const ServerData& sd, FILE* f, int) {
    for (int i = 0; i < sd.urlCount; i++)
        if (std::fprintf(f, "%s\n", sd.urls[i]) < 0) return -1;
    return 0;
}

} // namespace

// Reads the words of a permit file into the emptied URL table: 0, or -1 (recorded) when a word,
// a line or the table does not fit.
int ServerData::ReadPermitFile(FILE* in) {
    char line[4096];
    int rc;
    ClearUrls();
    while ((rc = sdReadLine(in, line, sizeof line, "permit file")) == 1) {
        for (char* w = std::strtok(line, " \t\r\n\v\f"); w;
             w = std::strtok(nullptr, " \t\r\n\v\f")) {
            if (std::strlen(w) > SD_URL_WORD_MAX)
                return sdRefuse(-1, "permit file", "URL too long");
            if (AddUrl(w) < 0) return -1;
        }
    }
    urlsModified = 0;
    return rc;
}

int ServerData::LoadUrls(bool forEditing) {
    if (currentGroup < 0 || currentGroup >= groupCount) return 0;
    char local[64];
    ListFile file = permitFile(groups[currentGroup], local);
    int rc;
    if (forEditing) {
        rc = CheckoutFile(host, file.remote, file.local);
        if (rc < 0) return rc;
    } else {
        rc = vxGetRemoteFile(host, file.remote, file.local);
        if (rc != 0 && rc != 2) return rc;
        rc = rc == 0 ? 1 : 0;
    }
    ClearUrls();
    if (rc == 0) return 1;
    FILE* in = std::fopen(file.local, "rb");
    if (!in) {
        vxSysError(file.local);
        if (forEditing) DropAfterFailure(&file, 1);
        return -2;
    }
    rc = ReadPermitFile(in);
    std::fclose(in);
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
    char line[SD_LINE_MAX + 1];
    int rc = 0, result = 1;
    while (result == 1 && (rc = sdReadLine(in, line, sizeof line, fileName)) == 1) {
        if (std::strlen(line) > SD_URL_IMPORT_MAX) {
            result = sdRefuse(-4, fileName, "line longer than 500 characters");
            break;
        }
        line[std::strcspn(line, "\n")] = '\0';
        line[std::strcspn(line, "\r")] = '\0';
        vxTrimRight(line);
        bool known = false;
        for (int i = 0; i < urlCount && !known; i++)
            known = std::strcmp(urls[i], line) == 0;
        if (line[0] && !known && AddUrl(line) < 0) result = -4;
    }
    std::fclose(in);
    if (result == 1 && rc < 0) result = -4;
    return result;
}
