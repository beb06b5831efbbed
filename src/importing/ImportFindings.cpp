#include "importing/ImportFindings.h"

#include "importing/ImportTables.h"

namespace importing {

namespace {

// The tree matches a record's type to the list of types with the letters A-Z of either
// case taken as the same, and nothing else.
QByteArray foldedAscii(const QByteArray &utf8)
{
    // Shared with `utf8`, and copied only when it has a letter to fold: most types have none.
    QByteArray out = utf8;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8.at(i);
        if (c >= 'A' && c <= 'Z')
            out[i] = char(c + 32);
    }
    return out;
}

QString quoted(const Value &v) { return v.null ? QStringLiteral("(no value)") : QLatin1Char('"') + v.text + QLatin1Char('"'); }

const QStringList &knownLevels()
{
    static const QStringList levels{QStringLiteral("只能添加"), QStringLiteral("不能修改"), QStringLiteral("可以修改"),
                                    QStringLiteral("超级权限!"), QStringLiteral("超级权限"), QStringLiteral("只能修改")};
    return levels;
}

} // namespace

void FindingsCollector::countValues(const QVector<Value> &values)
{
    for (const Value &v : values) {
        if (v.null)
            ++m_f.nullValues;
        else if (v.utf8.isEmpty())
            ++m_f.emptyTexts;
    }
}

void FindingsCollector::type(const QVector<Value> &row)
{
    if (row.at(0).null)
        return;
    m_types.insert(foldedAscii(row.at(0).utf8));
    if (++m_typeCounts[row.at(0).text.toCaseFolded()] == 2)
        ++m_f.duplicateTypeNames;
}

void FindingsCollector::record(const QVector<Value> &row)
{
    if (row.at(0).null || !m_types.contains(foldedAscii(row.at(0).utf8)))
        ++m_f.recordsWithoutType;
    if (row.at(1).null)
        return;
    Number &number = m_numbers[row.at(1).utf8];
    const int n = ++number.records;
    if (n == 1 && !row.at(2).null)
        number.name = row.at(2).utf8;
    m_lastNumber = row.at(1).utf8;
    m_lastName = number.name;
    m_haveLast = true;
    if (n == 2) {
        ++m_f.duplicateNumbers;
        m_f.recordsSharingNumbers += 2;
    } else if (n > 2) {
        ++m_f.recordsSharingNumbers;
    }
}

void FindingsCollector::operatorRow(qint64 rowNumber, const QVector<Value> &row)
{
    const Value &name = row.at(0);
    if (name.null || name.text.trimmed().isEmpty()) {
        m_f.operatorNotes << QStringLiteral("User row %1: blank name %2 (kept; nobody can choose it at the login)")
                                 .arg(rowNumber)
                                 .arg(quoted(name));
    } else {
        const QString key = name.text.toCaseFolded();
        if (!m_operators.contains(key))
            m_operatorOrder << key;
        m_operators[key] << name.text;
    }
    const Value &level = row.at(2);
    if (level.null || !knownLevels().contains(level.text))
        m_f.operatorNotes << QStringLiteral("operator %1: level %2 is none of %3 (kept; the program treats it as 可以修改)")
                                 .arg(quoted(name), quoted(level), knownLevels().join(QStringLiteral(", ")));
}

void FindingsCollector::file(const QByteArray &number, bool photo, const QString &original, const MappedPath &mapped)
{
    if (original.trimmed().isEmpty())
        return;
    ++m_f.filesNamed;
    switch (mapped.found) {
    case MappedPath::Exact:
        ++m_f.filesFound;
        return;
    case MappedPath::OtherCase:
        ++m_f.filesFound;
        ++m_f.filesFoundOtherCase;
        return;
    case MappedPath::Missing:
    case MappedPath::Unmapped:
        break;
    }
    if (!m_haveLast || number != m_lastNumber) {
        const auto known = m_numbers.constFind(number);
        m_haveLast = true;
        m_lastNumber = number;
        m_lastName = known == m_numbers.cend() ? QByteArray() : known->name;
    }
    m_f.missing.push_back({number, m_lastName, photo, mapped.stored, mapped.why});
}

QString MissingFile::line() const
{
    // Put together rather than formatted: a report may list hundreds of thousands.
    const QLatin1String kind = photo ? QLatin1String("photo") : QLatin1String("attached file");
    QString l;
    l.reserve(30 + number.size() + name.size() + path.size() + why.size());
    l += QLatin1String("record ");
    l += QString::fromUtf8(number);
    l += QLatin1String(" (");
    l += QString::fromUtf8(name);
    l += QLatin1String("): ");
    l += kind;
    l += QLatin1Char(' ');
    l += path;
    l += QLatin1String(" - ");
    l += why;
    return l;
}

QStringList ImportFindings::missingLines() const
{
    QStringList lines;
    lines.reserve(missing.size());
    for (const MissingFile &m : missing)
        lines << m.line();
    return lines;
}

void FindingsCollector::finish()
{
    for (const QString &key : std::as_const(m_operatorOrder)) {
        const QStringList &names = m_operators.value(key);
        if (names.size() > 1)
            m_f.operatorNotes << QStringLiteral("operators whose names differ only in letter case (kept, each logs in as "
                                                "chosen at the login): %1")
                                     .arg(names.join(QStringLiteral(", ")));
    }
}

QString ImportFindings::text(bool listMissing) const
{
    QStringList lines;
    lines << QStringLiteral("files named by records: %1, found: %2 (of them under another letter case: %3), missing: %4")
                 .arg(filesNamed)
                 .arg(filesFound)
                 .arg(filesFoundOtherCase)
                 .arg(missing.size());
    if (listMissing)
        for (const MissingFile &m : missing)
            lines << QStringLiteral("  ") + m.line();
    lines << QStringLiteral("records whose type is not in Catalog: %1 (kept; the tree has no type for them)").arg(recordsWithoutType);
    lines << QStringLiteral("record numbers held by more than one record: %1 (%2 records; kept, each its own record)")
                 .arg(duplicateNumbers)
                 .arg(recordsSharingNumbers);
    lines << QStringLiteral("type names held more than once, letter case ignored: %1 (kept)").arg(duplicateTypeNames);
    lines << QStringLiteral("cells without a value: %1, empty texts: %2 (kept as they were)").arg(nullValues).arg(emptyTexts);
    if (operatorNotes.isEmpty())
        lines << QStringLiteral("operators: nothing to note");
    for (const QString &n : operatorNotes)
        lines << n;
    if (!otherTables.isEmpty())
        lines << QStringLiteral("tables of the file that are no part of the archive, not imported: %1")
                     .arg(otherTables.join(QStringLiteral(", ")));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace importing
