#include "importing/JetImport.h"

#include "archive/Transfer.h"
#include "importing/ImportTables.h"
#include "jet/JetText.h"
#include "store/EarlierFormat.h"
#include "store/FileModes.h"
#include "store/SearchIndex.h"
#include "store/StoredRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QVarLengthArray>

#include <openssl/evp.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>

namespace importing {

namespace {

constexpr int kPreviewRows = 5;
constexpr qint64 kMaxJetBytes = (2ll << 30) + (64ll << 20); // Jet 4 ends at 2 GB
constexpr qint64 kChunk = 1 << 20;
constexpr qint64 kRowsBetweenStopChecks = 1024;
constexpr int kIndexRowsAtATime = 32;

// Of the second reading, kept while the write is committed, in bytes.
constexpr qint64 kAheadBytes = 64 << 20;

struct Stopped {};
struct GaveUp {}; // another table's comparing failed first, or the write did

// Whether the write's transaction was committed, for a thread that waits to read its rows.
class CommitGate {
public:
    // The first word holds.
    void settle(bool committed)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_state == Pending)
                m_state = committed ? Open : Shut;
        }
        m_changed.notify_all();
    }
    bool settled() const { return m_state != Pending; }
    // True once committed; false if it never will be.
    bool wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_state != Pending; });
        return m_state == Open;
    }

private:
    enum State { Pending, Open, Shut };
    std::atomic<int> m_state{Pending};
    std::mutex m_mutex;
    std::condition_variable m_changed;
};


struct Digest {
    qint64 size = -1; // bytes hashed; -1 when the copy could not be read
    QString sha256;
};

class ImportRun {
public:
    ImportRun(const ImportOptions &options, const ImportSay &say)
        : m_o(options), m_say(say), m_toServer(store::isServerAddress(options.target))
    {
        m_work = m_toServer ? m_o.target : store::unfinishedCopyPath(m_o.target);
    }
    ImportResult run();

private:
    void say(const QString &line)
    {
        if (m_say)
            m_say(line);
    }
    void stopIfAsked(qint64 row = 0)
    {
        if (row % kRowsBetweenStopChecks == 0 && m_o.stopRequested && m_o.stopRequested())
            throw Stopped{};
    }
    void prepareTarget();
    void copySource();
    void chooseEncoding(const jet::JetListing &listing);
    void preview(jet::JetReader &reader);
    void write(jet::JetReader &reader);
    void verify(jet::JetReader &reader);
    void startPhotos(jet::JetReader &reader, int photo);
    void endPhotos();
    // One table's comparing, on the connection given or, without one, on one of its own
    // once the write is committed (the photos' thread, which gives up once m_giveUp is set),
    // with the decoder of the thread it runs on.
    qint64 verifyTable(store::Connection *copy, jet::JetReader &reader, const TablePlan &plan,
                       const jet::TextDecoder &decoder, qint64 earlier);
    void finish();
    void removeImport();
    QString tableText(const TablePlan &plan) const { return plan.jetName; }

    ImportOptions m_o;
    ImportSay m_say;
    bool m_toServer;
    QString m_work;
    std::unique_ptr<QTemporaryDir> m_private;
    QString m_copy; // the private copy of the Jet file that both readings read
    std::future<Digest> m_digest; // of the copy; goes before it
    jet::TextDecoder m_decoder;
    QVector<TablePlan> m_plans;
    std::unique_ptr<PathMapper> m_paths;
    ImportResult m_result;
    bool m_fileMade = false;
    bool m_tablesMade = false;
    CommitGate m_committed;
    std::atomic<bool> m_giveUp{false};
    std::atomic<bool> m_photosFailed{false};
    std::future<qint64> m_photos; // last: waited for before the rest goes
};

