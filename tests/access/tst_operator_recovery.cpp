// An office locked out of its archive gets an operator back: the recovery itself, which
// refuses missing and foreign files without touching them, and casearchive-admin's operator
// command, which this program runs.
#include "OperatorFixture.h"

#include "access/OperatorAccount.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>

namespace {

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestOperatorRecovery : public testing::OperatorFixture {
    Q_OBJECT

    static QString adminTool() { return QCoreApplication::applicationDirPath() + QStringLiteral("/casearchive-admin"); }

    // Runs casearchive-admin; returns its exit code, or -1 when it did not run.
    static int runAdmin(const QStringList &arguments, QString *errors = nullptr, const QByteArray &input = {})
    {
        QProcess p;
        p.start(adminTool(), arguments);
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        if (errors)
            *errors = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode();
    }

private slots:
    void recoveryOnAGoodArchive()
    {
        // Locked out: the only operator left has a level that cannot manage operators.
        m_archive->clearOperators();
        m_archive->addOperator(QStringLiteral("王五"), access::storedForm(QStringLiteral("w")), QStringLiteral("可以修改"));
        QCOMPARE(access::setOperatorAccount(m_archive->path(), QStringLiteral(" 救援 "), QStringLiteral("#r*1#"),
                                            access::kRecoveryLevel),
                 access::AccountChange::Added);
        QCOMPARE(login(QStringLiteral("救援"), QStringLiteral("#r*1#")), QStringLiteral("超级权限"));
        QVERIFY(refused(QStringLiteral("救援"), QStringLiteral("r*1")));
        // Resetting an existing operator: the name exactly. With only a name that differs in
        // letter case, nothing is written and the names there are are listed.
        m_archive->addOperator(QStringLiteral("Tom"), access::storedForm(QStringLiteral("old")), QStringLiteral("只能添加"));
        const QByteArray unchanged = fileHash(m_archive->path());
        try {
            access::setOperatorAccount(m_archive->path(), QStringLiteral("tom"), QStringLiteral("new"),
                                       QStringLiteral("超级权限"));
            QFAIL("a name differing in letter case was reset");
        } catch (const store::StoreError &e) {
            QCOMPARE(e.description(), QStringLiteral("没有名为“tom”的操作员，只有字母大小写不同的：Tom。"
                                                     "请照原样写出要重设的那一个，什么也没有修改。"));
        }
        QCOMPARE(fileHash(m_archive->path()), unchanged);
        QCOMPARE(access::setOperatorAccount(m_archive->path(), QStringLiteral("Tom"), QStringLiteral("new"),
                                            QStringLiteral("超级权限")),
                 access::AccountChange::Reset);
        QCOMPARE(login(QStringLiteral("Tom"), QStringLiteral("new")), QStringLiteral("超级权限"));
        QVERIFY(refused(QStringLiteral("Tom"), QStringLiteral("old")));
        QCOMPARE(m_archive->count(QStringLiteral("User")), 3);
        // Refused without writing: unknown level, apostrophe, blank name, long new name.
        const QByteArray before = fileHash(m_archive->path());
        for (const auto &bad : {QStringList{QStringLiteral("x"), QStringLiteral("超级权限 ")},
                                QStringList{QStringLiteral("o'k"), QStringLiteral("超级权限")},
                                QStringList{QStringLiteral("  "), QStringLiteral("超级权限")},
                                QStringList{QStringLiteral("abcdef"), QStringLiteral("超级权限")}}) {
            QVERIFY_THROWS_EXCEPTION(store::StoreError,
                                     access::setOperatorAccount(m_archive->path(), bad[0], QString(), bad[1]));
        }
        QCOMPARE(fileHash(m_archive->path()), before);
    }

    void recoveryRefusesMissingAndForeignFiles()
    {
        const QString missing = m_program->filePath(QStringLiteral("nowhere/file.dat"));
        try {
            access::setOperatorAccount(missing, QStringLiteral("甲"), QString(), access::kRecoveryLevel);
            QFAIL("a missing archive was accepted");
        } catch (const store::StoreError &e) {
            QVERIFY(e.description().contains(QStringLiteral("找不到")));
            QVERIFY(e.description().contains(missing));
        }
        QVERIFY(!QFile::exists(missing));

        // Not a database at all.
        const QString text = m_program->filePath(QStringLiteral("notes.dat"));
        {
            QFile f(text);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("这不是病案数据库\n");
        }
        // A database of another program.
        const QString other = m_program->filePath(QStringLiteral("other.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            db.setDatabaseName(other);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("CREATE TABLE \"User\" (name TEXT, mail TEXT, role TEXT)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        for (const QString &foreign : {text, other}) {
            const QByteArray before = fileHash(foreign);
            try {
                access::setOperatorAccount(foreign, QStringLiteral("甲"), QString(), access::kRecoveryLevel);
                QFAIL("a foreign file was accepted");
            } catch (const store::StoreError &e) {
                QVERIFY2(e.description().contains(QStringLiteral("不是病案数据库")), qPrintable(e.description()));
            }
            QCOMPARE(fileHash(foreign), before);
        }
    }

    void adminCommand()
    {
        if (!QFile::exists(adminTool()))
            QSKIP("casearchive-admin is not built beside the tests");
        QString errors;
        // A good archive: add, then reset.
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"),
                           QStringLiteral("--password"), QStringLiteral("a#")}, &errors),
                 0);
        QCOMPARE(login(QStringLiteral("救援"), QStringLiteral("a#")), QStringLiteral("超级权限"));
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"),
                           QStringLiteral("--level"), QStringLiteral("只能添加")}),
                 0);
        QCOMPARE(login(QStringLiteral("救援"), QString()), QStringLiteral("只能添加"));
        QCOMPARE(m_archive->count(QStringLiteral("User")), 2);

        // "-" takes the password from standard input, off the command line: its first line,
        // without the line break, as typed.
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"), QStringLiteral("--password"),
                           QStringLiteral("-"), QStringLiteral("--level"), QStringLiteral("可以修改")},
                          &errors, QByteArray("病案室 b#2\r\nsecond line\n")),
                 0);
        QCOMPARE(login(QStringLiteral("救援"), QStringLiteral("病案室 b#2")), QStringLiteral("可以修改"));
        QVERIFY(refused(QStringLiteral("救援"), QStringLiteral("-")));
        // Nothing to read sets no empty password behind the office's back.
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"), QStringLiteral("--password"),
                           QStringLiteral("-")},
                          &errors),
                 1);
        QCOMPARE(errors, QStringLiteral("casearchive-admin: no password on standard input (--password - reads its first line)\n"));
        QCOMPARE(login(QStringLiteral("救援"), QStringLiteral("病案室 b#2")), QStringLiteral("可以修改"));
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("救援"), QStringLiteral("--password"),
                           QStringLiteral("-")},
                          &errors, QByteArray(2000, 'x')),
                 1);
        QCOMPARE(errors, QStringLiteral("casearchive-admin: the password on standard input is too long\n"));

        // A missing file.
        const QString missing = m_program->filePath(QStringLiteral("missing.dat"));
        QCOMPARE(runAdmin({QStringLiteral("operator"), missing, QStringLiteral("甲")}, &errors), 1);
        QVERIFY2(errors.contains(QStringLiteral("找不到")) && errors.contains(missing), qPrintable(errors));
        QVERIFY(!QFile::exists(missing));

        // A foreign file.
        const QString foreign = m_program->filePath(QStringLiteral("foreign.dat"));
        {
            QFile f(foreign);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("name,password\n");
        }
        const QByteArray before = fileHash(foreign);
        QCOMPARE(runAdmin({QStringLiteral("operator"), foreign, QStringLiteral("甲")}, &errors), 1);
        QVERIFY2(errors.contains(QStringLiteral("不是病案数据库")), qPrintable(errors));
        QCOMPARE(fileHash(foreign), before);

        // Wrong use: the usage, another exit code.
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path()}, &errors), 2);
        QVERIFY(errors.contains(QStringLiteral("operator PATH NAME")));
        QCOMPARE(runAdmin({QStringLiteral("operator"), m_archive->path(), QStringLiteral("甲"),
                           QStringLiteral("--level"), QStringLiteral("boss")}, &errors),
                 1);
        QVERIFY(errors.contains(QStringLiteral("可用的权限")));
    }
};

QTEST_MAIN(TestOperatorRecovery)
#include "tst_operator_recovery.moc"
