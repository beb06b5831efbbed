#pragma once
// The queue of photos whose words are still to be read (store/PageText.h), and those who
// work it: the admin tool in the foreground, the program in the background.
#include "ocr/PageRecognizer.h"
#include "store/PageText.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>
#include <functional>

namespace pictures {

// One reader of the queue, known to the others by its claim: this machine, this process
// and a number of its own.
class PageQueueReader {
public:
    explicit PageQueueReader(const RecognizerLimits &limits = RecognizerLimits());

    const QString &claim() const { return m_claim; }
    int leaseSeconds() const;

    // Gives back to the queue the rows that readers of this machine which are no longer
    // running (killed, say) had claimed; those of other machines wait for their leases.
    static int releaseAbandoned(store::Connection &c);
    // Claims the next pages in a transaction of its own.
    QVector<store::PageJob> claim(store::Connection &c, int count);
    // Reads the pages' files; touches no archive, so it may run on another thread.
    QVector<PageReading> read(const QVector<store::PageJob> &jobs, const CancelFlag *cancel);
    struct Stored {
        int done = 0;
        int failed = 0;
        int lost = 0; // the claim had run out and another reader had the page
    };
    // Stores what was read, in one transaction; pages not reached (cancelled) stay queued.
    Stored store(store::Connection &c, const QVector<store::PageJob> &jobs, const QVector<PageReading> &readings);

private:
    RecognizerLimits m_limits;
    PageRecognizer m_recognizer;
    QString m_claim;
};

// The program's background reader: photos saved by the record windows are queued and
// read one small batch at a time on a thread of its own, the results stored from the
// windows' thread between their operations. Nothing runs until enable() (the program does
// it at start; tests that want it do too).
class PageTextQueue : public QObject {
    Q_OBJECT
public:
    static PageTextQueue &instance();
    static void enable(bool on);
    static bool enabled();

    // After a record's photos were saved: queues them (in a transaction of its own; a
    // failure leaves them to the next start's sweep) and wakes the reader.
    // The connection is the save's, its transaction committed.
    static void photosSaved(store::Connection &c, const QString &number, const QStringList &photos);
    // Looks for work on the archive once the caller is done (from the event loop): at the
    // first wake of a run, also for photos of any record that were never queued.
    void wake(const QString &archive);
    bool busy() const { return m_thread != nullptr; }
    // Stops the reading under way (its pages stay queued) and waits for its thread.
    void stop();

    static RecognizerLimits limits;
    static int pagesPerBatch;

signals:
    void idle(); // no more pages to read for now
    void pageStored(const QString &number, const QString &photo);

private:
    PageTextQueue();
    ~PageTextQueue() override;
    void step();
    void batchRead();

    QString m_archive;
    QString m_swept; // the archive swept for photos never queued
    bool m_again = false;
    bool m_stepPending = false;
    QThread *m_thread = nullptr;
    std::unique_ptr<PageQueueReader> m_reader;
    QVector<store::PageJob> m_jobs;
    QVector<PageReading> m_readings;
    CancelFlag m_cancel{false};
    int m_generation = 0; // a finished thread's signal counts only for the thread it was
};

} // namespace pictures
