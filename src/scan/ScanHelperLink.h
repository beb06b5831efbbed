#pragma once
// What the program and its scanner helper (casearchive-scan, src/scan/ScanHelperMain.cpp) say to
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

#include <cerrno>

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

// A payload with its four-byte head; and the length a head announces, -1 when no frame of
// ours is that long.
QByteArray framed(const QByteArray &payload);
qint32 announcedSize(const char *head);

// Moves `size` bytes at `at` by repeated `step(at, left)` (a read or a write of up to
// `left` bytes, which returns what ::read does): a step interrupted is tried again, and so
// is one that would block on a descriptor that `ready()` polls first. False when `ready`
// gives up, or a step fails or meets the end of the stream.
template <typename Byte, typename Step, typename Ready>
bool transferAll(Byte *at, qint64 size, Step step, Ready ready, bool polled)
{
    while (size > 0) {
        if (!ready())
            return false;
        const auto n = step(at, size);
        if (n < 0 && (errno == EINTR || (polled && errno == EAGAIN)))
            continue;
        if (n <= 0)
            return false;
        at += n;
        size -= n;
    }
    return true;
}

} // namespace pictures::helper
