// The program's side of the scanner helper (ScanHelperLink.h): the scanner seam's classes,
// each call a request to the helper and its reply. A helper that was told to stop, or
// whose scan was cancelled, gets a grace period to answer and is then killed and reaped,
// so that a scan window always closes and leaves no process behind.
#include "scan/ScanHelperLink.h"
#include "scan/Scanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace pictures {

namespace {

std::atomic<int> graceMs{5000};

const QString kHelperGone = QStringLiteral("扫描仪的驱动程序意外中止。请关闭扫描窗口后重新打开。");

std::function<qint64()> testClock;

qint64 nowMs()
{
    if (testClock)
        return testClock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Above the standard descriptors and the helper's cancel descriptor, so that placing them
// for the helper never meets one already in place.
int raised(int fd)
{
    if (fd < 0 || fd > helper::kCancelFd)
        return fd;
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

class HelperProcess {
public:
    ~HelperProcess() { stop(); }

    bool start(QString &error)
    {
        const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-scan"));
        if (!QFile::exists(program)) {
            error = QStringLiteral("找不到扫描辅助程序 %1。").arg(QDir::toNativeSeparators(program));
            return false;
        }
        // Sockets rather than pipes: the program writes with MSG_NOSIGNAL, so that a helper
        // that died is an error to handle, not a SIGPIPE that ends the program.
        int requests[2], replies[2], cancels[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requests) != 0)
            return error = QString::fromLocal8Bit(strerror(errno)), false;
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, replies) != 0) {
            error = QString::fromLocal8Bit(strerror(errno));
            closeAll({requests[0], requests[1]});
            return false;
        }
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, cancels) != 0) {
            error = QString::fromLocal8Bit(strerror(errno));
            closeAll({requests[0], requests[1], replies[0], replies[1]});
            return false;
        }
        for (int *fd : {&requests[0], &requests[1], &replies[0], &replies[1], &cancels[0], &cancels[1]})
            *fd = raised(*fd);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, requests[1], 0);
        posix_spawn_file_actions_adddup2(&actions, replies[1], 1);
        posix_spawn_file_actions_adddup2(&actions, cancels[1], helper::kCancelFd);
        const QByteArray path = QFile::encodeName(program);
        char *argv[] = {const_cast<char *>(path.constData()), nullptr};
        pid_t pid = -1;
        const int failed = posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        closeAll({requests[1], replies[1], cancels[1]});
        if (failed != 0) {
            error = QStringLiteral("扫描辅助程序 %1 无法启动：%2")
                        .arg(QDir::toNativeSeparators(program), QString::fromLocal8Bit(strerror(failed)));
            closeAll({requests[0], replies[0], cancels[0]});
            return false;
        }
        m_pid = pid;
        m_requests = requests[0];
        m_replies = replies[0];
        m_cancels = cancels[0];
        return true;
    }

    // One request and its reply, on the worker's thread. False when the helper is gone or
    // did not answer in time; it is then killed.
    bool call(const QByteArray &request, QByteArray &reply)
    {
        if (m_pid < 0)
            return false;
        if (!sendAll(helper::framed(request)) || !receive(reply)) {
            kill();
            return false;
        }
        if (!m_stopping)
            m_deadline = 0; // answered: the next call may take as long as the device likes
        return true;
    }

    // From any thread: the scan in progress ends at once, and the helper has the grace
    // period to answer the call in progress.
    void cancelNow()
    {
        limitWaits();
        const QMutexLocker lock(&m_cancelLock);
        if (m_cancels >= 0) {
            const char byte = 'c';
            (void)::send(m_cancels, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }

    void limitWaits()
    {
        qint64 none = 0;
        m_deadline.compare_exchange_strong(none, nowMs() + graceMs.load());
    }

    // The helper is told to stop, given the grace period to close its drivers, then
    // killed; it is reaped either way.
    void stop()
    {
        if (m_pid < 0)
            return;
        m_stopping = true;
        closeChannels(false);
        const qint64 until = nowMs() + graceMs.load();
        for (;;) {
            const pid_t r = ::waitpid(m_pid, nullptr, WNOHANG);
            if (r == m_pid || (r < 0 && errno != EINTR)) {
                m_pid = -1;
                break;
            }
            if (nowMs() >= until) {
                kill();
                break;
            }
            QThread::msleep(5);
        }
        closeChannels(true);
    }

    void setStopping() { m_stopping = true, limitWaits(); }

private:
    static void closeAll(std::initializer_list<int> fds)
    {
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }

    void closeChannels(bool replies)
    {
        {
            const QMutexLocker lock(&m_cancelLock);
            closeAll({m_cancels});
            m_cancels = -1;
        }
        closeAll({m_requests});
        m_requests = -1;
        if (replies) {
            closeAll({m_replies});
            m_replies = -1;
        }
    }

    void kill()
    {
        if (m_pid > 0) {
            // Ours and not yet reaped: the number cannot belong to anyone else.
            ::kill(m_pid, SIGKILL);
            while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        m_pid = -1;
        closeChannels(true);
    }

    bool sendAll(const QByteArray &frame)
    {
        return helper::transferAll(
            frame.constData(), frame.size(),
            [this](const char *at, qint64 left) { return ::send(m_requests, at, size_t(left), MSG_NOSIGNAL | MSG_DONTWAIT); },
            [this] { return wait(m_requests, POLLOUT); }, true);
    }

    bool receiveExactly(char *to, qint64 size)
    {
        return helper::transferAll(
            to, size, [this](char *at, qint64 left) { return ::recv(m_replies, at, size_t(left), MSG_DONTWAIT); },
            [this] { return wait(m_replies, POLLIN); }, true);
    }

    bool receive(QByteArray &reply)
    {
        char head[4];
        if (!receiveExactly(head, 4))
            return false;
        const qint32 size = helper::announcedSize(head);
        if (size < 0)
            return false;
        reply.resize(size);
        return receiveExactly(reply.data(), size);
    }

    // Until the descriptor is ready, or the deadline set by a cancel or a stop has passed.
    bool wait(int fd, short events)
    {
        for (;;) {
            pollfd p{fd, events, 0};
            const int r = ::poll(&p, 1, 50);
            if (r > 0)
                return true;
            if (r < 0 && errno != EINTR)
                return false;
            const qint64 deadline = m_deadline.load();
            if (deadline != 0 && nowMs() >= deadline)
                return false;
        }
    }

    pid_t m_pid = -1;
    int m_requests = -1;
    int m_replies = -1;
    int m_cancels = -1;
    QMutex m_cancelLock; // the cancel descriptor is written from the window's thread
    std::atomic<qint64> m_deadline{0};
    bool m_stopping = false;
};

QByteArray request(helper::Op op, const std::function<void(QDataStream &)> &args = {})
{
    QByteArray bytes;
    QDataStream s(&bytes, QIODevice::WriteOnly);
    helper::stream(s) << qint32(op);
    if (args)
        args(s);
    return bytes;
}

ScanStatus statusFrom(qint32 value)
{
    return value >= int(ScanStatus::Good) && value <= int(ScanStatus::AccessDenied) ? ScanStatus(value)
                                                                                     : ScanStatus::IoError;
}

class ChildDevice : public ScannerDevice {
public:
    ChildDevice(std::shared_ptr<HelperProcess> helper, ScanChoices choices)
        : m_helper(std::move(helper)), m_choices(std::move(choices)), m_owner(QThread::currentThread())
    {
    }
    ~ChildDevice() override
    {
        m_helper->limitWaits();
        QByteArray reply;
        m_helper->call(request(helper::Close), reply);
    }

    ScanChoices choices() override { return m_choices; }

    QString apply(const ScanSettings &s) override
    {
        QByteArray reply;
        if (!m_helper->call(request(helper::Apply, [&](QDataStream &o) { o << s.source << s.mode << qint32(s.resolution); }),
                            reply))
            return kHelperGone;
        QDataStream in(reply);
        QString error;
        helper::stream(in) >> error;
        return in.status() == QDataStream::Ok ? error : kHelperGone;
    }

    ScanStatus start() override { return simple(helper::Start); }

    ScanStatus format(FrameFormat &f) override
    {
        QByteArray reply;
        if (!m_helper->call(request(helper::Format), reply))
            return ScanStatus::IoError;
        QDataStream in(reply);
        qint32 status = 0, kind = 0, bytesPerLine = 0, pixelsPerLine = 0, lines = 0, depth = 0;
        bool last = true;
        helper::stream(in) >> status >> kind >> last >> bytesPerLine >> pixelsPerLine >> lines >> depth;
        if (in.status() != QDataStream::Ok)
            return ScanStatus::IoError;
        f.kind = kind >= int(FrameKind::Gray) && kind <= int(FrameKind::Other) ? FrameKind(kind) : FrameKind::Other;
        f.last = last;
        f.bytesPerLine = bytesPerLine;
        f.pixelsPerLine = pixelsPerLine;
        f.lines = lines;
        f.depth = depth;
        return statusFrom(status);
    }

    ScanStatus read(unsigned char *buffer, int maxLength, int &length) override
    {
        length = 0;
        QByteArray reply;
        if (!m_helper->call(request(helper::Read, [&](QDataStream &o) { o << qint32(maxLength); }), reply))
            return ScanStatus::IoError;
        QDataStream in(reply);
        qint32 status = 0;
        QByteArray data;
        helper::stream(in) >> status >> data;
        if (in.status() != QDataStream::Ok || data.size() > maxLength)
            return ScanStatus::IoError;
        std::memcpy(buffer, data.constData(), size_t(data.size()));
        length = int(data.size());
        return statusFrom(status);
    }

    void cancel() override
    {
        // The worker ends its run in turn with the helper; the window cannot wait for the
        // worker, which may be blocked in a read, and goes around it.
        if (QThread::currentThread() == m_owner) {
            QByteArray reply;
            m_helper->call(request(helper::Cancel), reply);
        } else {
            m_helper->cancelNow();
        }
    }

private:
    ScanStatus simple(helper::Op op)
    {
        QByteArray reply;
        if (!m_helper->call(request(op), reply))
            return ScanStatus::IoError;
        QDataStream in(reply);
        qint32 status = 0;
        helper::stream(in) >> status;
        return in.status() == QDataStream::Ok ? statusFrom(status) : ScanStatus::IoError;
    }

    std::shared_ptr<HelperProcess> m_helper;
    ScanChoices m_choices;
    QThread *m_owner;
};

class ChildSystem : public ScannerSystem {
public:
    ChildSystem() : m_helper(std::make_shared<HelperProcess>())
    {
        if (!m_helper->start(m_startError))
            m_helper.reset();
    }
    ~ChildSystem() override
    {
        if (m_helper) {
            m_helper->setStopping();
            m_helper->stop();
        }
    }

    QVector<ScannerInfo> devices(QString &error) override
    {
        QVector<ScannerInfo> found;
        QByteArray reply;
        if (!m_helper) {
            error = QStringLiteral("扫描系统（SANE）无法启动：") + m_startError;
            return found;
        }
        if (!m_helper->call(request(helper::Devices), reply)) {
            error = kHelperGone;
            return found;
        }
        QDataStream in(reply);
        qint32 count = 0;
        helper::stream(in) >> error >> count;
        for (int i = 0; i < qMin(count, 256) && in.status() == QDataStream::Ok; ++i) {
            ScannerInfo info;
            in >> info.name >> info.label;
            found << info;
        }
        if (in.status() != QDataStream::Ok) {
            found.clear();
            error = kHelperGone;
        }
        return found;
    }

    std::unique_ptr<ScannerDevice> open(const QString &name, QString &error) override
    {
        QByteArray reply;
        if (!m_helper || !m_helper->call(request(helper::Open, [&](QDataStream &o) { o << name; }), reply)) {
            error = QStringLiteral("扫描仪 %1 无法打开：%2").arg(name, m_helper ? kHelperGone : m_startError);
            return nullptr;
        }
        QDataStream in(reply);
        bool opened = false;
        ScanChoices c;
        qint32 resolution = 0;
        helper::stream(in) >> opened >> error >> c.sources >> c.source >> c.modes >> c.mode >> c.resolutions >> resolution;
        c.resolution = resolution;
        if (in.status() != QDataStream::Ok) {
            error = QStringLiteral("扫描仪 %1 无法打开：%2").arg(name, kHelperGone);
            return nullptr;
        }
        if (!opened)
            return nullptr;
        return std::make_unique<ChildDevice>(m_helper, c);
    }

private:
    std::shared_ptr<HelperProcess> m_helper;
    QString m_startError;
};

} // namespace

std::unique_ptr<ScannerSystem> makeSaneSystem() { return std::make_unique<ChildSystem>(); }

void setScannerHelperGraceForTests(int milliseconds) { graceMs = milliseconds > 0 ? milliseconds : 5000; }

void setScannerHelperClockForTests(std::function<qint64()> milliseconds) { testClock = std::move(milliseconds); }

} // namespace pictures
