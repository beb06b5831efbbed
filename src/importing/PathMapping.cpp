#include "importing/PathMapping.h"

#include "archive/ArchiveCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QVarLengthArray>

#include <algorithm>

namespace importing {

namespace {

// Longer than any path the system here can name: PATH_MAX bytes, and a character is at least one.
constexpr qsizetype kLongestPath = 4096;

QString joined(const QString &folder, const QString &name)
{
    return folder == QLatin1String("/") ? QLatin1Char('/') + name : folder + QLatin1Char('/') + name;
}

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

PathMapper::PathMapper(QVector<PathPrefix> prefixes, const store::Rights &lookAs)
    : m_prefixes(std::move(prefixes)), m_lookAs(lookAs)
{
    m_folders << Folder{QStringLiteral("/"), QString(), true};
    // The longest prefix that fits wins: "D:\病案\2001" before "D:\病案".
    std::stable_sort(m_prefixes.begin(), m_prefixes.end(),
                     [](const PathPrefix &a, const PathPrefix &b) { return a.from.size() > b.from.size(); });
}

QString PathMapper::applyPrefix(const QString &path, bool *mapped) const
{
    QVarLengthArray<QChar, 256> head;
    for (const PathPrefix &p : m_prefixes) {
        const qsizetype n = p.from.size();
        if (path.size() < n)
            continue;
        head.resize(n);
        bool asGiven = true; // letter for letter as the prefix was given: no case to fold
        for (qsizetype i = 0; i < n; ++i) {
            head[i] = path.at(i) == QLatin1Char('\\') ? QLatin1Char('/') : path.at(i);
            asGiven = asGiven && head[i] == p.from.at(i);
        }
        if (!asGiven && QStringView(head.constData(), n).compare(p.from, Qt::CaseInsensitive) != 0)
            continue;
        const bool slashNext = path.size() > n && (path.at(n) == QLatin1Char('/') || path.at(n) == QLatin1Char('\\'));
        if (path.size() > n && !slashNext && !p.from.endsWith(QLatin1Char('/')))
            continue;
        *mapped = true;
        // The folder, a slash, and the rest with its backslashes turned into slashes.
        const bool root = p.to == QLatin1String("/");
        QString out;
        out.reserve(p.to.size() + 1 + path.size() - n);
        if (!root)
            out += p.to;
        if (path.size() == n)
            return root ? p.to : out;
        if (!slashNext)
            out += QLatin1Char('/');
        const qsizetype from = out.size();
        out += QStringView(path).mid(n);
        QChar *c = out.data();
        for (qsizetype i = from; i < out.size(); ++i)
            if (c[i] == QLatin1Char('\\'))
                c[i] = QLatin1Char('/');
        return out;
    }
    *mapped = false;
    return path;
}

QStringList PathMapper::namesLike(const QString &folder, const QString &name)
{
    if (folder != m_lastListed) {
        auto listing = m_listings.constFind(folder);
        if (listing == m_listings.cend()) {
            QHash<QString, QStringList> names;
            QStringList entries;
            {
                const store::ActingWith as(m_lookAs);
                if (as.ok())
                    entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            }
            for (const QString &e : entries)
                names[e.toCaseFolded()] << e;
            listing = m_listings.insert(folder, names);
        }
        m_lastListed = folder;
        m_lastListing = *listing;
    }
    return m_lastListing.value(name.toCaseFolded());
}

// Nothing is there for a look that cannot be made with the rights given.
PathMapper::Look PathMapper::look(const QString &path) const
{
    const store::ActingWith as(m_lookAs);
    if (!as.ok())
        return Look::Nothing;
    const QFileInfo info(path);
    return info.isDir() ? Look::Folder : info.exists() ? Look::Other : Look::Nothing;
}

QString PathMapper::whyMissing(const QString &path) const
{
    const store::ActingWith as(m_lookAs);
    return as.ok() ? store::missingReason(path) : QStringLiteral("not found");
}

QString PathMapper::caseBlind(const QStringList &same, QString *why)
{
    if (same.size() == 1)
        return same.first();
    *why = same.isEmpty() ? QStringLiteral("not found")
                          : QStringLiteral("not found as named; %1 names there differ from it only in letter case").arg(same.size());
    return QString();
}

// One step down from a folder that is there: the name as written, else the one name there
// that differs from it only in letter case.
PathMapper::Folder PathMapper::step(const Folder &up, const QString &name)
{
    Folder f;
    const QString exact = joined(up.real, name);
    const Look there = look(exact);
    if (there == Look::Folder) {
        f.real = exact;
        f.asSpelled = up.asSpelled;
        return f;
    }
    f.asSpelled = false;
    if (there == Look::Other) {
        f.why = QStringLiteral("not found");
        return f;
    }
    const QString real = caseBlind(namesLike(up.real, name), &f.why);
    if (real.isEmpty())
        return f;
    if (look(joined(up.real, real)) == Look::Folder)
        f.real = joined(up.real, real);
    else
        f.why = QStringLiteral("not found");
    return f;
}

// The folder a mapped path names, walked down from "/" one name at a time, each step
// remembered; nothing under a folder that is not there is looked for.
int PathMapper::folder(const QString &path)
{
    const auto known = m_written.constFind(path);
    if (known != m_written.cend())
        return *known;
    int at = 0;
    for (const QStringView part : QStringView(path).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (m_folders.at(at).real.isEmpty())
            break;
        const QPair<int, QString> key(at, part.toString());
        auto next = m_steps.constFind(key);
        if (next == m_steps.cend()) {
            const Folder below = step(m_folders.at(at), key.second);
            m_folders << below;
            next = m_steps.insert(key, int(m_folders.size() - 1));
        }
        at = *next;
    }
    m_written.insert(path, at);
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
    r.found = MappedPath::Missing;
    if (target.size() > kLongestPath) {
        r.why = QStringLiteral("not found");
        return r;
    }
    qsizetype end = target.size();
    while (end > 0 && target.at(end - 1) == QLatin1Char('/'))
        --end;
    if (end == 0) { // "/" itself
        r.why = whyMissing(target);
        if (r.why.isEmpty())
            r.found = MappedPath::Exact;
        return r;
    }
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'), end - 1);
    const QString name = target.mid(slash + 1, end - slash - 1);
    // The folder of the path before is most often this one too (a record's photos, and
    // the records in the order they were made).
    const QStringView written = QStringView(target).left(qMax<qsizetype>(slash, 0));
    if (m_lastFolder < 0 || written != m_lastWritten) {
        m_lastWritten = written.toString();
        m_lastFolder = folder(m_lastWritten);
    }
    const Folder &f = m_folders.at(m_lastFolder);
    if (f.real.isEmpty()) {
        r.why = f.why;
        return r;
    }
    // The folder's names are read once: a name not among them is not there, without asking
    // the disk for each file (most of an archive's files share a few thousand folders).
    const bool dots = name == QLatin1String(".") || name == QLatin1String("..");
    const QStringList same = dots ? QStringList{name} : namesLike(f.real, name);
    QString why;
    QString real = name;
    if (same.contains(name)) {
        const QString file = f.asSpelled ? target : joined(f.real, name);
        why = whyMissing(file);
        if (why.isEmpty() && f.asSpelled) {
            r.found = MappedPath::Exact;
            return r;
        }
    } else {
        real = caseBlind(same, &why);
        if (!real.isEmpty())
            why = whyMissing(joined(f.real, real));
    }
    if (!why.isEmpty()) {
        r.why = why;
        return r;
    }
    real = joined(f.real, real);
    r.found = MappedPath::OtherCase;
    r.stored = real;
    m_otherCase.insert(target, real);
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
