#pragma once
// The text a PDF gives back when it is searched or copied from. Qt's PDF writer tells,
// for each glyph of a font, the lowest code point the font draws with that glyph; a CJK
// font draws look-alikes with one glyph (the ideograph 文 and the Kangxi radical ⽂, 页 and
// the radical ⻚), so the PDF of a record said "⽂" where the record holds "文". The maps
// are rewritten after the writer, from what was drawn.
#include <QByteArray>
#include <QFont>
#include <QList>
#include <QString>

namespace records {

// The PDF, its fonts' maps back to text naming for each glyph the character drawn with it,
// wherever a lower code point that was not drawn shares the glyph in one of the fonts.
// A PDF laid out otherwise than Qt writes it is given back unchanged.
QByteArray withDrawnCharacters(const QByteArray &pdf, const QString &drawn, const QList<QFont> &fonts);

} // namespace records
