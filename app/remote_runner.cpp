// The worker thread of the remote link and the hand-back of outcomes to the UI thread.
#include "app/remote_runner.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>

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
    // A sample waiting for the server gives way to what a person asked for.
    cancelJobs(true);
    auto job = std::make_shared<Job>();
    job->cancellable = cancel == Cancel::Allowed;
    if (m_pending++ == 0) emit busyChanged(true);
    queue(job, context, std::move(work), std::move(done));
}

void RemoteRunner::runAndWait(std::function<void()> work) {
    bool done = false;
    QEventLoop loop;
    run(this, std::move(work), [&] {
        done = true;
        loop.quit();
    });
    if (!done) loop.exec();
}

void RemoteRunner::runBlocking(std::function<void()> work) {
    QMetaObject::invokeMethod(
        m_worker,
        [&work] {
            SdResetCancel();
            work();
        },
        Qt::BlockingQueuedConnection);
}

void RemoteRunner::runBackground(QObject* context, std::function<void()> work,
                                 std::function<void()> done) {
    auto job = std::make_shared<Job>();
    job->background = true;
    queue(job, context, std::move(work), std::move(done));
}

void RemoteRunner::queue(const std::shared_ptr<Job>& job, QObject* context,
                         std::function<void()> work, std::function<void()> done) {
    m_jobs.push_back(job);
    auto task = [this, job, context = QPointer<QObject>(context), work = std::move(work),
                 done = std::move(done)]() {
        started(job.get());
        work();
        ended();
        QMetaObject::invokeMethod(
            this,
            [this, job, context, done] {
                if (context) done();
                finished(job);
            },
            Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(m_worker, std::move(task), Qt::QueuedConnection);
}

void RemoteRunner::started(Job* job) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = job;
    // A cancel meant for earlier work must not fail this one's first wait; one meant for this
    // work (given while it was queued) ends it at its first wait.
    SdResetCancel();
    if (job->cancelled) SdCancelRemote();
}

void RemoteRunner::ended() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = nullptr;
    SdResetCancel();
}

void RemoteRunner::finished(const std::shared_ptr<Job>& job) {
    m_jobs.erase(std::find(m_jobs.begin(), m_jobs.end(), job));
    if (!job->background && --m_pending == 0) emit busyChanged(false);
}

void RemoteRunner::cancelJobs(bool backgroundOnly) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& job : m_jobs)
        if ((!backgroundOnly || job->background) && job->cancellable) job->cancelled = true;
    // Only the running work's waits are ended; with none running there is nothing to end (a
    // cancel left pending would fail whatever talks to the server next).
    if (m_running && m_running->cancelled) SdCancelRemote();
}

void RemoteRunner::cancel() {
    cancelJobs(false);
}

void RemoteRunner::cancelAndWait() {
    cancel();
    // Runs an empty job through the queue and waits for it: every earlier job has ended then.
    QMetaObject::invokeMethod(
        m_worker, [] { SdResetCancel(); }, Qt::BlockingQueuedConnection);
}

bool RemoteRunner::waitForIdle(int ms) {
    if (idle()) return true;
    QEventLoop loop;
    QTimer check;
    QDeadlineTimer deadline(ms);
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (idle() || deadline.hasExpired()) loop.quit();
    });
    check.start(5);
    loop.exec();
    return idle();
}
