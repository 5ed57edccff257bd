// Internals of the remote link's bounded waits: the process-wide limits, deadlines, and the
// registry through which vxCancel reaches the waits in progress.
#pragma once

#include <atomic>

namespace vxremote {

// Milliseconds of CLOCK_MONOTONIC.
long long monotonicMs();

// A point in time a wait must not pass.
class Deadline {
  public:
    explicit Deadline(int limitMs) : m_end(monotonicMs() + limitMs) {}
    // Milliseconds left, at least 1 (a zero time-out means something else to libtirpc), 0 once
    // the deadline has passed.
    int remainingMs() const;
    bool passed() const { return remainingMs() == 0; }

  private:
    long long m_end;
};

// A wait of the link (a client's creation, a call) from its start to its end. A cancel that
// arrives while it exists marks it and shuts down the socket it watches, which wakes libtirpc's
// blocked poll at once; a cancel that found no wait in progress is taken by the next scope made.
class WaitScope {
  public:
    WaitScope();
    ~WaitScope();
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

    // The socket a cancel shuts down (-1: none); the caller unwatches it before closing it.
    void watch(int fd);
    bool cancelled() const { return m_cancelled.load(); }

  private:
    friend void cancelWaits();
    std::atomic<bool> m_cancelled{false};
    int m_fd = -1;
    bool m_side;
};

// While one lives, the waits of its thread are side waits: a cancel ends them as any other, but a
// cancel that finds only side waits in progress is still kept for the next wait of another
// thread, and a side wait never takes a kept cancel (a helper thread beside the link's thread).
class SideWaits {
  public:
    SideWaits();
    ~SideWaits();
    SideWaits(const SideWaits&) = delete;
    SideWaits& operator=(const SideWaits&) = delete;
};

// Marks every scope in progress cancelled (or, with none but side waits, the next one made).
void cancelWaits();
void forgetPendingCancel();

} // namespace vxremote
