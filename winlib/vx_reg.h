// Registry store: values addressed by "ROOT\key\path\value" strings, kept in a REGEDIT4 text
// file that a person can read and edit ($ORVELAN_REGISTRY, default
// $XDG_CONFIG_HOME/orvelan/registry.reg, ~/.config when XDG_CONFIG_HOME is unset).
#pragma once

#include <cstddef>
#include <cstdint>

using VxHKey = uintptr_t; // a predefined root key; 0 stands for none

constexpr VxHKey HKEY_CLASSES_ROOT = 0x80000000;
constexpr VxHKey HKEY_CURRENT_USER = 0x80000001;
constexpr VxHKey HKEY_LOCAL_MACHINE = 0x80000002;
constexpr VxHKey HKEY_USERS = 0x80000003;
constexpr VxHKey HKEY_PERFORMANCE_DATA = 0x80000004;
constexpr VxHKey HKEY_CURRENT_CONFIG = 0x80000005;
constexpr VxHKey HKEY_DYN_DATA = 0x80000006;

// Value types, with their Windows codes.
enum VxRegType {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
};

constexpr size_t VX_REG_VALUE_MAX = 32768; // bytes of one value's data

// The store file in use.
const char* vxRegistryFile();

// Resolves the root: with root given, the whole path is the key path below it. Otherwise the
// first root name of the fixed order found anywhere in path; *keyPath starts one character after
// it (empty when the path ends there). 0 when no root name is recognised.
VxHKey vxRegRoot(VxHKey root, const char* path, const char** keyPath);

// Reads the value at path (key path, a backslash, value name) into out (outSize bytes): DWORDs as
// decimal text, strings as text, REG_MULTI_SZ up to its double NUL, other types byte for byte.
// Returns the type code (0 or more); -1 on a bad path, a machine name (no remote registry), an
// unreadable store or a value larger than out; -2 when the key or value does not exist.
int vxReadRegistryKey(const char* machine, VxHKey root, const char* path, char* out,
                      size_t outSize);

// Creates or replaces the value at path. An existing value keeps its type; a new one gets type.
// DWORD types store the text converted to an integer; others the text with its NUL.
// Returns 1 when the value was created, 0 when it was replaced, -1 on failure (the store file is
// then unchanged).
int vxWriteRegistryKey(const char* machine, VxHKey root, const char* path, const char* value,
                       int type);
