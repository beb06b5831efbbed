#include "ocr/PageRecognizer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace pictures {

namespace {

constexpr int kPollMs = 20;
constexpr qint64 kMaxWordsBytes = 4ll << 20; // more than any page holds
constexpr qint64 kChunk = 1 << 20;

QString &helperOverride()
{
    static QString program;
    return program;
}

QByteArray readBounded(const QString &path, qint64 maxBytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.read(maxBytes);
}

// Why a photo could not be opened, as the operator reads it.
QString openProblem(store::OpenFailure why)
{
    switch (why) {
    case store::OpenFailure::Missing:
        return QStringLiteral("文件不存在");
    case store::OpenFailure::NotRegular:
        return QStringLiteral("不是普通文件（文件夹、管道或设备）");
    case store::OpenFailure::None:
    case store::OpenFailure::Denied:
    case store::OpenFailure::Unreadable:
        break;
    }
    return QStringLiteral("文件不能读取");
}

// What a called-off copy says: nothing to store, the page stays in the queue.
const QString kCalledOff = QStringLiteral("\x01called off");

// Reads a photo in chunks, each handed to `take`, within the clock; empty when read whole,
// else why not (kCalledOff when called off).
QString readPhoto(const QString &path, qint64 maxBytes, const store::Rights &rights, const QDeadlineTimer &clock,
                    int clockSeconds, const CancelFlag *cancel, const std::function<bool(const QByteArray &)> &take)
{
    store::OpenFailure why = store::OpenFailure::None;
    const int fd = store::openRegularFile(path, rights, why);
    if (fd < 0)
        return openProblem(why);
    QFile in;
    if (!in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QStringLiteral("文件不能读取");
    }
    qint64 total = 0;
    for (;;) {
        if (cancelled(cancel))
            return kCalledOff;
        if (clock.hasExpired())
            return QStringLiteral("读取文件超时（超过 %1 秒）").arg(clockSeconds);
        const QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty()) {
            if (in.error() != QFileDevice::NoError)
                return QStringLiteral("文件不能读取");
            break;
        }
        total += chunk.size();
        if (total > maxBytes)
            return QStringLiteral("文件太大（超过 %1 MB）").arg(maxBytes >> 20);
        if (!take(chunk))
            return QStringLiteral("临时文件不能写入");
    }
    return total == 0 ? QStringLiteral("文件是空的") : QString();
}

// Copies a file into the folder, hashing exactly the bytes copied. Empty on success, else why not.
QString copyHashed(const QString &from, const QString &to, const RecognizerLimits &limits, const CancelFlag *cancel,
                   QString *hash)
{
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("临时文件不能写入");
    QCryptographicHash sha(QCryptographicHash::Sha256);
    const QString problem = readPhoto(from, limits.maxFileBytes, limits.readAs, QDeadlineTimer(limits.pageTimeoutMs),
                                        limits.pageTimeoutMs / 1000, cancel, [&](const QByteArray &chunk) {
                                            sha.addData(chunk);
                                            return out.write(chunk) == chunk.size();
                                        });
    if (!problem.isEmpty())
        return problem;
    *hash = QString::fromLatin1(sha.result().toHex());
    return QString();
}

} // namespace

PageRecognizer::PageRecognizer(const RecognizerLimits &limits, const QString &languages)
    : m_limits(limits), m_languages(languages)
{
}

QString PageRecognizer::helperProgram()
{
    if (!helperOverride().isEmpty())
        return helperOverride();
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-ocr"));
}

void PageRecognizer::setHelperForTests(const QString &program) { helperOverride() = program; }

QString PageRecognizer::hashFile(const QString &path, qint64 maxBytes, QString *reason, const store::Rights &rights,
                                 const CancelFlag *cancel)
{
    QCryptographicHash sha(QCryptographicHash::Sha256);
    const QString problem = readPhoto(path, maxBytes, rights, QDeadlineTimer(QDeadlineTimer::Forever), 0, cancel,
                                        [&](const QByteArray &chunk) {
                                            sha.addData(chunk);
                                            return true;
                                        });
    if (!problem.isEmpty() && problem != QLatin1String("文件是空的")) {
        if (reason && problem != kCalledOff)
            *reason = problem;
        return QString();
    }
    return QString::fromLatin1(sha.result().toHex());
}

