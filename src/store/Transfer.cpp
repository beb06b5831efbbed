#include "store/Transfer.h"

#include "store/FileModes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>

namespace store {

namespace {

constexpr int kBatch = 100; // rows per INSERT: 600 values at most, within either engine's limit

struct Failure {
    QString message;
};
struct Cancel {};

qint64 rowsOf(const TableCounts &c, ArchiveTable table)
{
    switch (table) {
    case ArchiveTable::Catalog:
        return c.catalog;
    case ArchiveTable::Detail:
        return c.detail;
    case ArchiveTable::Photo:
        return c.photo;
    case ArchiveTable::User:
        break;
    }
    return c.user;
}

QString rowText(const TableRow &row)
{
    QStringList cells;
    for (const QVariant &v : row.values)
        cells << (v.isValid() ? QLatin1Char('"') + v.toString() + QLatin1Char('"') : QStringLiteral("（无值）"));
    return QStringLiteral("标识 %1：%2").arg(row.rowId).arg(cells.join(QStringLiteral("，")));
}

class TransferRun {
public:
    TransferRun(const QString &from, const QString &to, const TransferProgressHandler &progress)
        : m_from(from), m_to(to), m_progress(progress)
    {
    }
    TransferResult run();

private:
    void copy(Connection &source);
    void verify(Connection &source);
    void step(TransferProgress::Stage stage, ArchiveTable table);
    void removeCopy();