ImportResult ImportRun::run()
{
    // However run() is left, the photos' thread is not left waiting for a commit.
    struct PhotosEnd {
        ImportRun &run;
        ~PhotosEnd() { run.endPhotos(); }
    } photosEnd{*this};
    try {
        if (m_o.source.trimmed().isEmpty() || m_o.target.trimmed().isEmpty())
            throw Refusal{QStringLiteral("没有指定早先系统的档案或目标。")};
        if (!m_toServer && QFileInfo(m_o.source).absoluteFilePath() == QFileInfo(m_o.target).absoluteFilePath())
            throw Refusal{QStringLiteral("早先系统的档案和目标是同一个文件；请导入到一个新的文件。")};
        m_paths = std::make_unique<PathMapper>(m_o.paths, m_o.lookAs);
        if (!m_toServer)
            prepareTarget();
        copySource();
        jet::JetReader reader(m_copy, m_o.limits);
        const jet::JetListing listing = reader.list();
        chooseEncoding(listing);
        m_plans = planTables(listing, m_decoder, &m_result.findings.otherTables);
        preview(reader);
        write(reader);
        verify(reader);
        stopIfAsked();
        finish();
        m_result.verified = true;
        return m_result;
    } catch (const Refusal &r) {
        m_result.error = r.message;
    } catch (const Stopped &) {
        m_result.stopped = true;
        m_result.error = QStringLiteral("导入在完成之前被中止，没有留下任何导入的数据；需要时重新运行即可。");
    } catch (const jet::JetError &e) {
        m_result.error = e.message + QStringLiteral("\n导入已停止，没有留下可用的档案。");
    } catch (const store::StoreError &e) {
        m_result.error = QStringLiteral("写入“%1”时出错，导入没有完成。\n").arg(m_o.target) + e.description();
    }
    endPhotos();
    removeImport();
    return m_result;
}

// A file target: never one that exists; what a killed import left only when asked to.
void ImportRun::prepareTarget()
{
    if (QFileInfo::exists(m_o.target))
        throw Refusal{QStringLiteral("文件“%1”已经存在，不会覆盖。请导入到一个新的文件。").arg(m_o.target)};
    if (!store::fileOrJournalExists(m_work))
        return;
    if (!m_o.replaceUnfinished)
        throw Refusal{QStringLiteral("“%1”是上一次导入或复制到“%2”时没有完成（被中断）而留下的，不是可用的档案。"
                                     "用 casearchive-admin import --replace-unfinished 重新导入会先删除它。")
                          .arg(m_work, m_o.target)};
    store::removeFileWithJournals(m_work);
    if (store::fileOrJournalExists(m_work))
        throw Refusal{QStringLiteral("无法删除上一次没有完成的导入“%1”。").arg(m_work)};
}

// The SHA-256 of the private copy, worked out beside the first reading: the hash is needed
// only for the trail entry at the end, and takes as long as a reading.
Digest digestOf(const QString &file)
{
    Digest d;
    QFile f(file);
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> sha(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!sha || EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr) != 1 || !f.open(QIODevice::ReadOnly))
        return d;
    qint64 size = 0;
    for (;;) {
        const QByteArray chunk = f.read(kChunk);
        if (chunk.isEmpty()) {
            if (f.error() != QFileDevice::NoError)
                return d;
            break;
        }
        size += chunk.size();
        if (EVP_DigestUpdate(sha.get(), chunk.constData(), size_t(chunk.size())) != 1)
            return d;
    }
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(sha.get(), hash, &length) != 1)
        return d;
    d.size = size;
    d.sha256 = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(hash), int(length)).toHex());
    return d;
}

