// casearchive-admin: prepares archive files for the program, and lets an office back into
// an archive it has locked itself out of.
#include "access/OperatorAccount.h"
#include "admin/BackupCommands.h"
#include "admin/ImportCommand.h"
#include "admin/Usage.h"
#include "admin/OcrCommand.h"
#include "access/Password.h"
#include "common/Installation.h"
#include "common/Module1.h"
#include "archive/Archive.h"
#include "archive/ArchiveCheck.h"
#include "archive/Backup.h"
#include "archive/BackupManifest.h"
#include "archive/BackupSet.h"
#include "store/Database.h"
#include "store/PageText.h"
#include "store/SearchIndex.h"
#include "trail/History.h"
#include "archive/Restore.h"
#include "store/Settings.h"
#include "store/Statements.h"
#include "store/TrailStatements.h"
#include "archive/Transfer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <termios.h>

// From <unistd.h>, whose access() would clash with the namespace access.
extern "C" int isatty(int fd);

namespace {
const char *const kUsage =
    "usage:\n"
    "  casearchive-admin init [PATH]\n"
    "      prepare a new, empty archive file at PATH with the operator 管理员\n"
    "      (empty password, level 超级权限); without PATH the program's default archive,\n"
    "      which for an installed program is /var/lib/casearchive/Data/file.dat, shared\n"
    "      with the members of the group casearchive (run it as root); the archive's\n"
    "      folders are rwxrws--- and its files rw-rw----, group casearchive; elsewhere the\n"
    "      file is its owner's alone (rw-------)\n"
    "  casearchive-admin init ADDRESS --print-grants ROLE\n"
    "      print the SQL that gives the server's login role ROLE (the workstations' login)\n"
    "      only the rights the program needs on the archive at ADDRESS; the database's\n"
    "      owner runs it, for example with psql\n"
    "  casearchive-admin secure [PATH]\n"
    "      tighten the permissions of an existing archive (default: the program's own),\n"
    "      its journals and its folder so that only the records office can read them\n"
    "  casearchive-admin where\n"
    "      show where the program looks for its default archive and INFORMATION.INI\n"
    "  casearchive-admin demo PATH --records N [--types T] [--files FOLDER]\n"
    "      prepare a demonstration archive with N records in T record types (default 12);\n"
    "      its attached files and photos go into FOLDER, by default a folder beside PATH\n"
    "      (PATH_files without its extension), for a server address DATABASE_files in\n"
    "      the current folder\n"
    "  casearchive-admin operator PATH NAME [--password P] [--level L]\n"
    "      in the existing archive at PATH, add the operator NAME, or reset the password\n"
    "      and the level of the operator NAME (letter case ignored); the password\n"
    "      defaults to the empty one, the level to 超级权限, the one that may manage\n"
    "      operators. NAME then logs in with exactly P. --password - asks for it at the\n"
    "      terminal (twice, not shown) or reads the first line of standard input, so\n"
    "      that it never stands in the process list or the shell's history\n"
    "  casearchive-admin upgrade PATH [--rebuild-index]\n"
    "      bring an archive made by an earlier version to the current one: adds the\n"
    "      trail of changes, the recycle bin and the archive's identity, once, and\n"
    "      builds the search index (showing how far it is); the four old tables stay\n"
    "      as they are. The program adds the tables to a file itself, but only this\n"
    "      command builds its index; a server's database is upgraded by its owner\n"
    "      with this command, which gives the logins that may add records (the\n"
    "      workstations') their rights on the new tables in the same step; the table\n"
    "      of the photos' words comes with the grants printed again and run.\n"
    "      --rebuild-index builds the index anew, for one that check found not to\n"
    "      fit the records. Other workstations wait to save while the index is built\n"
    "  casearchive-admin check PATH [--trail-mark ENTRY:HASH]\n"
    "      examine an archive: integrity, tables, row counts, the trail's hash chain\n"
    "      (naming the first entry that does not fit), the search index compared\n"
    "      with the records, the records whose type is not in Catalog, and the\n"
    "      records whose attached file or photo is missing.\n"
    "      It prints the trail's newest entry as a mark; given a mark noted earlier,\n"
    "      the trail must still hold that entry unchanged, which shows newest entries\n"
    "      taken out and a trail written anew, as the chain alone cannot.\n"
    "      PATH a backup folder (or the archive file inside one): the archive and every\n"
    "      copied file compared with the sizes and SHA-256 of the backup's checksum list,\n"
    "      anything in the folder the list does not account for reported; it prints\n"
    "      whose archive the backup holds and when it was made, and writes nothing.\n"
    "      Exit code 0 when all is well, 1 when damaged (archive, copy or checksum list)\n"
    "      or no archive, 3 when files are missing, 4 when PATH is the earlier\n"
    "      system's archive (a Jet file), which is to be imported\n"
    "  casearchive-admin copy FROM TO [--replace-unfinished]\n"
    "      copy the archive FROM into a new archive TO, and verify the copy: the row\n"
    "      counts of every table and every cell compared byte for byte with its original;\n"
    "      a value TO cannot hold exactly, or a column it does not know, refuses the copy\n"
    "      before anything is written.\n"
    "      --replace-unfinished first removes what a copy to TO that was cut short left\n"
    "      (TO.unfinished, or a server database marked unfinished). Either may be\n"
    "      a file or a PostgreSQL server address such as\n"
    "      postgresql://dbserver/casearchive?user=clerk; TO must be a file that does not\n"
    "      exist yet, or an empty database (createdb on the server). A copy that fails or\n"
    "      does not verify is removed again. The trail, the recycle bin, the photos'\n"
    "      words and the archive's identity go with it, and the copy's trail records\n"
    "      the copy\n"
    "  casearchive-admin backup ARCHIVE FOLDER [--with-files] [--keep N] [--owner-only]\n"
    "      back up ARCHIVE into a new dated folder inside FOLDER, verified as the backup\n"
    "      window does, with its checksum list; --with-files also copies the attached\n"
    "      files and photos and the scan folder's files; run as root it reads them with\n"
    "      the rights of the archive's group, never root's. The backup is the group's to\n"
    "      read and nobody's but its owner's to change (--owner-only: its owner's alone).\n"
    "      --keep N then keeps the newest N backups of this archive made in FOLDER (by the\n"
    "      time each records) and removes older ones that still pass their check, only\n"
    "      once the new one is verified; other folders are never touched. Ctrl+C or\n"
    "      SIGTERM stops it, leaving nothing of it. Exit code 0 verified, 3 verified but\n"
    "      files the records name were missing, 1 no backup made (or an old one could\n"
    "      not be removed), 130 stopped\n"
    "  casearchive-admin restore BACKUP [TARGET] [--replace] [--files-to FOLDER] [--trust-backup]\n"
    "      check the backup, then write its archive to TARGET (default: the program's\n"
    "      archive) and put its copied files back where the restored records name them\n"
    "      (or under FOLDER), never over an existing file nor through a symbolic link.\n"
    "      An existing archive file (of this archive or, it says so, of another) is\n"
    "      replaced only with --replace or when the question is answered yes, and then\n"
    "      moved aside with its journal, never deleted. Run as root it asks before it\n"
    "      follows a backup that others than root could have changed (--trust-backup:\n"
    "      yes). A restore cut short is finished or rolled back by the next one into the\n"
    "      same TARGET. TARGET may be an empty database on a server. Exit code 0 done,\n"
    "      3 done but files not all put back, 1 nothing restored. The restored archive's\n"
    "      trail records the restore\n"
    "  casearchive-admin ocr PATH [--batch N]\n"
    "      read the words on every photo of the archive's records, so that the search\n"
    "      finds records by them (the box 照片文字); shows each photo as it is read.\n"
    "      Photos read before are skipped unless their file changed (SHA-256); a photo\n"
    "      that cannot be read is recorded with the reason. Ctrl+C or SIGTERM stops it\n"
    "      within a moment, the photos under way left for the next run, which goes on.\n"
    "      Each N photos (default 4) are read by one helper process under limits of\n"
    "      time and memory. On a server the tables' owner runs it first (it makes the\n"
    "      table page_text). Exit code 0 all\n"
    "      read, 3 some could not be read, 130 stopped\n"
    "  casearchive-admin import OLD.dat TARGET [--encoding CP936] [--map-path 'D:\\病案=/srv/病案文件' ...]\n"
    "                                [--replace-unfinished] [--report FILE]\n"
    "      import the earlier system's archive (its Jet file Data\\file.dat, Access 97 or\n"
    "      2000) into the new archive TARGET (a file that does not exist yet, or an empty\n"
    "      database on a server), every row of its four tables in their stored order;\n"
    "      then read the Jet file a second time and compare every cell before the archive\n"
    "      counts. Text is decoded in the code page given by --encoding, else the one the\n"
    "      file records; a text that does not decode stops the import, naming its row.\n"
    "      --map-path maps the Windows paths of attached files and photos onto a folder\n"
    "      here (the prefix matched with letter case ignored; a file not there is looked\n"
    "      up with letter case ignored). Passwords stay in the earlier form, which the\n"
    "      login opens and upgrades. The report lists the missing files (into FILE with\n"
    "      --report). Ctrl+C or SIGTERM stops it, leaving nothing of it. Exit code 0\n"
    "      verified, 3 verified but files missing, 1 nothing imported, 130 stopped\n"
    "PATH may be a server address wherever an archive is named (init prepares the\n"
    "tables in an existing, empty database); the password never goes into the address\n"
    "but into ~/.pgpass.\n"
    "An existing file is never overwritten.\n";


// The machine's archive is made for the group of its users: the folder gets the group
// before the file exists, so the office never holds an archive that only root may change.
int initArchiveAt(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const bool machine = folder == QFileInfo(app::machineFolder() + QStringLiteral("/Data")).absoluteFilePath();
    auto refuse = [](const QString &problem) {
        std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(problem));
        if (!app::runningAsRoot())
            std::fputs("casearchive-admin: the machine's archive is prepared by root: sudo casearchive-admin init\n", stderr);
        return 1;
    };
    if (machine) {
        // The machine's folder first: the Data folder inside is reached through it.
        for (const QString &f : {app::machineFolder(), folder}) {
            const QString problem = app::shareFolderWithGroup(f, app::kArchiveGroup);
            if (!problem.isEmpty())
                return refuse(problem);
        }
    }
    store::initArchive(path);
    if (machine) {
        const QString problem = app::shareFileWithGroup(path, app::kArchiveGroup);
        if (!problem.isEmpty())
            return refuse(problem);
    }
    std::printf("prepared %s\n", qPrintable(path));
    if (machine)
        std::printf("members of the group %s may change it; add a user with: sudo adduser USER %s\n",
                    qPrintable(app::kArchiveGroup), qPrintable(app::kArchiveGroup));
    return 0;
}

