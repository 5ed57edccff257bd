// Registry store in a REGEDIT4 text file, with the result codes and messages of the registry
// reader and writer.
#include "winlib/vx_reg.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "lib/vx_err.h"

namespace {

constexpr size_t kStoreMax = 8 * 1024 * 1024; // a store file beyond this is refused

struct RootName {
    const char* name;
    VxHKey key;
};

// The order in which root names are searched for in a path.
const RootName kRoots[] = {
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
};

const char* rootName(VxHKey key) {
    for (const RootName& r : kRoots)
        if (r.key == key) return r.name;
    return nullptr;
}

struct Value {
    std::string name; // empty for the default value "@"
    int type;
    std::string data; // raw bytes: strings without their NUL, DWORDs as four bytes
};

struct Key {
    std::string path; // "ROOT\key\path"
    std::vector<Value> values;
};

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x < 0x80 && y < 0x80 ? tolower(x) != tolower(y) : x != y) return false;
    }
    return true;
}

struct Store {
    std::vector<Key> keys;

    Key* find(std::string_view path) {
        for (Key& k : keys)
            if (equalsNoCase(k.path, path)) return &k;
        return nullptr;
    }
};

Value* findValue(Key& key, std::string_view name) {
    for (Value& v : key.values)
        if (equalsNoCase(v.name, name)) return &v;
    return nullptr;
}

// --- Parsing -------------------------------------------------------------------------------

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted text with \\ and \" escapes; pos is at the opening quote and ends after the closing.
bool parseQuoted(std::string_view line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < line.size()) c = line[++pos];
        out += c;
    }
    return false;
}

bool parseHexBytes(std::string_view text, std::string& out) {
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        if (pos == text.size()) break;
        if (pos + 1 >= text.size() || hexDigit(text[pos]) < 0 || hexDigit(text[pos + 1]) < 0)
            return false;
        out += static_cast<char>(hexDigit(text[pos]) * 16 + hexDigit(text[pos + 1]));
        pos += 2;
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        if (pos < text.size() && text[pos] != ',') return false;
        ++pos;
    }
    return true;
}

bool parseData(std::string_view text, Value& v) {
    size_t pos = 0;
    if (text.starts_with("\"")) {
        v.type = REG_SZ;
        return parseQuoted(text, pos, v.data) &&
               text.substr(pos).find_first_not_of(" \t") == std::string_view::npos;
    }
    if (text.starts_with("dword:")) {
        std::string_view digits = text.substr(6);
        if (digits.size() != 8) return false;
        uint32_t n = 0;
        for (char c : digits) {
            if (hexDigit(c) < 0) return false;
            n = n * 16 + static_cast<uint32_t>(hexDigit(c));
        }
        v.type = REG_DWORD;
        v.data.assign(reinterpret_cast<const char*>(&n), 4);
        return true;
    }
    if (text.starts_with("hex:")) {
        v.type = REG_BINARY;
        return parseHexBytes(text.substr(4), v.data);
    }
    if (text.starts_with("hex(")) {
        size_t close = text.find("):");
        if (close == std::string_view::npos || close < 5) return false;
        int type = 0;
        for (size_t i = 4; i < close; ++i) {
            if (hexDigit(text[i]) < 0) return false;
            type = type * 16 + hexDigit(text[i]);
            if (type > 0xFFFF) return false;
        }
        v.type = type;
        return parseHexBytes(text.substr(close + 2), v.data);
    }
    return false;
}

// Parses the store text; on failure *badLine is the 1-based line that could not be read.
bool parseStore(const std::string& text, Store& store, int* badLine) {
    Key* current = nullptr;
    size_t pos = 0;
    int lineNo = 0;
    while (pos < text.size()) {
        // A logical line may continue over physical lines ending with a backslash (hex data).
        std::string line;
        int firstLine = lineNo + 1;
        for (;;) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            std::string_view physical(text.data() + pos, end - pos);
            pos = end + 1;
            ++lineNo;
            if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
            line.append(physical.begin(), physical.end());
            bool continues =
                !line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos;
            if (!continues) break;
            line.pop_back();
            if (pos >= text.size()) break;
        }
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == ';') continue;
        std::string_view l(line);
        l.remove_prefix(start);
        if (l == "REGEDIT4" || l.starts_with("Windows Registry Editor")) continue;
        if (l.starts_with("[")) {
            size_t close = l.rfind(']');
            if (close == std::string_view::npos || close < 2) {
                *badLine = firstLine;
                return false;
            }
            std::string path(l.substr(1, close - 1));
            current = store.find(path);
            if (!current) {
                store.keys.push_back({path, {}});
                current = &store.keys.back();
            }
            continue;
        }
        Value v;
        size_t p = 0;
        if (l.starts_with("@=")) {
            p = 1;
        } else if (!parseQuoted(l, p, v.name) || p >= l.size() || l[p] != '=') {
            *badLine = firstLine;
            return false;
        }
        if (!current || !parseData(l.substr(p + 1), v)) {
            *badLine = firstLine;
            return false;
        }
        if (Value* existing = findValue(*current, v.name))
            *existing = v;
        else
            current->values.push_back(v);
    }
    return true;
}