// Both readings read one private copy, and so does the hash: the trail keeps the hash of
// exactly the bytes imported, and the office's file is opened once, for reading.
void ImportRun::copySource()
{
    const QFileInfo info(m_o.source);
    if (!info.exists())
        throw Refusal{QStringLiteral("找不到早先系统的档案“%1”。").arg(m_o.source)};
    QFile in(m_o.source);
    struct stat st {};
    if (!info.isFile() || !in.open(QIODevice::ReadOnly) || fstat(in.handle(), &st) != 0 || !S_ISREG(st.st_mode))
        throw Refusal{QStringLiteral("“%1”不是可以读取的普通文件，没有导入。").arg(m_o.source)};
    if (st.st_size == 0)
        throw Refusal{QStringLiteral("文件“%1”是空的（0 字节），不是早先系统的档案，没有导入。").arg(m_o.source)};
    if (st.st_size > kMaxJetBytes)
        throw Refusal{QStringLiteral("文件“%1”比任何 Jet 数据库都大（%2 字节），没有导入。").arg(m_o.source).arg(qint64(st.st_size))};
    m_private = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/casearchive-import-XXXXXX"));
    if (!m_private->isValid())
        throw Refusal{QStringLiteral("无法建立临时文件夹。")};
    m_copy = m_private->filePath(QStringLiteral("earlier.mdb"));
    QFile out(m_copy);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw Refusal{QStringLiteral("无法在临时文件夹中复制早先系统的档案。")};
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    qint64 total = 0;
    for (;;) {
        const QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty()) {
            if (in.error() != QFileDevice::NoError)
                throw Refusal{QStringLiteral("读取“%1”时出错：%2").arg(m_o.source, in.errorString())};
            break;
        }
        total += chunk.size();
        if (total > kMaxJetBytes)
            throw Refusal{QStringLiteral("文件“%1”在读取时变大了，没有导入。").arg(m_o.source)};
        if (out.write(chunk) != chunk.size())
            throw Refusal{QStringLiteral("无法在临时文件夹中复制早先系统的档案（磁盘已满？）。")};
    }
    if (!out.flush())
        throw Refusal{QStringLiteral("无法在临时文件夹中复制早先系统的档案（磁盘已满？）。")};
    out.close();
    m_result.sourceSize = total;
    m_digest = std::async(std::launch::async, digestOf, m_copy);
    const store::EarlierFormat format = store::earlierFormatOf(m_copy);
    if (format == store::EarlierFormat::Ace)
        throw Refusal{store::earlierFormatMessage(m_o.source, format)};
    if (format == store::EarlierFormat::None)
        throw Refusal{QStringLiteral("文件“%1”不是 Jet 数据库（Access 97 或 2000 格式），不是早先的病案管理系统的档案，没有导入。")
                          .arg(m_o.source)};
}

void ImportRun::chooseEncoding(const jet::JetListing &listing)
{
    if (listing.version == 4) {
        m_decoder = jet::TextDecoder::utf16();
        m_result.encoding = QStringLiteral("UTF-16");
        m_result.encodingSource = m_o.encoding.isEmpty()
            ? QStringLiteral("Jet 4 keeps Unicode")
            : QStringLiteral("Jet 4 keeps Unicode; --encoding %1 does not apply").arg(m_o.encoding);
        return;
    }
    const QString recorded = jet::TextDecoder::codePageName(listing.codePage);
    QString name = m_o.encoding;
    if (!name.isEmpty()) {
        m_result.encodingSource = recorded.isEmpty() || recorded.compare(name, Qt::CaseInsensitive) == 0
            ? QStringLiteral("given by --encoding")
            : QStringLiteral("given by --encoding; the file records %1").arg(recorded);
    } else if (!recorded.isEmpty()) {
        name = recorded;
        m_result.encodingSource = QStringLiteral("recorded in the file");
    } else {
        throw Refusal{QStringLiteral("文件中没有记录它的代码页（记录的是 %1），不知道其中的文字怎样解码。请用 --encoding 指定，"
                                     "例如简体中文 Windows 上写的档案：--encoding CP936").arg(listing.codePage)};
    }
    m_decoder = jet::TextDecoder::codePage(name);
    if (!m_decoder.valid())
        throw Refusal{QStringLiteral("不认识编码“%1”（iconv -l 列出所有可用的编码，简体中文是 CP936）。").arg(name)};
    m_result.encoding = m_decoder.name();
}

