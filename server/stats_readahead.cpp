// The statistics tool's read-ahead: a byte stream read on a thread of its own (a compressed log
// inflated on another core while this one counts what came before).
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "server/stats_inflate.h"

namespace {

class ReadAhead final : public StatsByteStream {
  public:
    ReadAhead(std::unique_ptr<StatsByteStream> inner, size_t chunk, size_t chunks)
        : m_inner(std::move(inner)), m_chunk(chunk), m_chunks(chunks) {
        m_thread = std::thread([this] { run(); });
    }
    ~ReadAhead() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    ssize_t read(char* buf, size_t size, std::string* error) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_ended; });
        if (m_ready.empty()) {
            if (m_failed) *error = m_error;
            return m_failed ? -1 : 0;
        }
        std::vector<char>& front = m_ready.front();
        size_t n = std::min(size, front.size() - m_taken);
        std::copy_n(front.data() + m_taken, n, buf);
        m_taken += n;
        if (m_taken == front.size()) {
            m_spare = std::move(front);
            m_ready.pop_front();
            m_taken = 0;
            m_changed.notify_all();
        }
        return static_cast<ssize_t>(n);
    }

    std::string skipped() const override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ended ? m_inner->skipped() : std::string();
    }

  private:
    void run() {
        std::vector<char> chunk;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stop || m_ready.size() < m_chunks; });
                if (m_stop) return;
                chunk = std::move(m_spare);
            }
            chunk.resize(m_chunk);
            std::string error;
            size_t have = 0;
            ssize_t n = 0;
            while (have < m_chunk &&
                   (n = m_inner->read(chunk.data() + have, m_chunk - have, &error)) > 0)
                have += static_cast<size_t>(n);
            chunk.resize(have);
            std::lock_guard<std::mutex> lock(m_mutex);
            if (have > 0) m_ready.push_back(std::move(chunk));
            if (n <= 0) {
                m_ended = true;
                m_failed = n < 0;
                m_error = error;
            }
            m_changed.notify_all();
            if (m_ended) return;
        }
    }

    std::unique_ptr<StatsByteStream> m_inner;
    const size_t m_chunk;
    const size_t m_chunks;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<char>> m_ready; // chunks read, in order
    std::vector<char> m_spare;             // a chunk given back, to be filled again
    size_t m_taken = 0;                    // bytes of the front chunk handed on
    bool m_stop = false;
    bool m_ended = false;
    bool m_failed = false;
    std::string m_error;
    std::thread m_thread;
};

} // namespace

std::unique_ptr<StatsByteStream> statsReadAhead(std::unique_ptr<StatsByteStream> inner,
                                                size_t chunk, size_t chunks) {
    return std::make_unique<ReadAhead>(std::move(inner), chunk, chunks);
}
