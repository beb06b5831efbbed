#include "store/SearchFilter.h"

#include "store/Dialect.h"
#include "store/PageText.h"
#include "store/SearchIndex.h"

#include <QStringList>

namespace store {

QString containsPattern(const QString &text)
{
    QString p;
    p.reserve(text.size() + 4);
    p += QLatin1Char('%');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '*': p += QLatin1Char('%'); break;
        case '?': p += QLatin1Char('_'); break;
        case '%':
        case '_':
        case '\\':
            p += QLatin1Char('\\');
            p += c;
            break;
        default: p += c;
        }
    }
    p += QLatin1Char('%');
    return p;
}

QString SearchFilter::sqlCondition(const Dialect &dialect) const
{
    if (isEmpty())
        return QString();
    QStringList parts;
    const auto add = [&parts, &dialect](bool chosen, const char *column) {
        if (chosen)
            parts << dialect.containsText(QString::fromUtf8(column));
    };
    add(inName, "\"文件名\"");
    add(inPath, "\"路径名\"");
    add(inDescription, "\"文件说明\"");
    add(inType, "type_name");
    if (inPageText)
        parts << (pageTextReadable ? pageTextCondition(dialect, text, pagePairs) : QStringLiteral("1 = 0"));
    const QString condition = QStringLiteral(" AND (") + parts.join(QStringLiteral(" OR ")) + QLatin1Char(')');
    if (recordPairs.isEmpty())
        return condition;
    return QStringLiteral(" AND ") + recordCandidates(dialect, *this) + condition;
}

QVariantList SearchFilter::boundValues() const
{
    // The values are the same on either engine.
    const Dialect &dialect = Dialect::of(Backend::SQLite);
    QVariantList values;
    if (!recordPairs.isEmpty())
        values += recordCandidateValues(dialect, *this);
    const QString pattern = containsPattern(text);
    for (bool chosen : {inName, inPath, inDescription, inType})
        if (chosen)
            values << pattern;
    if (inPageText && pageTextReadable)
        values += pageTextValues(dialect, text, pagePairs);
    return values;
}

} // namespace store
