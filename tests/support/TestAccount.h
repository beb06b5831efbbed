#pragma once
// A throwaway account for the tests in which root is what matters: a member of a group of
// its own, both made with groupadd and useradd and removed again with the object. Only
// root can make them; elsewhere made() is false and why() says so, for the test's QSKIP.
#include <QCoreApplication>
#include <QProcess>
#include <QString>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace testing {

class TestAccount {
public:
    TestAccount()
    {
        static int made = 0;
        const QString name = QStringLiteral("catest%1x%2").arg(QCoreApplication::applicationPid()).arg(++made);
        if (::geteuid() != 0) {
            m_why = QStringLiteral("needs root, to make a second account (the suite runs as root in CI)");
            return;
        }
        if (!run(QStringLiteral("groupadd"), {QStringLiteral("--system"), name})) {
            m_why = QStringLiteral("groupadd failed");
            return;
        }
        m_group = name;
        if (!run(QStringLiteral("useradd"), {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                                             QStringLiteral("--gid"), name, QStringLiteral("--shell"),
                                             QStringLiteral("/usr/sbin/nologin"), name})) {
            m_why = QStringLiteral("useradd failed");
            return;
        }
        m_user = name;
        const struct passwd *pw = ::getpwnam(name.toLocal8Bit().constData());
        const struct group *gr = ::getgrnam(name.toLocal8Bit().constData());
        if (pw && gr) {
            m_uid = pw->pw_uid;
            m_gid = gr->gr_gid;
        } else {
            m_why = QStringLiteral("the account made cannot be found");
        }
    }
    ~TestAccount()
    {
        if (!m_user.isEmpty())
            run(QStringLiteral("userdel"), {m_user});
        if (!m_group.isEmpty())
            run(QStringLiteral("groupdel"), {m_group});
    }
    TestAccount(const TestAccount &) = delete;
    TestAccount &operator=(const TestAccount &) = delete;

    bool made() const { return m_why.isEmpty(); }
    QString why() const { return m_why; }
    QString name() const { return m_user; } // the user's and the group's
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }

private:
    static bool run(const QString &program, const QStringList &arguments)
    {
        QProcess p;
        p.start(program, arguments);
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QString m_why;
    QString m_user;
    QString m_group;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

} // namespace testing
