#include "archive/Transfer.h"

#include "store/ArchiveIdentity.h"
#include "store/SearchIndex.h"
#include "store/StoredRows.h"
#include "store/FileModes.h"
#include "store/PageText.h"
#include "trail/History.h"
#include "store/TrailStatements.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <memory>

namespace store {

namespace {

constexpr int kBatch = 100;           // rows per INSERT: 600 values at most, within either engine's limit
constexpr int kProblemsNamed = 20;    // cells a refusal names one by one
constexpr int kShownCharacters = 40;  // of a value quoted in a message

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
    case ArchiveTable::History:
        return c.history;
    case ArchiveTable::RecycleBin:
        return c.bin;
    case ArchiveTable::PageText:
        return c.pageText;
    case ArchiveTable::User:
        break;
    }
    return c.user;
}

// Strict UTF-8 that keeps a leading U+FEFF (QString::fromUtf8 drops it).
QString decoded(const QByteArray &bytes, bool *valid = nullptr)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const QString text = decoder.decode(bytes);
    if (valid)
        *valid = !decoder.hasError();
    return text;
}

bool validUtf8(const QByteArray &bytes)
{
    bool valid = false;
    decoded(bytes, &valid);
    return valid;
}

// A value as a message quotes it: valid text without control characters as text, cut
// short; anything else by its first bytes in hexadecimal.
QString shown(const StoredCell &cell)
{
    switch (cell.kind) {
    case StoredCell::Null:
        return QStringLiteral("（无值）");
    case StoredCell::Integer:
        return QStringLiteral("数字 %1").arg(QString::fromLatin1(cell.bytes));
    case StoredCell::Real:
        return QStringLiteral("小数（%1 字节）").arg(cell.bytes.size());
    case StoredCell::Text:
    case StoredCell::Blob:
        break;
    }
    const QString kind = cell.kind == StoredCell::Text ? QStringLiteral("文本") : QStringLiteral("二进制数据");
    bool plain = false;
    const QString text = decoded(cell.bytes, &plain);
    plain = plain && cell.kind == StoredCell::Text;
    for (const QChar ch : text)
        plain = plain && (ch.unicode() >= 0x20 || ch == QLatin1Char('\r') || ch == QLatin1Char('\n') || ch == QLatin1Char('\t'));
    if (plain) {
        const QString cut = text.size() > kShownCharacters ? text.left(kShownCharacters) + QStringLiteral("…") : text;
        return QStringLiteral("%1 \"%2\"（%3 字节）").arg(kind, cut).arg(cell.bytes.size());
    }
    QByteArray head = cell.bytes.left(16).toHex(' ').toUpper();
    if (cell.bytes.size() > 16)
        head += " …";
    return QStringLiteral("%1（%2 字节，十六进制 %3）").arg(kind).arg(cell.bytes.size()).arg(QString::fromLatin1(head));
}

// Which row a message means: its table, its identity and what names it for the operator.
QString rowName(ArchiveTable table, const StoredRow &row)
{
    auto label = [&row](int column) {
        if (column >= row.cells.size() || row.cells.at(column).kind == StoredCell::Null)
            return QStringLiteral("（无值）");
        QString t = decoded(row.cells.at(column).bytes);
        for (QChar &ch : t)
            if (ch.unicode() < 0x20)
                ch = QChar(0xFFFD);
        return QStringLiteral("“%1”").arg(t.size() > kShownCharacters ? t.left(kShownCharacters) + QStringLiteral("…") : t);
    };
    QString what;
    switch (table) {
    case ArchiveTable::Detail:
        what = QStringLiteral("病案号 ") + label(1);
        break;
    case ArchiveTable::Photo:
        what = QStringLiteral("照片，病案号 ") + label(0);
        break;
    case ArchiveTable::Catalog:
        what = QStringLiteral("类型 ") + label(0);
        break;
    case ArchiveTable::User:
        what = QStringLiteral("操作员 ") + label(0);
        break;
    case ArchiveTable::History:
        what = QStringLiteral("变更记录，病案号 ") + label(4);
        break;
    case ArchiveTable::RecycleBin:
        what = QStringLiteral("回收站，病案号 ") + label(5);
        break;
    case ArchiveTable::PageText:
        what = QStringLiteral("照片文字，病案号 ") + label(0);
        break;
    }
    return QStringLiteral("表 %1 标识 %2（%3）").arg(tableName(table)).arg(row.rowId).arg(what);
}

