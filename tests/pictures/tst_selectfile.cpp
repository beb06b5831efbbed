// The picture chooser: its window and lists as they open, the file types, what empties
// the choice, a drive without a medium, how it ends and where it was.
#include "SelectFileFixture.h"

#include "platform/Twips.h"
#include "store/Settings.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QMenu>
#include <memory>

using platform::Answer;
using platform::Buttons;
using platform::Icon;

class TestSelectFile : public testing::SelectFileFixture {
    Q_OBJECT

private slots:
    void firstOpening()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        QCOMPARE(w->windowTitle(), QStringLiteral("选择图片文件"));
        QCOMPARE(w->pos(), QPoint(0, 0));
        QCOMPARE(w->width(), platform::tw(SelectFile::kNarrowWidth - 90));
        // The preview frame lies beyond the narrow window's edge.
        QVERIFY(c<QFrame>(w.get(), "Picture1")->geometry().left() >= w->width());

        auto *type = c<QComboBox>(w.get(), "SelectType");
        const QStringList expected = {QStringLiteral("所有图片文件(*.*)"), QStringLiteral("位图文件|*.BMP"),
                                      QStringLiteral("压缩文件|*.JPG"),    QStringLiteral("GIF文件|*.GIF"),
                                      QStringLiteral("图标文件|*.ICO"),    QStringLiteral("WMF|*.WMF"),
                                      QStringLiteral("EMF|*.EMF"),         QStringLiteral("RLE|*.RLE")};
        QStringList shown;
        for (int i = 0; i < type->count(); ++i)
            shown << type->itemText(i);
        QCOMPARE(shown, expected);
        QCOMPARE(type->currentIndex(), 0);
        QVERIFY(!type->isEditable());

        QVERIFY(text1(w.get())->isReadOnly());
        QVERIFY(text1(w.get())->text().isEmpty());
        QVERIFY(!c<QPushButton>(w.get(), "Command1")->isEnabled());
        QVERIFY(c<QPushButton>(w.get(), "Command1")->isDefault());
        QVERIFY(!c<QCheckBox>(w.get(), "Check1")->isChecked());
        QVERIFY(!c<QCheckBox>(w.get(), "Check2")->isChecked());
        QVERIFY(!c<QCheckBox>(w.get(), "Check2")->isEnabled());
        QVERIFY(hbar(w.get())->isHidden() && vbar(w.get())->isHidden() && corner(w.get())->isHidden());

