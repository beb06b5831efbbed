#include "records/HistoryText.h"

#include "store/FileModes.h"

#include <QDir>
#include <QSaveFile>
#include <QTimeZone>

namespace records {

namespace {

const QString kLabels[] = {QStringLiteral("病案类别"), QStringLiteral("病案号"),   QStringLiteral("病案名称"),
                           QStringLiteral("文件路径"), QStringLiteral("文件说明"), QStringLiteral("手术照片")};
constexpr int kFieldCount = 6;

QStringList fieldsOf(const std::optional<store::RecordState> &state)
{
    if (!state)
        return QStringList(kFieldCount, QString());
    const store::RecordRow &r = state->row;
    return {r.typeName, r.number, r.name, r.path, r.description, state->photos.join(QLatin1Char('\n'))};
}

// The record as one cell of the export: a field a line.
QString stateText(const std::optional<store::RecordState> &state)
{
    if (!state)
        return QString();
    const QStringList values = fieldsOf(state);
    QStringList lines;
    for (int i = 0; i < kFieldCount; ++i)
        lines << kLabels[i] + QLatin1Char('=') + QString(values.at(i)).replace(QLatin1Char('\n'), QLatin1String("; "));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QVector<FieldChange> compareStates(const std::optional<store::RecordState> &before,
                                   const std::optional<store::RecordState> &after)
{
    const QStringList b = fieldsOf(before);
    const QStringList a = fieldsOf(after);
    QVector<FieldChange> fields;
    for (int i = 0; i < kFieldCount; ++i) {
        // A record that appears or goes changes every field it has.
        const bool changed = before.has_value() != after.has_value() ? !(b.at(i).isEmpty() && a.at(i).isEmpty())
                                                                     : b.at(i) != a.at(i);
        fields.append({kLabels[i], b.at(i), a.at(i), changed});
    }
    return fields;
}

QString changedFieldsText(const store::Change &change)
{
    if (!change.before || !change.after)
        return QString();
    QStringList labels;
    for (const FieldChange &f : compareStates(change.before, change.after))
        if (f.changed)
            labels << f.label;
    return labels.join(QStringLiteral("、"));
}

QString localTimeText(const QDateTime &utc)
{
    if (!utc.isValid())
        return QString();
    return utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString csvField(const QString &text)
{
    QString t = text;
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    if (!t.isEmpty() && kFormulaStarts.contains(t.front()))
        t.prepend(QLatin1Char('\''));
    t.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + t + QLatin1Char('"');
}

QString csvHeader()
{
    const QStringList names = {QStringLiteral("序号"),     QStringLiteral("时间(UTC)"), QStringLiteral("操作员"),
                               QStringLiteral("工作站"),   QStringLiteral("操作"),      QStringLiteral("病案号"),
                               QStringLiteral("对象"),     QStringLiteral("说明"),      QStringLiteral("改动项目"),
                               QStringLiteral("修改前"),   QStringLiteral("修改后"),    QStringLiteral("校验值")};
    QStringList quoted;
    for (const QString &n : names)
        quoted << csvField(n);
    return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

QString csvLine(const store::HistoryEntry &e)
{
    const QStringList values = {QString::number(e.id),
                                e.when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                e.operatorName,
                                e.workstation,
                                store::changeKindText(e.change.kind),
                                e.change.number,
                                e.change.subject,
                                e.change.detail,
                                changedFieldsText(e.change),
                                stateText(e.change.before),
                                stateText(e.change.after),
                                e.hash};
    QStringList quoted;
    for (const QString &v : values)
        quoted << csvField(v);
    return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

qint64 exportHistoryCsv(store::Connection &c, const store::HistoryQuery &query, const QString &path)
{
    QSaveFile file(path);
    const auto cannotWrite = [&] {
        return store::StoreError(
            QStringLiteral("文件 %1 无法写入：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    };
    // Names and diagnoses: the operator's alone from the first byte, whatever the umask, and
    // even where an earlier export under that name was readable by others.
    bool opened = false;
    {
        const store::PrivateUmask privately;
        opened = file.open(QIODevice::WriteOnly);
    }
    if (!opened || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw cannotWrite();
    qint64 written = 0;
    bool ok = file.write("\xEF\xBB\xBF", 3) == 3 && file.write(csvHeader().toUtf8()) >= 0;
    store::forEachHistoryEntry(c, query, [&](const store::HistoryEntry &e) {
        if (ok && file.write(csvLine(e).toUtf8()) < 0)
            ok = false;
        ++written;
    });
    if (!ok || !file.commit())
        throw cannotWrite(); // QSaveFile leaves nothing behind when it is not committed
    return written;
}

QString entrySummary(const store::HistoryEntry &e)
{
    QStringList parts;
    if (!e.change.subject.isEmpty())
        parts << e.change.subject;
    if (!e.change.detail.isEmpty())
        parts << e.change.detail;
    const QString changed = changedFieldsText(e.change);
    if (!changed.isEmpty())
        parts << QStringLiteral("改动：") + changed;
    return parts.join(QStringLiteral("；"));
}

} // namespace records