// Why the target cannot hold the cell exactly; empty when it can.
QString cellProblem(const StoredCell &cell, bool toServer, bool numberColumn)
{
    if (numberColumn) {
        if (cell.kind == StoredCell::Null || cell.kind == StoredCell::Integer || !toServer)
            return QString();
        return QStringLiteral("不是整数，而服务器上的这一列只存整数");
    }
    switch (cell.kind) {
    case StoredCell::Null:
        return QString();
    case StoredCell::Integer:
    case StoredCell::Real:
        return QStringLiteral("存为数字，而档案的这一列是文本");
    case StoredCell::Blob:
        return toServer ? QStringLiteral("存为二进制数据（BLOB），服务器上的文本列存不下") : QString();
    case StoredCell::Text:
        break;
    }
    if (!toServer)
        return QString();
    if (cell.bytes.contains('\0'))
        return QStringLiteral("含有 NUL 字符，服务器上的文本不能含有");
    if (!validUtf8(cell.bytes))
        return QStringLiteral("不是有效的 UTF-8 文本，服务器只存有效的 UTF-8");
    return QString();
}


// A column another tool added is not the copy's to drop: the copy stops, naming it.
QString unknownColumns(Connection &source, ArchiveTable table)
{
    QStringList known;
    for (const QString &c : storedColumns(table))
        known << c.toLower();
    QStringList unknown;
    for (const QString &c : tableColumns(source, table))
        if (!known.removeOne(c.toLower()))
            unknown << QStringLiteral("“%1”").arg(c);
    if (unknown.isEmpty())
        return QString();
    return QStringLiteral("表 %1 有本程序不认识的列%2（可能是其他程序加上的）；复制会丢掉其中的数据，所以没有复制。")
        .arg(tableName(table), unknown.join(QStringLiteral("、")));
}

QStringList lowered(const QStringList &names)
{
    QStringList out;
    for (const QString &n : names)
        out << n.toLower();
    return out;
}

class TransferRun {
public:
    TransferRun(const QString &from, const QString &to, const TransferProgressHandler &progress, bool replace,
                const TransferFinishing &finishing)
        : m_from(from), m_to(to), m_toServer(isServerAddress(to)), m_replace(replace), m_progress(progress),
          m_finishing(finishing)
    {
        m_work = m_toServer ? m_to : unfinishedCopyPath(m_to);
    }
    TransferResult run();

private:
    void prepareTarget();
    void copy(Connection &source);
    void verify(Connection &source);
    void finish();
    void step(TransferProgress::Stage stage, ArchiveTable table);
    void removeCopy();

