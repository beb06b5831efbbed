#include "Jet3Writer.h"
#include "TempArchive.h"

#include "access/Password.h"
#include "archive/Transfer.h"
#include "importing/JetImport.h"
#include "jet/JetReader.h"
#include "store/SearchIndex.h"
#include "store/StoredRows.h"
#include "trail/History.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

#include <atomic>

using namespace importing;
using testing::JetTableSpec;

// The earlier system's archive, as a Jet 3 file in code page 936, imported onto the
// engine of the run and compared cell by cell with what the import should have kept:
// Windows paths under two drive letters and a share mapped onto folders here, names found
// only with letter case ignored, a record whose type is not in Catalog, numbers held
// twice, cells without values, empty texts, CR LF in descriptions and thirteen operators
// in the earlier password form. Then files that must not import.
class TestImport : public QObject {
    Q_OBJECT

    struct Earlier {
        QString jet;
        QString files; // the shared folder the paths map onto
        QVector<QStringList> rows[4]; // Catalog, Detail, photo, User as the archive should hold them
        QVector<QPair<QString, QString>> passwords; // name, typed
    };

    static QString touch(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        return path;
    }

    static QVector<JetTableSpec> tables(QVector<QStringList> jetRows[4], bool withDescription = true)
    {
        using C = testing::JetColumnSpec;
        QVector<JetTableSpec> t(4);
        t[0] = {QStringLiteral("Catalog"), {C{QStringLiteral("Name")}}, {}};
        t[1] = {QStringLiteral("Detail"),
                {C{QStringLiteral("type_Name")}, C{QStringLiteral("病案号"), false, 50}, C{QStringLiteral("文件名")},
                 C{QStringLiteral("路径名")}},
                {}};
        if (withDescription)
            t[1].columns << C{QStringLiteral("文件说明"), true, 0};
        t[2] = {QStringLiteral("photo"), {C{QStringLiteral("病案号"), false, 50}, C{QStringLiteral("照片")}}, {}};
        t[3] = {QStringLiteral("User"), {C{QStringLiteral("UID"), false, 50}, C{QStringLiteral("PWD"), false, 50}, C{QStringLiteral("权限"), false, 50}}, {}};
        for (int k = 0; k < 4; ++k)
            for (const QStringList &r : jetRows[k])
                t[k].rows << testing::jetRow(withDescription || k != 1 ? r : r.mid(0, 4));
        return t;
    }

