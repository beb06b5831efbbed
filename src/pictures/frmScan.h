#pragma once
// The page viewer: a record's photos one at a time, at their own size; the operator may
// fit a photo into the frame, zoom, pan and turn it for viewing (never the file itself).
#include "pictures/PictureLoader.h"

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QSet>
#include <functional>

class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollBar;
namespace pictures {
class PictureFetch;
} // namespace pictures

class frmScan : public QDialog {
    Q_OBJECT
public:
    // Reads the browser's photo list directly while it pages; does not copy it.
    explicit frmScan(QListWidget *photoList, QWidget *parent = nullptr);
    ~frmScan() override;

    // The photo the paging buttons treat as current; survives the window's closing.
    static int PageIndex;
    // Whether the photos before and after the current one are read in the background
    // (the benchmark compares paging without it).
    static bool ReadAhead;

    // 0 first, 1 next, 2 previous, 3 last, 4 close.
    void Command1_Click(int index);
    void HScroll1_Change(int value);
    void VScroll1_Change(int value);

    // The view of the photo on show; paging brings each photo back at its own size, upright.
    void toggleFit();           // fit into the frame <-> 1:1
    void zoomBy(int steps);     // + in, - out; leaves fitting
    void rotateBy(int quarters); // clockwise quarter turns
    double zoom() const;        // the scale the photo is shown at
    // The paths of the photos read ahead and held, besides the one on show.
    QStringList readAheadHeld() const;
    // The same with those still being read ahead.
    QStringList readAheadTaken() const;

    // The words recognised on a photo, as the operator is to read them; set by whoever
    // knows the record (the browser). Without it the window offers no words.
    std::function<QString(const QString &path)> pageTextOf;
    // Shows or hides the words of the photo on show in a box beside it ("照片文字").
    void togglePageText();
    // Prints the record whose photos are on show, over the window it is given. The viewer
    // knows no records: the window that opens it says how, and only when the operator may
    // print; without it the viewer offers no printing.
    using PrintHook = std::function<void(QWidget *parent)>;
    void setPrintHook(PrintHook hook);
    void cmdPrint_Click();

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
    // "第 3 / 12 张" in the frame's corner for the photo at an index of the list.
    void showPageNumber(int index);
    // Draws the photo on show at the view's scale and turn, keeping the point at the
    // frame's centre where it was (turned: the quarter turns just made).
    void renderView(int turned);
    bool viewChanged() const { return m_fit || m_scale != 1.0 || m_turns != 0; }
    // Reads the photos before and after an index ahead, letting go of any others, so that
    // no more than three photos are held: the one on show and its two neighbours.
    void readAround(int index);
    void aheadLoaded(int slot, const QString &path, const pictures::LoadedPicture &picture);

    QPointer<QListWidget> m_list;
    pictures::PictureFetch *m_fetch = nullptr;
    struct Ahead {
        pictures::PictureFetch *fetch = nullptr;
        int index = -1; // -1: the slot is free
        QString path;
        bool ready = false;
        pictures::LoadedPicture picture;
    };
    Ahead m_ahead[2];
    int m_waiting = -1; // the slot whose photo the operator has paged to while it is read
    QString m_pendingPath;  // the photo the window's own load is for
    QSet<QString> m_slowPaths; // left while still being read: never read ahead
    void letGo(Ahead &ahead);
    bool m_opening = false; // the load in progress is the opening's
    int m_target = 0;       // the photo the load in progress is for
    int m_shown = -1;       // the list's index of the photo the load in progress is for
    QImage m_image;         // the photo on show as it was read; null when there is none
    bool m_fit = false;
    double m_scale = 1.0;
    int m_turns = 0;
    bool m_dragging = false;
    QPoint m_dragFrom;      // where a drag began, and the bars' values then
    QPoint m_dragBars;
    QFrame *Picture1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *lblNotice = nullptr;
    QLabel *lblPage = nullptr;
    QScrollBar *HScroll1 = nullptr;
    QScrollBar *VScroll1 = nullptr;
    QPushButton *Command1[5] = {};
    QPushButton *cmdPageText = nullptr;
    class QPlainTextEdit *txtPageText = nullptr;
    QSize m_baseSize; // the window without the words beside it
    void showPageText(int index);
    QPushButton *cmdPrint = nullptr;
    PrintHook m_printHook;
};
