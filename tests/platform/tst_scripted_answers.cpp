// The scripted answers that every window test relies on: an answer queued by one test
// function is never left for the next one, and a test that leaves one unused fails at once
// instead of hanging a later test on a real message box.
#include "ScriptedPlatform.h"

#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

namespace {

const char *kInnerRun = "CASEARCHIVE_SCRIPTED_ANSWERS_INNER";

// Closes whatever real message box comes up: should the seam fall back to the real box,
// the test fails on what it finds rather than waiting for ever.
void closeRealBoxes()
{
    QTimer::singleShot(0, qApp, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
}

} // namespace

// Run in a child process of the test below: the way test programs lay out their
// platform, one per test function, made in init() and dropped in cleanup().
class InnerRun : public QObject {
    Q_OBJECT
    std::unique_ptr<testing::ScriptedPlatform> m_platform;

private slots:
    void init() { m_platform = std::make_unique<testing::ScriptedPlatform>(); }
    void cleanup()
    {
        const QStringList unused = m_platform->takeUnused();
        m_platform.reset();
        QVERIFY2(unused.isEmpty(), qPrintable(QStringLiteral("queued but never asked for: ") + unused.join(QStringLiteral(", "))));
    }

    void leavesAnAnswerUnused() { m_platform->answer(Answer::Yes); }

    void asksOnce()
    {
        closeRealBoxes();
        m_platform->answer(Answer::No);
        QCOMPARE(platform::message(nullptr, QStringLiteral("第二问"), QStringLiteral("确认"), Buttons::YesNo, Icon::Question),
                 Answer::No);
    }

    // A platform made on the stack, with an answer left over when the function returns.
    void localPlatformLeavesAnAnswer()
    {
        testing::ScriptedPlatform local;
        local.answer(Answer::Ok);
    }

    // One made inside the test's own: when it goes, the test's own answers again.
    void anInnerPlatformHandsBack()
    {
        closeRealBoxes();
        {
            testing::ScriptedPlatform inner;
            inner.answer(Answer::Yes);
            QCOMPARE(platform::message(nullptr, QStringLiteral("内层"), QString(), Buttons::YesNo), Answer::Yes);
        }
        m_platform->answer(Answer::Yes);
        QCOMPARE(platform::message(nullptr, QStringLiteral("外层"), QString(), Buttons::YesNo), Answer::Yes);
        QCOMPARE(m_platform->boxes.size(), 1);
    }
};

class TestScriptedAnswers : public QObject {
    Q_OBJECT

private slots:
    void aNewerPlatformKeepsTheSeamsWhenAnOlderGoes()
    {
        closeRealBoxes();
        auto older = std::make_unique<testing::ScriptedPlatform>();
        testing::ScriptedPlatform newer; // as init() makes the next before dropping the last
        older.reset();
        newer.answer(Answer::Yes);
        QCOMPARE(platform::message(nullptr, QStringLiteral("问题"), QStringLiteral("确认"), Buttons::YesNo), Answer::Yes);
        QCOMPARE(newer.boxes.size(), 1);
        QCOMPARE(newer.boxes[0].text, QStringLiteral("问题"));
    }

    void unusedAnswersAreTakenAway()
    {
        testing::ScriptedPlatform scripted;
        scripted.answer(Answer::Yes);
        scripted.answer(Answer::Cancel);
        scripted.answerFile(QStringLiteral("/照片/一.jpg"));
        QCOMPARE(scripted.takeUnused(),
                 (QStringList{QStringLiteral("answer Yes"), QStringLiteral("answer Cancel"), QStringLiteral("file /照片/一.jpg")}));
        QCOMPARE(scripted.pendingAnswers(), 0);
        QVERIFY(scripted.takeUnused().isEmpty());
    }

    void aTestEndingWithAnswersUnusedFailsAndTheNextRunsClean()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kInnerRun), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForFinished(120000), "the inner run hangs");
        const QString out = QString::fromUtf8(child.readAll());
        QVERIFY2(out.contains(QStringLiteral("FAIL!  : InnerRun::leavesAnAnswerUnused()")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("queued but never asked for: answer Yes")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("PASS   : InnerRun::asksOnce()")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("FAIL!  : InnerRun::localPlatformLeavesAnAnswer()")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("queued but never asked for: answer Ok")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("PASS   : InnerRun::anInnerPlatformHandsBack()")), qPrintable(out));
        QCOMPARE(child.exitCode(), 2);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kInnerRun)) {
        InnerRun inner;
        return QTest::qExec(&inner, argc, argv);
    }
    TestScriptedAnswers test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scripted_answers.moc"