int secure(const QString &path)
{
    if (!QFileInfo(path).isFile()) {
        std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(QStringLiteral("找不到病案数据库文件“%1”。").arg(path)));
        return 1;
    }
    QStringList problems;
    const QStringList done = app::secureArchive(path, problems);
    for (const QString &line : done)
        std::printf("%s\n", qPrintable(line));
    for (const QString &problem : std::as_const(problems))
        std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(problem));
    if (!problems.isEmpty() && !app::runningAsRoot())
        std::fputs("casearchive-admin: the machine's archive is secured by root: sudo casearchive-admin secure\n", stderr);
    return problems.isEmpty() ? 0 : 1;
}

int where()
{
    const QString archive = app::defaultDatabasePath();
    const QString marker = app::installationFolder() + QStringLiteral("/INFORMATION.INI");
    std::printf("archive: %s (%s)\n", qPrintable(archive), QFileInfo(archive).isFile() ? "present" : "missing");
    std::printf("marker:  %s (%s)\n", qPrintable(marker), QFileInfo(marker).isFile() ? "present" : "absent");
    return 0;
}

// Builds the search index in a transaction of its own, with a progress line on the
// terminal (a line every tenth elsewhere).
void buildIndexShowingProgress(store::Connection &c, bool again)
{
    const bool terminal = isatty(fileno(stderr)) == 1;
    int shown = -100;
    QElapsedTimer clock;
    clock.start();
    store::Transaction t(c);
    const int built = store::buildSearchIndex(c, again, [&](const store::SearchIndexProgress &p) {
        const int percent = p.total > 0 ? int(100 * p.done / p.total) : 100;
        if (terminal ? percent == shown : percent / 10 == shown / 10)
            return;
        shown = percent;
        std::fprintf(stderr, "%sbuilding the search index of the %s: %d%%%s", terminal ? "\r" : "",
                     p.which == store::IndexedText::Records ? "records" : "photos' words", percent, terminal ? "   " : "\n");
        std::fflush(stderr);
    });
    t.commit();
    if (terminal && shown >= 0)
        std::fputs("\n", stderr);
    if (built > 0)
        std::printf("built the search index in %.1f s: %.1f MB\n", clock.elapsed() / 1000.0,
                    double(store::searchIndexBytes(c)) / (1 << 20));
}