// --- Writing -------------------------------------------------------------------------------

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

std::string formatStore(const Store& store) {
    std::string out = "REGEDIT4\r\n";
    for (const Key& key : store.keys) {
        out += "\r\n[" + key.path + "]\r\n";
        for (const Value& v : key.values) {
            if (v.name.empty())
                out += "@";
            else
                appendQuoted(out, v.name);
            out += '=';
            bool plainText = v.type == REG_SZ && v.data.find('\0') == std::string::npos &&
                             v.data.find_first_of("\r\n") == std::string::npos;
            if (plainText) {
                appendQuoted(out, v.data);
            } else if (v.type == REG_DWORD && v.data.size() == 4) {
                uint32_t n;
                memcpy(&n, v.data.data(), 4);
                char digits[16];
                snprintf(digits, sizeof digits, "dword:%08x", n);
                out += digits;
            } else {
                char head[16];
                if (v.type == REG_BINARY)
                    snprintf(head, sizeof head, "hex:");
                else
                    snprintf(head, sizeof head, "hex(%x):", static_cast<unsigned>(v.type));
                out += head;
                for (size_t i = 0; i < v.data.size(); ++i) {
                    char byte[4];
                    snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(v.data[i]));
                    if (i) out += ',';
                    if (i && i % 24 == 0) out += "\\\r\n  ";
                    out += byte;
                }
            }
            out += "\r\n";
        }
    }
    return out;
}

// --- File access ---------------------------------------------------------------------------

std::string g_storePath;

// Reads the store; a missing file is an empty store. errno-style code on failure, or -1 for a
// file that cannot be parsed (recorded).
int loadStore(Store& store) {
    const char* path = vxRegistryFile();
    FILE* f = fopen(path, "rb");
    if (!f) return errno == ENOENT ? 0 : errno;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
        if (text.size() > kStoreMax) {
            fclose(f);
            return EFBIG;
        }
    }
    int err = ferror(f) ? EIO : 0;
    fclose(f);
    if (err) return err;
    int badLine = 0;
    if (!parseStore(text, store, &badLine)) {
        char message[400];
        snprintf(message, sizeof message, "Corrupted registry store %.300s (line %d) !", path,
                 badLine);
        vxSetError(101, 4, VX_KIND_LIB, message);
        return -1;
    }
    return 0;
}

int makeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    return 0;
}

// Writes the store atomically: a temporary file beside it, flushed, then renamed over it.
int saveStore(const Store& store) {
    std::string path = vxRegistryFile();
    if (int err = makeParents(path)) return err;
    std::string tmp = path + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) return errno;
    std::string text = formatStore(store);
    const char* p = text.data();
    size_t left = text.size();
    int err = 0;
    while (left > 0 && !err) {
        ssize_t w = write(fd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            err = w < 0 ? errno : EIO;
            break;
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err && rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err) unlink(tmp.c_str());
    return err;
}

// --- Path handling -------------------------------------------------------------------------

struct RegPath {
    std::string keyPath;   // "ROOT\key\path" as kept in the store
    std::string belowRoot; // the key path below the root, for messages
    std::string valueName;
    VxHKey root;
};

bool splitPath(VxHKey root, const char* path, RegPath& out) {
    const char* lastSlash = strrchr(path, '\\');
    if (!lastSlash) return false;
    std::string keyPart(path, static_cast<size_t>(lastSlash - path));
    const char* below = nullptr;
    out.root = vxRegRoot(root, keyPart.c_str(), &below);
    if (!out.root) return false;
    out.belowRoot = below;
    out.valueName = lastSlash + 1;
    out.keyPath = rootName(out.root);
    if (!out.belowRoot.empty()) out.keyPath += "\\" + out.belowRoot;
    return true;
}

void recordInvalid() {
    vxSetError(22, 5, VX_KIND_LIB, "Invalid argument in vxReadRegistryKey");
}

void recordFailure(int code, const std::string& belowRoot, const char* call) {
    char subject[400];
    snprintf(subject, sizeof subject, "%.300s, vxReadRegistryKey,%s", belowRoot.c_str(), call);
    vxWinError(code, subject);
}

