// The statistics tool's cache of log summaries: one file a log file, in a directory of its own
// (STATSCACHE of "orvelan.cnf"), so that a rotated file is read once and the current log only
// from where the last query left it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/stats_files.h"
#include "server/stats_index.h"
#include "server/stats_progress.h"
#include "server/vxd_fs.h"

// Default cache directory (below the root, like every path of the tool).
#define STATS_CACHE_DEFAULT "/var/cache/orvelan"

// A log file's summary for one query.
struct StatsSummary {
    std::unique_ptr<StatsIndex> index; // nullptr: the file is read instead
    // Text after the summarised part of a plain log: the start of a line still being written,
    // well formed and in time order, which the query counts after the summary.
    std::string tail;
};

class StatsCache {
  public:
    StatsCache() = default;
    ~StatsCache();
    StatsCache(const StatsCache&) = delete;
    StatsCache& operator=(const StatsCache&) = delete;

    // Opens the directory dir (below the root), made 0700 when missing. false with a reason:
    // there is no cache, and the logs are read.
    bool open(const VxdRoot& root, const std::string& dir, std::string* error);

    // The summary of a log file, with the parts wanted: the cache's when it is the file's and
    // whole, continued when the file has grown, built when there is none (a missing, damaged or
    // foreign cache file is never trusted). A summary built or continued is written back; when
    // that fails (a full disk) it is still used, and *note says why it was not kept. Safe to
    // call from several threads at once.
    // Site summaries hold the request counts of the hours that meet [from, to) only. progress
    // (when given) learns the bytes of the file as they are summarised, or the file's size at
    // once when its summary is kept.
    StatsSummary summary(const StatsLogFile& file, int parts, time_t from, time_t to,
                         std::string* note, StatsProgress* progress = nullptr);

    // Removes the cache files of log files that are gone (not among files) and temporary files
    // left by killed runs.
    void prune(const std::vector<StatsLogFile>& files);

    // Whether open succeeded.
    bool isOpen() const { return m_dirFd >= 0; }

    // An unnamed file in the directory for a query's scratch, gone when it is closed; -1 when
    // none can be made.
    int scratchFile() const;

  private:
    int m_dirFd = -1;
    int m_lockFd = -1;
    std::mutex m_writing; // threads of this run; other runs: flock of the lock file
};

// The summaries of the files a data or site query reads, made ready on up to jobs threads (a
// file with none yet is summarised once, which reads it whole); the files without one are read.
// What was not kept in the cache is said on standard error.
class StatsCachedLogs : public StatsSummaries {
  public:
    // progress (when given) learns the total of the files and how far their summaries are.
    StatsCachedLogs(StatsCache* cache, const std::vector<const StatsLogFile*>& files,
                    const StatsCollector& collector, bool site, unsigned jobs,
                    StatsProgress* progress = nullptr);
    bool covers(const StatsLogFile& file) const override;
    bool count(const StatsLogFile& file, StatsCollector* collector, std::string* error) override;

  private:
    struct Entry {
        const StatsLogFile* file = nullptr;
        StatsSummary summary;
        bool covered = false;
    };
    bool m_site;
    std::vector<Entry> m_summaries;
};