    QString m_from;
    QString m_to;
    QString m_work; // where the copy is written until it is verified
    bool m_toServer;
    bool m_replace;
    TransferProgressHandler m_progress;
    TransferFinishing m_finishing;
    QVector<ArchiveTable> m_tables; // what the original holds: the four, the trail's, the photos' words
    QString m_identity;  // the original's (empty before version 3)
    QString m_encoding;  // how the original file keeps its text
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
            || (!isServerAddress(m_from) && !m_toServer
                && QFileInfo(m_from).absoluteFilePath() == QFileInfo(m_to).absoluteFilePath()))
            throw Failure{QStringLiteral("原档案和目标是同一个，不能复制。")};
        if (!m_toServer)
            prepareTarget();

        std::unique_ptr<Connection> source;
        try {
            source = std::make_unique<Connection>(m_from);
            if (!isArchive(*source))
                throw Failure{QStringLiteral("“%1”不是病案数据库，不能复制。").arg(m_from)};
            const int version = schemaVersion(*source);
            if (version > kCurrentSchemaVersion)
                throw Failure{QStringLiteral("“%1”已由更新版本的病案管理程序升级（版本 %2），本程序（版本 %3）不能完整复制它。")
                                  .arg(m_from)
                                  .arg(version)
                                  .arg(kCurrentSchemaVersion)};
            m_tables = archiveTables();
            if (version >= 2)
                m_tables += trailTables();
            if (hasPageTextTable(*source))
                m_tables += ArchiveTable::PageText;
            for (ArchiveTable table : std::as_const(m_tables)) {
                const QString unknown = unknownColumns(*source, table);
                if (!unknown.isEmpty())
                    throw Failure{QStringLiteral("不能复制“%1”：").arg(m_from) + unknown};
            }
            m_identity = archiveIdentity(*source);
            m_encoding = textEncoding(*source);
            // One state of the archive from the counts through the comparison.
            beginRead(*source);
            m_result.counts = countTables(*source);
        } catch (const StoreError &e) {
            throw Failure{QStringLiteral("无法读取原档案“%1”。\n").arg(m_from) + e.description()};
        }
        m_total = 2 * (m_result.counts.catalog + m_result.counts.detail + m_result.counts.photo + m_result.counts.user
                       + m_result.counts.history + m_result.counts.bin + m_result.counts.pageText);
        copy(*source);
        verify(*source);
        try {
            endRead(*source);
        } catch (const StoreError &) {
            // Only a read ends here; the copy is verified.
        }
        finish();
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

// A file target: never one that exists; what a killed copy left only when asked to.
void TransferRun::prepareTarget()
{
    if (QFileInfo::exists(m_to))
        throw Failure{QStringLiteral("文件“%1”已经存在，不会覆盖。").arg(m_to)};
    if (!fileOrJournalExists(m_work))
        return;
    if (!m_replace)
        throw Failure{QStringLiteral("“%1”是上一次复制到“%2”时没有完成（被中断）而留下的，不是可用的档案。"
                                     "用 casearchive-admin copy --replace-unfinished 重新复制会先删除它；"
                                     "也可以手工删除“%1”和“%1-journal”后再复制。")
                          .arg(m_work, m_to)};
    removeFileWithJournals(m_work);
    if (fileOrJournalExists(m_work))
        throw Failure{QStringLiteral("无法删除上一次没有完成的复制“%1”。").arg(m_work)};
}

