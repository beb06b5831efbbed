#include "importing/ImportTables.h"

#include "store/StoredRows.h"

namespace importing {

namespace {

constexpr int kShown = 40;

QString decodedName(const QByteArray &raw, const jet::TextDecoder &decoder, int version)
{
    QString name;
    if (version == 4 ? (name = QString::fromUtf8(raw), true) : decoder.decode(raw, name))
        return name;
    return QString::fromLatin1(raw.toHex(' '));
}

QString shownText(const QString &text)
{
    QString t = text.size() > kShown ? text.left(kShown) + QStringLiteral("…") : text;
    for (QChar &c : t)
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    return t;
}

QString hexOf(const QByteArray &bytes)
{
    QByteArray head = bytes.left(24).toHex(' ').toUpper();
    if (bytes.size() > 24)
        head += " …";
    return QString::fromLatin1(head);
}

} // namespace

QVector<TablePlan> planTables(const jet::JetListing &listing, const jet::TextDecoder &decoder, QStringList *otherTables)
{
    QVector<TablePlan> plans;
    QVector<bool> taken(listing.tables.size(), false);
    for (const store::ArchiveTable table : store::archiveTables()) {
        const QString wanted = store::tableName(table);
        TablePlan plan;
        plan.table = table;
        int found = -1;
        for (int i = 0; i < listing.tables.size(); ++i) {
            const jet::JetTable &t = listing.tables.at(i);
            if (t.systemTable())
                continue;
            const QString name = decodedName(t.name, decoder, listing.version);
            if (name.compare(wanted, Qt::CaseInsensitive) != 0)
                continue;
            if (found >= 0)
                throw Refusal{QStringLiteral("文件中有两个表都叫 %1（字母大小写不同），不知道该导入哪一个，没有导入。").arg(wanted)};
            found = i;
            plan.jetName = name;
        }
        if (found < 0)
            throw Refusal{QStringLiteral("文件中没有表 %1，它不是早先的病案管理系统的完整档案，没有导入。").arg(wanted)};
        taken[found] = true;
        plan.jet = listing.tables.at(found);
        if (!plan.jet.readable)
            throw Refusal{QStringLiteral("表 %1 的定义无法读取（文件损坏？），没有导入。").arg(wanted)};
        const QStringList columns = store::storedColumns(table);
        plan.columnOf.fill(-1, columns.size());
        for (int j = 0; j < plan.jet.columns.size(); ++j) {
            const jet::JetColumn &col = plan.jet.columns.at(j);
            const QString name = decodedName(col.name, decoder, listing.version);
            int mine = -1;
            for (int k = 0; k < columns.size(); ++k)
                if (name.compare(columns.at(k), Qt::CaseInsensitive) == 0)
                    mine = k;
            if (mine < 0) {
                plan.extra << j;
                plan.extraNames << name;
                continue;
            }
            if (plan.columnOf[mine] >= 0)
                throw Refusal{QStringLiteral("表 %1 中有两列都叫“%2”（字母大小写不同），没有导入。").arg(wanted, columns.at(mine))};
            if (!col.holdsText())
                throw Refusal{QStringLiteral("表 %1 的“%2”列存的是%3，而档案的各列都存文本；它不是早先的病案管理系统写的，没有导入。")
                                  .arg(wanted, columns.at(mine), col.typeName())};
            plan.columnOf[mine] = j;
        }
        for (int k = 0; k < columns.size(); ++k)
            if (plan.columnOf[k] < 0)
                throw Refusal{QStringLiteral("表 %1 中没有“%2”列，它不是早先的病案管理系统的完整档案，没有导入。"
                                             "按 %3 解码，这个表的列是：%4。如果列名看上去是乱码，说明代码页不对，请用 --encoding 指定，"
                                             "例如 --encoding CP936。")
                                  .arg(wanted, columns.at(k), listing.version == 4 ? QStringLiteral("UTF-16") : decoder.name(),
                                       plan.extraNames.join(QStringLiteral("、")))};
        if (table == store::ArchiveTable::Detail)
            plan.pathColumn = 3; // 路径名
        else if (table == store::ArchiveTable::Photo)
            plan.pathColumn = 1; // 照片
        plans << plan;
    }
    if (otherTables)
        for (int i = 0; i < listing.tables.size(); ++i)
            if (!taken[i] && !listing.tables.at(i).systemTable())
                *otherTables << decodedName(listing.tables.at(i).name, decoder, listing.version);
    return plans;
}

QString rowLabel(const TablePlan &plan, qint64 rowNumber, const QVector<Value> &values)
{
    auto label = [&values](int column) {
        if (column >= values.size() || values.at(column).null)
            return QStringLiteral("（无值）");
        const Value &v = values.at(column);
        return QStringLiteral("“%1”").arg(shownText(v.text.isNull() ? QString::fromUtf8(v.utf8) : v.text));
    };
    QString what;
    switch (plan.table) {
    case store::ArchiveTable::Detail:
        what = QStringLiteral("病案号 ") + label(1);
        break;
    case store::ArchiveTable::Photo:
        what = QStringLiteral("照片，病案号 ") + label(0);
        break;
    case store::ArchiveTable::Catalog:
        what = QStringLiteral("类型 ") + label(0);
        break;
    default:
        what = QStringLiteral("操作员 ") + label(0);
        break;
    }
    return QStringLiteral("表 %1 第 %2 行（%3）").arg(store::tableName(plan.table)).arg(rowNumber).arg(what);
}

void decodeRow(const TablePlan &plan, const jet::TextDecoder &decoder, bool toServer, qint64 rowNumber,
               const QVector<jet::JetCell> &cells, QVector<Value> &values, quint32 textColumns)
{
    const int n = plan.columnOf.size();
    values.resize(n);
    int bad = -1;
    for (int k = 0; k < n; ++k) {
        const jet::JetCell &cell = cells.at(plan.columnOf.at(k));
        Value &v = values[k];
        v.null = cell.kind == jet::JetCell::Null;
        const bool wanted = (textColumns >> k) & 1u;
        if (!wanted)
            v.text = QString();
        if (v.null || cell.kind != jet::JetCell::Raw || !decoder.decode(cell.bytes, wanted ? &v.text : nullptr, &v.utf8)) {
            v.text.clear();
            v.utf8.clear();
            if (v.null)
                continue;
            v.null = true;
            if (bad < 0)
                bad = k;
        }
    }
    if (bad >= 0) {
        const QStringList columns = store::storedColumns(plan.table);
        const QByteArray &raw = cells.at(plan.columnOf.at(bad)).bytes;
        throw Refusal{QStringLiteral("%1的“%2”列不是有效的 %3 文本（%4 字节，十六进制 %5）。导入已停止，没有写入任何数据。"
                                     "如果这个文件是在别的代码页的 Windows 上写的，请用 --encoding 指定，例如 --encoding CP936；"
                                     "否则请在早先的系统中改正这一项后再导入。")
                          .arg(rowLabel(plan, rowNumber, values), columns.at(bad), decoder.name())
                          .arg(raw.size())
                          .arg(hexOf(raw))};
    }
    for (int k = 0; k < plan.extra.size(); ++k)
        if (cells.at(plan.extra.at(k)).kind != jet::JetCell::Null)
            throw Refusal{QStringLiteral("%1的“%2”列有值，而档案没有这一列，导入会丢掉它。导入已停止，没有写入任何数据。"
                                         "请在早先的系统中（用 Access）删除这一列，或清空其中的值后再导入。")
                              .arg(rowLabel(plan, rowNumber, values), plan.extraNames.at(k))};
    if (toServer)
        for (int k = 0; k < n; ++k)
            if (!values.at(k).null && values.at(k).utf8.contains('\0'))
                throw Refusal{QStringLiteral("%1的“%2”列含有 NUL 字符，服务器上的文本不能含有。导入已停止，没有写入任何数据；"
                                             "可以先导入为档案文件。")
                                  .arg(rowLabel(plan, rowNumber, values), store::storedColumns(plan.table).at(k))};
}

} // namespace importing