    static Earlier makeEarlier(const QString &dir)
    {
        Earlier e;
        e.jet = dir + QStringLiteral("/file.dat");
        e.files = dir + QStringLiteral("/共享文件夹");
        QVector<QStringList> jet[4];
        const QStringList types{QStringLiteral("外科"), QStringLiteral("内科"), QStringLiteral("Eye"), QStringLiteral("EYE"),
                                QStringLiteral("儿科")};
        for (const QString &t : types) {
            jet[0] << QStringList{t};
            e.rows[0] << QStringList{t};
        }
        for (int i = 0; i < 300; ++i) {
            const QString number = QStringLiteral("0101010%1").arg(i == 10 || i == 11 ? 9 : i, 5, 10, QLatin1Char('0'));
            QString type = i == 7 ? QStringLiteral("不存在的类型") : types.at(i % 5);
            QString name = QStringLiteral("病人%1").arg(i);
            QString description = QStringLiteral("第一行\r\n第二行 %1").arg(i);
            QString path, stored;
            if (i % 3 == 0) {
                path = QStringLiteral("D:\\病案\\2001\\记录%1.doc").arg(i);
                stored = touch(e.files + QStringLiteral("/d/2001/记录%1.doc").arg(i));
            } else if (i % 3 == 1) {
                path = QStringLiteral("e:\\扫描\\SCAN%1.PDF").arg(i);
                stored = touch(e.files + QStringLiteral("/e/Scan%1.pdf").arg(i)); // found with letter case ignored
            } else {
                path = QStringLiteral("\\\\server\\share\\共享\\缺%1.doc").arg(i);
                stored = e.files + QStringLiteral("/unc/共享/缺%1.doc").arg(i); // missing
            }
            if (i == 5)
                type = name = path = stored = description = QString();
            if (i == 6)
                name = description = QStringLiteral("");
            jet[1] << QStringList{type, number, name, path, description};
            e.rows[1] << QStringList{type, number, name, stored, description};
            for (int k = 0; k < (i % 10 == 0 ? 0 : 3); ++k) {
                const QString photo = QStringLiteral("d:\\病案\\2001\\照片%1_%2.JPG").arg(i).arg(k);
                QString kept = e.files + QStringLiteral("/d/2001/照片%1_%2.JPG").arg(i).arg(k);
                if (k == 0)
                    kept = touch(e.files + QStringLiteral("/d/2001/照片%1_%2.jpg").arg(i).arg(k));
                else if (k == 1)
                    touch(kept);
                jet[2] << QStringList{number, photo};
                e.rows[2] << QStringList{number, kept};
            }
        }
        // A photo of a record that is gone, under a drive no prefix maps: kept as it was.
        jet[2] << QStringList{QStringLiteral("999"), QStringLiteral("F:\\其他\\x.jpg")};
        e.rows[2] << QStringList{QStringLiteral("999"), QStringLiteral("F:\\其他\\x.jpg")};
        const QStringList levels{QStringLiteral("超级权限"), QStringLiteral("只能添加"), QStringLiteral("不能修改"),
                                 QStringLiteral("可以修改"), QStringLiteral("超级权限!"), QStringLiteral("只能修改")};
        for (int k = 0; k < 10; ++k)
            e.passwords << qMakePair(QStringLiteral("操作员%1").arg(k), k % 2 ? QStringLiteral("pw#%1").arg(k) : QStringLiteral("密码%1").arg(k));
        e.passwords << qMakePair(QStringLiteral("管理员"), QString()) << qMakePair(QStringLiteral("Admin"), QStringLiteral("a b"))
                    << qMakePair(QStringLiteral("admin"), QStringLiteral("x"));
        for (int k = 0; k < e.passwords.size(); ++k) {
            const QStringList row{e.passwords.at(k).first, access::legacyStoredForm(e.passwords.at(k).second),
                                  k == 3 ? QStringLiteral("随便") : levels.at(k % levels.size())};
            jet[3] << row;
            e.rows[3] << row;
        }
        const QStringList blank{QStringLiteral("  "), QString(), QString()};
        jet[3] << blank;
        e.rows[3] << blank;
        testing::writeJet3(e.jet, tables(jet));
        return e;
    }

    static ImportOptions optionsFor(const Earlier &e, const QString &target)
    {
        ImportOptions o;
        o.source = e.jet;
        o.target = target;
        o.actor = {QStringLiteral("casearchive-admin"), QStringLiteral("tester@pc")};
        for (const QString &map : {QStringLiteral("D:\\病案=%1/d"), QStringLiteral("E:\\扫描\\=%1/e/"),
                                   QStringLiteral("\\\\SERVER\\share=%1/unc")}) {
            PathPrefix p;
            if (!parsePathPrefix(map.arg(e.files), p, nullptr))
                qFatal("no prefix: %s", qPrintable(map));
            o.paths << p;
        }
        return o;
    }

    static QString adminTool() { return QCoreApplication::applicationDirPath() + QStringLiteral("/casearchive-admin"); }

