// The daemon log "tcp_srvr.log" in the working directory: one line per request, time first.
#pragma once

#include <cstddef>

// The log lives in the directory workFd (kept open by the caller).
void vxdLogInit(int workFd);

// Appends one line (a newline is added); the file moves to "tcp_srvr.log.1" beyond 4 MiB.
void vxdLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Copies a client text for the log: control and non-ASCII bytes as \xNN, so a line stays a line.
void vxdEscapeForLog(const char* text, char* out, size_t size);
