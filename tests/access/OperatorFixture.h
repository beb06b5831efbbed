#pragma once
// What the tests of the operator window (frmOperator) share: a program folder and an archive
// of their own for every test, the program's answers scripted for the whole test (an answer
// left unasked fails it), the main window's openings and hints counted, and the operators
// as the window and the archive hold them. The login window logs in against the archive.
#include "ScriptedPlatform.h"
#include "TempArchive.h"

#include "access/Password.h"
#include "access/frmLogin.h"
#include "access/frmOperator.h"
#include "app/frmMain.h"
#include "common/Module1.h"
#include "store/Database.h"
#include "store/Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <memory>

namespace testing {

class OperatorFixture : public QObject {
    Q_OBJECT

protected:
    struct Row {
        QString name;
        QVariant password;
        QString level;
    };

    std::unique_ptr<TempArchive> m_archive;
    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<ScriptedPlatform> m_platform;
    int m_mainOpened = 0;
    QStringList m_hints;

    std::unique_ptr<frmOperator> openWindow()
    {
        auto w = std::make_unique<frmOperator>();
        if (!showActive(w.get()))
            QTest::qFail("operator window not active", __FILE__, __LINE__);
        return w;
    }

    static void typeInto(QLineEdit *box, const QString &text)
    {
        box->setFocus();
        box->clear();
        typeText(box, text);
    }

    // Fills the entry fields and presses 保存.
    static void add(frmOperator &w, const QString &name, const QString &password, int level = 0,
                    const QString &repeat = QStringLiteral("\x01same"))
    {
        typeInto(w.Text1, name);
        typeInto(w.Text2, password);
        typeInto(w.Text3, repeat == QStringLiteral("\x01same") ? password : repeat);
        w.cmbAuthority->setCurrentIndex(level);
        QTest::mouseClick(w.Command1, Qt::LeftButton);
    }

    QVector<Row> rows() const
    {
        store::Connection c(m_archive->path());
        QVector<Row> out;
        QSqlQuery q = c.run(QStringLiteral("SELECT UID, PWD, \"权限\" FROM \"User\" ORDER BY rowid"));
        while (q.next())
            out.push_back({q.value(0).toString(), q.value(1), q.value(2).toString()});
        return out;
    }

    static QStringList gridColumn(frmOperator &w, int column)
    {
        QStringList out;
        for (int r = 0; r < w.Grid1->rowCount(); ++r) {
            const QTableWidgetItem *item = w.Grid1->item(r, column);
            out << (item ? item->text() : QString());
        }
        return out;
    }

    static void selectRow(frmOperator &w, int row) { w.Grid1->setCurrentCell(row, 0); }

    static QPoint cellCentre(frmOperator &w, int row)
    {
        return w.Grid1->visualRect(w.Grid1->model()->index(row, 0)).center();
    }

    // Logs in through the real login window; returns the level passed on, or a null text
    // when nothing opened. A refusal shows a box, which fails the test unless answered.
    QString attemptLogin(const QString &name, const QString &password)
    {
        const int opened = m_mainOpened;
        app::CurrentAuthority = QStringLiteral("<none>");
        frmLogin w;
        w.show();
        const int index = w.UserTxt->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0) {
            QTest::qFail(qPrintable(QStringLiteral("no operator listed as ") + name), __FILE__, __LINE__);
            return QString();
        }
        w.UserTxt->setCurrentIndex(index);
        w.txtPassword->clear();
        w.txtPassword->insert(password);
        QTest::mouseClick(w.cmdOK, Qt::LeftButton);
        return m_mainOpened == opened + 1 ? app::CurrentAuthority : QString();
    }

    QString login(const QString &name, const QString &password) { return attemptLogin(name, password); }

    // True when the login window refuses the password with its message.
    bool refused(const QString &name, const QString &password)
    {
        const int boxes = int(m_platform->boxes.size());
        m_platform->answer(platform::Answer::Ok);
        const bool opened = !attemptLogin(name, password).isNull();
        if (opened) {
            QTest::qFail(qPrintable(QStringLiteral("password opened the account: ") + password), __FILE__, __LINE__);
            return false;
        }
        return m_platform->boxes.size() == boxes + 1
            && m_platform->boxes.last().text == QStringLiteral("无效的密码，再试一次！");
    }

private slots:
    void initTestCase()
    {
        isolateSettings();
        access::setHashCostForTests(1, 8192); // the cheapest hash: the tests check what, not how slow
        frmLogin::openMainWindow = [this] { ++m_mainOpened; };
        app::setHintTarget([this](const QString &t) { m_hints << t; });
        app::setEndProgramHook([] {});
    }

    void init()
    {
        isolateSettings();
        m_program = std::make_unique<QTemporaryDir>();
        app::setProgramFolder(m_program->path());
        m_archive = std::make_unique<TempArchive>();
        settings::write(QStringLiteral("Data"), QStringLiteral("Path"), m_archive->path());
        app::DbPath = m_archive->path();
        app::CurrentAuthority = QStringLiteral("超级权限");
        m_platform = std::make_unique<ScriptedPlatform>();
        m_mainOpened = 0;
        m_hints.clear();
        app::setHintTarget([this](const QString &t) { m_hints << t; });
    }

    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Emptied first, so that no answer is left for the next test whatever fails here.
        const QStringList unused = m_platform->takeUnused();
        m_platform.reset();
        m_archive.reset();
        QVERIFY2(unused.isEmpty(), qPrintable(QStringLiteral("queued but never asked for: ") + unused.join(QStringLiteral(", "))));
    }
};

} // namespace testing