int32_t toInteger(const char* text) {
    return static_cast<int32_t>(strtol(text, nullptr, 10));
}

// The common start of a read and a write: the path split and its root resolved (the
// performance-data root cannot be written), no remote machine, the store loaded. False with the
// failure recorded.
bool openStore(const char* machine, VxHKey root, const char* path, bool forWrite, RegPath& rp,
               Store& store) {
    if (!splitPath(root, path, rp) || (forWrite && rp.root == HKEY_PERFORMANCE_DATA)) {
        recordInvalid();
        return false;
    }
    if (machine && *machine) {
        recordFailure(ECONNREFUSED, rp.belowRoot, "RegConnectRegistry");
        return false;
    }
    if (int err = loadStore(store)) {
        if (err > 0) recordFailure(err, rp.belowRoot, "RegOpenKey");
        return false;
    }
    return true;
}

} // namespace

const char* vxRegistryFile() {
    if (const char* env = getenv("ORVELAN_REGISTRY"); env && *env) {
        g_storePath = env;
    } else if (const char* xdg = getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        g_storePath = std::string(xdg) + "/orvelan/registry.reg";
    } else {
        const char* home = getenv("HOME");
        g_storePath = std::string(home ? home : ".") + "/.config/orvelan/registry.reg";
    }
    return g_storePath.c_str();
}

VxHKey vxRegRoot(VxHKey root, const char* path, const char** keyPath) {
    if (root) {
        *keyPath = path;
        return root;
    }
    for (const RootName& r : kRoots) {
        if (const char* at = strstr(path, r.name)) {
            const char* end = at + strlen(r.name);
            *keyPath = *end ? end + 1 : end;
            return r.key;
        }
    }
    *keyPath = path;
    return 0;
}

int vxReadRegistryKey(const char* machine, VxHKey root, const char* path, char* out,
                      size_t outSize) {
    RegPath rp;
    Store store;
    if (!openStore(machine, root, path, false, rp, store)) return -1;
    Key* key = store.find(rp.keyPath);
    Value* value = key ? findValue(*key, rp.valueName) : nullptr;
    if (!value) {
        char text[400];
        snprintf(text, sizeof text, "The registry key %.300s does not exist !", path);
        vxSetError(2, 6, VX_KIND_OS, text);
        return -2;
    }
    std::string data;
    switch (value->type) {
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        int32_t n = 0;
        memcpy(&n, value->data.data(), std::min<size_t>(4, value->data.size()));
        data = std::to_string(n);
        break;
    }
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK:
        data = value->data.substr(0, value->data.find('\0'));
        break;
    case REG_MULTI_SZ: {
        size_t end = value->data.find(std::string_view("\0\0", 2));
        data = end == std::string::npos ? value->data + std::string(2, '\0')
                                        : value->data.substr(0, end + 2);
        break;
    }
    default:
        data = value->data;
    }
    if (data.size() >= outSize || data.size() > VX_REG_VALUE_MAX) {
        recordFailure(ENOBUFS, rp.belowRoot, "RegQueryValue");
        return -1;
    }
    memcpy(out, data.data(), data.size());
    out[data.size()] = '\0';
    return value->type;
}

int vxWriteRegistryKey(const char* machine, VxHKey root, const char* path, const char* value,
                       int type) {
    RegPath rp;
    Store store;
    if (!openStore(machine, root, path, true, rp, store)) return -1;
    Key* key = store.find(rp.keyPath);
    if (!key) {
        store.keys.push_back({rp.keyPath, {}});
        key = &store.keys.back();
    }
    Value* existing = findValue(*key, rp.valueName);
    int storedType = existing ? existing->type : type;
    std::string data;
    if (storedType == REG_DWORD || storedType == REG_DWORD_BIG_ENDIAN) {
        int32_t n = toInteger(value);
        data.assign(reinterpret_cast<const char*>(&n), 4);
    } else {
        data = value;
        // Strings other than REG_SZ keep their NUL, as the registry stores them.
        if (storedType != REG_SZ) data += '\0';
    }
    if (data.size() > VX_REG_VALUE_MAX) {
        recordFailure(EFBIG, rp.belowRoot, "RegOpenKey");
        return -1;
    }
    if (existing) {
        existing->data = data;
    } else {
        key->values.push_back({rp.valueName, storedType, data});
    }
    if (int err = saveStore(store)) {
        recordFailure(err, rp.belowRoot, "RegOpenKey");
        return -1;
    }
    return existing ? 0 : 1;
}
