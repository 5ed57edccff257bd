// The worker thread of the remote link and the hand-back of outcomes to the UI thread.
#include "app/remote_runner.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include "serverdata/sd_host.h"

RemoteRunner* RemoteRunner::instance() {
    auto* app = QCoreApplication::instance();
    auto* runner = app->findChild<RemoteRunner*>(QString(), Qt::FindDirectChildrenOnly);
    if (runner) return runner;
    runner = new RemoteRunner;
    runner->setParent(app);
    return runner;
}

RemoteRunner::RemoteRunner() : m_thread(new QThread), m_worker(new QObject) {
    m_thread->setObjectName(QStringLiteral("remote"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
}

RemoteRunner::~RemoteRunner() {
    cancelAndWait();
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    delete m_thread;
}

void RemoteRunner::run(QObject* context, std::function<void()> work, std::function<void()> done,
                       Cancel cancel) {
    const int number = ++m_queued;
    const bool cancellable = cancel == Cancel::Allowed;
    if (m_pending++ == 0) emit busyChanged(true);
    auto job = [this, number, cancellable, context = QPointer<QObject>(context),
                work = std::move(work), done = std::move(done)]() {
        {
            // A cancel meant for an earlier operation must not fail this one's first wait; one
            // meant for this one (given while it was queued) ends it at its first wait.
            std::lock_guard<std::mutex> hold(m_runLock);
            m_running = number;
            m_runningCancellable = cancellable;
            SdResetCancel();
            if (cancellable && number < m_cancelTo) SdCancelRemote();
        }
        work();
        {
            std::lock_guard<std::mutex> hold(m_runLock);
            m_running = 0;
            SdResetCancel();
        }
        QMetaObject::invokeMethod(
            this,
            [this, context, done] {
                if (context) done();
                finished();
            },
            Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(m_worker, std::move(job), Qt::QueuedConnection);
}

void RemoteRunner::runAndWait(std::function<void()> work) {
    QMetaObject::invokeMethod(
        m_worker,
        [&work] {
            SdResetCancel();
            work();
        },
        Qt::BlockingQueuedConnection);
}

void RemoteRunner::finished() {
    // A cancel reaches the link only while an operation's work runs, and the worker drops it as
    // that work ends: nothing is left pending for whatever talks to the server next.
    if (--m_pending > 0) return;
    emit busyChanged(false);
}

void RemoteRunner::cancel() {
    if (m_pending == 0) return;
    std::lock_guard<std::mutex> hold(m_runLock);
    m_cancelTo = m_queued + 1;
    // The operations still queued cancel themselves as they start.
    if (m_running != 0 && m_runningCancellable) SdCancelRemote();
}

void RemoteRunner::cancelAndWait() {
    cancel();
    // Runs an empty job through the queue and waits for it: every earlier job has ended then.
    QMetaObject::invokeMethod(
        m_worker, [] { SdResetCancel(); }, Qt::BlockingQueuedConnection);
}