// Before anything is written: the first records as decoded, so that a wrong code page
// shows at once.
void ImportRun::preview(jet::JetReader &reader)
{
    const TablePlan &detail = m_plans.at(1);
    say(QStringLiteral("text decoded as %1 (%2); the first records as they will read:").arg(m_result.encoding, m_result.encodingSource));
    QVector<Value> values;
    qint64 n = 0;
    reader.readRows(
        detail.jet, tableText(detail),
        [&](const QVector<jet::JetCell> &cells) {
            decodeRow(detail, m_decoder, m_toServer, ++n, cells, values);
            auto shown = [&values](int k) { return values.at(k).null ? QStringLiteral("(no value)") : values.at(k).text.simplified(); };
            say(QStringLiteral("  %1  %2  (type %3)").arg(shown(1), shown(2), shown(0)));
            return true;
        },
        kPreviewRows);
    if (n == 0)
        say(QStringLiteral("  (no records)"));
}

void ImportRun::write(jet::JetReader &reader)
{
    if (!m_toServer) {
        const QString folder = QFileInfo(m_work).absolutePath();
        if (!store::makeProtectedFolders(folder))
            throw Refusal{QStringLiteral("无法建立文件夹“%1”。").arg(folder)};
    }
    store::Connection target = store::Connection::createNew(m_work);
    m_fileMade = !m_toServer;
    store::keepBulkWriteInMemory(target);
    if (m_toServer) {
        QStringList present = store::tableNames(target);
        if (!present.isEmpty() && store::copyMarkedUnfinished(target)) {
            if (!m_o.replaceUnfinished)
                throw Refusal{QStringLiteral("服务器上的数据库“%1”中是上一次没有完成（被中断、没有校验）的导入或复制，不能使用。"
                                             "用 casearchive-admin import --replace-unfinished 重新导入会先删除它。")
                                  .arg(m_o.target)};
            store::Transaction t(target);
            store::dropArchiveTables(target);
            store::clearCopyUnfinished(target);
            t.commit();
            present = store::tableNames(target);
        }
        if (!present.isEmpty())
            throw Refusal{QStringLiteral("服务器上的数据库“%1”中已经有数据表（%2），不会覆盖。请导入到一个空的数据库。")
                              .arg(m_o.target, present.join(QStringLiteral("、")))};
    }
    // Every row in one transaction: an import cut short leaves no half archive.
    store::Transaction t(target);
    store::createSchema(target);
    // The search index is built from the imported rows once, not followed row by row.
    store::suspendSearchIndex(target);
    if (m_toServer)
        store::markCopyUnfinished(target);
    FindingsCollector findings(m_result.findings);
    QVector<Value> values;
    // A file's search index is built by the writer's thread in the time it has to spare
    // (the reading has none): from the records written so far while the records are
    // written, then while the photos are.
    std::unique_ptr<store::SearchIndexBuild> index;
    if (!m_toServer)
        index = std::make_unique<store::SearchIndexBuild>(target);
    for (const TablePlan &plan : std::as_const(m_plans)) {
        say(QStringLiteral("importing %1").arg(store::tableName(plan.table)));
        // Written alongside: SQLite's work on one core, the reading and decoding on another.
        // Nothing here touches `target` again before writer.finish().
        store::StoredRowWriter writer(target, plan.table, true);
        if (index && plan.table == store::ArchiveTable::Detail)
            writer.meanwhile([&index](qint64 written) { return index->addRows(kIndexRowsAtATime, written); });
        if (index && plan.table == store::ArchiveTable::Photo)
            writer.meanwhile([&index](qint64) { return index->addRows(kIndexRowsAtATime); });
        store::StoredRow row;
        qint64 n = 0;
        // Of the records and photos only a path is looked at as text; the findings take the
        // rest as UTF-8.
        const bool many = plan.table == store::ArchiveTable::Detail || plan.table == store::ArchiveTable::Photo;
        const quint32 textColumns = many ? 1u << plan.pathColumn : ~0u;
        reader.readRows(plan.jet, tableText(plan), [&](const QVector<jet::JetCell> &cells) {
            stopIfAsked(n);
            decodeRow(plan, m_decoder, m_toServer, ++n, cells, values, textColumns);
            findings.countValues(values);
            switch (plan.table) {
            case store::ArchiveTable::Catalog:
                findings.type(values);
                break;
            case store::ArchiveTable::Detail:
                findings.record(values);
                break;
            case store::ArchiveTable::User:
                findings.operatorRow(n, values);
                break;
            default:
                break;
            }
            if (plan.pathColumn >= 0 && !values.at(plan.pathColumn).null) {
                Value &path = values[plan.pathColumn];
                const MappedPath mapped = m_paths->map(path.text);
                findings.file(values.at(plan.table == store::ArchiveTable::Detail ? 1 : 0).utf8,
                              plan.table == store::ArchiveTable::Photo, path.text, mapped);
                path.storeAs(mapped.stored);
            }
            row.rowId = n;
            row.cells.resize(values.size());
            for (int k = 0; k < values.size(); ++k) {
                store::StoredCell &cell = row.cells[k];
                cell.kind = values.at(k).null ? store::StoredCell::Null : store::StoredCell::Text;
                cell.bytes = values.at(k).utf8;
            }
            writer.add(std::move(row));
            return true;
        });
        writer.finish();
        // The pages of a file cut short are simply not there: the rows its table
        // definition counts are the check.
        if (n != plan.jet.statedRows)
            throw Refusal{QStringLiteral("表 %1 的定义说它有 %2 行，却只读出 %3 行：文件不完整或已损坏，没有导入。"
                                         "请从早先的电脑上重新复制 file.dat（复制时早先的程序要关闭）。")
                              .arg(store::tableName(plan.table))
                              .arg(plan.jet.statedRows)
                              .arg(n)};
        m_result.tallies << TableTally{store::tableName(plan.table), n, -1};
        if (plan.table == store::ArchiveTable::Photo)
            startPhotos(reader, int(m_result.tallies.size()) - 1);
    }
    findings.finish();
    store::continueRowIdentities(target);
    // What is left of a file's index, or a server's whole.
    if (!index)
        index = std::make_unique<store::SearchIndexBuild>(target);
    while (index->next()) {
    }
    t.commit();
    m_tablesMade = true;
    m_committed.settle(true);
}

