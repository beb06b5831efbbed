#pragma once
// One backup's run, shared by the two files that write it: Backup.cpp (the target folder,
// the attached files and photos, the check and the lists) and BackupDatabase.cpp (the
// copy of the archive itself, taken from a file or from a server). For those two only.
#include "archive/Backup.h"
#include "store/Database.h"
#include "store/FileModes.h"
#include "store/Statements.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <unistd.h>

namespace store {

// Said after a failure to write into the target folder.
const QString kTargetTrouble = QStringLiteral("目标磁盘可能已满、只读或已拔出，备份没有完成。");

// Backup.cpp.
void endReadQuietly(Connection &c);
// Flushes a file or folder to the disk, so that a finished name never stands for data
// still in the cache of a volume about to be pulled out.
bool syncPath(const QString &path, bool folder);
// The same for a file open for writing.
bool syncFile(int fd, const QString &path);
// BackupDatabase.cpp: the sentence for an SQLite failure to write the copy.
QString sqliteFailure(int code, const QString &detail);

class BackupRun {
    // What ends a run early: a failure, told to the operator, or the operator's cancel.
    struct Failure {
        QString message;
    };
    struct Cancel {};
    struct CopiedFile {
        QString source;
        QString target; // relative to the backup folder
        qint64 size = 0;
        QByteArray sha256; // of the bytes read from the source, hexadecimal
    };

public:
    BackupRun(const BackupOptions &options, const BackupProgressHandler &progress)
        : m_options(options), m_progress(progress)
    {
    }

    BackupResult run();
    ~BackupRun()
    {
        if (m_lock >= 0)
            ::close(m_lock);
    }

private:
    void removeLeftovers(const QDateTime &when);
    void prepare(Connection &source);
    void copyDatabase(Connection &source);
    void copyFromServer();
    void copyFiles();
    QStringList scanFolderFiles();
    // Copies one file under its path in the backup and lists it; the problem, if any.
    QString keepCopyOf(const QString &absolute);
    QString copyOne(const QString &source, const QString &relativeTarget, qint64 &copied, QByteArray &sha256);
    void verify();
    void writeManifest();
    void writeList(const QString &name, const QByteArray &bytes);
    void report(BackupProgress::Stage stage, const QString &current = QString());
    void written(qint64 bytes);

    BackupOptions m_options;
    BackupProgressHandler m_progress;
    BackupResult m_result;
    QString m_partial;   // full path of the folder being written
    Protection m_protection; // who may read the finished backup
    Rights m_rights;     // the records' files are read with these
    QString m_identity;  // the archive's
    QDateTime m_when;    // of making
    QString m_finalName; // its name once complete
    QString m_dbName;
    QVector<FileReference> m_references;
    QVector<CopiedFile> m_copied;
    qint64 m_dbBytes = 0;
    qint64 m_filesBytes = 0; // of the files to copy, as found before copying
    qint64 m_done = 0;       // bytes copied so far, archive and files
    qint64 m_written = 0;    // bytes written into the backup, for the tests' full disk
    qint64 m_dbSize = 0;     // the archive copy as verified
    QByteArray m_dbSha256;
    int m_lock = -1;         // on the folder being written
};

} // namespace store