int upgrade(const QString &path, bool rebuildIndex)
{
    if (!store::isServerAddress(path) && !QFileInfo(path).isFile()) {
        std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(QStringLiteral("找不到病案数据库文件“%1”。").arg(path)));
        return 1;
    }
    store::Connection c(path);
    if (!store::isArchive(c)) {
        std::fprintf(stderr, "casearchive-admin: %s\n",
                     qPrintable(QStringLiteral("“%1”不是病案数据库，没有升级。").arg(path)));
        return 1;
    }
    const int before = store::schemaVersion(c);
    if (before > store::kCurrentSchemaVersion) {
        std::fprintf(stderr, "casearchive-admin: %s is at schema version %d, newer than this tool's %d; nothing changed\n",
                     qPrintable(path), before, store::kCurrentSchemaVersion);
        return 1;
    }
    store::Transaction t(c);
    const bool changed = store::upgradeSchema(c);
    const QStringList roles = changed ? store::grantTrailToWorkstations(c) : QStringList();
    t.commit();
    if (changed) {
        QStringList added;
        added << (before < 2 ? QStringLiteral("added the trail of changes, the recycle bin, the archive's identity and "
                                              "the search index")
                             : QStringLiteral("added the archive's identity and the search index"));
        added << QStringLiteral("the recycle bin keeps every byte of the records it holds");
        if (store::isServerAddress(path))
            added << QStringLiteral("the server numbers and chains the trail's entries itself");
        std::printf("upgraded %s from schema version %d to %d: %s\n", qPrintable(path), before,
                    store::kCurrentSchemaVersion, qPrintable(added.join(QStringLiteral("; "))));
        if (!roles.isEmpty())
            std::printf("gave the workstations' logins their rights on the new tables: %s\n",
                        qPrintable(roles.join(QStringLiteral(", "))));
        else if (store::isServerAddress(path))
            std::printf("no login has rights on the archive yet: print the grants with\n"
                        "  casearchive-admin init ADDRESS --print-grants ROLE\n"
                        "and run them as the database's owner\n");
    }
    // A file upgraded by the program itself has the index's tables but not the index.
    const bool ready = store::searchIndexState(c, store::IndexedText::Records) == store::SearchIndexState::Ready
        && (!store::hasPageTextTable(c)
            || store::searchIndexState(c, store::IndexedText::Pages) == store::SearchIndexState::Ready);
    if (!changed && ready && !rebuildIndex) {
        std::printf("%s is at schema version %d already, its search index built; nothing changed\n", qPrintable(path),
                    before);
        return 0;
    }
    buildIndexShowingProgress(c, rebuildIndex);
    return 0;
}