    static void refused(const QString &jet, const QString &startsWith)
    {
        QTemporaryDir dir;
        ImportOptions o;
        o.source = jet;
        o.target = dir.filePath(QStringLiteral("new.dat"));
        const ImportResult r = importEarlierArchive(o);
        QVERIFY(!r.verified);
        QVERIFY2(r.error.startsWith(startsWith), qPrintable(r.error));
        QVERIFY(!QFileInfo::exists(o.target));
        QVERIFY(!QFileInfo::exists(store::unfinishedCopyPath(o.target)));
    }

private slots:
    void earlierArchiveComesOverWhole()
    {
        QTemporaryDir dir;
        const Earlier e = makeEarlier(dir.path());
        std::unique_ptr<testing::TempServerDatabase> server;
        QString target = dir.filePath(QStringLiteral("new/file.dat"));
        if (testing::onServer()) {
            server = std::make_unique<testing::TempServerDatabase>();
            target = server->path();
        }
        QStringList said;
        const ImportResult r = importEarlierArchive(optionsFor(e, target), [&](const QString &l) { said << l; });
        QVERIFY2(r.verified, qPrintable(r.error));
        QCOMPARE(said.mid(0, 3), QStringList({QStringLiteral("text decoded as CP936 (recorded in the file); the first records as they will read:"),
                                              QStringLiteral("  010101000000  病人0  (type 外科)"),
                                              QStringLiteral("  010101000001  病人1  (type 内科)")}));

        // Every cell, in the stored order, under the identities 1, 2, 3, ...
        store::Connection c(target);
        qint64 nulls = 0, empties = 0;
        for (int t = 0; t < 4; ++t) {
            const store::ArchiveTable table = store::archiveTables().at(t);
            store::StoredRows rows(c, table);
            store::StoredRow row;
            for (int i = 0; i < e.rows[t].size(); ++i) {
                QVERIFY(rows.next(row));
                QCOMPARE(row.rowId, qint64(i + 1));
                for (int k = 0; k < e.rows[t].at(i).size(); ++k) {
                    const QString want = e.rows[t].at(i).at(k);
                    nulls += want.isNull();
                    empties += !want.isNull() && want.isEmpty();
                    const store::StoredCell cell = row.cells.value(k);
                    QVERIFY2(want.isNull() ? cell.kind == store::StoredCell::Null
                                           : cell.kind == store::StoredCell::Text && cell.bytes == want.toUtf8(),
                             qPrintable(QStringLiteral("%1 row %2 column %3: %4").arg(store::tableName(table)).arg(i + 1).arg(k).arg(want)));
                }
            }
            QVERIFY(!rows.next(row));
            QCOMPARE(r.tallies.at(t).earlier, qint64(e.rows[t].size()));
            QCOMPARE(r.tallies.at(t).imported, qint64(e.rows[t].size()));
        }

        // What the report counts.
        const ImportFindings &f = r.findings;
        QCOMPARE(f.filesNamed, 299 + 811);
        QCOMPARE(f.filesFound, 200 + 270 * 2);
        QCOMPARE(f.filesFoundOtherCase, 100 + 270);
        QCOMPARE(f.missing.size(), 99 + 270 + 1);
        const QStringList missing = f.missingLines();
        QVERIFY(missing.contains(QStringLiteral("record 010101000002 (病人2): attached file %1/unc/共享/缺2.doc - not found").arg(e.files)));
        QVERIFY(missing.contains(QStringLiteral("record 999 (): photo F:\\其他\\x.jpg - a Windows path no --map-path prefix matches; kept as it was")));
        QCOMPARE(f.recordsWithoutType, 2); // a type not in Catalog, and none at all
        QCOMPARE(f.duplicateNumbers, 1);
        QCOMPARE(f.recordsSharingNumbers, 3);
        QCOMPARE(f.duplicateTypeNames, 1);
        QCOMPARE(f.nullValues, nulls);
        QCOMPARE(f.emptyTexts, empties);
        QCOMPARE(f.operatorNotes,
                 QStringList({QStringLiteral("operator \"操作员3\": level \"随便\" is none of 只能添加, 不能修改, 可以修改, 超级权限!, 超级权限, 只能修改 "
                                             "(kept; the program treats it as 可以修改)"),
                              QStringLiteral("User row 14: blank name \"  \" (kept; nobody can choose it at the login)"),
                              QStringLiteral("operator \"  \": level (no value) is none of 只能添加, 不能修改, 可以修改, 超级权限!, 超级权限, 只能修改 "
                                             "(kept; the program treats it as 可以修改)"),
                              QStringLiteral("operators whose names differ only in letter case (kept, each logs in as chosen at the login): Admin, admin")}));

        // Each operator logs in with the earlier password.
        const QVector<store::OperatorRow> operators = store::readOperators(c);
        for (const auto &[name, typed] : e.passwords) {
            auto it = std::find_if(operators.begin(), operators.end(), [&](const store::OperatorRow &o) { return o.name == name; });
            QVERIFY(it != operators.end());
            QVERIFY2(access::passwordMatches(typed, it->password), qPrintable(name));
            QVERIFY(!access::passwordMatches(typed + QStringLiteral("?"), it->password));
        }

        // The trail says where the archive came from, with the hash of exactly those bytes.
        QFile jet(e.jet);
        QVERIFY(jet.open(QIODevice::ReadOnly));
        const QByteArray bytes = jet.readAll();
        const QString sha = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        QCOMPARE(r.sourceSha256, sha);
        const QVector<store::HistoryEntry> trail = store::readHistory(c, {});
        QCOMPARE(trail.size(), 1);
        QCOMPARE(trail.first().change.kind, store::ChangeKind::ArchiveImported);
        QCOMPARE(trail.first().operatorName, QStringLiteral("casearchive-admin"));
        QCOMPARE(trail.first().change.subject, QStringLiteral("file.dat"));
        QCOMPARE(trail.first().change.detail,
                 QStringLiteral("导入自早先系统的档案“%1”（%2 字节，SHA-256 %3），文本按 CP936 解码，每一格已与第二次读取逐一核对")
                     .arg(e.jet).arg(bytes.size()).arg(sha));
        QCOMPARE(store::verifyHistoryChain(c).whole, true);
        // Searched through its index from the first day, which fits what was imported and
        // follows what is added after.
        store::insertRecord(c, store::RecordRow{0, QStringLiteral("外科"), QStringLiteral("N1"), QStringLiteral("新病人"), {}, {}});
        const QVector<store::SearchIndexCheck> index = store::verifySearchIndex(c);
        QVERIFY(!index.isEmpty());
        for (const store::SearchIndexCheck &i : index)
            QVERIFY2(i.fits(), qPrintable(i.problem));
    }

