#include "TestSupport.h"

#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "platform/Desktop.h"
#include "platform/PrintDialog.h"
#include "records/RecordPrint.h"
#include "store/Archive.h"
#include "store/Database.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QPushButton>
#include <QWidget>
#include <QSettings>
#include <QStandardPaths>

namespace testing {

using namespace platform;

namespace {
// The platforms alive, oldest first; the newest one's handlers are installed.
QVector<ScriptedPlatform *> &livePlatforms()
{
    static QVector<ScriptedPlatform *> live;
    return live;
}

QString answerName(Answer a)
{
    switch (a) {
    case Answer::Ok: return QStringLiteral("Ok");
    case Answer::Yes: return QStringLiteral("Yes");
    case Answer::No: return QStringLiteral("No");
    case Answer::Retry: return QStringLiteral("Retry");
    case Answer::Cancel: return QStringLiteral("Cancel");
    }
    return QStringLiteral("?");
}
} // namespace

ScriptedPlatform::ScriptedPlatform()
{
    livePlatforms().push_back(this);
    install();
}

void ScriptedPlatform::install()
{
    setMessageHandler([this](QWidget *, const MessageRequest &r) {
        boxes.push_back({r.text, r.title, r.buttons, r.icon, r.defaultButton});
        if (m_answers.empty()) {
            QTest::qFail(qPrintable(QStringLiteral("unexpected message box: ") + r.text), __FILE__, __LINE__);
            if (r.buttons == Buttons::RetryCancel)
                return Answer::Cancel;
            return r.buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
        }
        const Answer a = m_answers.front();
        m_answers.pop_front();
        return a;
    });
    setFileHandler([this](QWidget *, const FileRequest &r) {
        fileRequests.push_back(r);
        if (m_files.empty()) {
            QTest::qFail(qPrintable(QStringLiteral("unexpected file dialog: ") + r.caption), __FILE__, __LINE__);
            return QString();
        }
        const QString f = m_files.front();
        m_files.pop_front();
        return f;
    });
    setModalHandler([this](QDialog &d) {
        modals << d.objectName();
        if (onModal)
            return onModal(d);
        return int(QDialog::Rejected);
    });
    setOpenHandler([this](const QString &t) {
        opened << t;
        return openSucceeds;
    });
    setFileOpenHandler([this](const QString &f) {
        openedFiles << f;
        return openSucceeds;
    });
    setStartHandler([this](const QString &c) {
        started << c;
        return startSucceeds;
    });
    setSystemFolderHandler([this] { return systemFolder; });
}

QStringList ScriptedPlatform::takeUnused()
{
    QStringList unused;
    for (Answer a : m_answers)
        unused << QStringLiteral("answer ") + answerName(a);
    for (const QString &f : m_files)
        unused << QStringLiteral("file ") + f;
    m_answers.clear();
    m_files.clear();
    return unused;
}

ScriptedPlatform::~ScriptedPlatform()
{
    const QStringList unused = takeUnused();
    QVector<ScriptedPlatform *> &live = livePlatforms();
    const bool newest = !live.isEmpty() && live.back() == this;
    live.removeAll(this);
    if (!newest)
        return; // a newer one answers; the test that queued these has ended already
    if (!unused.isEmpty() && QTest::currentTestFunction() && !QTest::currentTestFailed())
        QTest::qFail(qPrintable(QStringLiteral("queued but never asked for: ") + unused.join(QStringLiteral(", "))),
                     __FILE__, __LINE__);
    if (!live.isEmpty()) {
        live.back()->install(); // an outer one, still alive, answers again
        return;
    }
    setMessageHandler({});
    setFileHandler({});
    setModalHandler({});
    setOpenHandler({});
    setFileOpenHandler({});
    setStartHandler({});
    setSystemFolderHandler({});
}

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

void signIn(const TempArchive &archive, const QString &authority, const QString &operatorName, const QString &workstation)
{
    app::DbPath = archive.path();
    app::CurrentAuthority = authority;
    if (!operatorName.isNull())
        app::CurrentOperator = operatorName;
    if (!workstation.isNull())
        app::setWorkstationNameForTests(workstation);
    app::SearchFilter.clear();
    app::setEndProgramHook([] {});
}

void printThroughPreviewTo(ScriptedPlatform &platform, const QString &pdf)
{
    platform.onModal = [](QDialog &d) {
        auto *preview = qobject_cast<records::frmPrintPreview *>(&d);
        if (!preview)
            return int(QDialog::Rejected);
        QTest::mouseClick(preview->cmdPrint, Qt::LeftButton);
        return preview->result();
    };
    platform::setPrintHandler([pdf](QWidget *, QPrinter &printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
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

bool screenshot(QWidget *window, const QString &name)
{
    const QPixmap picture = window->grab();
    if (picture.isNull())
        return false;
    const QString folder = qEnvironmentVariable("CASEARCHIVE_SCREENSHOTS");
    if (folder.isEmpty())
        return true;
    QDir().mkpath(folder);
    return picture.save(QDir(folder).filePath(name + QStringLiteral(".png")));
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

QModelIndex typeNode(ArchiveTreeModel *m, const QString &name)
{
    for (int i = 0; i < m->typeCount(); ++i)
        if (m->text(m->typeIndex(i)) == name)
            return m->typeIndex(i);
    return {};
}

QStringList childTexts(ArchiveTreeModel *m, const QModelIndex &parent)
{
    QStringList texts;
    for (int i = 0; i < m->rowCount(parent); ++i)
        texts << m->text(m->index(i, 0, parent));
    return texts;
}

QStringList tabChain(QWidget *start, int count)
{
    QStringList names;
    QWidget *w = start;
    for (int i = 0; i < count; ++i) {
        names << w->objectName();
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(start->window()) || w->objectName().isEmpty());
    }
    return names;
}

} // namespace testing