QVector<PageReading> PageRecognizer::read(const QStringList &paths, const CancelFlag *cancel)
{
    QVector<PageReading> readings(paths.size());
    QTemporaryDir work;
    if (!work.isValid()) {
        for (PageReading &r : readings)
            r.reason = QStringLiteral("临时文件夹不能建立");
        return readings;
    }
    // The helper runs with the rights the photos are read with: hand it the folder.
    const store::Rights rights = m_limits.readAs;
    auto handOver = [&rights](const QString &path) {
        if (rights.switched && ::chown(QFile::encodeName(path).constData(), rights.uid, rights.gid) != 0) {
            // The helper then cannot read the page, which it reports as not read.
        }
    };
    handOver(work.path());
    // Copies first: a page that cannot be copied is never given to a helper. A run called
    // off leaves the pages it did not reach without a reason: they stay in the queue.
    QVector<int> waiting;
    for (int i = 0; i < paths.size(); ++i) {
        if (cancelled(cancel))
            return readings;
        const QString copy = work.filePath(QStringLiteral("page-%1").arg(i));
        const QString problem = copyHashed(paths.at(i), copy, m_limits, cancel, &readings[i].contentHash);
        if (problem.isEmpty()) {
            handOver(copy);
            waiting << i;
        } else {
            readings[i].reason = problem == kCalledOff ? QString() : problem;
            readings[i].contentHash.clear();
            QFile::remove(copy);
        }
    }

    while (!waiting.isEmpty()) {
        if (cancelled(cancel))
            break;
        const QVector<int> batch = waiting.mid(0, qMax(1, m_limits.pagesPerHelper));
        const QString folder = work.filePath(QStringLiteral("run-%1").arg(batch.front()));
        QDir().mkpath(folder);
        handOver(folder);
        QStringList arguments{m_languages};
        for (int i : batch)
            arguments << work.filePath(QStringLiteral("page-%1").arg(i));

        QProcess child;
        child.setProgram(helperProgram());
        child.setArguments(arguments);
        child.setWorkingDirectory(folder);
        child.setStandardInputFile(QProcess::nullDevice());
        child.setStandardErrorFile(QProcess::nullDevice());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // One core per helper: the windows and the other programs of the machine keep theirs.
        env.insert(QStringLiteral("OMP_THREAD_LIMIT"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        const RecognizerLimits limits = m_limits;
        const rlim_t cpu = rlim_t(limits.startSeconds + limits.cpuSecondsPerPage * batch.size());
        child.setChildProcessModifier([limits, cpu, rights] {
            // Run as root, the helper has the photos' rights, never root's; it cannot start
            // otherwise (nothing else may be done after a failure here but to end).
            if (rights.switched) {
                const gid_t only = rights.gid;
                if (setgroups(1, &only) != 0 || setgid(rights.gid) != 0 || setuid(rights.uid) != 0)
                    _exit(127);
            }
            auto cap = [](int resource, rlim_t value) {
                struct rlimit r;
                r.rlim_cur = value;
                r.rlim_max = value;
                setrlimit(resource, &r);
            };
            cap(RLIMIT_AS, rlim_t(limits.memoryBytes));
            cap(RLIMIT_CPU, cpu);
            cap(RLIMIT_FSIZE, rlim_t(kMaxWordsBytes));
            cap(RLIMIT_CORE, 0);
            // A reader killed outright takes its helper with it.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            // Reading words waits for the windows, never they for it.
            setpriority(PRIO_PROCESS, 0, 10);
        });
        child.start();
        if (!child.waitForStarted()) {
            for (int i : waiting)
                readings[i].reason = QStringLiteral("识别程序不能启动：%1").arg(child.errorString());
            return readings;
        }

        // The helper says which page it began; each page has its own clock, the first one
        // also the time to load the models.
        int current = -1; // index into batch of the page begun and not yet ended
        int ended = 0;    // pages of the batch finished
        QByteArray pendingOutput;
        QElapsedTimer clock;
        clock.start();
        qint64 allowance = qint64(limits.startSeconds) * 1000 + limits.pageTimeoutMs;
        QString stopped;
        bool wasCancelled = false;
        for (;;) {
            const bool finished = child.waitForFinished(kPollMs) || child.state() == QProcess::NotRunning;
            pendingOutput += child.readAllStandardOutput();
            if (pendingOutput.size() > 4096 && !pendingOutput.contains('\n'))
                pendingOutput.clear(); // a helper that says nonsense is judged by its files
            qsizetype nl;
            while ((nl = pendingOutput.indexOf('\n')) >= 0) {
                const QList<QByteArray> words = pendingOutput.left(nl).split(' ');
                pendingOutput.remove(0, nl + 1);
                if (words.size() != 2)
                    continue;
                bool ok = false;
                const int page = words.at(1).toInt(&ok);
                if (!ok || page < 0 || page >= batch.size())
                    continue;
                if (words.at(0) == "begin") {
                    current = page;
                    clock.restart();
                    allowance = limits.pageTimeoutMs;
                } else if (words.at(0) == "end") {
                    ended = qMax(ended, page + 1);
                    current = -1;
                }
            }
            if (finished)
                break;
            if (cancelled(cancel) || clock.elapsed() >= allowance) {
                wasCancelled = cancelled(cancel);
                stopped = wasCancelled ? QString() : QStringLiteral("识别超时（超过 %1 秒）").arg(limits.pageTimeoutMs / 1000);
                child.kill();
                child.waitForFinished(-1);
                break;
            }
        }
        const bool crashed = stopped.isEmpty() && !wasCancelled
            && (child.exitStatus() == QProcess::CrashExit || child.exitCode() != 0);
        if (crashed)
            stopped = child.exitStatus() == QProcess::CrashExit
                ? QStringLiteral("识别程序异常结束（页面损坏、过大或处理超时）")
                : QStringLiteral("识别程序不能运行（退出码 %1，语言数据不全？）").arg(child.exitCode());

        const QStringList engineLines = QString::fromUtf8(readBounded(QDir(folder).filePath(QStringLiteral("engine")), 4096))
                                            .split(QLatin1Char('\n'));
        if (engineLines.size() >= 2 && !engineLines.at(0).isEmpty()) {
            m_engine = engineLines.at(0);
            m_models = engineLines.at(1);
        }
        // What the helper finished is taken from its files, whatever became of it later.
        int taken = 0;
        for (int k = 0; k < batch.size(); ++k) {
            PageReading &r = readings[batch[k]];
            const QString base = QDir(folder).filePath(QString::number(k));
            if (k < ended && QFile::exists(base + QStringLiteral(".txt"))) {
                r.done = true;
                r.words = QString::fromUtf8(readBounded(base + QStringLiteral(".txt"), kMaxWordsBytes));
            } else if (k < ended && QFile::exists(base + QStringLiteral(".err"))) {
                r.reason = QString::fromUtf8(readBounded(base + QStringLiteral(".err"), 1024));
            } else {
                break;
            }
            taken = k + 1;
        }
        QDir(folder).removeRecursively();
        if (wasCancelled)
            break;
        if (taken < batch.size()) {
            const QString why = stopped.isEmpty() ? QStringLiteral("识别程序没有完成") : stopped;
            if (current < 0 && taken == 0 && child.exitStatus() == QProcess::NormalExit) {
                // It gave up before its first page (no models): every helper would.
                for (int i : waiting)
                    readings[i].reason = why;
                return readings;
            }
            // Pages end in order: the one after the last finished is the one it was on.
            readings[batch[taken]].reason = why;
            ++taken;
        }
        waiting = waiting.mid(taken);
    }
    return readings;
}

} // namespace pictures
