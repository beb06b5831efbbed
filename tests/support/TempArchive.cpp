#include "TempArchive.h"

#include "archive/Archive.h"
#include "store/Database.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QStandardPaths>

namespace testing {

bool onServer()
{
    return qEnvironmentVariable("CASEARCHIVE_TEST_BACKEND") == QLatin1String("postgresql");
}

QString serverAddress(const QString &database)
{
    // postgresql://[host]/maintenance?settings -> postgresql://[host]/database?settings
    const QString base = qEnvironmentVariable("CASEARCHIVE_TEST_SERVER");
    if (base.isEmpty())
        qFatal("CASEARCHIVE_TEST_BACKEND=postgresql needs CASEARCHIVE_TEST_SERVER (scripts/test sets both)");
    const qsizetype hostStart = base.indexOf(QLatin1String("://")) + 3;
    const qsizetype pathStart = base.indexOf(QLatin1Char('/'), hostStart);
    const qsizetype query = base.indexOf(QLatin1Char('?'));
    const QString host = base.mid(hostStart, (pathStart < 0 ? (query < 0 ? base.size() : query) : pathStart) - hostStart);
    const QString settings = query < 0 ? QString() : base.mid(query);
    return base.left(hostStart) + host + QLatin1Char('/') + database + settings;
}

namespace {
QString maintenanceAddress() { return qEnvironmentVariable("CASEARCHIVE_TEST_SERVER"); }

QString quotedName(const QString &name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

int archivesMade = 0;
} // namespace

TempArchive::TempArchive()
{
    if (onServer()) {
        m_database = QStringLiteral("t%1_%2").arg(QCoreApplication::applicationPid()).arg(++archivesMade);
        m_path = serverAddress(m_database);
        store::Connection server(maintenanceAddress());
        server.run(QStringLiteral("CREATE DATABASE ") + quotedName(m_database));
    } else {
        m_path = m_dir.filePath(QStringLiteral("Data/file.dat"));
    }
    store::initArchive(m_path);
}

TempArchive::~TempArchive()
{
    if (m_database.isEmpty())
        return;
    try {
        store::Connection server(maintenanceAddress());
        server.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(quotedName(m_database)));
    } catch (const store::StoreError &e) {
        qWarning("cannot drop the test database %s: %s", qPrintable(m_database), qPrintable(e.description()));
    }
}

TempServerDatabase::TempServerDatabase()
    : m_name(QStringLiteral("t%1_%2").arg(QCoreApplication::applicationPid()).arg(++archivesMade)),
      m_path(serverAddress(m_name))
{
    store::Connection server(maintenanceAddress());
    server.run(QStringLiteral("CREATE DATABASE ") + quotedName(m_name));
}

TempServerDatabase::~TempServerDatabase()
{
    try {
        store::Connection server(maintenanceAddress());
        server.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(quotedName(m_name)));
    } catch (const store::StoreError &e) {
        qWarning("cannot drop the test database %s: %s", qPrintable(m_name), qPrintable(e.description()));
    }
}

void TempArchive::failWrites(const QString &name, const QString &event, const QString &message,
                             const QString &condition, bool keepRow)
{
    QString literal = message;
    literal.replace(QLatin1Char('\''), QStringLiteral("''"));
    literal = QLatin1Char('\'') + literal + QLatin1Char('\'');
    const QString table = event.section(QStringLiteral(" ON "), 1).trimmed();
    m_failing.insert(name, table);
    if (!onServer()) {
        exec(QStringLiteral("CREATE TRIGGER %1 %2 %3BEGIN SELECT RAISE(%4, %5); END")
                 .arg(name, event,
                      condition.isEmpty() ? QString() : QStringLiteral("WHEN ") + condition + QLatin1Char(' '),
                      keepRow ? QStringLiteral("FAIL") : QStringLiteral("ABORT"), literal));
        return;
    }
    exec(QStringLiteral("CREATE FUNCTION %1_fails() RETURNS trigger LANGUAGE plpgsql AS "
                        "$body$ BEGIN RAISE EXCEPTION '%', %2; END $body$")
             .arg(name, literal));
    exec(QStringLiteral("CREATE TRIGGER %1 %2 FOR EACH ROW %3EXECUTE FUNCTION %1_fails()")
             .arg(name, event, condition.isEmpty() ? QString() : QStringLiteral("WHEN (") + condition + QStringLiteral(") ")));
}

void TempArchive::allowWrites(const QString &name)
{
    if (!onServer()) {
        exec(QStringLiteral("DROP TRIGGER ") + name);
    } else {
        exec(QStringLiteral("DROP TRIGGER %1 ON %2").arg(name, m_failing.value(name)));
        exec(QStringLiteral("DROP FUNCTION %1_fails()").arg(name));
    }
    m_failing.remove(name);
}

bool TempArchive::remove()
{
    if (!onServer())
        return QFile::remove(m_path);
    try {
        store::Connection server(maintenanceAddress());
        server.run(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(quotedName(m_database)));
    } catch (const store::StoreError &) {
        return false;
    }
    m_database.clear();
    return true;
}

void TempArchive::addType(const QString &name)
{
    store::Connection c(m_path);
    store::insertType(c, name);
}

void TempArchive::addRecord(const QString &type, const QString &number, const QString &name,
                            const QString &path, const QString &description, const QStringList &photos)
{
    store::Connection c(m_path);
    store::Transaction t(c);
    store::insertRecord(c, {0, type, number, name, path, description});
    for (const QString &p : photos)
        store::insertPhoto(c, number, p);
    t.commit();
}

void TempArchive::addOperator(const QString &name, const QVariant &encodedPassword, const QVariant &authority)
{
    exec(QStringLiteral("INSERT INTO \"User\" (UID, PWD, \"权限\") VALUES (?, ?, ?)"),
         {name, encodedPassword, authority});
}

void TempArchive::clearOperators() { exec(QStringLiteral("DELETE FROM \"User\"")); }

void TempArchive::exec(const QString &sql, const QVariantList &values)
{
    store::Connection c(m_path);
    c.run(sql, values);
}

int TempArchive::count(const QString &table, const QString &where, const QVariantList &values)
{
    store::Connection c(m_path);
    // Catalog, Detail and photo were made with unquoted names, which the server keeps in
    // small letters; User is a quoted name on both engines.
    QString sql = QStringLiteral("SELECT count(*) FROM %1").arg(table == QLatin1String("User") ? QStringLiteral("\"User\"") : table);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    QSqlQuery q = c.run(sql, values);
    return q.next() ? q.value(0).toInt() : -1;
}

void isolateSettings()
{
    QStandardPaths::setTestModeEnabled(true);
    // A folder of this run's own: a test program runs twice at once (on the file and on
    // the server), and the two must not read each other's settings.
    static QTemporaryDir ownFolder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, ownFolder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, ownFolder.path());
    QSettings s(QSettings::UserScope, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    s.clear();
    s.sync();
}

QString makePicture(const QString &folder, const QString &name, int width, int height, const char *format)
{
    QImage img(width, height, QImage::Format_RGB32);
    img.fill(QColor(200, 120, 40));
    QPainter p(&img);
    p.setPen(Qt::white);
    p.drawRect(0, 0, width - 1, height - 1);
    p.end();
    const QString path = QDir(folder).filePath(name);
    if (!img.save(path, format))
        QTest::qFail(qPrintable(QStringLiteral("cannot write picture ") + path), __FILE__, __LINE__);
    return path;
}

} // namespace testing
