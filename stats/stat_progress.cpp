// The watch on the statistics tool's progress file.
#include "stats/stat_progress.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "remote/vx_remote.h"

bool StatParseProgress(const char* text, uint64_t* done, uint64_t* total) {
    int used = 0;
    if (sscanf(text, "%" SCNu64 " %" SCNu64 "%n", done, total, &used) != 2) return false;
    return (text[used] == '\n' || text[used] == '\0') && *done <= *total;
}

std::string StatProgressText(uint64_t done, uint64_t total) {
    const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
    constexpr uint64_t kMb = 1024 * 1024;
    char text[96];
    snprintf(text, sizeof text, "Olvasva: %d%% (%" PRIu64 " / %" PRIu64 " MB)", percent,
             (done + kMb / 2) / kMb, (total + kMb / 2) / kMb);
    return text;
}

StatProgressWatch::StatProgressWatch(std::string host, StatProgressSink sink, void* context,
                                     int delayMs, int everyMs)
    : m_host(std::move(host)), m_sink(sink), m_context(context) {
    m_thread = std::thread([this, delayMs, everyMs] { run(delayMs, everyMs); });
}

StatProgressWatch::~StatProgressWatch() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void StatProgressWatch::run(int delayMs, int everyMs) {
    std::string last;
    int wait = delayMs;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(m_lock);
            if (m_wake.wait_for(hold, std::chrono::milliseconds(wait), [this] { return m_stop; }))
                return;
        }
        wait = everyMs;
        char text[64];
        if (vxPeekRemoteFile(m_host.c_str(), STAT_REMOTE_PROGRESS, text, sizeof text) <= 0 ||
            last == text)
            continue;
        last = text;
        uint64_t done = 0, total = 0;
        if (StatParseProgress(text, &done, &total)) m_sink(done, total, m_context);
    }
}