    QString m_from;
    QString m_to;
    TransferProgressHandler m_progress;
    TransferResult m_result;
    qint64 m_done = 0;
    qint64 m_total = 0;
    bool m_fileMade = false;   // the target file is ours to delete
    bool m_tablesMade = false; // the server's tables are ours to remove
};

void TransferRun::step(TransferProgress::Stage stage, ArchiveTable table)
{
    if (!m_progress)
        return;
    TransferProgress p;
    p.stage = stage;
    p.table = tableName(table);
    p.done = m_done;
    p.total = m_total;
    if (!m_progress(p))
        throw Cancel{};
}

TransferResult TransferRun::run()
{
    try {
        if (m_from.trimmed().isEmpty() || m_to.trimmed().isEmpty())
            throw Failure{QStringLiteral("没有指定原档案或目标。")};
        if (m_from.trimmed() == m_to.trimmed()
            || (!isServerAddress(m_from) && !isServerAddress(m_to)
                && QFileInfo(m_from).absoluteFilePath() == QFileInfo(m_to).absoluteFilePath()))
            throw Failure{QStringLiteral("原档案和目标是同一个，不能复制。")};
        if (!isServerAddress(m_to) && QFileInfo::exists(m_to))
            throw Failure{QStringLiteral("文件“%1”已经存在，不会覆盖。").arg(m_to)};

        std::unique_ptr<Connection> source;
        try {
            source = std::make_unique<Connection>(m_from);
            if (!isArchive(*source))
                throw Failure{QStringLiteral("“%1”不是病案数据库，不能复制。").arg(m_from)};
            // One state of the archive from the counts through the comparison.
            beginRead(*source);
            m_result.counts = countTables(*source);
        } catch (const StoreError &e) {
            throw Failure{QStringLiteral("无法读取原档案“%1”。\n").arg(m_from) + e.description()};
        }
        m_total = 2 * (m_result.counts.catalog + m_result.counts.detail + m_result.counts.photo + m_result.counts.user);
        copy(*source);
        verify(*source);
        try {
            endRead(*source);
        } catch (const StoreError &) {
            // Only a read ends here; the copy is verified.
        }
        m_result.outcome = TransferResult::Verified;
        return m_result;
    } catch (const Failure &f) {
        m_result.outcome = TransferResult::Failed;
        m_result.error = f.message;
    } catch (const Cancel &) {
        m_result.outcome = TransferResult::Cancelled;
    }
    m_result.counts = TableCounts();
    removeCopy();
    return m_result;
}

void TransferRun::copy(Connection &source)
{
    try {
        if (!isServerAddress(m_to)) {
            const QString folder = QFileInfo(m_to).absolutePath();
            if (!makeProtectedFolders(folder))
                throw Failure{QStringLiteral("无法建立文件夹“%1”。").arg(folder)};
        }
        Connection target = Connection::createNew(m_to);
        m_fileMade = !isServerAddress(m_to);
        if (!m_fileMade) {
            const QStringList present = tableNames(target);
            if (!present.isEmpty())
                throw Failure{QStringLiteral("服务器上的数据库“%1”中已经有数据表（%2），不会覆盖。请复制到一个空的数据库。")
                                  .arg(m_to, present.join(QStringLiteral("、")))};
        }
        // All rows in one transaction: a copy cut short leaves no half archive behind.
        Transaction t(target);
        createSchema(target);
        for (ArchiveTable table : archiveTables()) {
            TableRows rows(source, table);
            QVector<TableRow> batch;
            batch.reserve(kBatch);
            TableRow row;
            while (rows.next(row)) {
                batch.push_back(row);
                if (batch.size() == kBatch) {
                    insertTableRows(target, table, batch);
                    m_done += batch.size();
                    batch.clear();
                    step(TransferProgress::Copy, table);
                }
            }
            insertTableRows(target, table, batch);
            m_done += batch.size();
            step(TransferProgress::Copy, table);
        }
        continueRowIdentities(target);
        t.commit();
        m_tablesMade = true;
    } catch (const StoreError &e) {
        throw Failure{QStringLiteral("复制到“%1”时出错，没有完成。\n").arg(m_to) + e.description()};
    }
}

void TransferRun::verify(Connection &source)
{
    try {
        Connection copy(m_to);
        if (!isArchive(copy))
            throw Failure{QStringLiteral("校验失败：“%1”中没有病案数据库的数据表。").arg(m_to)};
        const TableCounts counts = countTables(copy);
        if (counts != m_result.counts)
            throw Failure{QStringLiteral("校验失败：副本的行数与原档案不同（类型 %1/%2，病案 %3/%4，照片 %5/%6，操作员 %7/%8）。")
                              .arg(counts.catalog).arg(m_result.counts.catalog)
                              .arg(counts.detail).arg(m_result.counts.detail)
                              .arg(counts.photo).arg(m_result.counts.photo)
                              .arg(counts.user).arg(m_result.counts.user)};
        for (ArchiveTable table : archiveTables()) {
            TableRows original(source, table);
            TableRows copied(copy, table);
            TableRow a;
            TableRow b;
            qint64 n = 0;
            for (;;) {
                const bool moreA = original.next(a);
                const bool moreB = copied.next(b);
                if (!moreA && !moreB)
                    break;
                ++n;
                if (moreA != moreB || !(a == b))
                    throw Failure{QStringLiteral("校验失败：表 %1 的第 %2 行与原档案不同。\n原档案：%3\n副本：%4")
                                      .arg(tableName(table))
                                      .arg(n)
                                      .arg(moreA ? rowText(a) : QStringLiteral("（没有这一行）"),
                                           moreB ? rowText(b) : QStringLiteral("（没有这一行）"))};
                ++m_done;
                if (n % kBatch == 0)
                    step(TransferProgress::Verify, table);
            }
            if (n != rowsOf(m_result.counts, table))
                throw Failure{QStringLiteral("校验失败：表 %1 读出 %2 行，应有 %3 行。")
                                  .arg(tableName(table))
                                  .arg(n)
                                  .arg(rowsOf(m_result.counts, table))};
            step(TransferProgress::Verify, table);
        }
    } catch (const StoreError &e) {
        throw Failure{QStringLiteral("校验“%1”时出错。\n").arg(m_to) + e.description()};
    }
}

void TransferRun::removeCopy()
{
    if (m_fileMade) {
        QFile::remove(m_to);
        return;
    }
    if (!m_tablesMade)
        return; // the transaction that made them rolled back
    try {
        Connection target(m_to);
        Transaction t(target);
        dropArchiveTables(target);
        t.commit();
    } catch (const StoreError &) {
        // Left as they are; the failure already says the copy is not to be used.
    }
}

} // namespace

TransferResult copyArchive(const QString &from, const QString &to, const TransferProgressHandler &progress)
{
    return TransferRun(from, to, progress).run();
}

} // namespace store
