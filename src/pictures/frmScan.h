#pragma once
// The page viewer: a record's photos one at a time, at their own size.
#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollBar;
namespace pictures {
class PictureFetch;
struct LoadedPicture;
} // namespace pictures

class frmScan : public QDialog {
    Q_OBJECT
public:
    // Reads the browser's photo list directly while it pages; does not copy it.
    explicit frmScan(QListWidget *photoList, QWidget *parent = nullptr);
    ~frmScan() override;

    // The photo the paging buttons treat as current; survives the window's closing.
    static int PageIndex;

    // 0 first, 1 next, 2 previous, 3 last, 4 close.
    void Command1_Click(int index);
    void HScroll1_Change(int value);
    void VScroll1_Change(int value);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Show();
    // The text of the list's item at an index; empty outside the list.
    QString itemText(int index) const;
    int itemCount() const;
    // Has the photo loaded off the window's thread; photoLoaded shows it (at once when
    // it is ready within a moment). opening: the window's opening, else paging to target.
    void loadPhoto(const QString &path, bool opening, int target);
    void photoLoaded(const QString &path, const pictures::LoadedPicture &picture);
    // Replaces the picture of Image1 with a photo that was read.
    void showPhoto(const pictures::LoadedPicture &picture);
    // The rest of the opening, once its photo is shown: centred, with the bars it needs.
    void placeOpeningPhoto();
    // Tells the operator about the photo on show or one that could not be shown: over the
    // whole frame when there is no photo to see, else along the frame's lower edge.
    void showNotice(const QString &text, bool wholeFrame);
    void hideNotice();

    QPointer<QListWidget> m_list;
    pictures::PictureFetch *m_fetch = nullptr;
    bool m_opening = false; // the load in progress is the opening's
    int m_target = 0;       // the photo the load in progress is for
    QFrame *Picture1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *lblNotice = nullptr;
    QScrollBar *HScroll1 = nullptr;
    QScrollBar *VScroll1 = nullptr;
    QPushButton *Command1[5] = {};
};