void TransferRun::copy(Connection &source)
{
    QStringList problems;
    qint64 problemCount = 0;
    try {
        if (!m_toServer) {
            const QString folder = QFileInfo(m_work).absolutePath();
            if (!makeProtectedFolders(folder))
                throw Failure{QStringLiteral("无法建立文件夹“%1”。").arg(folder)};
        }
        Connection target = Connection::createNew(m_work);
        m_fileMade = !m_toServer;
        keepBulkWriteInMemory(target);
        if (m_toServer) {
            QStringList present = tableNames(target);
            if (!present.isEmpty() && copyMarkedUnfinished(target)) {
                if (!m_replace)
                    throw Failure{QStringLiteral("服务器上的数据库“%1”中是上一次没有完成（被中断、没有校验）的复制，不能使用。"
                                                 "用 casearchive-admin copy --replace-unfinished 重新复制会先删除它。")
                                      .arg(m_to)};
                Transaction t(target);
                dropArchiveTables(target);
                clearCopyUnfinished(target);
                t.commit();
                present = tableNames(target);
            }
            if (!present.isEmpty())
                throw Failure{QStringLiteral("服务器上的数据库“%1”中已经有数据表（%2），不会覆盖。请复制到一个空的数据库。")
                                  .arg(m_to, present.join(QStringLiteral("、")))};
        }
        // A file keeps its text as the original does (UTF-16 as UTF-16), byte for byte;
        // fixed before its first table is made.
        if (!m_toServer)
            setTextEncoding(target, m_encoding);
        // All rows in one transaction: a copy cut short or refused leaves no half archive.
        Transaction t(target);
        createSchema(target);
        // The copy is the same archive in another place: it keeps the original's identity.
        if (!m_identity.isEmpty())
            setArchiveIdentity(target, m_identity);
        if (m_tables.contains(ArchiveTable::PageText))
            for (const QString &statement : pageTextSchema(target.dialect()))
                target.run(statement);
        // The search index is built from the copied rows once, not followed row by row.
        suspendSearchIndex(target);
        if (m_toServer)
            markCopyUnfinished(target);
        for (ArchiveTable table : std::as_const(m_tables)) {
            const QStringList columns = storedColumns(table);
            StoredRows rows(source, table);
            QVector<StoredRow> batch;
            batch.reserve(kBatch);
            StoredRow row;
            while (rows.next(row)) {
                for (int i = 0; i < row.cells.size(); ++i) {
                    const QString why = cellProblem(row.cells.at(i), m_toServer, isNumberColumn(table, i));
                    if (why.isEmpty())
                        continue;
                    if (++problemCount <= kProblemsNamed)
                        problems << QStringLiteral("%1的“%2”列：%3").arg(rowName(table, row), columns.value(i), why);
                }
                // Once a cell is refused nothing more is written; the rest is only read,
                // to name every cell that stands in the way.
                if (problemCount == 0)
                    batch.push_back(row);
                if (batch.size() == kBatch) {
                    insertStoredRows(target, table, batch);
                    batch.clear();
                }
                if (++m_done % kBatch == 0)
                    step(TransferProgress::Copy, table);
            }
            if (problemCount == 0)
                insertStoredRows(target, table, batch);
            step(TransferProgress::Copy, table);
        }
        if (problemCount > 0) {
            if (problemCount > kProblemsNamed)
                problems << QStringLiteral("……另有 %1 个").arg(problemCount - kProblemsNamed);
            QString what = m_toServer
                ? QStringLiteral("服务器上的文本必须是有效的 UTF-8，不能含有 NUL 字符，也不能是二进制数据；档案的各列都存文本。"
                                 "请在原档案中改正这些值（用病案管理程序打开该记录，重新输入该项并保存），然后再复制。")
                : QStringLiteral("档案的各列都存文本，数字无法原样复制。请先在原档案中把这些值改存为文本"
                                 "（用病案管理程序打开该记录，重新输入该项并保存），然后再复制。");
            throw Failure{QStringLiteral("不能复制：原档案中有 %1 个值无法原样存入“%2”，没有写入任何数据。\n")
                              .arg(problemCount)
                              .arg(m_to)
                          + problems.join(QLatin1Char('\n')) + QLatin1Char('\n') + what};
        }
        continueRowIdentities(target);
        buildSearchIndex(target);
        t.commit();
        m_tablesMade = true;
    } catch (const StoreError &e) {
        throw Failure{QStringLiteral("复制到“%1”时出错，没有完成。\n").arg(m_to) + e.description()};
    }
}

