#include "TestSupport.h"

#include "platform/Desktop.h"
#include "store/Archive.h"
#include "store/Database.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <QSettings>
#include <QStandardPaths>

namespace testing {

using namespace platform;

ScriptedPlatform::ScriptedPlatform()
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

ScriptedPlatform::~ScriptedPlatform()
{
    setMessageHandler({});
    setFileHandler({});
    setModalHandler({});
    setOpenHandler({});
    setFileOpenHandler({});
    setStartHandler({});
    setSystemFolderHandler({});
}

TempArchive::TempArchive() : m_path(m_dir.filePath(QStringLiteral("Data/file.dat")))
{
    store::initArchive(m_path);
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
    QString sql = QStringLiteral("SELECT count(*) FROM \"%1\"").arg(table);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    QSqlQuery q = c.run(sql, values);
    return q.next() ? q.value(0).toInt() : -1;
}

void isolateSettings()
{
    QStandardPaths::setTestModeEnabled(true);
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

} // namespace testing
