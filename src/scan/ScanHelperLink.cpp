#include "scan/ScanHelperLink.h"

#include <QtEndian>

#include <unistd.h>

namespace pictures::helper {

namespace {

bool readExactly(int fd, char *to, qint64 size)
{
    return transferAll(
        to, size, [fd](char *at, qint64 left) { return ::read(fd, at, size_t(left)); }, [] { return true; }, false);
}

} // namespace

QByteArray framed(const QByteArray &payload)
{
    QByteArray frame(4, Qt::Uninitialized);
    qToBigEndian<qint32>(qint32(payload.size()), frame.data());
    return frame + payload;
}

qint32 announcedSize(const char *head)
{
    const qint32 size = qFromBigEndian<qint32>(head);
    return size < 0 || size > kMaxFrame ? -1 : size;
}

bool writeFrame(int fd, const QByteArray &payload)
{
    const QByteArray frame = framed(payload);
    return transferAll(
        frame.constData(), frame.size(), [fd](const char *at, qint64 left) { return ::write(fd, at, size_t(left)); },
        [] { return true; }, false);
}

bool readFrame(int fd, QByteArray &payload)
{
    char head[4];
    if (!readExactly(fd, head, 4))
        return false;
    const qint32 size = announcedSize(head);
    if (size < 0)
        return false;
    payload.resize(size);
    return readExactly(fd, payload.data(), size);
}

} // namespace pictures::helper
