#pragma once
// What the tests of the windows over the trail and the recycle bin share: the signed-in
// archive, entries written into its trail and records moved into its bin as another
// workstation would, and what the windows show read off their tables.
#include "SignedInArchive.h"

#include "records/frmRecycleBin.h"
#include "trail/RecycleBin.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

namespace testing {

class HistoryWindowsFixture : public SignedInArchive {
    Q_OBJECT

protected:
    static inline const QString kNumber = QStringLiteral("240101080000");

    // The bin's clock is the real one unless a test sets it.
    void setUp() override
    {
        SignedInArchive::setUp();
        frmRecycleBin::clock = [] { return QDateTime::currentDateTimeUtc(); };
    }

    void append(const store::Change &change, const QString &who = kOperator)
    {
        store::Connection c(m_archive->path());
        store::Transaction t(c);
        store::appendHistory(c, store::Actor{who, kWorkstation}, change);
        t.commit();
    }

    QVector<store::BinEntry> bin()
    {
        store::Connection c(m_archive->path());
        return store::readBin(c);
    }

    void moveToBin(const QString &number)
    {
        store::Connection c(m_archive->path());
        store::Transaction t(c);
        QVERIFY(store::moveRecordToBin(c, app::currentActor(), rowIdOf(number)));
        t.commit();
    }

    static QStringList column(QTableWidget *t, int c)
    {
        QStringList out;
        for (int r = 0; r < t->rowCount(); ++r)
            out << (t->item(r, c) ? t->item(r, c)->text() : QString());
        return out;
    }

    // Every button, label and check box shows its whole caption.
    static void verifyCaptionsWhole(QWidget *w)
    {
        for (QPushButton *b : w->findChildren<QPushButton *>())
            if (b->isVisibleTo(w))
                QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) + 8 <= b->width(), qPrintable(b->text()));
        for (QLabel *l : w->findChildren<QLabel *>()) {
            if (!l->isVisibleTo(w) || l->text().isEmpty())
                continue;
            QVERIFY2(l->width() >= l->fontMetrics().horizontalAdvance(l->text()), qPrintable(l->text()));
        }
        for (QCheckBox *c : w->findChildren<QCheckBox *>())
            QVERIFY2(c->width() >= c->sizeHint().width(), qPrintable(c->text()));
        for (QTableWidget *t : w->findChildren<QTableWidget *>())
            for (int c = 0; c < t->columnCount(); ++c) {
                const QString header = t->horizontalHeaderItem(c)->text();
                QVERIFY2(t->horizontalHeader()->sectionSize(c) >= t->fontMetrics().horizontalAdvance(header),
                         qPrintable(header));
            }
    }
};

} // namespace testing
