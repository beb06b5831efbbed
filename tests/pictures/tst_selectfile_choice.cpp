// The picture chooser's choice and its bounds: what a cancelled drive change leaves, the
// corner button at the end of its range, which volume holds a path, and which files the
// chooser may delete when a window restricts it.
#include "SelectFileFixture.h"

#include <QAction>
#include <QMenu>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

class TestSelectFileChoice : public testing::SelectFileFixture {
    Q_OBJECT

    QStringList m_removed;

    // Started in the folder of pictures, deleting as the rule allows.
    std::unique_ptr<SelectFile> open(const pictures::DeletionRule &rule = {})
    {
        auto w = std::make_unique<SelectFile>(nullptr, nullptr, m_pics);
        w->setDeletionRule(rule);
        w->show();
        return w;
    }

    // The pictures load on the loader thread, as they do for the operator.
    bool picturesAtOnce() const override { return false; }

    void setUp() override
    {
        setUpDrives(false);
        testing::makePicture(m_pics, QStringLiteral("a.bmp"), 20, 10, "BMP");
        testing::makePicture(m_pics, QStringLiteral("big.bmp"), 600, 700, "BMP");
        m_removed.clear();
        pictures::setFileRemover([this](const QString &path) {
            m_removed << path;
            return QFile::remove(path);
        });
    }

private slots:
    void aCancelledDriveChangeClearsTheChoiceWithThePath()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        clickFile(w.get(), QStringLiteral("a.bmp"));
        QVERIFY(c<QPushButton>(w.get(), "Command1")->isEnabled());

        platform.answer(Answer::Cancel);
        c<pictures::DriveList>(w.get(), "Drive1")->setCurrentIndex(1);
        QCOMPARE(platform.boxes.size(), 1);
        QVERIFY(text1(w.get())->text().isEmpty());
        QVERIFY(!c<QPushButton>(w.get(), "Command1")->isEnabled());
        QVERIFY(file1(w.get())->selectedItems().isEmpty());

        // The same file clicked again is chosen again, and 确定 takes it.
        clickFile(w.get(), QStringLiteral("a.bmp"));
        QCOMPARE(text1(w.get())->text(), QDir::toNativeSeparators(QDir(m_pics).filePath(QStringLiteral("a.bmp"))));
        QVERIFY(c<QPushButton>(w.get(), "Command1")->isEnabled());
    }

    void theCornerButtonStopsAStepShortOfTheEnd()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        c<QCheckBox>(w.get(), "Check1")->setChecked(true);
        clickFile(w.get(), QStringLiteral("big.bmp"));
        c<QCheckBox>(w.get(), "Check2")->setChecked(true);
        QScrollBar *h = c<QScrollBar>(w.get(), "HScroll1");
        QScrollBar *v = c<QScrollBar>(w.get(), "VScroll1");
        // The picture loads on the loader thread, which a loaded machine may keep waiting for seconds.
        QTRY_VERIFY_WITH_TIMEOUT(!h->isHidden() && !v->isHidden(), 60000);
        QVERIFY(h->maximum() > 2 * SelectFile::kCornerStep);
        QPushButton *corner = c<QPushButton>(w.get(), "Command3");

        // Exactly at the bound: neither bar moves.
        h->setValue(h->maximum() - SelectFile::kCornerStep);
        v->setValue(v->maximum() - SelectFile::kCornerStep);
        corner->click();
        QCOMPARE(h->value(), h->maximum() - SelectFile::kCornerStep);
        QCOMPARE(v->value(), v->maximum() - SelectFile::kCornerStep);
        // One short of it: a whole step.
        h->setValue(h->maximum() - SelectFile::kCornerStep - 1);
        v->setValue(0);
        corner->click();
        QCOMPARE(h->value(), h->maximum() - 1);
        QCOMPARE(v->value(), SelectFile::kCornerStep);
        QVERIFY(platform.boxes.isEmpty());
    }

    void aVolumeIsNeverChosenForAPathItOnlyPrefixes()
    {
        QDir top(m_dir->path());
        const QString usb1 = top.filePath(QStringLiteral("media/usb1"));
        const QString usb10 = top.filePath(QStringLiteral("media/usb10"));
        QDir().mkpath(usb1);
        QDir().mkpath(usb10 + QStringLiteral("/x"));
        pictures::setVolumeSource([usb1] { return QList<pictures::Volume>{{QStringLiteral("/"), QString()}, {usb1, QString()}}; });
        pictures::DriveList drives;
        drives.setDriveOf(usb10 + QStringLiteral("/x"));
        QCOMPARE(drives.drive(), QDir::toNativeSeparators(QStringLiteral("/")));
        drives.setDriveOf(usb1 + QStringLiteral("/x"));
        QCOMPARE(drives.drive(), QDir::toNativeSeparators(usb1));
        drives.setDriveOf(usb1);
        QCOMPARE(drives.drive(), QDir::toNativeSeparators(usb1));
    }

    void aRestrictedChooserKeepsTheFilesItMustKeep()
    {
        testing::ScriptedPlatform platform;
        const QString kept = QDir::toNativeSeparators(QDir(m_pics).filePath(QStringLiteral("a.bmp")));
        QStringList asked;
        pictures::DeletionRule rule;
        rule.refusal = [&](const QString &path) {
            asked << path;
            return path == kept ? QStringLiteral("不能删除") : QString();
        };
        auto w = open(rule);
        auto *del = c<QAction>(w.get(), "DelFile");

        clickFile(w.get(), QStringLiteral("a.bmp"));
        platform.answer(Answer::Ok);
        del->trigger();
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("不能删除"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("提示："));
        QCOMPARE(platform.boxes[0].buttons, Buttons::Ok);
        QCOMPARE(platform.boxes[0].icon, Icon::Exclamation);
        QCOMPARE(asked, QStringList{kept});
        QVERIFY(m_removed.isEmpty());
        QVERIFY(QFile::exists(kept));
        QCOMPARE(text1(w.get())->text(), kept);

        // Another file the rule lets go is asked about and deleted as ever.
        clickFile(w.get(), QStringLiteral("big.bmp"));
        platform.answer(Answer::Yes);
        del->trigger();
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(platform.boxes[1].title, QStringLiteral("删除文件"));
        QCOMPARE(m_removed.size(), 1);
        QVERIFY(!QFile::exists(QDir(m_pics).filePath(QStringLiteral("big.bmp"))));
    }

    void deletionNotOfferedIsNeverDone()
    {
        testing::ScriptedPlatform platform;
        pictures::DeletionRule rule;
        rule.offered = false;
        auto w = open(rule);
        clickFile(w.get(), QStringLiteral("a.bmp"));
        w->File1_ContextMenu(QPoint(2, 2));
        QVERIFY(!c<QMenu>(w.get(), "MenuEdit")->isVisible());
        w->DelFile_Click();
        c<QAction>(w.get(), "DelFile")->trigger();
        QVERIFY(platform.boxes.isEmpty());
        QVERIFY(m_removed.isEmpty());
        QVERIFY(QFile::exists(QDir(m_pics).filePath(QStringLiteral("a.bmp"))));
    }
};

QTEST_MAIN(TestSelectFileChoice)
#include "tst_selectfile_choice.moc"
