// The documents' commands, links and pictures. Every command of a shell block in README.md
// and docs/*.md is run here as it is written, by the rules docs/development.md states ("The
// documents and their pictures"), or is one that another test or script runs, named below
// with a line of its source that shows it does; a command in neither fails with its
// document, line and text. A document whose commands drift from the program breaks the suite.
#include "Jet3Writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSource = QStringLiteral(CASEARCHIVE_SOURCE_DIR);

// Commands that another test or script runs, with the file that runs them and a line of it
// that shows it does.
struct RunElsewhere {
    const char *command;
    const char *by;
    const char *file;
    const char *witness;
};
const RunElsewhere kRunElsewhere[] = {
    {"scripts/test", ".ci/run, on every clean clone", ".ci/run", "exec bash scripts/test"},
    {"scripts/deps", "scripts/test, which sources it", "scripts/test", "source \"$top/scripts/deps\""},
    {"cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DCASEARCHIVE_SANITIZE=ON -DCASEARCHIVE_TESTS=ON",
     "scripts/test", "scripts/test",
     "cmake -S \"$top\" -B \"$build\" -DCMAKE_BUILD_TYPE=Debug -DCASEARCHIVE_SANITIZE=ON -DCASEARCHIVE_TESTS=ON"},
    {"ctest -R '^(install|package)_'", "scripts/test's ctest, as install_* and package_deb", "cmake/InstallTests.cmake",
     "add_test(NAME package_deb"},
    {"sudo cmake --install build/package", "install_files, into a scratch prefix", "cmake/tests/CheckInstall.cmake",
     "\"${CMAKE_COMMAND}\" --install \"${BUILD_DIR}\" --prefix"},
};

// The scripts that build a tree of their own, optimised, for a person: a whole build is more
// than a test may cost. They are checked to be there, executable and valid shell.
const QStringList kForPeople = {QStringLiteral("scripts/run"), QStringLiteral("scripts/bench"),
                                QStringLiteral("scripts/package"), QStringLiteral("scripts/docs")};

// What this test runs: on the scratch machine, the admin tool and the commands an
// administrator runs around it; in the source tree, a developer's build and test commands.
const QStringList kScratchPrograms = {QStringLiteral("casearchive-admin"), QStringLiteral("psql"),
                                      QStringLiteral("createuser"), QStringLiteral("createdb"),
                                      QStringLiteral("dropdb"), QStringLiteral("grep"),
                                      QStringLiteral("sed"), QStringLiteral("install"),
                                      QStringLiteral("chmod"), QStringLiteral("mv")};
const QStringList kSourcePrograms = {QStringLiteral("cd"), QStringLiteral("cmake --build"), QStringLiteral("ctest"),
                                     QStringLiteral("./tst_"), QStringLiteral("bash -c 'source scripts/pgserver")};

// Typed at every question: a password, and the same again.
const QByteArray kTyped = "Geheim-1\nGeheim-1\n";
const QString kFixtureBackup = QStringLiteral("/media/backup/病案备份-20240607-153012");

struct Command {
    int line = 0;
    QString text;    // as written, its lines joined
    QString comment; // after its #
};

struct Block {
    int line = 0;
    QString language;
    QString before; // <!-- before: ... --> just above it
    QVector<Command> commands;
};

struct Document {
    QString name; // README.md, docs/x.md
    QStringList lines;
    QVector<Block> blocks;
};

QString normalised(const QString &text) { return text.simplified(); }

// Splits at a separator outside quotes; what a shell does, for the cases the documents use.
QStringList splitOutsideQuotes(const QString &text, const QRegularExpression &separator)
{
    QStringList parts;
    QChar quote;
    int start = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            continue;
        }
        const QRegularExpressionMatch m = separator.match(text, i, QRegularExpression::NormalMatch,
                                                          QRegularExpression::AnchorAtOffsetMatchOption);
        if (m.hasMatch()) {
            parts << text.mid(start, i - start);
            start = i + int(m.capturedLength());
            i = start - 1;
        }
    }
    parts << text.mid(start);
    return parts;
}

