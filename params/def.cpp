// Parameter table, environment expansion, environment setter and local commands.
#include "params/def.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lib/txt0.h"
#include "lib/vx_err.h"
#include "winlib/vx_reg.h"

extern char** environ;

namespace {

struct ParamEntry {
    const char* name;
    const char* value;
};

struct ParamTable {
    ParamEntry entries[VX_PARAM_ENTRIES];
    int count = 0;
    char pool[VX_PARAM_POOL];
    char* poolNext = pool;
    bool registryMode = false;
    char registryBase[VX_REG_BASE_MAX + 1] = {};
    char lineBuffer[VX_LINE_BUFFER];
};

ParamTable g_params;

// Texts handed to putenv must live as long as the process: they are kept here, one slot per
// variable; a longer new text for a variable takes a fresh slot.
struct EnvSlot {
    char* text;
    size_t capacity;
};

struct EnvPool {
    char bytes[VX_ENV_POOL];
    size_t used = 0;
    EnvSlot slots[VX_ENV_POOL / 2]; // a slot holds at least "a=" and its NUL
    int slotCount = 0;
};

EnvPool g_env;

const ParamEntry* findParam(const char* name) {
    for (int i = 0; i < g_params.count; ++i)
        if (strcmp(g_params.entries[i].name, name) == 0) return &g_params.entries[i];
    return nullptr;
}

// Appends (name, value), value first into the pool. False (recorded) when the table is full.
bool addParam(const char* name, const char* value) {
    const char* poolEnd = g_params.pool + sizeof g_params.pool;
    size_t need = strlen(name) + strlen(value) + 2;
    if (g_params.count >= VX_PARAM_ENTRIES ||
        need > static_cast<size_t>(poolEnd - g_params.poolNext)) {
        char text[200];
        snprintf(text, sizeof text, "Parameter table full (%d entries, %d bytes): %.80s",
                 VX_PARAM_ENTRIES, VX_PARAM_POOL, name);
        vxSetError(102, 2, VX_KIND_LIB, text);
        return false;
    }
    ParamEntry& entry = g_params.entries[g_params.count++];
    entry.value = vxPoolString(value, &g_params.poolNext);
    entry.name = vxPoolString(name, &g_params.poolNext);
    return true;
}

// The file a non-registry source names: an environment variable's value, a registry value, or
// the source itself.
const char* sourceFileName(const char* source, char* buf, size_t size) {
    if (const char* env = getenv(source)) return env;
    if (vxReadRegistryKey(nullptr, 0, source, buf, size) >= 0) return buf;
    return source;
}

// Appends one piece to out, dropping a leading "/" when out already ends with one.
bool appendPiece(char* out, size_t& len, const char* piece, size_t pieceLen) {
    if (pieceLen > 0 && piece[0] == '/' && len > 0 && out[len - 1] == '/') {
        ++piece;
        --pieceLen;
    }
    if (len + pieceLen > static_cast<size_t>(VX_PARAM_VALUE_MAX)) return false;
    memcpy(out + len, piece, pieceLen);
    len += pieceLen;
    out[len] = '\0';
    return true;
}

// Records why line lineNo of a parameter file cannot be read: too long, or a NUL byte in it
// (the buffer holds what fgets read; the rest of it is zeros).
void refuseLine(const char* fileName, int lineNo) {
    const char* buf = g_params.lineBuffer;
    size_t len = strlen(buf);
    bool nul = len + 1 < static_cast<size_t>(VX_LINE_BUFFER);
    char text[200];
    snprintf(text, sizeof text,
             nul ? "%.150s:%d: a NUL byte in the line" : "%.150s:%d: line longer than %d bytes",
             fileName, lineNo, VX_LINE_BUFFER - 2);
    vxSetError(102, 2, VX_KIND_LIB, text);
}

int loadParamFile(const char* fileName) {
    FILE* f = fopen(fileName, "r");
    if (!f) {
        vxSysError(fileName);
        return -1;
    }
    int result = 0;
    char* words[8];
    int count = 0;
    for (int lineNo = 1;; ++lineNo) {
        int rc = vxReadTextLine(f, g_params.lineBuffer, words, 8, VX_LINE_BUFFER, &count);
        if (rc == -1) break;
        if (rc != 0) {
            // A line the buffer cannot hold, or one holding a NUL byte, is refused with the
            // file: read on, the parameters after it would be missing without a word.
            if (rc == -6) refuseLine(fileName, lineNo);
            result = -4;
            break;
        }
        if (count < 2) continue;
        char value[VX_PARAM_VALUE_MAX + 1];
        int expanded = vxExpandEnv(words[1], value);
        if (expanded != 0) {
            char text[200];
            snprintf(text, sizeof text,
                     expanded == -1 ? "Missing environment variable: %.150s"
                                    : "Parameter value longer than 79 characters: %.150s",
                     words[1]);
            vxSetError(102, 2, VX_KIND_LIB, text);
            result = -4;
            break;
        }
        if (!addParam(words[0], value)) {
            result = -4;
            break;
        }
    }
    if (fclose(f) != 0) {
        vxSysError(fileName);
        return -4;
    }
    return result;
}

} // namespace

