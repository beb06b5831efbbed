#pragma once
// Windows metafiles (WMF) and enhanced metafiles (EMF): drawings in Windows' own record
// format, which office scanners and drawing programs of the old system's days wrote.
//
// The converters that read them (libwmf's wmf2svg, libemf2svg's emf2svg-conv) have a
// history of memory faults on malformed files, so they never run inside this program:
// each metafile is copied into a private temporary folder, converted to SVG there by a
// child process with limits on time, memory and output, and the SVG is drawn by the
// drawing helper under the same limits. Nothing is written beside the picture: the
// converters see only the copy, and the folder goes with everything in it.
#include "pictures/LimitedChild.h"
#include "pictures/PictureSize.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace pictures {

enum class MetafileKind { None, Wmf, Emf };

// Tells a metafile by its first bytes (at least 44 of them for an enhanced one);
// the file name is not consulted.
MetafileKind metafileKind(const QByteArray &head);

// The size the metafile gives itself, in pixels at 15 twips each (96 per inch): a
// placeable WMF from its bounding box and units per inch, an EMF from its frame in
// hundredths of a millimetre. Invalid when the header names no usable size (a WMF
// without the placeable header), in which case the drawing's own extent is used.
QSize metafileSize(MetafileKind kind, const QByteArray &head);

// The limits of the converters and of the drawing helper, each run on its own.
struct MetafileLimits {
    qint64 inputBytes = 64ll << 20;   // larger files are not handed to a converter at all
    qint64 outputBytes = 64ll << 20;  // the SVG the converter may write; an SVGZ's SVG
    qint64 memoryBytes = 768ll << 20; // address space of the converter and of the helper
    int cpuSeconds = 10;
    int timeoutMs = 20000;            // wall clock, for a child that waits on nothing
};

struct MetafileImage {
    bool ok = false;
    QImage image;
    QString error; // why it cannot be shown, in the operator's words
    QSize ownSize; // the size the drawing declares, before any reduction
    bool cancelled = false; // called off before it was drawn
};

// Converts and draws a metafile at its own size (reduced, keeping its proportions,
// when that is larger than maxPixels) or into the request's frame, on white as on the
// paper it was drawn for.
MetafileImage loadMetafile(const QString &path, MetafileKind kind, const PictureRequest &request, qint64 maxPixels,
                           const CancelFlag *cancel = nullptr);

// Draws an SVG picture (compressed: SVGZ) the same way, on a transparent ground. An
// SVGZ is expanded here, and refused once it expands past the converters' output limit.
MetafileImage loadSvg(const QString &path, bool compressed, const PictureRequest &request, qint64 maxPixels,
                      const CancelFlag *cancel = nullptr);

// The Debian package that brings each converter, for the message when it is missing.
QString converterPackage(MetafileKind kind);

// Tests put a converter of their own in place (empty: the real one) and tighten limits.
void setConverterForTests(MetafileKind kind, const QString &program);
// The drawing helper; empty: casearchive-render beside the program.
void setRendererForTests(const QString &program);
void setMetafileLimits(const MetafileLimits &limits);
MetafileLimits metafileLimits();

} // namespace pictures