// A command and the comment after its # (outside quotes), and whether a quote is left open.
struct Split {
    QString code;
    QString comment;
    bool open = false;
};
Split splitComment(const QString &text)
{
    Split s;
    QChar quote;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull())
            quote = c == quote ? QChar() : quote;
        else if (c == QLatin1Char('\'') || c == QLatin1Char('"'))
            quote = c;
        else if (c == QLatin1Char('#') && i > 0 && text.at(i - 1).isSpace()) {
            s.code = text.left(i).trimmed();
            s.comment = text.mid(i + 1).trimmed();
            return s;
        }
    }
    s.code = text.trimmed();
    s.open = !quote.isNull();
    return s;
}

Document readDocument(const QString &name)
{
    Document d;
    d.name = name;
    QFile f(QDir(kSource).filePath(name));
    if (f.open(QIODevice::ReadOnly))
        d.lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    static const QRegularExpression fence(QStringLiteral("^\\s*```\\s*(\\S*)\\s*$"));
    static const QRegularExpression before(QStringLiteral("^\\s*<!-- before: (.*) -->\\s*$"));
    for (int i = 0; i < d.lines.size(); ++i) {
        const QRegularExpressionMatch open = fence.match(d.lines[i]);
        if (!open.hasMatch())
            continue;
        Block b;
        b.line = i + 1;
        b.language = open.captured(1);
        if (i > 0) {
            const QRegularExpressionMatch m = before.match(d.lines[i - 1]);
            if (m.hasMatch())
                b.before = m.captured(1);
        }
        Command current;
        QString joint; // how the next line joins on: a blank after a backslash, a line break in quotes
        for (++i; i < d.lines.size() && !fence.match(d.lines[i]).hasMatch(); ++i) {
            if (b.language != QLatin1String("sh"))
                continue;
            const QString line = d.lines[i].trimmed();
            if (current.text.isEmpty() && (line.isEmpty() || line.startsWith(QLatin1Char('#'))))
                continue;
            if (current.text.isEmpty())
                current.line = i + 1;
            current.text += joint + line;
            const Split split = splitComment(current.text);
            if (split.open) {
                joint = QStringLiteral("\n");
                continue;
            }
            joint = QStringLiteral(" ");
            if (split.code.endsWith(QLatin1Char('\\'))) {
                current.text = split.code.chopped(1).trimmed();
                continue;
            }
            if (split.code.endsWith(QLatin1Char('|')) || split.code.endsWith(QLatin1String("&&"))) {
                current.text = split.code;
                continue;
            }
            current.text = split.code;
            current.comment = split.comment;
            b.commands << current;
            current = Command();
            joint.clear();
        }
        d.blocks << b;
    }
    return d;
}

QStringList documentNames()
{
    QStringList names{QStringLiteral("README.md")};
    for (const QString &f : QDir(kSource + QStringLiteral("/docs")).entryList({QStringLiteral("*.md")}, QDir::Files, QDir::Name))
        names << QStringLiteral("docs/") + f;
    return names;
}

// The words of a command that say what runs: without variables set before it, sudo, or
// a pipeline's and a list's later parts.
QStringList programsOf(const QString &command)
{
    QStringList programs;
    for (QString part : splitOutsideQuotes(command, QRegularExpression(QStringLiteral("\\|\\||&&|\\||;")))) {
        part = part.trimmed();
        part.remove(QRegularExpression(QStringLiteral("^(\\(\\s*)?(\\w+=\\S*\\s+)*(sudo\\s+(-u\\s+\\w+\\s+)?)?")));
        programs << part;
    }
    return programs;
}

bool runsAs(const QString &program, const QStringList &allowed)
{
    for (const QString &a : allowed)
        if (program == a || program.startsWith(a + QLatin1Char(' ')) || (a.endsWith(QLatin1Char('_')) && program.startsWith(a))
            || (a.startsWith(QLatin1String("bash -c")) && program.startsWith(a)))
            return true;
    return false;
}

// GitHub's anchors: lower case, punctuation but - and _ dropped, blanks turned into -.
QString anchorOf(QString heading)
{
    heading = heading.toLower();
    heading.remove(QRegularExpression(QStringLiteral("[^\\p{L}\\p{M}\\p{N}_ -]")));
    heading.replace(QLatin1Char(' '), QLatin1Char('-'));
    return heading;
}

