// The console's one worker thread for remote work. The remote link is process-wide and may be
// used by one thread at a time, so every operation that talks to the server goes through this
// queue: the work runs on the worker, in the order given, and its outcome is handed back to the
// UI thread, which only shows it.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

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
    // thread) unless context is gone by then. A pending cancel of an earlier operation does not
    // reach this one.
    void run(QObject* context, std::function<void()> work, std::function<void()> done,
             Cancel cancel = Cancel::Allowed);
    // Runs work on the worker behind everything queued so far and waits for it (a page going
    // away that still holds server files: the link is used by one thread at a time). No cancel
    // reaches it.
    void runAndWait(std::function<void()> work);
    // Whether an operation is queued or running (until its done has run).
    bool busy() const { return m_pending > 0; }
    // Ends the waits of the running operation and of those queued behind it, each going its
    // failure path (an operation queued with Cancel::Never goes on); returns at once.
    void cancel();
    // Cancels and waits until the worker is idle (the window closing: the link is free again
    // for the releases; a save that cannot be cancelled is waited for). The done parts of the
    // operations still come through the event loop, to the contexts that are left.
    void cancelAndWait();

  signals:
    // An operation was queued while none was pending (true), or the last one is done (false).
    void busyChanged(bool busy);

  private:
    RemoteRunner();
    void finished();

    QThread* m_thread;
    QObject* m_worker;
    int m_pending = 0;              // UI thread: operations whose done has not run yet
    int m_queued = 0;               // UI thread: operations queued so far (their numbers)
    std::atomic<int> m_cancelTo{0}; // operations numbered below this are cancelled
    // The operation the worker runs (0 none) and whether it may be cancelled: a cancel and the
    // start of the next operation take this lock, so a cancel never reaches a save.
    std::mutex m_runLock;
    int m_running = 0;
    bool m_runningCancellable = true;
};