int vxLoadParamFile(const char* source) {
    if (g_params.count == 0) g_params.poolNext = g_params.pool;
    if (strncmp(source, "HKEY_LOCAL_MACHINE", 18) == 0) {
        if (!vxCopy(g_params.registryBase, sizeof g_params.registryBase, source)) {
            vxSetError(102, 2, VX_KIND_LIB, "Registry parameter source longer than 255 characters");
            return -4;
        }
        g_params.registryMode = true;
        return 0;
    }
    char registryValue[VX_LINE_BUFFER];
    return loadParamFile(sourceFileName(source, registryValue, sizeof registryValue));
}

const char* vxGetParam(const char* name) {
    if (const ParamEntry* entry = findParam(name)) return entry->value;
    if (g_params.registryMode) {
        char path[VX_REG_BASE_MAX + 130];
        char value[128];
        if (vxFormat(path, sizeof path, "%s\\%s", g_params.registryBase, name) &&
            vxReadRegistryKey(nullptr, 0, path, value, sizeof value) >= 0 && addParam(name, value))
            return g_params.entries[g_params.count - 1].value;
    }
    char text[200];
    snprintf(text, sizeof text, "No parameter %.150s in parameter file !", name);
    vxSetError(107, 5, VX_KIND_LIB, text);
    return nullptr;
}

void vxResetParams() {
    g_params.count = 0;
    g_params.poolNext = g_params.pool;
    g_params.registryMode = false;
    g_params.registryBase[0] = '\0';
}

int vxExpandEnv(const char* text, char* out) {
    out[0] = '\0';
    size_t len = 0;
    if (strlen(text) > static_cast<size_t>(VX_PARAM_VALUE_MAX)) return -2;
    const char* p = text;
    while (const char* dollar = strchr(p, '$')) {
        if (!appendPiece(out, len, p, static_cast<size_t>(dollar - p))) return -2;
        // The character after "$" always belongs to the name.
        const char* nameStart = dollar + 1;
        const char* nameEnd = *nameStart ? strchr(nameStart + 1, '/') : nameStart;
        if (!nameEnd) nameEnd = nameStart + strlen(nameStart);
        char name[VX_PARAM_VALUE_MAX + 1];
        size_t nameLen = static_cast<size_t>(nameEnd - nameStart);
        memcpy(name, nameStart, nameLen);
        name[nameLen] = '\0';
        const char* value = getenv(name);
        if (!value) return -1;
        if (!appendPiece(out, len, value, strlen(value))) return -2;
        p = nameEnd;
    }
    return appendPiece(out, len, p, strlen(p)) ? 0 : -2;
}

void PutEnv(const char* assignment) {
    const char* eq = strchr(assignment, '=');
    if (!eq) {
        vxSetError(22, 2, VX_KIND_LIB, "Invalid argument in PutEnv");
        return;
    }
    size_t nameLen = static_cast<size_t>(eq - assignment);
    while (nameLen > 0 && assignment[nameLen - 1] == ' ')
        --nameLen;
    size_t textLen = strlen(assignment) + 1;

    EnvSlot* slot = nullptr;
    for (int i = 0; i < g_env.slotCount && !slot; ++i)
        if (strncmp(g_env.slots[i].text, assignment, nameLen) == 0 &&
            (g_env.slots[i].text[nameLen] == '=' || g_env.slots[i].text[nameLen] == ' '))
            slot = &g_env.slots[i];
    if (!slot || slot->capacity < textLen) {
        if (g_env.used + textLen > sizeof g_env.bytes) {
            vxSetError(22, 2, VX_KIND_LIB, "Environment pool full in PutEnv");
            return;
        }
        if (!slot) slot = &g_env.slots[g_env.slotCount++];
        slot->text = g_env.bytes + g_env.used;
        slot->capacity = textLen;
        g_env.used += textLen;
    }
    memcpy(slot->text, assignment, textLen);
    errno = 0;
    if (putenv(slot->text) != 0) vxSysError(nullptr);
}

int vxSystem(const char* command) {
    if (!command || !*command) return 1;
    if (strlen(command) > static_cast<size_t>(VX_COMMAND_MAX)) {
        vxSetError(22, 2, VX_KIND_LIB, command);
        return 1;
    }
    char line[VX_COMMAND_MAX + 1];
    vxCopy(line, sizeof line, command);
    vxTrimRight(line);
    size_t len = strlen(line);
    bool background = len > 0 && line[len - 1] == '&';
    if (background) line[len - 1] = '\0';
    char ppid[32];
    snprintf(ppid, sizeof ppid, "vxPPID=%d", static_cast<int>(getpid()));
    PutEnv(ppid);

    pid_t pid = 0;
    // A background command runs in a shell that an outer shell starts with "&" and leaves at
    // once, so no child is left for this process to reap.
    const char* foreground[] = {"/bin/sh", "-c", line, nullptr};
    const char* detached[] = {"/bin/sh", "-c", "/bin/sh -c \"$0\" &", line, nullptr};
    const char** argv = background ? detached : foreground;
    int rc = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
    if (rc != 0) {
        vxWinError(rc, command);
        return -1;
    }
    int code = vxWaitProcess(pid);
    return background && code >= 0 ? 0 : code;
}

int vxWaitProcess(pid_t pid) {
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    if (done < 0) {
        char subject[32];
        snprintf(subject, sizeof subject, "%d", static_cast<int>(pid));
        vxSysError(subject);
        return -1;
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