QStringList anchorsOf(const Document &d)
{
    QStringList anchors;
    bool inBlock = false;
    for (const QString &line : d.lines) {
        if (line.trimmed().startsWith(QLatin1String("```")))
            inBlock = !inBlock;
        static const QRegularExpression heading(QStringLiteral("^#{1,6}\\s+(.*?)\\s*$"));
        const QRegularExpressionMatch m = heading.match(line);
        if (!inBlock && m.hasMatch())
            anchors << anchorOf(m.captured(1));
    }
    return anchors;
}

struct Run {
    int exitCode = -1;
    QString output;
};

Run runShell(const QString &command, const QString &folder, const QProcessEnvironment &environment)
{
    QProcess p;
    p.setProcessEnvironment(environment);
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    // A session of its own: a question goes to standard input, never to the terminal of
    // whoever runs the tests.
    p.start(QStringLiteral("setsid"), {QStringLiteral("--wait"), QStringLiteral("bash"), QStringLiteral("-o"),
                                       QStringLiteral("pipefail"), QStringLiteral("-c"), command});
    Run r;
    if (!p.waitForStarted(30000))
        return r;
    p.write(kTyped);
    p.closeWriteChannel();
    if (!p.waitForFinished(600000)) {
        p.kill();
        p.waitForFinished();
        r.output = QStringLiteral("(did not finish in 10 minutes)\n");
    }
    r.output += QString::fromUtf8(p.readAll());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool writeText(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
}

} // namespace

class TestDocuments : public QObject {
    Q_OBJECT

    QVector<Document> m_documents;

    // The scratch machine of a run, and the names that stand for the server's.
    QString m_root;
    QString m_socket, m_superuser, m_database, m_archivist, m_clerk;
    bool m_server = false;

    static bool inSourceTree(const Document &d)
    {
        return d.name == QLatin1String("README.md") || d.name == QLatin1String("docs/development.md");
    }

    // What becomes of a command: run elsewhere, a script for people, run here, or nothing.
    enum class Fate { Elsewhere, ForPeople, RunHere, Unknown };
    static Fate fateOf(const Document &d, const Command &c)
    {
        for (const RunElsewhere &r : kRunElsewhere)
            if (normalised(c.text) == QLatin1String(r.command))
                return Fate::Elsewhere;
        if (kForPeople.contains(programsOf(c.text).first().section(QLatin1Char(' '), 0, 0)))
            return Fate::ForPeople;
        for (const QString &program : programsOf(c.text))
            if (!runsAs(program, inSourceTree(d) ? kSourcePrograms : kScratchPrograms))
                return Fate::Unknown;
        return Fate::RunHere;
    }

    // Only what this test may run: a command of another kind fails everyCommandIsRunByATest
    // and is never started.
    static QVector<QPair<const Block *, const Command *>> commandsRunHere(const Document &d)
    {
        QVector<QPair<const Block *, const Command *>> here;
        for (const Block &b : d.blocks)
            for (const Command &c : b.commands)
                if (fateOf(d, c) == Fate::RunHere)
                    here << qMakePair(&b, &c);
        return here;
    }

    QString place(const char *where) const { return m_root + QString::fromUtf8(where); }

    QString failure(const Document &d, const Command &c, const QString &why) const
    {
        return QStringLiteral("%1:%2: %3\n  %4").arg(d.name).arg(c.line).arg(why, c.text);
    }

    // The rules of docs/development.md: what a command becomes on the scratch machine.
    QString onScratchMachine(QString c) const
    {
        c.replace(QRegularExpression(QStringLiteral("(^|[|&;(]\\s*)sudo\\s+(-u\\s+postgres\\s+)?")), QStringLiteral("\\1"));
        c.replace(QRegularExpression(QStringLiteral("(^|[\\s'\"])/(?=[\\p{L}\\p{N}_.])")), QStringLiteral("\\1") + m_root + QLatin1Char('/'));
        // The folder an import maps Windows paths onto: 'D:\病案=/srv/病案文件'.
        c.replace(QRegularExpression(QStringLiteral("(--map-path\\s+'[^'=]*=)/")), QStringLiteral("\\1") + m_root + QLatin1Char('/'));
        c.replace(QRegularExpression(QStringLiteral("-g casearchive\\b")),
                  QStringLiteral("-g ") + QString::fromLocal8Bit(getgrgid(getgid())->gr_name));
        const QString address = QStringLiteral("postgresql:///%1?host=%2").arg(m_database, m_socket);
        QRegularExpressionMatch m;
        static const QRegularExpression server(QStringLiteral("postgresql://dbserver/casearchive(\\?([^'\"\\s]*))?"));
        while ((m = server.match(c)).hasMatch())
            c.replace(m.capturedStart(), m.capturedLength(),
                      address + (m.captured(2).isEmpty() ? QString() : QLatin1Char('&') + m.captured(2)));
        c.replace(QRegularExpression(QStringLiteral("\\b((?:createdb|dropdb)\\b[^&|;]*?)\\bcasearchive(?=\\s*($|&&|\\|\\||;))")),
                  QStringLiteral("\\1") + m_database);
        c.replace(QRegularExpression(QStringLiteral("\\barchivist\\b")), m_archivist);
        c.replace(QRegularExpression(QStringLiteral("\\bclerk\\b")), m_clerk);
        return c;
    }

