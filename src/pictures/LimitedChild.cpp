#include "pictures/LimitedChild.h"

#include <QElapsedTimer>
#include <QProcess>

#include <sys/resource.h>

namespace pictures {

namespace {
// How often a waiting run looks whether it has been called off.
constexpr int kPollMs = 20;
} // namespace

ChildRun runLimited(const QString &program, const QStringList &arguments, const QString &folder,
                    const ChildLimits &limits, const CancelFlag *cancel)
{
    ChildRun run;
    if (cancelled(cancel)) {
        run.end = ChildEnd::Cancelled;
        return run;
    }
    QProcess child;
    child.setProgram(program);
    child.setArguments(arguments);
    child.setWorkingDirectory(folder);
    child.setStandardInputFile(QProcess::nullDevice());
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setStandardErrorFile(QProcess::nullDevice());
    // Runs in the child between fork and exec: only plain system calls here.
    child.setChildProcessModifier([limits] {
        auto cap = [](int resource, rlim_t value) {
            struct rlimit r;
            r.rlim_cur = value;
            r.rlim_max = value;
            setrlimit(resource, &r);
        };
        cap(RLIMIT_AS, rlim_t(limits.memoryBytes));
        cap(RLIMIT_CPU, rlim_t(limits.cpuSeconds));
        cap(RLIMIT_FSIZE, rlim_t(limits.outputBytes));
        cap(RLIMIT_CORE, 0);
    });
    child.start();
    if (!child.waitForStarted()) {
        run.error = child.errorString();
        return run;
    }
    QElapsedTimer clock;
    clock.start();
    while (!child.waitForFinished(kPollMs)) {
        if (child.state() == QProcess::NotRunning)
            break;
        const bool off = cancelled(cancel);
        if (off || clock.elapsed() >= limits.timeoutMs) {
            child.kill();
            child.waitForFinished(-1);
            run.end = off ? ChildEnd::Cancelled : ChildEnd::TimedOut;
            return run;
        }
    }
    run.exitCode = child.exitCode();
    run.end = child.exitStatus() == QProcess::CrashExit ? ChildEnd::Crashed : ChildEnd::Finished;
    return run;
}

} // namespace pictures