// The second reading: every cell of the new archive against the Jet file read once more,
// through the same decoding and the same paths as found the first time. The photos, most
// of the rows, are read on a thread of their own from the moment they are written
// (startPhotos): the reading and decoding need only the Jet file, and take the core this
// thread leaves while it finishes the write; their comparing waits for the commit.
void ImportRun::verify(jet::JetReader &reader)
{
    say(QStringLiteral("verifying: reading the earlier file again and comparing every cell"));
    store::Connection copy(m_work);
    int photo = -1;
    for (int p = 0; p < m_plans.size(); ++p)
        if (m_plans.at(p).table == store::ArchiveTable::Photo)
            photo = p;
    if (photo >= 0 && !m_photos.valid())
        startPhotos(reader, photo);
    // A failure is told in the order of the tables: one in a table before the photos
    // stops their comparing, one in the photos the comparing of the tables after them.
    std::exception_ptr failure;
    int failedAt = -1;
    try {
        for (int p = 0; p < m_plans.size(); ++p) {
            if (p == photo || (photo >= 0 && p > photo && m_photosFailed))
                continue;
            failedAt = p;
            m_result.tallies[p].imported = verifyTable(&copy, reader, m_plans.at(p), m_decoder, m_result.tallies.at(p).earlier);
        }
    } catch (...) {
        failure = std::current_exception();
        if (failedAt < photo)
            m_giveUp = true;
    }
    if (m_photos.valid()) {
        try {
            m_result.tallies[photo].imported = m_photos.get();
        } catch (const GaveUp &) {
        } catch (...) {
            if (!failure || failedAt > photo)
                throw;
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void ImportRun::startPhotos(jet::JetReader &reader, int photo)
{
    const qint64 earlier = m_result.tallies.at(photo).earlier;
    m_photos = std::async(std::launch::async, [this, &reader, photo, earlier, decoder = m_decoder.another()] {
        try {
            return verifyTable(nullptr, reader, m_plans.at(photo), decoder, earlier);
        } catch (...) {
            m_photosFailed = true;
            throw;
        }
    });
}

// Once the photos' thread is not needed, or must not go on (the write failed or stopped):
// it gives up, and is waited for before anything it reads goes.
void ImportRun::endPhotos()
{
    m_giveUp = true;
    m_committed.settle(false);
    if (m_photos.valid())
        m_photos.wait();
}

// Returns the rows compared, which are the new archive's rows of the table: one too many or
// too few there is a failure.
qint64 ImportRun::verifyTable(store::Connection *copy, jet::JetReader &reader, const TablePlan &plan,
                              const jet::TextDecoder &decoder, qint64 earlier)
{
    const QStringList columns = store::storedColumns(plan.table);
    // Without a connection of the caller's: one of its own, once the rows are committed.
    std::unique_ptr<store::Connection> own;
    std::unique_ptr<store::StoredRows> stored;
    auto open = [&] {
        if (!copy) {
            if (!m_committed.wait())
                throw GaveUp{};
            own = std::make_unique<store::Connection>(m_work);
        }
        stored = std::make_unique<store::StoredRows>(copy ? *copy : *own, plan.table);
    };
    store::StoredRow got;
    // A row's cells as compared: no value, or the UTF-8.
    QVarLengthArray<std::pair<bool, QByteArrayView>, 8> row;
    auto compare = [&](qint64 rowNumber) {
        // The values again, for the message only.
        auto label = [&] {
            QVector<Value> values(row.size());
            for (int k = 0; k < row.size(); ++k) {
                values[k].null = row.at(k).first;
                values[k].utf8 = row.at(k).second.toByteArray();
            }
            return rowLabel(plan, rowNumber, values);
        };
        if (!stored->next(got) || got.rowId != rowNumber)
            throw Refusal{QStringLiteral("校验失败：新档案中没有%1，或次序不同。").arg(label())};
        for (int k = 0; k < row.size(); ++k) {
            static const store::StoredCell none;
            const store::StoredCell &cell = k < got.cells.size() ? got.cells.at(k) : none;
            const bool same = row.at(k).first ? cell.kind == store::StoredCell::Null
                                              : cell.kind == store::StoredCell::Text && cell.bytes == row.at(k).second;
            if (!same)
                throw Refusal{QStringLiteral("校验失败：新档案中%1的“%2”列与早先的档案不同。").arg(label(), columns.at(k))};
        }
    };
    // Rows read before the commit, kept until it in one room of at most kAheadBytes: for
    // each cell a byte that says whether it has a value, its length, and its UTF-8.
    QByteArray ahead;
    qint64 aheadRows = 0;
    auto openAndCatchUp = [&](int cellsPerRow) {
        open();
        qsizetype at = 0;
        for (qint64 r = 1; r <= aheadRows; ++r) {
            row.resize(cellsPerRow);
            for (int k = 0; k < cellsPerRow; ++k) {
                quint32 length = 0;
                std::memcpy(&length, ahead.constData() + at + 1, sizeof length);
                row[k] = {ahead.at(at) != 0, QByteArrayView(ahead.constData() + at + 1 + sizeof length, length)};
                at += 1 + qsizetype(sizeof length) + length;
            }
            compare(r);
        }
        ahead = QByteArray();
        aheadRows = 0;
    };
    if (copy)
        open();
    QVector<Value> values;
    qint64 n = 0;
    // The cells are compared as UTF-8; only a path is looked at as text.
    const quint32 textColumns = plan.pathColumn >= 0 ? 1u << plan.pathColumn : 0u;
    reader.readRows(plan.jet, tableText(plan), [&](const QVector<jet::JetCell> &cells) {
        stopIfAsked(n);
        if (n % kRowsBetweenStopChecks == 0 && m_giveUp && !copy)
            throw GaveUp{};
        decodeRow(plan, decoder, m_toServer, ++n, cells, values, textColumns);
        if (plan.pathColumn >= 0 && !values.at(plan.pathColumn).null)
            values[plan.pathColumn].storeAs(m_paths->storedAgain(values.at(plan.pathColumn).text));
        if (!stored) {
            if (!m_committed.settled() && ahead.size() < kAheadBytes) {
                for (const Value &v : std::as_const(values)) {
                    const quint32 length = quint32(v.utf8.size());
                    ahead.append(char(v.null ? 1 : 0));
                    ahead.append(reinterpret_cast<const char *>(&length), sizeof length);
                    ahead.append(v.utf8);
                }
                ++aheadRows;
                return true;
            }
            openAndCatchUp(int(values.size()));
        }
        row.resize(values.size());
        for (int k = 0; k < values.size(); ++k)
            row[k] = {values.at(k).null, QByteArrayView(values.at(k).utf8)};
        compare(n);
        return true;
    });
    if (!stored)
        openAndCatchUp(int(plan.columnOf.size()));
    if (stored->next(got))
        throw Refusal{QStringLiteral("校验失败：新档案的表 %1 比早先的档案多出行（从第 %2 行起）。").arg(store::tableName(plan.table)).arg(n + 1)};
    if (n != earlier)
        throw Refusal{QStringLiteral("校验失败：表 %1 第一次读出 %2 行，第二次读出 %3 行，新档案中有 %4 行。")
                          .arg(store::tableName(plan.table))
                          .arg(earlier)
                          .arg(n)
                          .arg(n)};
    return n;
}

// The verified archive gets its trail entry, then its name (a file) or loses its mark (a server).
void ImportRun::finish()
{
    const Digest digest = m_digest.get();
    if (digest.size != m_result.sourceSize)
        throw Refusal{QStringLiteral("新档案已校验，但无法重新读取早先系统的档案的临时副本来计算它的 SHA-256。")};
    m_result.sourceSha256 = digest.sha256;
    store::Change change;
    change.kind = store::ChangeKind::ArchiveImported;
    change.subject = QFileInfo(m_o.source).fileName();
    change.detail = QStringLiteral("导入自早先系统的档案“%1”（%2 字节，SHA-256 %3），文本按 %4 解码，每一格已与第二次读取逐一核对")
                        .arg(QFileInfo(m_o.source).absoluteFilePath())
                        .arg(m_result.sourceSize)
                        .arg(m_result.sourceSha256, m_result.encoding);
    try {
        store::Connection target(m_work);
        store::Transaction t(target);
        store::appendHistory(target, m_o.actor, change);
        if (m_toServer)
            store::clearCopyUnfinished(target);
        t.commit();
    } catch (const store::StoreError &e) {
        throw Refusal{QStringLiteral("新档案已校验，但无法在其中记下这次导入。\n") + e.description()};
    }
    if (m_toServer)
        return;
    // rename() never replaces a file that appeared at the target meanwhile.
    if (!QFile::rename(m_work, m_o.target))
        throw Refusal{QStringLiteral("新档案已校验，但无法改名为“%1”（该文件可能刚刚被建立）。").arg(m_o.target)};
    m_fileMade = false;
}

void ImportRun::removeImport()
{
    if (m_fileMade) {
        store::removeFileWithJournals(m_work);
        return;
    }
    if (!m_tablesMade)
        return; // the transaction that made them rolled back
    store::dropUnfinishedTables(m_o.target);
}

} // namespace

ImportResult importEarlierArchive(const ImportOptions &options, const ImportSay &say)
{
    return ImportRun(options, say).run();
}

} // namespace importing