        // The lists start where the process stands; every picture type, letter case
        // ignored; no folders, no hidden files, nothing else.
        QCOMPARE(c<pictures::FolderList>(w.get(), "Dir1")->path(), QDir(m_pics).absolutePath());
        QCOMPARE(c<pictures::DriveList>(w.get(), "Drive1")->drive(), QDir::toNativeSeparators(m_volume));
        QCOMPARE(items(file1(w.get())), (QStringList{QStringLiteral("A.BMP"), QStringLiteral("b.jpg"),
                                                     QStringLiteral("c.Gif"), QStringLiteral("e.ico"),
                                                     QStringLiteral("f.WMF"), QStringLiteral("g.emf"),
                                                     QStringLiteral("h.rle")}));
        // Our own pointer pictures, the released one over the preview.
        const QPixmap up = c<QLabel>(w.get(), "picUP")->pixmap();
        const QPixmap down = c<QLabel>(w.get(), "picDown")->pixmap();
        QVERIFY(!up.isNull() && !down.isNull());
        QVERIFY(up.toImage() != down.toImage());
        QCOMPARE(picture(w.get())->cursor().pixmap().toImage(), up.toImage());
        QVERIFY(platform.boxes.isEmpty());
    }

    void typePatterns_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("bmp") << 1 << "*.bmp" << QStringList{QStringLiteral("A.BMP")};
        QTest::newRow("jpg") << 2 << "*.jpg" << QStringList{QStringLiteral("b.jpg")};
        QTest::newRow("gif") << 3 << "*.gif" << QStringList{QStringLiteral("c.Gif")};
        QTest::newRow("ico") << 4 << "*.ico" << QStringList{QStringLiteral("e.ico")};
        QTest::newRow("wmf") << 5 << "*.wmf" << QStringList{QStringLiteral("f.WMF")};
        QTest::newRow("emf") << 6 << "*.emf" << QStringList{QStringLiteral("g.emf")};
        QTest::newRow("rle") << 7 << "*.rle" << QStringList{QStringLiteral("h.rle")};
        QTest::newRow("all") << 0 << "*.bmp;*.jpg;*.gif;*.ico;*.wmf;*.emf;*.rle"
                             << QStringList{QStringLiteral("A.BMP"), QStringLiteral("b.jpg"),
                                            QStringLiteral("c.Gif"), QStringLiteral("e.ico"),
                                            QStringLiteral("f.WMF"), QStringLiteral("g.emf"),
                                            QStringLiteral("h.rle")};
    }

    void typePatterns()
    {
        QFETCH(int, index);
        QFETCH(QString, pattern);
        QFETCH(QStringList, files);
        testing::ScriptedPlatform platform;
        auto w = open();
        auto *type = c<QComboBox>(w.get(), "SelectType");
        // Start from another type, so that every row is a change.
        type->setCurrentIndex(index == 3 ? 4 : 3);
        type->setCurrentIndex(index);
        QCOMPARE(SelectFile::patternFor(type->itemText(index)), pattern);
        QCOMPARE(c<pictures::FileList>(w.get(), "File1")->pattern(), pattern);
        QCOMPARE(items(file1(w.get())), files);
        // A new file shows up when the type is chosen again: the list is read anew.
        testing::makePicture(m_pics, QStringLiteral("new.bmp"), 4, 4, "BMP");
        type->setCurrentIndex(index == 0 ? 1 : 0);
        QVERIFY(items(file1(w.get())).contains(QStringLiteral("new.bmp")));
        QVERIFY(SelectFile::patternFor(QStringLiteral("位图文件")).isEmpty());
        QVERIFY(SelectFile::patternFor(QStringLiteral("位图文件|*.bmp")).isEmpty());
    }

    void pathJoining()
    {
        // A root already ends in its separator; every other folder gets one inserted.
        QCOMPARE(pictures::joinPath(QStringLiteral("/"), QStringLiteral("a.bmp")), QStringLiteral("/a.bmp"));
        QCOMPARE(pictures::joinPath(QStringLiteral("C:\\"), QStringLiteral("a.bmp")), QStringLiteral("C:\\a.bmp"));
        QCOMPARE(pictures::joinPath(QStringLiteral("/photos"), QStringLiteral("a.bmp")),
                 QStringLiteral("/photos") + QDir::separator() + QStringLiteral("a.bmp"));

        testing::ScriptedPlatform platform;
        auto w = open();
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QCOMPARE(text1(w.get())->text(), QDir::toNativeSeparators(QDir(m_pics).absoluteFilePath(QStringLiteral("b.jpg"))));
        QVERIFY(c<QPushButton>(w.get(), "Command1")->isEnabled());
        QVERIFY(c<QCheckBox>(w.get(), "Check2")->isEnabled());
        // Without the preview nothing is loaded.
        QVERIFY(picture(w.get())->pixmap().isNull());

        // At the top of a volume the window goes through the same joining.
        auto *drive = c<QComboBox>(w.get(), "Drive1");
        drive->setCurrentIndex(1);
        QCOMPARE(c<pictures::FolderList>(w.get(), "Dir1")->path(), QDir(m_other).absolutePath());
        clickFile(w.get(), QStringLiteral("x.bmp"));
        QCOMPARE(text1(w.get())->text(), QDir::toNativeSeparators(QDir(m_other).absoluteFilePath(QStringLiteral("x.bmp"))));
        QVERIFY(platform.boxes.isEmpty());
    }

    void everyWayOfEmptyingText1()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        auto *check1 = c<QCheckBox>(w.get(), "Check1");
        check1->setChecked(true);

        // A type change.
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QVERIFY(!picture(w.get())->pixmap().isNull());
        c<QComboBox>(w.get(), "SelectType")->setCurrentIndex(2);
        QVERIFY(cleared(w.get()));

        // A folder change, by a double click in the folder list.
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QVERIFY(!picture(w.get())->pixmap().isNull());
        openFolder(w.get(), QStringLiteral("sub"));
        QCOMPARE(c<pictures::FolderList>(w.get(), "Dir1")->path(), QDir(m_pics).absoluteFilePath(QStringLiteral("sub")));
        QVERIFY(cleared(w.get()));
        QVERIFY(items(file1(w.get())).isEmpty());
        // Back up one level: the type chosen stays on the list.
        openFolder(w.get(), QStringLiteral("pics"));
        QCOMPARE(items(file1(w.get())), QStringList{QStringLiteral("b.jpg")});

        // A drive change.
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QVERIFY(!picture(w.get())->pixmap().isNull());
        c<QComboBox>(w.get(), "Drive1")->setCurrentIndex(1);
        QVERIFY(cleared(w.get()));

        // A deletion.
        c<QComboBox>(w.get(), "Drive1")->setCurrentIndex(0);
        openFolder(w.get(), QStringLiteral("pics"));
        clickFile(w.get(), QStringLiteral("b.jpg"));
        QVERIFY(!picture(w.get())->pixmap().isNull());
        platform.answer(Answer::Yes);
        w->DelFile_Click();
        QVERIFY(cleared(w.get()));
        QVERIFY(platform.boxes.size() == 1);
    }

    void driveWithoutMedium()
    {
        testing::ScriptedPlatform platform;
        auto w = open();
        auto *drive = c<pictures::DriveList>(w.get(), "Drive1");
        auto *dir = c<pictures::FolderList>(w.get(), "Dir1");
        clickFile(w.get(), QStringLiteral("b.jpg"));
        const QString folder = dir->path();

        // Retry asks again; Cancel goes back to the drive of the folder on show.
        platform.answer(Answer::Retry);
        platform.answer(Answer::Cancel);
        drive->setCurrentIndex(2);
        QCOMPARE(platform.boxes.size(), 2);
        for (const testing::RecordedBox &box : platform.boxes) {
            QCOMPARE(box.text, QDir::toNativeSeparators(m_absent) + QStringLiteral(" 驱动器没有准备好！"));
            QCOMPARE(box.title, QStringLiteral("驱动器没有准备好！"));
            QCOMPARE(box.buttons, Buttons::RetryCancel);
            QCOMPARE(box.icon, Icon::Critical);
            QCOMPARE(box.defaultButton, Answer::Retry);
        }
        QCOMPARE(drive->currentIndex(), 0);
        QCOMPARE(dir->path(), folder);
        QVERIFY(cleared(w.get()));
        // The list keeps a selection, but with no path there is nothing to delete.
        w->File1_ContextMenu(QPoint(2, 2));
        QVERIFY(!c<QAction>(w.get(), "DelFile")->isEnabled());
        c<QMenu>(w.get(), "MenuEdit")->close();
        w->DelFile_Click();
        QCOMPARE(platform.boxes.size(), 2);

        // The medium goes in while the box is up: Retry then finds it.
        int asked = 0;
        platform::setMessageHandler([&](QWidget *, const platform::MessageRequest &) {
            ++asked;
            QDir().mkpath(m_absent);
            return Answer::Retry;
        });
        drive->setCurrentIndex(2);
        QCOMPARE(asked, 1);
        QCOMPARE(dir->path(), QDir(m_absent).absolutePath());
        QCOMPARE(drive->currentIndex(), 2);
    }

    void resultAndCancel()
    {
        testing::ScriptedPlatform platform;
        QLineEdit field;
        field.setText(QStringLiteral("before"));
        {
            auto w = open(&field);
            clickFile(w.get(), QStringLiteral("b.jpg"));
            w->reject(); // Esc, 取消 and the close box end here
            QCOMPARE(w->result(), int(QDialog::Rejected));
            QCOMPARE(field.text(), QStringLiteral("before"));
            QVERIFY(w->chosenPath().isEmpty());
        }
        {
            auto w = open(&field);
            clickFile(w.get(), QStringLiteral("b.jpg"));
            QTest::keyClick(c<QPushButton>(w.get(), "Command2"), Qt::Key_Escape);
            QCOMPARE(w->result(), int(QDialog::Rejected));
            QCOMPARE(field.text(), QStringLiteral("before"));
        }
        {
            auto w = open(&field);
            clickFile(w.get(), QStringLiteral("b.jpg"));
            const QString chosen = text1(w.get())->text();
            QTest::mouseClick(c<QPushButton>(w.get(), "Command1"), Qt::LeftButton);
            QCOMPARE(w->result(), int(QDialog::Accepted));
            QCOMPARE(field.text(), chosen);
        }
        {
            // A double click on a file chooses it.
            field.clear();
            auto w = open(&field);
            QListWidget *list = file1(w.get());
            const QRect r = list->visualItemRect(list->findItems(QStringLiteral("e.ico"), Qt::MatchExactly).first());
            doubleClick(list->viewport(), r.center());
            QCOMPARE(w->result(), int(QDialog::Accepted));
            QCOMPARE(field.text(), QDir::toNativeSeparators(QDir(m_pics).absoluteFilePath(QStringLiteral("e.ico"))));
        }
        {
            // A double click on the preview chooses only while there is a choice.
            field.clear();
            auto w = open(&field);
            c<QCheckBox>(w.get(), "Check1")->setChecked(true);
            mouse(picture(w.get()), QEvent::MouseButtonDblClick, QPointF(10, 10));
            QVERIFY(w->isVisible());
            clickFile(w.get(), QStringLiteral("b.jpg"));
            mouse(picture(w.get()), QEvent::MouseButtonDblClick, QPointF(10, 10));
            QCOMPARE(w->result(), int(QDialog::Accepted));
            QCOMPARE(field.text(), text1(w.get())->text());
        }
    }

    void choosePictureRunsTheChooser()
    {
        testing::ScriptedPlatform platform;
        platform.onModal = [this](QDialog &d) {
            d.show();
            clickFile(&d, QStringLiteral("A.BMP"));
            testing::child<QPushButton>(&d, QStringLiteral("Command1"))->click();
            return d.result();
        };
        QCOMPARE(pictures::choosePicture(nullptr),
                 QDir::toNativeSeparators(QDir(m_pics).absoluteFilePath(QStringLiteral("A.BMP"))));
        QCOMPARE(platform.modals, QStringList{QStringLiteral("SelectFile")});
        // A start folder of the caller's; one that has gone gives way to the current folder.
        platform.onModal = [this](QDialog &d) {
            d.show();
            clickFile(&d, QStringLiteral("x.bmp"));
            testing::child<QPushButton>(&d, QStringLiteral("Command1"))->click();
            return d.result();
        };
        QCOMPARE(pictures::choosePicture(nullptr, m_other),
                 QDir::toNativeSeparators(QDir(m_other).absoluteFilePath(QStringLiteral("x.bmp"))));
        QString startedIn;
        platform.onModal = [&startedIn](QDialog &d) {
            startedIn = testing::child<pictures::FolderList>(&d, QStringLiteral("Dir1"))->path();
            return int(QDialog::Rejected);
        };
        QVERIFY(pictures::choosePicture(nullptr, m_absent).isEmpty());
        QCOMPARE(startedIn, QDir(m_pics).absolutePath());
        QCOMPARE(platform.modals.size(), 3);
    }

    void positionIsKept()
    {
        testing::ScriptedPlatform platform;
        {
            auto w = open();
            w->move(120, 45);
            w->reject();
        }
        QCOMPARE(settings::read(QStringLiteral("SelectPhoto"), QStringLiteral("Left")), QStringLiteral("1800"));
        QCOMPARE(settings::read(QStringLiteral("SelectPhoto"), QStringLiteral("Top")), QStringLiteral("675"));
        auto w = open();
        QCOMPARE(w->pos(), QPoint(120, 45));
    }

    void screenshots()
    {
        testing::ScriptedPlatform platform;
        testing::makePicture(m_pics, QStringLiteral("photo.bmp"), 600, 400, "BMP");
        auto w = open();
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("SelectFile")));
        preview(w.get(), QStringLiteral("photo.bmp"), false);
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("SelectFile-preview")));
        c<QCheckBox>(w.get(), "Check2")->setChecked(true);
        QVERIFY(testing::screenshot(w.get(), QStringLiteral("SelectFile-autosize")));
        // Every caption has the room it needs.
        for (const char *name : {"Label1", "Check1", "Check2"}) {
            QWidget *control = c<QWidget>(w.get(), name);
            QVERIFY2(control->width() >= control->sizeHint().width(), name);
        }
        for (const char *name : {"Command1", "Command2"}) {
            auto *b = c<QPushButton>(w.get(), name);
            QVERIFY2(b->width() >= b->fontMetrics().horizontalAdvance(b->text()), name);
        }
    }
};

QTEST_MAIN(TestSelectFile)
#include "tst_selectfile.moc"
