#include "importing/PathMapping.h"

#include "archive/ArchiveCheck.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace importing {

namespace {
QString slashed(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}
} // namespace

bool parsePathPrefix(const QString &text, PathPrefix &out, QString *why)
{
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0 || eq == text.size() - 1) {
        if (why)
            *why = QStringLiteral("--map-path takes WINDOWS-PREFIX=FOLDER, for example 'D:\\病案=/srv/病案文件'");
        return false;
    }
    out.from = slashed(text.left(eq));
    while (out.from.size() > 1 && out.from.endsWith(QLatin1Char('/')))
        out.from.chop(1);
    out.to = text.mid(eq + 1);
    while (out.to.size() > 1 && out.to.endsWith(QLatin1Char('/')))
        out.to.chop(1);
    if (!out.to.startsWith(QLatin1Char('/'))) {
        if (why)
            *why = QStringLiteral("--map-path: the folder after '=' must be an absolute path (%1)").arg(out.to);
        return false;
    }
    return true;
}

PathMapper::PathMapper(QVector<PathPrefix> prefixes) : m_prefixes(std::move(prefixes))
{
    // The longest prefix that fits wins: "D:\病案\2001" before "D:\病案".
    std::stable_sort(m_prefixes.begin(), m_prefixes.end(),
                     [](const PathPrefix &a, const PathPrefix &b) { return a.from.size() > b.from.size(); });
}

QString PathMapper::applyPrefix(const QString &path, bool *mapped) const
{
    const QString s = slashed(path);
    for (const PathPrefix &p : m_prefixes) {
        if (s.size() < p.from.size() || !s.startsWith(p.from, Qt::CaseInsensitive))
            continue;
        if (s.size() > p.from.size() && s.at(p.from.size()) != QLatin1Char('/') && !p.from.endsWith(QLatin1Char('/')))
            continue;
        *mapped = true;
        const QString rest = s.mid(p.from.size());
        if (p.to == QLatin1String("/"))
            return rest.startsWith(QLatin1Char('/')) ? rest : QLatin1Char('/') + rest;
        return p.to + (rest.isEmpty() || rest.startsWith(QLatin1Char('/')) ? rest : QLatin1Char('/') + rest);
    }
    *mapped = false;
    return path;
}

QString PathMapper::caseBlind(const QString &path, QString *why)
{
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString at = QStringLiteral("/");
    for (const QString &part : parts) {
        const QString exact = QDir(at).filePath(part);
        if (QFileInfo::exists(exact)) {
            at = exact;
            continue;
        }
        auto folder = m_folders.find(at);
        if (folder == m_folders.end()) {
            QHash<QString, QStringList> names;
            const QStringList entries = QDir(at).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            for (const QString &e : entries)
                names[e.toCaseFolded()] << e;
            folder = m_folders.insert(at, names);
        }
        const QStringList same = folder->value(part.toCaseFolded());
        if (same.size() != 1) {
            *why = same.isEmpty() ? QStringLiteral("not found")
                                  : QStringLiteral("not found as named; %1 names there differ from it only in letter case")
                                        .arg(same.size());
            return QString();
        }
        at = QDir(at).filePath(same.first());
    }
    return at;
}

MappedPath PathMapper::map(const QString &path)
{
    MappedPath r;
    r.stored = path;
    if (path.trimmed().isEmpty()) {
        r.why = QStringLiteral("no path given");
        return r;
    }
    bool mapped = false;
    const QString target = applyPrefix(path, &mapped);
    if (!mapped && !path.startsWith(QLatin1Char('/'))) {
        r.found = MappedPath::Unmapped;
        r.why = QStringLiteral("a Windows path no --map-path prefix matches; kept as it was");
        return r;
    }
    r.stored = target;
    QString why = store::missingReason(target);
    if (why.isEmpty()) {
        r.found = MappedPath::Exact;
        return r;
    }
    if (why == QLatin1String("not found")) {
        const QString real = caseBlind(target, &why);
        if (!real.isEmpty()) {
            const QString realWhy = store::missingReason(real);
            if (realWhy.isEmpty()) {
                r.found = MappedPath::OtherCase;
                r.stored = real;
                m_otherCase.insert(target, real);
                return r;
            }
            why = realWhy;
        }
    }
    r.found = MappedPath::Missing;
    r.why = why;
    return r;
}

QString PathMapper::storedAgain(const QString &path) const
{
    if (path.trimmed().isEmpty())
        return path;
    bool mapped = false;
    const QString target = applyPrefix(path, &mapped);
    if (!mapped && !path.startsWith(QLatin1Char('/')))
        return path;
    return m_otherCase.value(target, target);
}

} // namespace importing