    static bool needsServer(const QString &command)
    {
        return command.contains(QLatin1String("postgresql://dbserver"))
            || command.contains(QRegularExpression(QStringLiteral("\\b(createuser|createdb|dropdb|psql)\\b")));
    }

    QProcessEnvironment scratchEnvironment() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("HOME"), place("/root"));
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), place("/root/.config"));
        e.insert(QStringLiteral("XDG_CONFIG_DIRS"), place("/etc/xdg"));
        e.insert(QStringLiteral("PATH"), place("/var/lib/casearchive:") + e.value(QStringLiteral("PATH")));
        e.insert(QStringLiteral("PGHOST"), m_socket);
        e.insert(QStringLiteral("PGUSER"), m_superuser);
        e.insert(QStringLiteral("PGDATABASE"), QStringLiteral("postgres"));
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return e;
    }

    void dropServerNames() const
    {
        if (!m_server)
            return;
        runShell(QStringLiteral("psql -q -c 'DROP DATABASE IF EXISTS %1 WITH (FORCE)' -c 'DROP ROLE IF EXISTS %2, %3'")
                     .arg(m_database, m_archivist, m_clerk),
                 m_root, scratchEnvironment());
    }

    // What the administrator's text assumes is there already: the installed tool with its
    // helpers, a verified backup, the backup folders, two users' settings, the earlier
    // system's archive with its files.
    QString prepareScratchMachine()
    {
        const QString tools = place("/var/lib/casearchive");
        QDir().mkpath(tools);
        for (const char *tool : {"casearchive-admin", "casearchive-ocr", "casearchive-jet"})
            if (!QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(tool),
                             tools + QLatin1Char('/') + QLatin1String(tool)))
                return QStringLiteral("cannot copy %1 into the scratch machine").arg(QLatin1String(tool));
        for (const char *folder : {"/root", "/tmp", "/etc/xdg", "/var/backups/casearchive", "/mnt/backupdisk/casearchive",
                                   "/media/backup"})
            QDir().mkpath(place(folder));
        for (const char *user : {"/home/ward1", "/home/ward2"})
            writeText(place(user) + QStringLiteral("/.config/casearchive.conf"),
                      QStringLiteral("[Backup]\nPath=/media/backup\n\n[Data]\nPath=/var/lib/casearchive/Data/file.dat\n"));

        const QProcessEnvironment e = scratchEnvironment();
        const QString demo = place("/srv/演示/file.dat");
        for (const QString &step : {QStringLiteral("casearchive-admin demo %1 --records 3 --types 2").arg(demo),
                                    QStringLiteral("casearchive-admin backup %1 %2 --with-files").arg(demo, place("/media/backup"))}) {
            const Run r = runShell(step, m_root, e);
            if (r.exitCode != 0)
                return QStringLiteral("%1 failed (%2):\n%3").arg(step).arg(r.exitCode).arg(r.output);
        }
        const QString earlier = makeEarlierArchive(demo);
        if (!earlier.isEmpty())
            return earlier;
        // Run as root, the tools write what records name with the office group's rights, as
        // nobody: the scratch machine's shared folder is the group's to write, as an office's is.
        if (::geteuid() == 0) {
            ::chmod(QFile::encodeName(m_root).constData(), 0755);
            QStringList shared{place("/srv")};
            for (QDirIterator it(place("/srv"), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                 QDirIterator::Subdirectories);
                 it.hasNext();)
                shared << it.next();
            for (const QString &f : std::as_const(shared))
                ::chmod(QFile::encodeName(f).constData(), QFileInfo(f).isDir() ? 0777 : 0666);
        }
        const QStringList made = QDir(place("/media/backup")).entryList({QStringLiteral("病案备份-*")}, QDir::Dirs);
        if (made.size() != 1 || !QDir().rename(place("/media/backup/") + made.first(), m_root + kFixtureBackup))
            return QStringLiteral("the scratch machine's backup was not made: %1").arg(made.join(QLatin1Char(' ')));
        dropServerNames();
        return QString();
    }

    // The earlier system's archive the office copied over (~/file-earlier.dat), in code page
    // 936, and the files its records name under a drive letter and a share, copied onto this
    // machine's shared folder; one spelled there in other letter case.
    QString makeEarlierArchive(const QString &demo) const
    {
        const QString photos = QFileInfo(demo).absolutePath() + QStringLiteral("/file_files/");
        const QPair<const char *, const char *> files[] = {{"病历摘要_01.txt", "/srv/旧病案/2001/病历摘要.txt"},
                                                           {"照片_640x480.jpg", "/srv/旧病案/2001/照片1.jpg"},
                                                           {"照片_小_320x240.bmp", "/srv/共享/X光/Photo2.BMP"}};
        for (const auto &f : files) {
            QDir().mkpath(QFileInfo(place(f.second)).absolutePath());
            if (!QFile::copy(photos + QString::fromUtf8(f.first), place(f.second)))
                return QStringLiteral("cannot copy %1 into the scratch machine's shared folder").arg(QString::fromUtf8(f.first));
        }
        using C = testing::JetColumnSpec;
        const QString none;
        QVector<testing::JetTableSpec> t{
            {QStringLiteral("Catalog"), {C{QStringLiteral("Name")}},
             {testing::jetRow({QStringLiteral("外科")}), testing::jetRow({QStringLiteral("内科")})}},
            {QStringLiteral("Detail"),
             {C{QStringLiteral("type_Name")}, C{QStringLiteral("病案号"), false, 50}, C{QStringLiteral("文件名")},
              C{QStringLiteral("路径名")}, C{QStringLiteral("文件说明"), true, 0}},
             {testing::jetRow({QStringLiteral("外科"), QStringLiteral("20010001"), QStringLiteral("张三"),
                               QStringLiteral("D:\\病案\\2001\\病历摘要.txt"), QStringLiteral("入院记录\r\n出院记录")}),
              testing::jetRow({QStringLiteral("内科"), QStringLiteral("20010002"), QStringLiteral("李四"), none, none})}},
            {QStringLiteral("photo"), {C{QStringLiteral("病案号"), false, 50}, C{QStringLiteral("照片")}},
             {testing::jetRow({QStringLiteral("20010001"), QStringLiteral("d:\\病案\\2001\\照片1.jpg")}),
              testing::jetRow({QStringLiteral("20010002"), QStringLiteral("\\\\server\\share\\x光\\photo2.bmp")})}},
            {QStringLiteral("User"),
             {C{QStringLiteral("UID"), false, 50}, C{QStringLiteral("PWD"), false, 50}, C{QStringLiteral("权限"), false, 50}},
             {testing::jetRow({QStringLiteral("管理员"), QString(QLatin1String("")), QStringLiteral("超级权限")})}}};
        testing::writeJet3(place("/root/file-earlier.dat"), t);
        return QFileInfo(place("/root/file-earlier.dat")).size() > 0 ? QString()
                                                                     : QStringLiteral("the earlier archive was not written");
    }

    // The command the nightly service runs, as its unit says with its default settings.
    static QString serviceCommand()
    {
        const QString unit = readText(kSource + QStringLiteral("/resources/systemd/casearchive-backup.service.in"));
        QString exec;
        QHash<QString, QString> values;
        for (QString line : unit.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("ExecStart=")))
                exec = line.mid(10);
            if (line.startsWith(QLatin1String("Environment="))) {
                line = line.mid(12).remove(QLatin1Char('"'));
                values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
            }
        }
        exec.replace(QStringLiteral("@CASEARCHIVE_ADMIN@"), QStringLiteral("casearchive-admin"));
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            exec.replace(QStringLiteral("${%1}").arg(it.key()), it.value()).replace(QLatin1Char('$') + it.key(), it.value());
        return exec;
    }

