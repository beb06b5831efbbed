#pragma once
// The admin tool as the tests run it: the one built beside them, its exit code and its two
// streams, bounded in time (a hung tool ends the test with exit code -1, not the suite).
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStringList>

namespace testing {

struct AdminRun {
    int exitCode = -1;
    QString out, err;
};

inline AdminRun runAdmin(const QStringList &args)
{
    QProcess p;
    p.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-admin")), args);
    if (!p.waitForFinished(300000))
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace testing
