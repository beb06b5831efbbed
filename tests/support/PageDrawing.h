#pragma once
// Pages of a case record drawn by the tests themselves, as a scanner would give them:
// black text in the Noto CJK font on white paper at 300 dpi, clean or with speckles and
// a small turn.
#include <QImage>
#include <QString>

namespace testing {

// A paragraph of a discharge summary: Chinese with numbers and English drug names.
QString dischargeSummary();

struct PageLook {
    int widthPx = 2480;   // A4 at 300 dpi is 2480 x 3508
    int heightPx = 0;     // 0: as tall as the text needs
    int pointSize = 12;
    double turnDegrees = 0;
    double speckles = 0;  // share of pixels flipped to grey noise, 0..1
    unsigned specksVariant = 1; // the same number draws the same specks
};

// The page, its resolution stored with it (300 dpi).
QImage drawPage(const QString &text, const PageLook &look = PageLook());
// Writes it as a PNG; false when it cannot.
bool savePage(const QImage &page, const QString &path);
// How many of the expected characters (blanks left out) come in the recognised text in
// order: the length of their longest common subsequence, divided by the expected count.
double recognisedShare(const QString &expected, const QString &recognised);

} // namespace testing
