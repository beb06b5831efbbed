// The photos of a new record: picked through the picture chooser, added and removed without
// making the close ask, and kept by the chooser while a record names them.
#include "NewFormFixture.h"

#include "pictures/SelectFile.h"
#include "store/Settings.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

using platform::Answer;
using platform::Icon;

class TestNewFormPhotos : public testing::NewFormFixture {
    Q_OBJECT

private slots:
    void photoPickedThroughThePreviewChooser()
    {
        testing::ScriptedPlatform platform;
        QTemporaryDir photos;
        const QString picture = testing::makePicture(photos.path(), QStringLiteral("术中.png"), 64, 48);
        settings::write(QStringLiteral("Config"), QStringLiteral("Add"), photos.filePath(QStringLiteral("earlier.jpg")));
        auto w = open();
        platform.onModal = [&](QDialog &d) {
            auto *chooser = qobject_cast<SelectFile *>(&d);
            if (!chooser)
                return int(QDialog::Rejected);
            // The chooser starts in the folder of the last photo chosen.
            chooser->File1_Click(QStringLiteral("术中.png"));
            QTest::mouseClick(testing::child<QPushButton>(chooser, QStringLiteral("Command1")), Qt::LeftButton);
            return chooser->result();
        };
        auto *item = testing::child<QAction>(w.get(), QStringLiteral("MnuPreviewPhoto"));
        QCOMPARE(item->text(), QStringLiteral("用图片选择器添加(&P)..."));
        QVERIFY(w->List1->actions().contains(item));
        item->trigger();
        QCOMPARE(platform.modals, QStringList{QStringLiteral("SelectFile")});
        QCOMPARE(w->List1->count(), 1);
        QCOMPARE(w->List1->item(0)->text(), picture);
        QCOMPARE(settings::read(QStringLiteral("Config"), QStringLiteral("Add")), picture);
        // Cancelled: nothing added.
        platform.onModal = [](QDialog &) { return int(QDialog::Rejected); };
        item->trigger();
        QCOMPARE(w->List1->count(), 1);
    }

    void photosAloneDoNotMakeTheCloseAsk()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        platform.answerFile(QStringLiteral("/照片/一.jpg"));
        platform.answerFile(QStringLiteral("/照片/二.jpg"));
        w->Command1_Click();
        w->Command1_Click();
        w->Combo1->setEditText(QStringLiteral("外科"));
        QCOMPARE(w->List1->count(), 2);

        // Removing needs a selected entry.
        w->List1->clearSelection();
        w->List1->setCurrentRow(-1);
        w->Command2_Click();
        QCOMPARE(w->List1->count(), 2);
        w->List1->setCurrentRow(0);
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(w->List1->count(), 1);
        QCOMPARE(w->List1->item(0)->text(), QStringLiteral("/照片/二.jpg"));

        // A cancelled dialog changes nothing and leaves the focus on the list.
        platform.answerFile(QString());
        w->Command1_Click();
        QCOMPARE(w->List1->count(), 1);
        QCOMPARE(QApplication::focusWidget(), w->List1);

        QVERIFY(!w->recordDirty());
        w->close(); // an unexpected question would fail the test
        QVERIFY(!w->isVisible());
        QVERIFY(platform.boxes.isEmpty());
        QCOMPARE(m_reloads, 0);
    }

    void aCurrentButUnselectedPhotoIsNotRemoved()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        platform.answerFile(QStringLiteral("/照片/一.jpg"));
        w->Command1_Click();
        w->List1->clearSelection();
        // Tabbing into the list makes an entry current without selecting it.
        w->List1->selectionModel()->setCurrentIndex(w->List1->model()->index(0, 0), QItemSelectionModel::NoUpdate);
        QCOMPARE(w->List1->currentRow(), 0);
        QVERIFY(w->List1->selectedItems().isEmpty());
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(w->List1->count(), 1);
    }

    void theChooserKeepsFilesThatRecordsName()
    {
        testing::ScriptedPlatform platform;
        QTemporaryDir photos;
        const QString photo = testing::makePicture(photos.path(), QStringLiteral("术中.png"), 8, 8);
        const QString attached = testing::makePicture(photos.path(), QStringLiteral("附件.png"), 8, 8);
        const QString loose = testing::makePicture(photos.path(), QStringLiteral("多余.png"), 8, 8);
        m_archive->addRecord(QStringLiteral("外科"), QStringLiteral("240101080000"), QStringLiteral("胆囊切除"), attached,
                             QString(), {photo});
        QStringList removed;
        pictures::setFileRemover([&](const QString &path) {
            removed << path;
            return QFile::remove(path);
        });
        settings::write(QStringLiteral("Config"), QStringLiteral("Add"), loose);
        auto w = open();
        // In the chooser: try to delete a file, answer the boxes the test queued.
        auto tryDelete = [&](const QString &file) {
            platform.onModal = [&, file](QDialog &d) {
                auto *chooser = qobject_cast<SelectFile *>(&d);
                testing::child<QLineEdit>(chooser, QStringLiteral("Text1"))->setText(file);
                testing::child<QAction>(chooser, QStringLiteral("DelFile"))->trigger();
                return int(QDialog::Rejected);
            };
            w->MnuPreviewPhoto_Click();
        };

        platform.answer(Answer::Ok);
        tryDelete(photo);
        QCOMPARE(platform.boxes.size(), 1);
        QCOMPARE(platform.boxes[0].text, QStringLiteral("该文件是病案［胆囊切除］（病案号 240101080000）的手术照片，不能删除。"));
        QCOMPARE(platform.boxes[0].title, QStringLiteral("提示："));
        QCOMPARE(platform.boxes[0].icon, Icon::Exclamation);
        platform.answer(Answer::Ok);
        tryDelete(attached);
        QCOMPARE(platform.boxes.size(), 2);
        QCOMPARE(platform.boxes[1].text, QStringLiteral("该文件是病案［胆囊切除］（病案号 240101080000）的关联文件，不能删除。"));
        QVERIFY(removed.isEmpty());
        QVERIFY(QFile::exists(photo) && QFile::exists(attached));

        // A file no record names is asked about and deleted as ever.
        platform.answer(Answer::Yes);
        tryDelete(loose);
        QCOMPARE(platform.boxes.size(), 3);
        QCOMPARE(platform.boxes[2].title, QStringLiteral("删除文件"));
        QCOMPARE(removed, QStringList{loose});

        // Those who may only add records are not offered the command at all.
        app::CurrentAuthority = QStringLiteral("只能添加");
        bool menuShown = true;
        platform.onModal = [&](QDialog &d) {
            auto *chooser = qobject_cast<SelectFile *>(&d);
            testing::child<QLineEdit>(chooser, QStringLiteral("Text1"))->setText(attached);
            chooser->File1_ContextMenu(QPoint(2, 2));
            menuShown = testing::child<QMenu>(chooser, QStringLiteral("MenuEdit"))->isVisible();
            chooser->DelFile_Click();
            return int(QDialog::Rejected);
        };
        w->MnuPreviewPhoto_Click();
        QVERIFY(!menuShown);
        QCOMPARE(platform.boxes.size(), 3);
        QVERIFY(QFile::exists(attached));
        app::CurrentAuthority = QStringLiteral("超级权限");
        pictures::setFileRemover({});
    }
};

QTEST_MAIN(TestNewFormPhotos)
#include "tst_newform_photos.moc"
