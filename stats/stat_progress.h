// The progress of a running statistics query: the tool's progress file on the server, looked at
// now and then from a thread of its own while the link's thread waits for the tool.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// The tool's progress file beside its result on the server.
constexpr const char* STAT_REMOTE_PROGRESS = "/tmp/outfile.progress";
// How long a query runs before its progress is shown, and how often it is looked at then.
constexpr int STAT_PROGRESS_DELAY_MS = 1000;
constexpr int STAT_PROGRESS_EVERY_MS = 300;

// Receives the bytes of the logs read so far and in all (on the watching thread).
using StatProgressSink = void (*)(uint64_t done, uint64_t total, void* context);

// Parses the file's line "read total"; false when it is not one.
bool StatParseProgress(const char* text, uint64_t* done, uint64_t* total);

// "Olvasva: 42% (120 / 285 MB)": the progress as the console shows it (UTF-8).
std::string StatProgressText(uint64_t done, uint64_t total);

// While it lives, a thread looks at the progress file after delayMs and then every everyMs, and
// hands each new reading to sink. The destructor stops the thread and waits for it (a look in
// progress ends with its call; a cancel of the link ends it at once).
class StatProgressWatch {
  public:
    StatProgressWatch(std::string host, StatProgressSink sink, void* context,
                      int delayMs = STAT_PROGRESS_DELAY_MS, int everyMs = STAT_PROGRESS_EVERY_MS);
    ~StatProgressWatch();
    StatProgressWatch(const StatProgressWatch&) = delete;
    StatProgressWatch& operator=(const StatProgressWatch&) = delete;

  private:
    void run(int delayMs, int everyMs);

    std::string m_host;
    StatProgressSink m_sink;
    void* m_context;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};
