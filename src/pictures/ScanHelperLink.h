#pragma once
// What the program and its scanner helper (casearchive-scan, src/scan/main.cpp) say to
// each other. The drivers run in the helper, never in the program: SANE ends a driver's
// reader thread with an asynchronous cancel wherever that thread happens to be, and one
// ended inside malloc, fork or strerror leaves the C library's (or the sanitizer's) lock
// held for good; the next dlclose, fork or setlocale of that process then waits forever.
// Such a driver can only wedge the helper, which the program kills.
//
// Requests go to the helper's standard input, replies come back on its standard output;
// each is a frame: a 32-bit length, then that many bytes of QDataStream. A byte on the
// helper's descriptor 3 cancels the scan in progress at once, even while a read blocks.
#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

namespace pictures::helper {

enum Op : qint32 { Devices = 1, Open, Apply, Start, Format, Read, Cancel, Close };

constexpr int kCancelFd = 3;
// A reply holds at most one chunk of page data and the texts around it; anything longer
// is not from our helper.
constexpr qint32 kMaxFrame = 4 << 20;

inline QDataStream &stream(QDataStream &s)
{
    s.setVersion(QDataStream::Qt_6_0);
    return s;
}

// Whole frames over a descriptor; false when the other side is gone or the frame is bad.
bool writeFrame(int fd, const QByteArray &payload);
bool readFrame(int fd, QByteArray &payload);

} // namespace pictures::helper
