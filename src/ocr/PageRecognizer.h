#pragma once
// Reads the words on photos of pages through the helper casearchive-ocr (src/ocr/OcrHelperMain.cpp),
// never in this process: each page is copied into a private folder (hashed as it is
// copied, so that the hash is of exactly the bytes read; only a regular file, never
// waiting on a FIFO, within the page's clock) and the helper reads the copies there under
// limits. A page the helper cannot finish (past its time, out of memory,
// crashed) ends only that helper; it is recorded with the reason and the next helper goes
// on with the pages after it.
#include "pictures/LimitedChild.h"
#include "store/GroupRights.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace pictures {

struct PageReading {
    bool done = false; // false: not read, for `reason`
    QString words;
    QString reason;
    QString contentHash; // SHA-256 of the file's bytes, hex; empty when it could not be read
};

struct RecognizerLimits {
    qint64 memoryBytes = 2ll << 30;  // address space of a helper (the models take much of it)
    qint64 maxFileBytes = 200ll << 20; // a larger file is not a photo of a page
    int cpuSecondsPerPage = 120;
    int startSeconds = 60;            // loading the models, once per helper
    int pageTimeoutMs = 180000;       // wall clock per page, its copy included
    int pagesPerHelper = 8;
    // Whose rights the photos are read with, and the helper runs with (store/GroupRights.h):
    // run as root, those of the archive's group, never root's.
    store::Rights readAs;
};

class PageRecognizer {
public:
    explicit PageRecognizer(const RecognizerLimits &limits = RecognizerLimits(),
                            const QString &languages = QStringLiteral("chi_sim+eng"));

    // Reads the pages in order; one reading per path. A cancelled run marks the pages it
    // did not reach as not done with an empty reason (nothing to store for them).
    QVector<PageReading> read(const QStringList &paths, const CancelFlag *cancel = nullptr);
    // The engine and the models the last helper reported (empty before any page was read).
    QString engine() const { return m_engine; }
    QString models() const { return m_models; }

    // Only the content hash of a file, read the same bounded way (a regular file only, with
    // the rights given); an empty text when it cannot be read, or the run was called off.
    static QString hashFile(const QString &path, qint64 maxBytes, QString *reason = nullptr,
                            const store::Rights &rights = store::Rights(), const CancelFlag *cancel = nullptr);

    // The helper's path: beside the program, unless a test names another.
    static QString helperProgram();
    static void setHelperForTests(const QString &program);

private:
    RecognizerLimits m_limits;
    QString m_languages;
    QString m_engine;
    QString m_models;
};

} // namespace pictures