// Copies with a progress line on the terminal (a line every tenth elsewhere).
int copyArchive(const QString &from, const QString &to, bool replaceUnfinished)
{
    const bool terminal = isatty(fileno(stderr)) == 1;
    int shown = -100;
    const store::Actor actor = store::adminToolActor();
    const auto noteCopy = [&](store::Connection &c) {
        store::Change change;
        change.kind = store::ChangeKind::ArchiveCopied;
        change.subject = store::maskPasswords(from);
        change.detail = QStringLiteral("复制自“%1”，每一格已逐字节核对").arg(store::maskPasswords(from));
        store::appendHistory(c, actor, change);
    };
    const store::TransferResult r = store::copyArchive(from, to, [&](const store::TransferProgress &p) {
        const int percent = p.total > 0 ? int(100 * p.done / p.total) : 100;
        if (terminal ? percent != shown : percent / 10 != shown / 10) {
            shown = percent;
            std::fprintf(stderr, "%s%s %s: %d%%%s",
                         terminal ? "\r" : "", p.stage == store::TransferProgress::Copy ? "copying" : "verifying",
                         qPrintable(p.table), percent, terminal ? "   " : "\n");
            std::fflush(stderr);
        }
        return true;
    }, replaceUnfinished, noteCopy);
    if (terminal && shown >= 0)
        std::fputs("\n", stderr);
    if (r.outcome != store::TransferResult::Verified) {
        std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(store::maskPasswords(r.error)));
        return 1;
    }
    std::printf("copied %s to %s and verified: %lld record types, %lld records, %lld photos, %lld operators, "
                "every cell the same, byte for byte\n",
                qPrintable(from), qPrintable(to), r.counts.catalog, r.counts.detail, r.counts.photo, r.counts.user);
    std::printf("with the trail's %lld entries and the recycle bin's %lld records; the copy's trail records the copy\n",
                r.counts.history, r.counts.bin);
    return 0;
}


