// The statistics tool's log files: opened newest first, read in order with read-ahead.
#include "server/stats_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <unistd.h>

#include "server/stats_collector.h"
#include "server/stats_inflate.h"
#include "server/stats_progress.h"

int statsOpenLogs(const VxdRoot& root, const std::string& base, std::vector<StatsLogFile>* files,
                  std::string* failed) {
    for (int n = 0; n < 10000; ++n) {
        std::string plain = n == 0 ? base : base + "." + std::to_string(n);
        int fd = vxdOpenRegular(root, plain.c_str());
        std::string path = plain;
        if (fd == -ENOENT && n > 0) {
            path = plain + ".gz";
            fd = vxdOpenRegular(root, path.c_str());
        }
        if (fd == -ENOENT) {
            if (n == 0) continue; // rotated away just now: the older files may still hold it
            break;
        }
        if (fd < 0) {
            *failed = path;
            return -fd;
        }
        files->push_back({fd, statsFirstTime(fd), path});
    }
    return 0;
}

unsigned statsJobs() {
    if (const char* v = getenv("GETSTATS2_JOBS")) return std::max(1, atoi(v));
    return std::max(1u, std::thread::hardware_concurrency());
}

std::vector<const StatsLogFile*> statsFilesOfRange(const std::vector<StatsLogFile>& files,
                                                   const StatsCollector& collector) {
    std::vector<const StatsLogFile*> wanted;
    time_t newer = -1; // first time of the next newer file; -1: none
    for (const StatsLogFile& f : files) {
        bool before = newer != -1 && newer <= collector.first() - STATS_ORDER_SLACK;
        bool after = f.first != -1 && f.first >= collector.last() + STATS_ORDER_SLACK;
        if (!before && !after) wanted.push_back(&f);
        if (f.first != -1) newer = f.first;
    }
    return wanted;
}

int statsReadLogs(const std::vector<StatsLogFile>& files, StatsCollector* collector, unsigned jobs,
                  StatsProgress* progress, StatsSummaries* summaries) {
    std::vector<const StatsLogFile*> wanted = statsFilesOfRange(files, *collector);
    auto summarised = [&](const StatsLogFile& f) { return summaries && summaries->covers(f); };
    if (progress) {
        // What the summaries took is done; the files to read come on top of it.
        uint64_t total = summaries ? progress->done() : 0;
        for (const StatsLogFile* f : wanted)
            if (!summarised(*f)) total += StatsProgress::fileSize(f->fd);
        progress->setTotal(total);
        collector->setProgress(progress);
    }
    std::vector<std::unique_ptr<StatsByteStream>> streams(wanted.size());
    const StatsInflater inflater = statsInflater();
    const size_t ahead = std::max(1u, jobs - 1);
    size_t started = 0;
    int rc = 0;
    // Once the lists cannot be made (too many users, sites or URLs), the older files are left
    // unread: the query fails whatever they hold.
    for (size_t k = 0; k < wanted.size() && !collector->overflow(); ++k) {
        for (; started < wanted.size() && started < k + ahead; ++started) {
            int fd = wanted[started]->fd;
            if (summarised(*wanted[started]) || !statsIsGzip(fd)) continue;
            streams[started] = statsGunzip(fd, inflater);
            if (jobs > 1) streams[started] = statsReadAhead(std::move(streams[started]));
        }
        const StatsLogFile& f = *wanted[k];
        std::string error;
        if (summarised(f)) {
            collector->beginFile();
            if (!summaries->count(f, collector, &error)) {
                fprintf(stderr, "getstats2: %s: %s\n", f.path.c_str(), error.c_str());
                rc = 1;
            }
            continue;
        }
        if (progress) progress->beginFile(f.fd);
        bool ok = streams[k] ? collector->addStream(streams[k].get(), &error)
                             : collector->addFile(f.fd, &error);
        if (progress) progress->endFile();
        streams[k].reset();
        if (!ok) {
            fprintf(stderr, "getstats2: %s: %s\n", f.path.c_str(), error.c_str());
            rc = 1;
        } else if (!collector->skipped().empty()) {
            fprintf(stderr, "getstats2: %s: %s\n", f.path.c_str(), collector->skipped().c_str());
        }
    }
    collector->setProgress(nullptr);
    streams.clear(); // the read-ahead threads stop before their files close
    for (const StatsLogFile& f : files)
        close(f.fd);
    return rc;
}
