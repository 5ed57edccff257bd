// The statistics tool's log files: the current log and its rotated files, opened, chosen for
// the query's range and read in order, compressed ones inflated ahead on other cores.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "server/vxd_fs.h"

class StatsCollector;
class StatsProgress;

struct StatsLogFile {
    int fd;
    time_t first; // time of its first line, -1 when none is read
    std::string path;
};

// Opens the current log base and its rotated files (base.1, base.2.gz, ...), newest first;
// 0, or an errno value with *failed naming the file when the current log or a rotated file
// exists but cannot be opened (a symbolic link out of the root, no permission, no regular
// file): its days would count nothing without a word. The files opened so far stay in *files.
int statsOpenLogs(const VxdRoot& root, const std::string& base, std::vector<StatsLogFile>* files,
                  std::string* failed);

// Threads that read at once: GETSTATS2_JOBS of the environment when set (at least 1), else the
// machine's cores.
unsigned statsJobs();

// The files whose time range meets the collector's range (a file runs from its first time to the
// first time of the next newer one), newest first.
std::vector<const StatsLogFile*> statsFilesOfRange(const std::vector<StatsLogFile>& files,
                                                   const StatsCollector& collector);

// Files counted from their summaries instead of read.
class StatsSummaries {
  public:
    virtual bool covers(const StatsLogFile& file) const = 0;
    // Counts the file into the collector; false with a reason.
    virtual bool count(const StatsLogFile& file, StatsCollector* collector, std::string* error) = 0;

  protected:
    ~StatsSummaries() = default;
};

// Reads the files whose time range meets the collector's into it, newest first and each in its
// order (so the result is that of reading them one after the other), and closes them all; 0, or
// 1 with the failure said on standard error. With jobs above 1, compressed files are inflated
// on other threads, up to jobs - 1 of them ahead of the one being counted. A damaged or cut
// short compressed file is counted up to the damage, and what was skipped is said. With a
// progress, it learns the total and how far the reading has come. Files that summaries covers are
// counted from their summaries, in their place. Once the collector's lists cannot be made (too
// many users, sites or URLs), the files after are left unread.
int statsReadLogs(const std::vector<StatsLogFile>& files, StatsCollector* collector, unsigned jobs,
                  StatsProgress* progress = nullptr, StatsSummaries* summaries = nullptr);