private slots:
    void initTestCase()
    {
        for (const QString &name : documentNames())
            m_documents << readDocument(name);
        QVERIFY(m_documents.size() >= 5);
    }

    void everyBlockSaysWhatItHolds()
    {
        QStringList wrong;
        for (const Document &d : std::as_const(m_documents))
            for (const Block &b : d.blocks)
                if (!QStringList{QStringLiteral("sh"), QStringLiteral("ini"), QStringLiteral("text")}.contains(b.language))
                    wrong << QStringLiteral("%1:%2: a block of \"%3\" (sh, ini or text)").arg(d.name).arg(b.line).arg(b.language);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    }

    void linksAndPicturesLeadSomewhere()
    {
        QHash<QString, QStringList> anchors;
        for (const Document &d : std::as_const(m_documents))
            anchors.insert(QDir::cleanPath(d.name), anchorsOf(d));
        static const QRegularExpression link(QStringLiteral("(!?)\\[[^\\]]*\\]\\(([^)\\s]+)\\)"));
        QStringList broken;
        for (const Document &d : std::as_const(m_documents)) {
            const QString folder = QFileInfo(d.name).path();
            for (int i = 0; i < d.lines.size(); ++i) {
                for (const QRegularExpressionMatch &m : link.globalMatch(d.lines[i])) {
                    const QString target = m.captured(2);
                    if (target.contains(QLatin1String("://")) || target.startsWith(QLatin1String("mailto:")))
                        continue;
                    const QString file = target.section(QLatin1Char('#'), 0, 0);
                    const QString anchor = target.section(QLatin1Char('#'), 1);
                    const QString path = file.isEmpty() ? d.name : QDir::cleanPath(folder + QLatin1Char('/') + file);
                    if (!QFileInfo::exists(QDir(kSource).filePath(path)))
                        broken << QStringLiteral("%1:%2: %3 is not there").arg(d.name).arg(i + 1).arg(target);
                    else if (!anchor.isEmpty() && !anchors.value(path).contains(anchor))
                        broken << QStringLiteral("%1:%2: %3 has no heading #%4").arg(d.name).arg(i + 1).arg(path, anchor);
                }
            }
        }
        QVERIFY2(broken.isEmpty(), qPrintable(broken.join(QLatin1Char('\n'))));
    }

    // Each command is run, run elsewhere, or one of the scripts for people; nothing else.
    void everyCommandIsRunByATest()
    {
        QStringList wrong;
        for (const Document &d : std::as_const(m_documents))
            for (const Block &b : d.blocks)
                for (const Command &c : b.commands)
                    switch (fateOf(d, c)) {
                    case Fate::Elsewhere:
                        for (const RunElsewhere &r : kRunElsewhere)
                            if (normalised(c.text) == QLatin1String(r.command)
                                && !readText(QDir(kSource).filePath(QLatin1String(r.file))).contains(QLatin1String(r.witness)))
                                wrong << failure(d, c, QStringLiteral("said to be run by %1, whose %2 no longer shows it")
                                                           .arg(QLatin1String(r.by), QLatin1String(r.file)));
                        break;
                    case Fate::ForPeople: {
                        const QString script = QDir(kSource).filePath(programsOf(c.text).first().section(QLatin1Char(' '), 0, 0));
                        QProcess syntax;
                        syntax.start(QStringLiteral("bash"), {QStringLiteral("-n"), script});
                        if (!QFileInfo(script).isExecutable() || !syntax.waitForFinished(30000) || syntax.exitCode() != 0)
                            wrong << failure(d, c, QStringLiteral("%1 is not an executable, valid script").arg(script));
                        break;
                    }
                    case Fate::RunHere:
                        break;
                    case Fate::Unknown:
                        wrong << failure(d, c, QStringLiteral("run by no test"));
                        break;
                    }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    }

    void theCommandsRun_data()
    {
        QTest::addColumn<int>("document");
        for (int i = 0; i < m_documents.size(); ++i)
            if (!commandsRunHere(m_documents[i]).isEmpty())
                QTest::newRow(qPrintable(m_documents[i].name)) << i;
    }

    void theCommandsRun()
    {
        QFETCH(int, document);
        const Document &d = m_documents[document];
        const bool inSource = inSourceTree(d);
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        m_root = scratch.path();
        const QString server = qEnvironmentVariable("CASEARCHIVE_TEST_SERVER");
        m_server = !server.isEmpty();
        m_socket = QRegularExpression(QStringLiteral("host=([^&]+)")).match(server).captured(1);
        m_superuser = QRegularExpression(QStringLiteral("user=([^&]+)")).match(server).captured(1);
        const QString pid = QString::number(QCoreApplication::applicationPid());
        m_database = QStringLiteral("casearchive_docs_") + pid;
        m_archivist = QStringLiteral("archivist_") + pid;
        m_clerk = QStringLiteral("clerk_") + pid;

        const QVector<QPair<const Block *, const Command *>> toRun = commandsRunHere(d);
        if (!inSource) {
            const QString problem = prepareScratchMachine();
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
        const auto dropNames = qScopeGuard([this, inSource] {
            if (!inSource)
                dropServerNames();
        });

        QString binary = QCoreApplication::applicationDirPath();
        const bool usual = QFileInfo(kSource + QStringLiteral("/build/test")).canonicalFilePath()
            == QFileInfo(binary).canonicalFilePath();
        QString folder = inSource ? kSource : m_root;
        const Block *lastBlock = nullptr;
        QStringList skipped;
        for (const auto &[block, c] : std::as_const(toRun)) {
            if (block != lastBlock) {
                folder = inSource ? kSource : m_root; // a cd holds to the end of its block
                lastBlock = block;
                if (!block->before.isEmpty() && (!needsServer(block->before) || m_server)) {
                    const Run r = runShell(onScratchMachine(block->before), folder, scratchEnvironment());
                    QVERIFY2(r.exitCode == 0, qPrintable(QStringLiteral("%1:%2: before the block, %3 failed:\n%4")
                                                             .arg(d.name).arg(block->line).arg(block->before, r.output)));
                }
            }
            if (!inSource && needsServer(c->text) && !m_server) {
                skipped << QStringLiteral("%1:%2").arg(d.name).arg(c->line);
                continue;
            }
            if (c->comment.contains(QLatin1String("casearchive-backup.service")))
                QVERIFY2(normalised(c->text).remove(QRegularExpression(QStringLiteral("^sudo "))) == serviceCommand(),
                         qPrintable(failure(d, *c, QStringLiteral("is not what the service runs: ") + serviceCommand())));
            QString command = c->text;
            if (inSource && !usual)
                command.replace(QStringLiteral("build/test"), binary);
            else if (!inSource)
                command = onScratchMachine(command);
            if (inSource && command.startsWith(QLatin1String("cd "))) {
                folder = QDir(folder).absoluteFilePath(command.mid(3).trimmed());
                QVERIFY2(QFileInfo(folder).isDir(), qPrintable(failure(d, *c, QStringLiteral("no such folder"))));
                continue;
            }
            const QRegularExpressionMatch code = QRegularExpression(QStringLiteral("exit code (\\d+)")).match(c->comment);
            const int expected = code.hasMatch() ? code.captured(1).toInt() : 0;
            const Run r = runShell(command, folder, inSource ? QProcessEnvironment::systemEnvironment() : scratchEnvironment());
            QVERIFY2(r.exitCode == expected,
                     qPrintable(failure(d, *c, QStringLiteral("exited %1, not %2; as run:\n  %3\n%4")
                                                   .arg(r.exitCode).arg(expected).arg(command, r.output))));
            qInfo("%s:%d: ran, exit code %d", qPrintable(d.name), c->line, r.exitCode);
        }

        // The users' files keep the [Backup] Path the text says the sed leaves alone.
        if (!inSource && d.lines.join(QLatin1Char('\n')).contains(QLatin1String("sed -i '/^\\[Data\\]/")))
            for (const char *user : {"/home/ward1", "/home/ward2"}) {
                const QString settings = readText(place(user) + QStringLiteral("/.config/casearchive.conf"));
                QVERIFY2(settings.contains(QLatin1String("[Backup]\nPath=/media/backup")) && settings.count(QLatin1String("Path=")) == 1,
                         qPrintable(settings));
            }
        if (!skipped.isEmpty())
            QSKIP(qPrintable(QStringLiteral("commands that need the test server (scripts/pgserver) were left out: ")
                             + skipped.join(QLatin1Char(' '))));
    }
};

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"
