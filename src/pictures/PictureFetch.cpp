#include "pictures/PictureFetch.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QThreadPool>
#include <QWaitCondition>

#include <functional>

namespace pictures {

struct FetchJob {
    QString path;
    PictureRequest request;
    CancelFlag cancel{false};
    QMutex mutex;
    QWaitCondition done;
    bool finished = false;
    LoadedPicture result;
    std::function<void()> onDone; // touched on the window thread only
};

namespace {

int patience = kPatienceMs;

// One loader thread for the whole program; it ends its picture before the program does.
QThreadPool *loaderThread()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        qAddPostRoutine([] {
            loaderThread()->clear();
            loaderThread()->waitForDone();
        });
        return p;
    }();
    return pool;
}

void run(const std::shared_ptr<FetchJob> &job)
{
    LoadedPicture result;
    if (cancelled(&job->cancel)) {
        result.cancelled = true;
    } else {
        result = loadPicture(job->path, job->request, &job->cancel);
    }
    {
        QMutexLocker lock(&job->mutex);
        job->result = std::move(result);
        job->finished = true;
        job->done.wakeAll();
    }
    if (QCoreApplication *app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, [job] {
            if (job->onDone) {
                const std::function<void()> deliver = std::move(job->onDone);
                job->onDone = nullptr;
                deliver();
            }
        }, Qt::QueuedConnection);
    }
}

} // namespace

void setPatienceForTests(int ms) { patience = ms == 0 ? kPatienceMs : ms; }

PictureFetch::PictureFetch(QObject *parent) : QObject(parent) { prepareDecoders(); }

PictureFetch::~PictureFetch() { cancel(); }

void PictureFetch::begin(const QString &path, const PictureRequest &request, int priority)
{
    cancel();
    auto job = std::make_shared<FetchJob>();
    job->path = path;
    job->request = request;
    m_job = job;
    job->onDone = [this, job] { deliver(job); };
    loaderThread()->start([job] { run(job); }, priority);
}

void PictureFetch::start(const QString &path, const PictureRequest &request)
{
    begin(path, request, 1);
    hurry();
}

void PictureFetch::prefetch(const QString &path, const PictureRequest &request) { begin(path, request, 0); }

void PictureFetch::hurry()
{
    const std::shared_ptr<FetchJob> job = m_job;
    if (!job)
        return;
    bool ready = false;
    {
        QMutexLocker lock(&job->mutex);
        if (!job->finished)
            job->done.wait(&job->mutex, patience < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(patience));
        ready = job->finished;
    }
    if (ready) {
        job->onDone = nullptr; // handed over here; the queued delivery finds nothing to do
        deliver(job);
        return;
    }
    setPending(true);
}

void PictureFetch::cancel()
{
    if (!m_job)
        return;
    m_job->cancel = true;
    m_job->onDone = nullptr;
    m_job.reset();
    setPending(false);
}

void PictureFetch::deliver(const std::shared_ptr<FetchJob> &job)
{
    if (job != m_job)
        return;
    m_job.reset();
    setPending(false);
    LoadedPicture picture;
    {
        QMutexLocker lock(&job->mutex);
        picture = std::move(job->result);
    }
    if (!picture.cancelled)
        emit loaded(job->path, picture);
}

void PictureFetch::setPending(bool pending)
{
    if (pending == m_pending)
        return;
    m_pending = pending;
    // The hourglass, while the window waits for its picture.
    if (pending)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace pictures
