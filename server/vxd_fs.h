// File access of the reference server confined to its root: path mapping, opening beneath the
// root, and whole-file replacement by temporary file and rename.
#pragma once

#include <climits>
#include <cstddef>
#include <sys/types.h>

// The server's file tree: every path a client names lies below rootPath.
struct VxdRoot {
    int rootFd = -1;         // directory descriptor of the root
    char rootPath[PATH_MAX]; // canonical root path
    char workRel[PATH_MAX];  // working directory relative to the root ("." for the root itself)
    char workPath[PATH_MAX]; // canonical working directory
};

// Opens the root (made canonical) and the working directory workRel below it, which must be an
// existing directory inside the root. Returns 0 or an errno value (EACCES when workRel escapes).
int vxdOpenRoot(VxdRoot* root, const char* rootDir, const char* workRel);

// As vxdOpenRoot for the server programs: the root from $VXD_ROOT, the working directory is the
// current directory, which must lie inside the root. EINVAL when $VXD_ROOT is not set.
int vxdOpenRootFromEnv(VxdRoot* root);

// Maps a client path to a path relative to the root: absolute paths start at the root, relative
// ones at the working directory. Returns 0, EINVAL (empty), EACCES (a ".." component) or
// ENAMETOOLONG (does not fit into size bytes).
int vxdRelative(const VxdRoot& root, const char* path, char* out, size_t size);

// Opens a client path beneath the root (symlinks may not lead out of it: EACCES; an absolute
// one is followed when it leads to a place inside, but a file is never created through it).
// Returns a descriptor, or -errno.
int vxdOpen(const VxdRoot& root, const char* path, int flags, mode_t mode);

// True when a client path, its symlinks followed, names an existing place outside the root
// (the reason vxdOpen refuses it with EACCES).
bool vxdLeavesRoot(const VxdRoot& root, const char* path);

// Opens a regular file beneath the root for reading, without blocking on a FIFO or device.
// Returns a descriptor, or -errno (-EISDIR for a directory, -EINVAL for other non-regular files).
int vxdOpenRegular(const VxdRoot& root, const char* path);

// Opens the directory that holds a client path and copies its last component into name
// (nameSize bytes). Returns a directory descriptor, or -errno (EINVAL for a path naming no entry).
int vxdOpenParent(const VxdRoot& root, const char* path, char* name, size_t nameSize);

// Creates a new temporary file in dirFd; its name goes to tmpName (tmpSize bytes).
// Returns a descriptor, or -errno.
int vxdCreateTemp(int dirFd, char* tmpName, size_t tmpSize, mode_t mode);

// Removes the temporary files of vxdCreateTemp in dirFd whose process no longer runs (left by a
// server or program that was killed).
void vxdRemoveStaleTemps(int dirFd);

// Writes all bytes to fd (retrying short writes). Returns 0 or an errno value.
int vxdWriteAll(int fd, const void* data, size_t size);

// Replaces dirFd/name with the content of srcFd (read from its current offset) atomically: a
// temporary file in the same directory, synced, then renamed over name. Returns 0 or an errno
// value; on failure name is untouched and no temporary file is left.
int vxdReplaceFrom(int srcFd, int dirFd, const char* name, mode_t mode);

// Formats "<strerror> (<subject>) !" into out (cut to size - 1 bytes).
void vxdErrorText(int code, const char* subject, char* out, size_t size);

// The directory of the server programs, canonical, into out: beside the running program (the
// build tree), or BIN/../lib/orvelan of an installed one, wherever the tree lies; the first that
// holds `program` as an executable. False when neither does.
bool vxdHelperDir(const char* program, char* out, size_t size);
