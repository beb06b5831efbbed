#include "ocr/PageQueue.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostInfo>
#include <QRandomGenerator>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace pictures {

namespace {

QString thisHost() { return QHostInfo::localHostName(); }

bool processGone(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

} // namespace

PageQueueReader::PageQueueReader(const RecognizerLimits &limits) : m_limits(limits), m_recognizer(limits)
{
    m_claim = QStringLiteral("%1/%2/%3")
                  .arg(thisHost())
                  .arg(QCoreApplication::applicationPid())
                  .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

int PageQueueReader::leaseSeconds() const
{
    // Long enough for a helper to go through its pages, each to the end of its clock.
    return m_limits.startSeconds + m_limits.pagesPerHelper * (m_limits.pageTimeoutMs / 1000 + 1) + 60;
}

int PageQueueReader::releaseAbandoned(store::Connection &c)
{
    int released = 0;
    store::Transaction t(c);
    for (const QString &claim : store::pendingClaims(c)) {
        const QStringList parts = claim.split(QLatin1Char('/'));
        if (parts.size() != 3 || parts.at(0) != thisHost())
            continue;
        bool ok = false;
        const qint64 pid = parts.at(1).toLongLong(&ok);
        if (ok && pid != QCoreApplication::applicationPid() && processGone(pid))
            released += store::releaseClaim(c, claim);
    }
    t.commit();
    return released;
}

QVector<store::PageJob> PageQueueReader::claim(store::Connection &c, int count)
{
    store::Transaction t(c);
    const QVector<store::PageJob> jobs =
        store::claimPages(c, m_claim, QDateTime::currentSecsSinceEpoch(), leaseSeconds(), count);
    t.commit();
    return jobs;
}

QVector<PageReading> PageQueueReader::read(const QVector<store::PageJob> &jobs, const CancelFlag *cancel)
{
    QStringList paths;
    for (const store::PageJob &job : jobs)
        paths << job.photo;
    return m_recognizer.read(paths, cancel);
}

PageQueueReader::Stored PageQueueReader::store(store::Connection &c, const QVector<store::PageJob> &jobs,
                                               const QVector<PageReading> &readings)
{
    Stored stored;
    const QString when = QDateTime::currentDateTime().toString(Qt::ISODate);
    store::Transaction t(c);
    for (int i = 0; i < jobs.size() && i < readings.size(); ++i) {
        const PageReading &r = readings.at(i);
        if (!r.done && r.reason.isEmpty())
            continue; // not reached: its claim runs out and it is read again
        store::PageResult result;
        result.done = r.done;
        result.words = r.words;
        result.reason = r.reason;
        result.contentHash = r.contentHash;
        result.engine = m_recognizer.engine();
        result.languages = m_recognizer.models();
        result.when = when;
        if (!store::finishPage(c, jobs.at(i).rowId, m_claim, result))
            ++stored.lost;
        else if (r.done)
            ++stored.done;
        else
            ++stored.failed;
    }
    t.commit();
    return stored;
}

// ---------------------------------------------------------------- the program's reader

RecognizerLimits PageTextQueue::limits;
int PageTextQueue::pagesPerBatch = 4;

namespace {
bool &enabledFlag()
{
    static bool on = false;
    return on;
}
} // namespace

PageTextQueue &PageTextQueue::instance()
{
    static PageTextQueue *queue = [] {
        auto *q = new PageTextQueue;
        // Gone with the application: a reading under way is called off, its pages stay queued.
        if (QCoreApplication::instance())
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, q, &PageTextQueue::stop);
        return q;
    }();
    return *queue;
}

PageTextQueue::PageTextQueue() = default;
PageTextQueue::~PageTextQueue() { stop(); }

void PageTextQueue::enable(bool on)
{
    enabledFlag() = on;
    if (!on)
        instance().stop();
}

bool PageTextQueue::enabled() { return enabledFlag(); }

void PageTextQueue::photosSaved(store::Connection &c, const QString &number, const QStringList &photos)
{
    if (!enabled() || photos.isEmpty())
        return;
    try {
        if (store::hasPageTextTable(c)) {
            store::Transaction t(c);
            for (const QString &photo : photos)
                store::queuePage(c, number, photo);
            t.commit();
        }
    } catch (const store::StoreError &) {
        // The record is saved; its photos are found by the sweep of the next start.
    }
    instance().wake(c.path());
}

void PageTextQueue::wake(const QString &archive)
{
    if (!enabled())
        return;
    if (m_thread) {
        if (archive == m_archive)
            m_again = true;
        return;
    }
    m_archive = archive;
    if (m_stepPending)
        return;
    m_stepPending = true;
    QTimer::singleShot(0, this, [this] {
        m_stepPending = false;
        if (!m_thread)
            step();
    });
}

void PageTextQueue::step()
{
    m_again = false;
    m_jobs.clear();
    try {
        store::Connection c(m_archive);
        if (m_swept != m_archive) {
            // The file's reader may make the table itself; on a server the owner makes it.
            if (!store::hasPageTextTable(c) && c.backend() == store::Backend::SQLite)
                store::createPageTextTable(c);
            if (!store::hasPageTextTable(c)) {
                emit idle();
                return;
            }
            PageQueueReader::releaseAbandoned(c);
            store::Transaction t(c);
            store::queueMissingPages(c);
            t.commit();
            m_swept = m_archive;
        }
        if (!m_reader)
            m_reader = std::make_unique<PageQueueReader>(limits);
        m_jobs = m_reader->claim(c, pagesPerBatch);
    } catch (const store::StoreError &) {
        m_jobs.clear(); // tried again at the next wake
    }
    if (m_jobs.isEmpty()) {
        emit idle();
        return;
    }
    m_cancel = false;
    m_thread = QThread::create([this] { m_readings = m_reader->read(m_jobs, &m_cancel); });
    const int generation = ++m_generation;
    connect(
        m_thread, &QThread::finished, this,
        [this, generation] {
            if (generation == m_generation)
                batchRead();
        },
        Qt::QueuedConnection);
    m_thread->start(QThread::LowPriority);
}

void PageTextQueue::batchRead()
{
    if (!m_thread)
        return;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    if (m_cancel)
        return;
    try {
        store::Connection c(m_archive);
        m_reader->store(c, m_jobs, m_readings);
        for (int i = 0; i < m_jobs.size() && i < m_readings.size(); ++i)
            if (m_readings.at(i).done)
                emit pageStored(m_jobs.at(i).number, m_jobs.at(i).photo);
    } catch (const store::StoreError &) {
        // Not stored: the pages stay claimed until their lease runs out, then read again.
    }
    step();
}

void PageTextQueue::stop()
{
    if (!m_thread)
        return;
    ++m_generation;
    m_cancel = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    // Its pages go back to the queue at once rather than when the lease runs out.
    try {
        store::Connection c(m_archive);
        store::Transaction t(c);
        store::releaseClaim(c, m_reader->claim());
        t.commit();
    } catch (const store::StoreError &) {
    }
}

} // namespace pictures
