#include "trail/History.h"

#include "store/ArchiveIdentity.h"
#include "store/HistoryWords.h"
#include "store/PageText.h"
#include "store/SearchIndex.h"
#include "store/TrailStatements.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

namespace store {

namespace {

std::function<QDateTime()> &clock()
{
    static std::function<QDateTime()> c;
    return c;
}

struct KindInfo {
    ChangeKind kind;
    const char *code;
    const char *text;
};

// The codes are stored and hashed: they never change once written.
const KindInfo kKinds[] = {
    {ChangeKind::RecordAdded, "record.added", "新增病案"},
    {ChangeKind::RecordModified, "record.modified", "修改病案"},
    {ChangeKind::RecordDeleted, "record.deleted", "删除病案"},
    {ChangeKind::RecordRestored, "record.restored", "恢复病案"},
    {ChangeKind::RecordPurged, "record.purged", "彻底删除病案"},
    {ChangeKind::RecordPrinted, "record.printed", "打印病案"},
    {ChangeKind::TypeAdded, "type.added", "新增病案类型"},
    {ChangeKind::TypeRenamed, "type.renamed", "病案类型改名"},
    {ChangeKind::TypeDeleted, "type.deleted", "删除病案类型"},
    {ChangeKind::OperatorAdded, "operator.added", "新增操作员"},
    {ChangeKind::OperatorDeleted, "operator.deleted", "删除操作员"},
    {ChangeKind::PasswordReset, "operator.password_reset", "重设操作员口令"},
    {ChangeKind::ArchiveCopied, "archive.copied", "复制档案"},
    {ChangeKind::ArchiveRestored, "archive.restored", "恢复档案"},
    {ChangeKind::ArchiveImported, "archive.imported", "导入早先系统的档案"},
};

const KindInfo &infoOf(ChangeKind kind)
{
    for (const KindInfo &k : kKinds)
        if (k.kind == kind)
            return k;
    return kKinds[0];
}

QJsonValue jsonText(const QString &s) { return s.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(s); }
QString fromJson(const QJsonValue &v) { return v.isNull() || v.isUndefined() ? QString() : v.toString(); }

QString stateJson(const std::optional<RecordState> &state)
{
    if (!state)
        return QString();
    QJsonObject o;
    o.insert(QStringLiteral("rowId"), QString::number(state->row.rowId));
    o.insert(QStringLiteral("type_Name"), jsonText(state->row.typeName));
    o.insert(QStringLiteral("病案号"), jsonText(state->row.number));
    o.insert(QStringLiteral("文件名"), jsonText(state->row.name));
    o.insert(QStringLiteral("路径名"), jsonText(state->row.path));
    o.insert(QStringLiteral("文件说明"), jsonText(state->row.description));
    o.insert(QStringLiteral("照片"), QJsonArray::fromStringList(state->photos));
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

std::optional<RecordState> stateFromJson(const QString &json)
{
    if (json.isEmpty())
        return std::nullopt;
    const QJsonObject o = QJsonDocument::fromJson(json.toUtf8()).object();
    RecordState s;
    s.row.rowId = o.value(QStringLiteral("rowId")).toString().toLongLong();
    s.row.typeName = fromJson(o.value(QStringLiteral("type_Name")));
    s.row.number = fromJson(o.value(QStringLiteral("病案号")));
    s.row.name = fromJson(o.value(QStringLiteral("文件名")));
    s.row.path = fromJson(o.value(QStringLiteral("路径名")));
    s.row.description = fromJson(o.value(QStringLiteral("文件说明")));
    for (const QJsonValue &p : o.value(QStringLiteral("照片")).toArray())
        s.photos << p.toString();
    return s;
}

QString nameOf(const std::optional<RecordState> &before, const std::optional<RecordState> &after)
{
    if (after)
        return after->row.name;
    return before ? before->row.name : QString();
}

QString storedTime(const QDateTime &t) { return t.toUTC().toString(Qt::ISODateWithMs); }

// Every field with its length in front, so that no two different entries read the same,
// and the hash of the entry before last. The identity comes first and apart, since a
// server gives it (and makes the hash) when the entry is written.
QByteArray chainField(const QString &field)
{
    const QByteArray bytes = field.toUtf8();
    return QByteArray::number(bytes.size()) + ':' + bytes + '\n';
}

QByteArray chainContentAfterId(const HistoryRow &r)
{
    QByteArray content;
    for (const QString &field : {r.when, r.operatorName, r.workstation, r.kind, r.number, r.rowId, r.subject, r.before,
                                 r.after, r.detail})
        content += chainField(field);
    return content;
}

QString chainHash(const HistoryRow &r, const QString &previousHash)
{
    const QByteArray content = chainField(QString::number(r.id)) + chainContentAfterId(r) + previousHash.toLatin1();
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

HistoryEntry entryOf(const HistoryRow &r)
{
    HistoryEntry e;
    e.id = r.id;
    e.when = QDateTime::fromString(r.when, Qt::ISODateWithMs).toUTC();
    e.operatorName = r.operatorName;
    e.workstation = r.workstation;
    e.change.kind = changeKindFromCode(r.kind).value_or(ChangeKind::RecordModified);
    e.change.number = r.number;
    e.change.rowId = r.rowId.toLongLong();
    e.change.subject = r.subject;
    e.change.before = stateFromJson(r.before);
    e.change.after = stateFromJson(r.after);
    e.change.detail = r.detail;
    e.hash = r.hash;
    return e;
}

HistoryFilter filterOf(const HistoryQuery &q)
{
    HistoryFilter f;
    if (q.from.isValid())
        f.from = storedTime(q.from);
    if (q.to.isValid())
        f.to = storedTime(q.to);
    f.operatorName = q.operatorName;
    for (ChangeKind k : q.kinds)
        f.kinds << changeKindCode(k);
    f.record = q.record;
    f.sortColumn = int(q.sortBy);
    f.descending = q.descending;
    return f;
}

// Beyond this many entries offered by the words index a record's text is a common one: the
// entries read newest first fill a page long before the trail's end, and the index would
// only make the engine fetch and sort them all. Counting that far costs a few milliseconds.
constexpr qint64 kFewEntries = 5000;

// The filter of a query, with the trail's words index to find the entries of a record
// text when that is the quicker way.
HistoryFilter filterFor(Connection &c, const HistoryQuery &q)
{
    HistoryFilter f = filterOf(q);
    const QString run = trigramQuery(f.record);
    if (run.isEmpty())
        return f;
    try {
        if (catchUpHistoryWords(c) && countHistoryWordCandidates(c, run, kFewEntries) < kFewEntries)
            f.wordsRun = run;
    } catch (const StoreError &) {
        // An index the engine cannot read (a file's SQLite without FTS5, a server archive
        // whose index the workstation may not read): every entry is read.
    }
    return f;
}

} // namespace

QDateTime historyNow()
{
    const QDateTime now = clock() ? clock()() : QDateTime::currentDateTimeUtc();
    return now.toUTC();
}

void setHistoryClockForTests(std::function<QDateTime()> now) { clock() = std::move(now); }

const QString &upgradeNeededMessage()
{
    static const QString text = QStringLiteral(
        "服务器上的病案数据库还是旧版本，缺少本版本程序需要的数据表，本程序不能在其中保存修改（已经保存的内容不受影响）。"
        "请系统管理员在服务器上运行“casearchive-admin upgrade 数据库地址”升级该数据库，然后再试。");
    return text;
}

Actor adminToolActor()
{
    QString user;
    if (const passwd *pw = ::getpwuid(::geteuid()))
        user = QString::fromLocal8Bit(pw->pw_name);
    if (user.isEmpty())
        user = QString::number(::geteuid());
    return {QStringLiteral("casearchive-admin"), user + QLatin1Char('@') + QSysInfo::machineHostName()};
}

int schemaVersion(Connection &c) { return readSchemaVersion(c); }

bool upgradeSchema(Connection &c)
{
    const int version = readSchemaVersion(c);
    if (version >= kCurrentSchemaVersion)
        return false;
    if (version < 2) {
        for (const QString &statement : trailSchema(c.dialect()))
            c.run(statement);
        if (c.backend() == Backend::PostgreSQL)
            addHistoryWordsOnServer(c);
    }
    // 3: the archive's identity; a server numbers and chains the trail's entries itself;
    // the recycle bin keeps the bytes of what it holds (a form the versions before cannot
    // restore, so they may not write here any more); the search index's tables, the index
    // itself built by casearchive-admin upgrade (searches read every record until then).
    if (version < 3) {
        addArchiveIdentity(c);
        addServerTrailChain(c);
        addSearchIndex(c);
    }
    writeSchemaVersion(c, kCurrentSchemaVersion);
    return true;
}

void requireCurrentSchema(Connection &c)
{
    const int version = readSchemaVersion(c);
    if (version == kCurrentSchemaVersion)
        return;
    if (version > kCurrentSchemaVersion)
        throw StoreError(QStringLiteral("病案数据库已由更新版本的病案管理程序升级（版本 %1），本程序（版本 %2）不能在其中保存修改。"
                                        "请使用更新版本的程序。")
                             .arg(version)
                             .arg(kCurrentSchemaVersion));
    // The workstations' login on a server may not make tables; the administrator upgrades.
    if (c.backend() == Backend::PostgreSQL)
        throw StoreError(upgradeNeededMessage());
    upgradeSchema(c);
}

QVector<ChangeKind> changeKinds()
{
    QVector<ChangeKind> kinds;
    for (const KindInfo &k : kKinds)
        kinds << k.kind;
    return kinds;
}

QString changeKindCode(ChangeKind kind) { return QString::fromLatin1(infoOf(kind).code); }

std::optional<ChangeKind> changeKindFromCode(const QString &code)
{
    for (const KindInfo &k : kKinds)
        if (code == QLatin1String(k.code))
            return k.kind;
    return std::nullopt;
}

QString changeKindText(ChangeKind kind) { return QString::fromUtf8(infoOf(kind).text); }

bool RecordState::operator==(const RecordState &o) const
{
    return row.rowId == o.row.rowId && row.typeName == o.row.typeName && row.number == o.row.number
        && row.name == o.row.name && row.path == o.row.path && row.description == o.row.description
        && photos == o.photos;
}

std::optional<RecordState> readRecordState(Connection &c, qint64 rowId)
{
    std::optional<RecordWithPhotos> record = readRecordWithPhotos(c, rowId);
    if (!record)
        return std::nullopt;
    return RecordState{std::move(record->row), std::move(record->photos)};
}

std::optional<RecordState> takeRecordState(Connection &c, qint64 rowId)
{
    std::optional<RecordWithPhotos> record = takeRecordRow(c, rowId);
    if (!record)
        return std::nullopt;
    return RecordState{std::move(record->row), std::move(record->photos)};
}

QString recordStateJson(const RecordState &state) { return stateJson(state); }

void appendHistory(Connection &c, const Actor &actor, const Change &change)
{
    requireCurrentSchema(c);
    HistoryRow r;
    r.when = storedTime(historyNow());
    r.operatorName = actor.operatorName;
    r.workstation = actor.workstation;
    r.kind = changeKindCode(change.kind);
    r.number = change.number;
    r.rowId = change.rowId != 0 ? QString::number(change.rowId) : QString();
    r.subject = change.subject;
    r.before = stateJson(change.before);
    r.after = stateJson(change.after);
    r.detail = change.detail;
    r.recordName = nameOf(change.before, change.after);
    // The server numbers and chains the entry itself (its workstations' logins may not).
    if (c.backend() == Backend::PostgreSQL) {
        insertHistoryRowChainedByServer(c, r);
        return;
    }
    const auto last = lastHistoryLink(c);
    r.id = last ? last->first + 1 : 1;
    r.hash = chainHash(r, last ? last->second : QString());
    insertHistoryRow(c, r);
}

QVector<HistoryEntry> readRecordHistory(Connection &c, const QString &number, qint64 rowId)
{
    QVector<HistoryEntry> entries;
    if (readSchemaVersion(c) < 2)
        return entries;
    for (const HistoryRow &r : readHistoryRowsOfRecord(c, number, rowId))
        entries << entryOf(r);
    return entries;
}

QVector<HistoryEntry> readHistory(Connection &c, const HistoryQuery &query)
{
    QVector<HistoryEntry> entries;
    if (readSchemaVersion(c) < 2 || query.limit <= 0)
        return entries;
    forEachFilteredHistoryRow(c, filterFor(c, query), query.offset, query.limit,
                              [&](const HistoryRow &r) { entries << entryOf(r); });
    return entries;
}

qint64 countHistory(Connection &c, const HistoryQuery &query)
{
    if (readSchemaVersion(c) < 2)
        return 0;
    return countFilteredHistoryRows(c, filterFor(c, query));
}

void forEachHistoryEntry(Connection &c, const HistoryQuery &query, const std::function<void(const HistoryEntry &)> &visit)
{
    if (readSchemaVersion(c) < 2)
        return;
    forEachFilteredHistoryRow(c, filterFor(c, query), 0, -1, [&](const HistoryRow &r) { visit(entryOf(r)); });
}

QString TrailMark::text() const
{
    return QString::number(id) + QLatin1Char(':') + hash;
}

std::optional<TrailMark> parseTrailMark(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([1-9][0-9]{0,17}):([0-9A-Fa-f]{64})$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    return TrailMark{m.captured(1).toLongLong(), m.captured(2).toLower()};
}

ChainReport verifyHistoryChain(Connection &c, const std::optional<TrailMark> &noted)
{
    ChainReport report;
    const auto checkNoted = [&] {
        if (!noted || !report.whole || report.entries >= noted->id)
            return;
        // Fewer entries than the mark names, each one fitting: the newest were taken out.
        report.whole = false;
        report.firstBadId = report.entries + 1;
        report.problem = QStringLiteral("记下的第 %1 条不见了：第 %2 条起的条目被删除过").arg(noted->id).arg(report.entries + 1);
        report.breaks.push_back({report.firstBadId, report.problem});
        ++report.breakCount;
    };
    if (readSchemaVersion(c) < 2) {
        checkNoted();
        return report;
    }
    qint64 expected = 1;
    QString previous;
    forEachHistoryRow(c, [&](const HistoryRow &r) {
        ++report.entries;
        QString problem;
        if (r.id < expected) {
            problem = QStringLiteral("第 %1 条的编号不在它应在的位置（被修改过）").arg(r.id);
        } else if (r.id != expected) {
            problem = r.id - expected == 1
                ? QStringLiteral("第 %1 条之前的第 %2 条不见了（被删除过）").arg(r.id).arg(expected)
                : QStringLiteral("第 %1 条之前的第 %2 至 %3 条不见了（被删除过）").arg(r.id).arg(expected).arg(r.id - 1);
        } else if (chainHash(r, previous) != r.hash) {
            problem = QStringLiteral("第 %1 条的内容与它的校验值不符（被修改过，或与别的条目调换过位置）").arg(r.id);
        } else if (!changeKindFromCode(r.kind)) {
            problem = QStringLiteral("第 %1 条的变更类别“%2”不是本系统写的").arg(r.id).arg(r.kind);
        } else if (r.recordName != nameOf(stateFromJson(r.before), stateFromJson(r.after))) {
            problem = QStringLiteral("第 %1 条的病案名称与它记下的内容不符（被修改过）").arg(r.id);
        } else if (noted && r.id == noted->id && r.hash != noted->hash) {
            // Every hash fits, yet not the one noted: the trail up to here was written anew.
            problem = QStringLiteral("第 %1 条的校验值不是记下的值：到第 %1 条为止的条目被改写过").arg(r.id);
        }
        if (problem.isEmpty()) {
            ++report.fitting;
        } else {
            if (report.whole) {
                report.whole = false;
                report.firstBadId = r.id;
                report.problem = problem;
            }
            if (report.breaks.size() < kMaxChainBreaksKept)
                report.breaks.push_back({r.id, problem});
            ++report.breakCount;
        }
        // The next entry is held against this one as it stands: one entry that does not
        // fit (a forged one far out, say) is named, and every entry after it is still checked.
        previous = r.hash;
        expected = qMax(expected, r.id) + 1;
    });
    checkNoted();
    if (report.whole && report.entries > 0)
        report.newest = TrailMark{report.entries, previous};
    return report;
}

} // namespace store
