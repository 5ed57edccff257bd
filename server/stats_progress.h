// The statistics tool's progress: how much of the logs it has read, in a small file beside its
// result, for a console that waits on a long query.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

#include "server/vxd_fs.h"

// "<result>.progress" beside the result file holds one line "read total": bytes of the log files
// read so far and the bytes of the files the query reads (compressed files count their
// compressed bytes, estimated from the text read and the size the gzip trailer gives). The file
// is replaced whole (temporary file and rename), at most every intervalMs, and removed when the
// tool ends. Failures to write it are ignored: the result matters, the progress does not.
class StatsProgress {
  public:
    StatsProgress(const VxdRoot& root, const char* resultPath, int intervalMs = 250);
    ~StatsProgress();
    StatsProgress(const StatsProgress&) = delete;
    StatsProgress& operator=(const StatsProgress&) = delete;

    void setTotal(uint64_t bytes) { m_total = bytes; }
    // The size of a log file as progress counts it.
    static uint64_t fileSize(int fd);
    // A file is read from here on, until endFile.
    void beginFile(int fd);
    // Text handed on from the current file.
    void advance(uint64_t textBytes);
    void endFile();

    // Files read on other threads (summaries being built), counted as a whole: bytes of them
    // read, as fileBytes says. Safe beside the other calls.
    void advanceShared(uint64_t bytes);
    // How many of a file's bytes one byte of its text stands for (a gzip file's by the size its
    // trailer gives; 1 for a plain file).
    static double bytesPerText(int fd);
    // Writes the file now (after work on other threads, whose last steps may not be written).
    void flush();

    uint64_t done() const { return m_done + m_current; }
    uint64_t total() const { return m_total; }

  private:
    void write();
    void tick(); // writes when the interval has passed; a test's pause

    std::mutex m_lock;
    int m_dirFd = -1;
    std::string m_name;
    int m_intervalMs;
    int m_slowMs = 0;        // a test's pause after each step (ORVELAN_STATS_SLOW_MS)
    long long m_lastMs = -1; // when the file was last written
    uint64_t m_total = 0;
    uint64_t m_done = 0;     // files ended
    uint64_t m_fileSize = 0; // the current file's
    uint64_t m_fileText = 1; // its text, as far as known
    uint64_t m_text = 0;     // its text handed on so far
    uint64_t m_current = 0;  // its bytes read, estimated
};
