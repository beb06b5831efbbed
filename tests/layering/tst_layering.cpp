// The layers of src/ as the build declares them (each folder's CMakeLists.txt, after
// USES), held against what the code includes: an include runs only to a subsystem the
// folder uses, directly or through the subsystems it uses.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Layers = QMap<QString, QStringList>; // folder -> the folders it declares it uses

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The declarations of every folder of src/ that has code; a folder with code and none, or
// a use of a folder that declares nothing, is a problem.
Layers declaredLayers(const QDir &src, QStringList &problems)
{
    static const QRegularExpression call(QStringLiteral("casearchive_(?:subsystem|layer)\\(([^)]*)\\)"));
    static const QRegularExpression comment(QStringLiteral("#[^\\n]*"));
    Layers layers;
    const QStringList folders = src.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &folder : folders) {
        QString text = readText(src.filePath(folder + QStringLiteral("/CMakeLists.txt")));
        text.remove(comment);
        const QRegularExpressionMatch m = call.match(text);
        if (!m.hasMatch()) {
            if (!QDir(src.filePath(folder)).entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files).isEmpty())
                problems << QStringLiteral("%1 declares no layer").arg(folder);
            continue;
        }
        const QStringList words = m.captured(1).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        QStringList uses;
        bool inUses = false;
        for (const QString &w : words.mid(1)) {
            if (w == w.toUpper() && w.at(0).isLetter())
                inUses = w == QLatin1String("USES");
            else if (inUses)
                uses << w;
        }
        layers.insert(folder, uses);
    }
    for (auto it = layers.cbegin(); it != layers.cend(); ++it)
        for (const QString &used : it.value())
            if (!layers.contains(used))
                problems << QStringLiteral("%1 uses %2, which declares no layer").arg(it.key(), used);
    return layers;
}

// Every folder a folder may include: those it uses and, through them, those they use.
QSet<QString> reachable(const Layers &layers, const QString &from)
{
    QSet<QString> seen;
    QStringList todo = layers.value(from);
    while (!todo.isEmpty()) {
        const QString next = todo.takeLast();
        if (!seen.contains(next)) {
            seen.insert(next);
            todo += layers.value(next);
        }
    }
    return seen;
}

QStringList layeringProblems(const QString &srcPath)
{
    const QDir src(srcPath);
    QStringList problems;
    const Layers layers = declaredLayers(src, problems);
    for (auto it = layers.cbegin(); it != layers.cend(); ++it)
        if (reachable(layers, it.key()).contains(it.key()))
            problems << QStringLiteral("%1 uses itself through the subsystems it uses").arg(it.key());

    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s*\"([^\"]*)\""));
    for (auto it = layers.cbegin(); it != layers.cend(); ++it) {
        const QString &folder = it.key();
        const QSet<QString> allowed = reachable(layers, folder);
        QDirIterator files(src.filePath(folder), {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                           QDirIterator::Subdirectories);
        QStringList found;
        while (files.hasNext())
            found << files.next();
        found.sort();
        for (const QString &file : std::as_const(found)) {
            const QStringList lines = readText(file).split(QLatin1Char('\n'));
            for (int i = 0; i < lines.size(); ++i) {
                const QString target = include.match(lines.at(i)).captured(1);
                const QString used = target.section(QLatin1Char('/'), 0, 0);
                const QString where = QStringLiteral("%1:%2").arg(src.relativeFilePath(file)).arg(i + 1);
                if (target.startsWith(QLatin1String("../")))
                    problems << QStringLiteral("%1 includes %2 by a relative path").arg(where, target);
                else if (target.contains(QLatin1Char('/')) && used != folder && layers.contains(used)
                         && !allowed.contains(used))
                    problems << QStringLiteral("%1 includes %2, but %3 does not use %4").arg(where, target, folder, used);
            }
        }
    }
    return problems;
}

void write(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace

class TestLayering : public QObject {
    Q_OBJECT
private slots:
    void sourceTreeKeepsItsLayers()
    {
        const QStringList problems = layeringProblems(QStringLiteral(CASEARCHIVE_SOURCE_DIR));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    // The check itself: a tree with one include upward, one sideways to a subsystem of the
    // same floor, one through a relative path, and one allowed through a subsystem used.
    void includesOutsideTheDeclaredUsesAreNamed()
    {
        QTemporaryDir dir;
        const QString src = dir.path();
        write(src + "/store/CMakeLists.txt", "# the bottom\ncasearchive_subsystem(store\n  LIBS Qt6::Sql)\n");
        write(src + "/trail/CMakeLists.txt", "casearchive_subsystem(trail USES store)\n");
        write(src + "/archive/CMakeLists.txt", "casearchive_subsystem(archive USES trail PRIVATE_LIBS x)\n");
        write(src + "/common/CMakeLists.txt", "casearchive_subsystem(common USES store)\n");
        write(src + "/render/CMakeLists.txt", "casearchive_layer(render USES common)\nadd_executable(r main.cpp)\n");
        write(src + "/store/Database.cpp", "#include \"store/Database.h\"\n\n#include \"trail/History.h\"\n");
        write(src + "/archive/Backup.cpp", "#include \"store/Database.h\"\n#include \"trail/History.h\"\n#include <QString>\n");
        write(src + "/common/Module1.cpp", "#include \"common/Module1.h\"\n#include \"archive/Backup.h\"\n");
        write(src + "/render/main.cpp", "#include \"../store/Database.h\"\n#include \"common/Module1.h\"\n");
        QCOMPARE(layeringProblems(src),
                 QStringList({QStringLiteral("common/Module1.cpp:2 includes archive/Backup.h, but common does not use archive"),
                              QStringLiteral("render/main.cpp:1 includes ../store/Database.h by a relative path"),
                              QStringLiteral("store/Database.cpp:3 includes trail/History.h, but store does not use trail")}));
    }

    void declarationsMustBeCompleteAndRunOneWay()
    {
        QTemporaryDir dir;
        const QString src = dir.path();
        write(src + "/store/CMakeLists.txt", "casearchive_subsystem(store USES trail)\n");
        write(src + "/trail/CMakeLists.txt", "casearchive_subsystem(trail USES store scan)\n");
        write(src + "/scan/Scanner.cpp", "\n");
        QCOMPARE(layeringProblems(src),
                 QStringList({QStringLiteral("scan declares no layer"),
                              QStringLiteral("trail uses scan, which declares no layer"),
                              QStringLiteral("store uses itself through the subsystems it uses"),
                              QStringLiteral("trail uses itself through the subsystems it uses")}));
    }
};

QTEST_GUILESS_MAIN(TestLayering)
#include "tst_layering.moc"