// A password given as "-": typed at the terminal without echo (twice), or the first line
// of standard input. On the command line it would stand in the process list for every
// account of the PC to read, and in the shell's history. Returns a problem in words.
QString passwordFromInput(QString &password)
{
    constexpr qsizetype kMaxLine = 1024; // far above any password the archive takes
    const bool terminal = isatty(fileno(stdin)) == 1;
    auto readLine = [terminal](const char *prompt, QByteArray &line, bool &tooLong) {
        termios saved{};
        const bool hidden = terminal && tcgetattr(fileno(stdin), &saved) == 0;
        if (terminal) {
            std::fputs(prompt, stderr);
            std::fflush(stderr);
        }
        if (hidden) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            tcsetattr(fileno(stdin), TCSAFLUSH, &quiet);
        }
        line.clear();
        tooLong = false;
        bool any = false;
        for (int c; (c = std::fgetc(stdin)) != EOF;) {
            any = true;
            if (c == '\n')
                break;
            if (line.size() < kMaxLine)
                line += char(c);
            else
                tooLong = true;
        }
        if (hidden) {
            tcsetattr(fileno(stdin), TCSAFLUSH, &saved);
            std::fputs("\n", stderr);
        }
        if (line.endsWith('\r'))
            line.chop(1);
        return any;
    };
    QByteArray first;
    bool tooLong = false;
    if (!readLine("password: ", first, tooLong))
        return QStringLiteral("no password on standard input (--password - reads its first line)");
    if (tooLong)
        return QStringLiteral("the password on standard input is too long");
    if (terminal) {
        QByteArray again;
        if (!readLine("again: ", again, tooLong) || again != first)
            return QStringLiteral("两次口令不符，请重新再来");
    }
    password = QString::fromUtf8(first);
    return QString();
}

// Started by the backup service, cron or sudo there is no XDG_RUNTIME_DIR, and Qt warns
// about it at every start: in a backup's log that reads like a fault every night. The tool
// keeps nothing in that folder, so the warning says nothing about its work.
QtMessageHandler g_qtHandler = nullptr;
void quietAboutTheRuntimeFolder(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: "))
        && (text.contains(QLatin1String("XDG_RUNTIME_DIR")) || text.contains(QLatin1String("runtime directory"))))
        return;
    if (g_qtHandler)
        g_qtHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

bool parseCount(const QString &text, int &out, int minimum)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < minimum)
        return false;
    out = v;
    return true;
}
} // namespace

int usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "casearchive-admin: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

