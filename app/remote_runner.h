// The console's one worker thread for remote work. The remote link is process-wide and may be
// used by one thread at a time, so every operation that talks to the server goes through this
// queue: the work runs on the worker, in the order given, and its outcome is handed back to the
// UI thread, which only shows it.
//
// Two kinds of work share the queue. An operation (run) is something a person started: while one
// is queued or running the runner is busy, and the window locks its page tree on busyChanged so
// that nothing starts a second operation on the same lists. Background work (runBackground) is
// what a page does by itself every so often, the network page's sampling: it is not busy (a
// sample a second would lock and unlock the tree a second), and an operation queued after it
// cancels it, so a sample waiting for a stalled server never holds back what a person asked for.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QObject>

class QThread;

class RemoteRunner : public QObject {
    Q_OBJECT
  public:
    // The console's runner (made on first use, a child of the application object).
    static RemoteRunner* instance();
    ~RemoteRunner() override;

    // Whether cancel may end an operation: a save that writes the server's files runs to its end
    // (its own failure path restores them), so that no cancel leaves them half written.
    enum class Cancel { Allowed, Never };

    // Queues work for the worker thread; when it has run, done runs on context's thread (the UI
    // thread) unless context is gone by then. A cancel of an earlier operation does not reach
    // this one; background work queued or running is cancelled.
    void run(QObject* context, std::function<void()> work, std::function<void()> done,
             Cancel cancel = Cancel::Allowed);
    // Runs work as an operation and keeps the event loop going until it is done (the window
    // paints meanwhile): for a modal dialog that needs the outcome before it goes on. The caller
    // greys what could start more work meanwhile.
    void runAndWait(std::function<void()> work);
    // Runs work on the worker behind everything queued so far and blocks the UI thread until it
    // has run (a page going away that still holds server files; the start-up). No cancel
    // reaches it.
    void runBlocking(std::function<void()> work);
    // The same for background work: it does not make the runner busy.
    void runBackground(QObject* context, std::function<void()> work, std::function<void()> done);
    // Whether an operation is queued or running (until its done has run); background work does
    // not count.
    bool busy() const { return m_pending > 0; }
    // Whether nothing at all is queued or running (until its done has run).
    bool idle() const { return m_jobs.empty(); }
    // Runs the event loop until the runner is idle or ms have passed; whether it is idle.
    bool waitForIdle(int ms);
    // Ends the waits of the running work and of all queued behind it, each going its failure
    // path (an operation queued with Cancel::Never goes on); returns at once.
    void cancel();
    // Cancels and waits until the worker is idle (the window closing: the link is free again
    // for the releases; a save that cannot be cancelled is waited for). The done parts of the
    // cancelled work still come through the event loop, to the contexts that are left.
    void cancelAndWait();

  signals:
    // An operation was queued while none was pending (true), or the last one is done (false).
    void busyChanged(bool busy);

  private:
    struct Job {
        bool background = false;
        bool cancellable = true;
        bool cancelled = false; // under m_mutex
    };

    RemoteRunner();
    void queue(const std::shared_ptr<Job>& job, QObject* context, std::function<void()> work,
               std::function<void()> done);
    void cancelJobs(bool backgroundOnly);
    void started(Job* job);
    void ended();
    void finished(const std::shared_ptr<Job>& job);

    QThread* m_thread;
    QObject* m_worker;
    int m_pending = 0;                        // UI thread: operations whose done has not run yet
    std::vector<std::shared_ptr<Job>> m_jobs; // UI thread: all work whose done has not run yet
    // A cancel reaches the link only while the work it is meant for runs: the worker's change
    // of running work and a cancel's look at it take this lock.
    std::mutex m_mutex;
    Job* m_running = nullptr; // the work on the worker, under m_mutex
};
