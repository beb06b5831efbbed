#pragma once
// Runs the programs that read pictures from outside (the metafile converters and the
// drawing helper) as child processes under limits: processor time, address space, the
// size of any file they write, and a wall clock. Each runs in a private temporary
// folder, which it is given as its working folder; whoever asked may call the run off.
#include <QString>
#include <QStringList>

#include <atomic>

namespace pictures {

// Set from another thread when the picture is no longer wanted.
using CancelFlag = std::atomic<bool>;
inline bool cancelled(const CancelFlag *flag) { return flag && flag->load(std::memory_order_relaxed); }

struct ChildLimits {
    qint64 memoryBytes = 768ll << 20; // address space
    qint64 outputBytes = 64ll << 20;  // any one file it writes
    int cpuSeconds = 10;
    int timeoutMs = 20000;            // wall clock, for a child that waits on nothing
};

enum class ChildEnd { Finished, NotStarted, TimedOut, Crashed, Cancelled };

struct ChildRun {
    ChildEnd end = ChildEnd::NotStarted;
    int exitCode = -1;
    QString error; // why it did not start
};

// Starts program with arguments in folder and waits for its end. A child past its time,
// or called off, is killed and waited for before this returns, so that the folder can
// be removed at once.
ChildRun runLimited(const QString &program, const QStringList &arguments, const QString &folder,
                    const ChildLimits &limits, const CancelFlag *cancel);

} // namespace pictures