void TransferRun::verify(Connection &source)
{
    try {
        Connection copy(m_work);
        if (!isArchive(copy))
            throw Failure{QStringLiteral("校验失败：“%1”中没有病案数据库的数据表。").arg(m_to)};
        const TableCounts counts = countTables(copy);
        if (counts != m_result.counts)
            throw Failure{QStringLiteral("校验失败：副本的行数与原档案不同（类型 %1/%2，病案 %3/%4，照片 %5/%6，操作员 %7/%8，"
                                         "变更记录 %9/%10，回收站 %11/%12，照片文字 %13/%14）。")
                              .arg(counts.catalog).arg(m_result.counts.catalog)
                              .arg(counts.detail).arg(m_result.counts.detail)
                              .arg(counts.photo).arg(m_result.counts.photo)
                              .arg(counts.user).arg(m_result.counts.user)
                              .arg(counts.history).arg(m_result.counts.history)
                              .arg(counts.bin).arg(m_result.counts.bin)
                              .arg(counts.pageText).arg(m_result.counts.pageText)};
        if (!m_identity.isEmpty() && archiveIdentity(copy) != m_identity)
            throw Failure{QStringLiteral("校验失败：副本的档案标识与原档案不同。")};
        for (ArchiveTable table : std::as_const(m_tables)) {
            const QStringList columns = storedColumns(table);
            if (lowered(tableColumns(copy, table)) != lowered(tableColumns(source, table)))
                throw Failure{QStringLiteral("校验失败：副本的表 %1 的列（%2）与原档案的（%3）不同。")
                                  .arg(tableName(table), tableColumns(copy, table).join(QStringLiteral("、")),
                                       tableColumns(source, table).join(QStringLiteral("、")))};
            StoredRows original(source, table);
            StoredRows copied(copy, table);
            StoredRow a;
            StoredRow b;
            qint64 n = 0;
            for (;;) {
                const bool moreA = original.next(a);
                const bool moreB = copied.next(b);
                if (!moreA && !moreB)
                    break;
                ++n;
                if (moreA != moreB || a.rowId != b.rowId)
                    throw Failure{QStringLiteral("校验失败：表 %1 的第 %2 行与原档案不同。\n原档案：%3\n副本：%4")
                                      .arg(tableName(table))
                                      .arg(n)
                                      .arg(moreA ? rowName(table, a) : QStringLiteral("（没有这一行）"),
                                           moreB ? rowName(table, b) : QStringLiteral("（没有这一行）"))};
                for (int i = 0; i < a.cells.size(); ++i)
                    if (a.cells.at(i) != b.cells.value(i))
                        throw Failure{QStringLiteral("校验失败：表 %1 的第 %2 行与原档案不同：%3的“%4”列。\n原档案：%5\n副本：%6")
                                          .arg(tableName(table))
                                          .arg(n)
                                          .arg(rowName(table, a), columns.value(i), shown(a.cells.at(i)),
                                               shown(b.cells.value(i)))};
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

// The verified copy gets its name (a file) or loses its mark (a server's database).
void TransferRun::finish()
{
    if (m_toServer) {
        try {
            Connection target(m_to);
            Transaction t(target);
            if (m_finishing)
                m_finishing(target);
            clearCopyUnfinished(target);
            t.commit();
        } catch (const StoreError &e) {
            throw Failure{QStringLiteral("副本已校验，但无法去掉“未完成”的标记。\n") + e.description()};
        }
        return;
    }
    if (m_finishing) {
        try {
            Connection target(m_work);
            Transaction t(target);
            m_finishing(target);
            t.commit();
        } catch (const StoreError &e) {
            throw Failure{QStringLiteral("副本已校验，但无法在其中记下这次复制。\n") + e.description()};
        }
    }
    // rename() never replaces a file that appeared at the target meanwhile.
    if (!QFile::rename(m_work, m_to))
        throw Failure{QStringLiteral("副本已校验，但无法改名为“%1”（该文件可能刚刚被建立）。").arg(m_to)};
    m_fileMade = false;
}

void TransferRun::removeCopy()
{
    if (m_fileMade) {
        removeFileWithJournals(m_work);
        return;
    }
    if (!m_tablesMade)
        return; // the transaction that made them rolled back
    dropUnfinishedTables(m_to);
}

} // namespace

QString unfinishedCopyPath(const QString &to) { return to + QStringLiteral(".unfinished"); }

TransferResult copyArchive(const QString &from, const QString &to, const TransferProgressHandler &progress,
                           bool replaceUnfinished, const TransferFinishing &finishing)
{
    return TransferRun(from, to, progress, replaceUnfinished, finishing).run();
}

bool fileOrJournalExists(const QString &path)
{
    for (const QString &f : QStringList{path} + companionFiles(path))
        if (QFileInfo::exists(f))
            return true;
    return false;
}

void removeFileWithJournals(const QString &path)
{
    for (const QString &f : QStringList{path} + companionFiles(path))
        QFile::remove(f);
}

void dropUnfinishedTables(const QString &address)
{
    try {
        Connection target(address);
        Transaction t(target);
        dropArchiveTables(target);
        clearCopyUnfinished(target);
        t.commit();
    } catch (const StoreError &) {
        // Left as they are, still marked unfinished.
    }
}

} // namespace store
