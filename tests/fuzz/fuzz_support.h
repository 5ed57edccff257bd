// Shared pieces of the fuzz targets: a private working directory, whole-file writes, and the
// remote link's file and command operations served from memory (fake_remote.cpp), so that the
// data layer's readers run on fuzz bytes without a server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Enters a fresh temporary working directory (below /dev/shm when it exists, else $TMPDIR or
// /tmp) once per process, and removes it at exit; every local file of a target lands there.
void fuzzEnterWorkdir();

// Replaces the file path with size bytes; false when it cannot be written.
bool fuzzWriteFile(const char* path, const uint8_t* data, size_t size);

// Splits an input in two: the first two bytes give the length of the first part (cut to what
// follows), the rest is the second part.
void fuzzSplit(const uint8_t* data, size_t size, const uint8_t** first, size_t* firstSize,
               const uint8_t** second, size_t* secondSize);

// The fake remote link: a fetch of a remote path that contains `key` writes these bytes into the
// local file and succeeds; any other fetch answers 2 (no such file). Commands and uploads
// succeed. fakeServe keeps a pointer to the bytes until fakeClear.
void fakeServe(const char* key, const uint8_t* data, size_t size);
void fakeClear();

// The bytes of the latest upload to a remote path that contains key (nullptr when none), and
// forgetting every upload. Uploads succeed and are kept until fakeClearUploads.
const std::string* fakeUploaded(const char* key);
void fakeClearUploads();