    // What must not import ends in a message, and no archive: neither the name nor the
    // unfinished one.
    void hostileFilesAreRefused()
    {
        if (testing::onServer())
            QSKIP("the refusals come before any target is written");
        QTemporaryDir dir;
        const Earlier e = makeEarlier(dir.path());
        QFile good(e.jet);
        QVERIFY(good.open(QIODevice::ReadOnly));
        const QByteArray bytes = good.readAll();
        auto write = [&](const QString &name, const QByteArray &content) {
            const QString path = dir.filePath(name);
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(content);
            return path;
        };
        refused(write(QStringLiteral("empty.dat"), QByteArray()), QStringLiteral("文件“%1”是空的（0 字节）").arg(dir.filePath(QStringLiteral("empty.dat"))));
        refused(write(QStringLiteral("cut.dat"), bytes.left(2048 * 3)), QStringLiteral("文件中没有表 Catalog"));
        refused(write(QStringLiteral("cut2.dat"), bytes.left(bytes.size() / 2)),
                QStringLiteral("表 photo 的定义说它有 811 行，却只读出 90 行：文件不完整或已损坏，没有导入。"));
        QByteArray flipped = bytes;
        for (int i = 4 * 2048 + 43; i < 4 * 2048 + 43 + 5 * 18; ++i) // Detail's column definitions
            flipped[i] = char(flipped.at(i) ^ 0x5a);
        refused(write(QStringLiteral("flipped.dat"), flipped), QStringLiteral("表 Detail "));
        refused(write(QStringLiteral("notjet.dat"), QByteArray(4096, 'x')), QStringLiteral("文件“%1”不是 Jet 数据库").arg(dir.filePath(QStringLiteral("notjet.dat"))));
        refused(QStringLiteral(CASEARCHIVE_TEST_DATA "/jet/ASampleDatabase.accdb"),
                QStringLiteral("文件“" CASEARCHIVE_TEST_DATA "/jet/ASampleDatabase.accdb”是Access 2007 或更新版本的数据库（ACE 格式），不是病案数据库。"));
        refused(dir.path(), QStringLiteral("“%1”不是可以读取的普通文件").arg(dir.path()));

        QVector<QStringList> rows[4];
        rows[0] << QStringList{QStringLiteral("外科")};
        rows[1] << QStringList{QStringLiteral("外科"), QStringLiteral("1"), QStringLiteral("张三"), QString(), QString()};
        const QString noColumn = dir.filePath(QStringLiteral("nocolumn.dat"));
        testing::writeJet3(noColumn, tables(rows, false));
        refused(noColumn, QStringLiteral("表 Detail 中没有“文件说明”列，它不是早先的病案管理系统的完整档案，没有导入。"));

        QVector<JetTableSpec> layout = tables(rows);
        layout[1].rows << QVector<testing::JetValue>{testing::inCodePage(QStringLiteral("外科")), QByteArray("2"),
                                                  QByteArray("\xff\xfe", 2), std::nullopt, std::nullopt};
        const QString undecodable = dir.filePath(QStringLiteral("undecodable.dat"));
        testing::writeJet3(undecodable, layout);
        refused(undecodable, QStringLiteral("表 Detail 第 2 行（病案号 “2”）的“文件名”列不是有效的 CP936 文本（2 字节，十六进制 FF FE）。"
                                            "导入已停止，没有写入任何数据。"));

        // A file that reads otherwise the second time (changed under the reader): the
        // verification names the first cell in the tables' order, though the photos, compared
        // beside the records, differ too; nothing is left.
        const QString reader = jet::JetReader::helperProgram();
        const QString changing = write(QStringLiteral("changing-reader.sh"),
                                       QStringLiteral("#!/bin/sh\nn=1\nwhile ! mkdir \"%1/run-$1-$3-$#-$n\" 2>/dev/null; do n=$((n + 1)); done\n"
                                                      "if [ \"$1\" = dump ] && [ $# -eq 3 ] && [ $n -eq 2 ]; then\n"
                                                      "  '%2' \"$@\" | LC_ALL=C sed s/010101000001/010101000091/; exit 0\nfi\n"
                                                      "exec '%2' \"$@\"\n")
                                           .arg(dir.path(), reader)
                                           .toUtf8());
        QFile::setPermissions(changing, QFile::ReadOwner | QFile::ExeOwner);
        jet::JetReader::setHelperForTests(changing);
        const ImportResult changed = importEarlierArchive(optionsFor(e, dir.filePath(QStringLiteral("changed.dat"))));
        jet::JetReader::setHelperForTests(reader);
        QCOMPARE(changed.error, QStringLiteral("校验失败：新档案中表 Detail 第 2 行（病案号 “010101000091”）的“病案号”列与早先的档案不同。"));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("changed.dat"))));
        QVERIFY(!QFileInfo::exists(store::unfinishedCopyPath(dir.filePath(QStringLiteral("changed.dat")))));

        // Stopped on request (Ctrl+C, a shutdown's SIGTERM) while writing, and while the
        // second reading compares the records and the photos side by side: nothing is left.
        for (const int allowed : {1, 5}) {
            ImportOptions stopping = optionsFor(e, dir.filePath(QStringLiteral("stopped.dat")));
            std::atomic<int> asked{0};
            stopping.stopRequested = [&asked, allowed] { return ++asked > allowed; };
            const ImportResult stopped = importEarlierArchive(stopping);
            QVERIFY(stopped.stopped && !stopped.verified);
            QCOMPARE(stopped.error, QStringLiteral("导入在完成之前被中止，没有留下任何导入的数据；需要时重新运行即可。"));
            QVERIFY(asked > allowed && asked <= allowed + 2); // the first yes, and the other thread's at most
            QVERIFY(!QFileInfo::exists(stopping.target));
            QVERIFY(!QFileInfo::exists(store::unfinishedCopyPath(stopping.target)));
        }

        // Through the tool: exit code 1 and the message; check says what the file is, with a code of its own.
        QProcess tool;
        tool.start(adminTool(), {QStringLiteral("import"), undecodable, dir.filePath(QStringLiteral("x.dat"))});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 1);
        const QString words = QString::fromUtf8(tool.readAllStandardError());
        QVERIFY2(words.startsWith(QStringLiteral("casearchive-admin: 表 Detail 第 2 行")), qPrintable(words));
        tool.start(adminTool(), {QStringLiteral("check"), e.jet});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 4);
        QCOMPARE(QString::fromUtf8(tool.readAllStandardOutput()),
                 QStringLiteral("archive: %1\nearlier system: a Jet 3 (Access 97) database of the earlier system, not damaged; "
                                "this program does not open it, and nothing in it was changed\n"
                                "import it into a new archive: casearchive-admin import %1 NEW-ARCHIVE\n"
                                "result: EARLIER SYSTEM (import it; the administrator's guide: \"Moving over from the earlier system\")\n")
                     .arg(e.jet));
        // A report file that is there already (a link left where the tool writes) is refused
        // before anything is imported, and nothing is written through it.
        const QString aim = write(QStringLiteral("aim.txt"), "kept");
        const QString link = dir.filePath(QStringLiteral("report.txt"));
        QVERIFY(QFile::link(aim, link));
        tool.start(adminTool(), {QStringLiteral("import"), e.jet, dir.filePath(QStringLiteral("y.dat")), QStringLiteral("--report"), link});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(tool.readAllStandardError()),
                 QStringLiteral("casearchive-admin: the report file %1 exists already; nothing imported. Name a new file with --report.\n")
                     .arg(link));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("y.dat"))));
        QFile kept(aim);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("kept"));
    }

    // Run as root, the paths are looked for with the group's rights: a file only root may
    // see is missing, and its real spelling is never written into the archive.
    void pathsAreLookedForWithTheGroupsRights()
    {
        if (testing::onServer())
            QSKIP("the lookups do not depend on the engine");
        if (QFileInfo(QStringLiteral("/proc/self")).ownerId() != 0)
            QSKIP("needs root, to look as another account (the suite runs as root in CI)");
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        touch(dir.filePath(QStringLiteral("open/a.jpg")));
        touch(dir.filePath(QStringLiteral("closed/b.jpg")));
        QVERIFY(::chmod(QFile::encodeName(dir.filePath(QStringLiteral("closed"))).constData(), 0700) == 0);
        QVector<QStringList> rows[4];
        rows[0] << QStringList{QStringLiteral("外科")};
        rows[1] << QStringList{QStringLiteral("外科"), QStringLiteral("1"), QStringLiteral("张三"), QString(), QString()};
        rows[2] << QStringList{QStringLiteral("1"), QStringLiteral("D:\\病案\\open\\A.JPG")}
                << QStringList{QStringLiteral("1"), QStringLiteral("D:\\病案\\closed\\B.JPG")};
        ImportOptions o;
        o.source = dir.filePath(QStringLiteral("file.dat"));
        testing::writeJet3(o.source, tables(rows));
        o.target = dir.filePath(QStringLiteral("new.dat"));
        o.paths << PathPrefix();
        QVERIFY(parsePathPrefix(QStringLiteral("D:\\病案=") + dir.path(), o.paths.last(), nullptr));
        o.lookAs = {true, 65534, 65534}; // nobody, nogroup
        const ImportResult r = importEarlierArchive(o);
        QVERIFY2(r.verified, qPrintable(r.error));
        QCOMPARE(r.findings.filesFoundOtherCase, 1);
        QCOMPARE(r.findings.missingLines(),
                 QStringList{QStringLiteral("record 1 (张三): photo %1/closed/B.JPG - not found").arg(dir.path())});
        store::Connection c(o.target);
        store::StoredRows photos(c, store::ArchiveTable::Photo);
        store::StoredRow row;
        for (const char *kept : {"/open/a.jpg", "/closed/B.JPG"}) {
            QVERIFY(photos.next(row));
            QCOMPARE(QString::fromUtf8(row.cells.value(1).bytes), dir.path() + QLatin1String(kept));
        }
    }

    // A file that records the wrong code page: its column names do not match and the
    // message shows them as decoded; --encoding overrules the file, and the preview shows
    // the records as they will read.
    void encodingGivenOverrulesTheFile()
    {
        if (testing::onServer())
            QSKIP("the decoding does not depend on the engine");
        QTemporaryDir dir;
        QVector<QStringList> rows[4];
        rows[0] << QStringList{QStringLiteral("外科")};
        rows[1] << QStringList{QStringLiteral("外科"), QStringLiteral("1"), QStringLiteral("张三"), QString(), QString()};
        const QString jet = dir.filePath(QStringLiteral("file.dat"));
        testing::writeJet3(jet, tables(rows), 1252);
        ImportOptions o;
        o.source = jet;
        o.target = dir.filePath(QStringLiteral("a.dat"));
        QCOMPARE(importEarlierArchive(o).error,
                 QStringLiteral("表 Detail 中没有“病案号”列，它不是早先的病案管理系统的完整档案，没有导入。按 CP1252 解码，这个表的列是："
                                "²¡°¸ºÅ、ÎÄ¼þÃû、Â·¾¶Ãû、ÎÄ¼þËµÃ÷。如果列名看上去是乱码，说明代码页不对，请用 --encoding 指定，"
                                "例如 --encoding CP936。"));
        QStringList said;
        o.encoding = QStringLiteral("CP936");
        said.clear();
        const ImportResult r = importEarlierArchive(o, [&](const QString &l) { said << l; });
        QVERIFY(r.verified);
        QCOMPARE(said.mid(0, 2), QStringList({QStringLiteral("text decoded as CP936 (given by --encoding; the file records CP1252); "
                                                             "the first records as they will read:"),
                                              QStringLiteral("  1  张三  (type 外科)")}));
    }
};

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