int main(int argc, char *argv[])
{
    // Drawing the demo photos needs fonts, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_qtHandler = qInstallMessageHandler(quietAboutTheRuntimeFolder);
    QGuiApplication application(argc, argv);
    QStringList args = QGuiApplication::arguments();
    args.removeFirst();
    if (args.isEmpty())
        return usage(nullptr);
    if (args.first() == QLatin1String("-h") || args.first() == QLatin1String("--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("where"))
        return args.isEmpty() ? where() : usage("where takes nothing");
    if ((command == QLatin1String("init") || command == QLatin1String("secure")) && args.isEmpty())
        args << app::defaultDatabasePath();
    if (args.isEmpty())
        return usage("missing PATH");
    const QString path = args.takeFirst();

    try {
        if (command == QLatin1String("init")) {
            if (args.size() == 2 && args.first() == QLatin1String("--print-grants")) {
                if (!store::isServerAddress(path))
                    return usage("--print-grants needs a server ADDRESS");
                const QString role = args.at(1);
                if (role.trimmed().isEmpty() || role.contains(QChar(0)))
                    return usage("--print-grants needs a ROLE");
                std::fputs(store::serverGrants(path, role).join(QLatin1Char('\n')).toUtf8().constData(), stdout);
                std::fputs("\n", stdout);
                return 0;
            }
            if (!args.isEmpty())
                return usage("init takes only PATH (or ADDRESS --print-grants ROLE)");
            return initArchiveAt(path);
        }
        if (command == QLatin1String("secure")) {
            if (!args.isEmpty())
                return usage("secure takes only PATH");
            return secure(path);
        }
        if (command == QLatin1String("copy")) {
            const bool replace = args.removeAll(QStringLiteral("--replace-unfinished")) > 0;
            if (args.size() != 1 || args.first().startsWith(QLatin1String("--")))
                return usage("copy takes FROM and TO, and --replace-unfinished");
            return copyArchive(path, args.first(), replace);
        }
        if (command == QLatin1String("upgrade")) {
            const bool rebuild = args.removeAll(QStringLiteral("--rebuild-index")) > 0;
            if (!args.isEmpty())
                return usage("upgrade takes only PATH and --rebuild-index");
            return upgrade(path, rebuild);
        }
        if (command == QLatin1String("backup"))
            return backupCommand(path, args);
        if (command == QLatin1String("restore"))
            return restoreCommand(path, args);
        if (command == QLatin1String("check")) {
            std::optional<store::TrailMark> noted;
            if (args.size() == 2 && args.first() == QLatin1String("--trail-mark")) {
                noted = store::parseTrailMark(args.last());
                if (!noted)
                    return usage("--trail-mark takes the mark a check printed: ENTRY:HASH (64 hex digits)");
                args.clear();
            }
            if (!args.isEmpty())
                return usage("check takes PATH, and --trail-mark ENTRY:HASH");
            const QString backup = store::isServerAddress(path) ? QString() : store::backupFolderOf(path);
            if (!backup.isEmpty()) {
                const store::BackupReport report = store::checkBackup(backup, noted);
                std::fputs(report.text().toUtf8().constData(), stdout);
                return report.exitCode();
            }
            const store::ArchiveReport report = store::checkArchive(path, true, noted);
            std::fputs(report.text().toUtf8().constData(), stdout);
            return report.exitCode();
        }
        if (command == QLatin1String("demo")) {
            store::DemoOptions options;
            bool haveRecords = false;
            while (!args.isEmpty()) {
                const QString flag = args.takeFirst();
                if (args.isEmpty())
                    return usage("an option lacks its value");
                const QString value = args.takeFirst();
                if (flag == QLatin1String("--records")) {
                    if (!parseCount(value, options.records, 0))
                        return usage("--records takes a whole number of 0 or more");
                    haveRecords = true;
                } else if (flag == QLatin1String("--types")) {
                    if (!parseCount(value, options.types, 1))
                        return usage("--types takes a whole number of 1 or more");
                } else if (flag == QLatin1String("--files")) {
                    options.filesFolder = value;
                } else {
                    return usage("unknown option");
                }
            }
            if (!haveRecords)
                return usage("demo needs --records N");
            store::makeDemoArchive(path, options);
            const QString files = options.filesFolder.isEmpty() ? store::demoFilesFolder(path)
                                                                : QFileInfo(options.filesFolder).absoluteFilePath();
            std::printf("prepared %s with %d records in %d types, their files and photos in %s\n", qPrintable(path),
                        options.records, options.types, qPrintable(files));
            return 0;
        }
        if (command == QLatin1String("ocr"))
            return ocrCommand(path, args);
        if (command == QLatin1String("import"))
            return importCommand(path, args);
        if (command == QLatin1String("operator")) {
            if (args.isEmpty())
                return usage("operator needs PATH NAME");
            const QString name = args.takeFirst();
            QString password;
            QString level = access::kRecoveryLevel;
            while (!args.isEmpty()) {
                const QString flag = args.takeFirst();
                if (args.isEmpty())
                    return usage("an option lacks its value");
                const QString value = args.takeFirst();
                if (flag == QLatin1String("--password") && value == QLatin1String("-")) {
                    const QString problem = passwordFromInput(password);
                    if (!problem.isEmpty()) {
                        std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(problem));
                        return 1;
                    }
                } else if (flag == QLatin1String("--password")) {
                    password = value;
                } else if (flag == QLatin1String("--level")) {
                    level = value;
                } else {
                    return usage("unknown option");
                }
            }
            const access::AccountChange change = access::setOperatorAccount(path, name, password, level);
            std::printf("%s operator %s in %s, level %s, %s password\n",
                        change == access::AccountChange::Added ? "added" : "reset", qPrintable(access::trimBlanks(name)),
                        qPrintable(path), qPrintable(level), access::trimBlanks(password).isEmpty() ? "empty" : "new");
            return 0;
        }
        return usage("unknown command");
    } catch (const store::StoreError &e) {
        std::fprintf(stderr, "casearchive-admin: %s\n", qPrintable(e.description()));
        return 1;
    }
}
