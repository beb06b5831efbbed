#include "pictures/ScanHelperLink.h"

#include <QtEndian>

#include <cerrno>
#include <unistd.h>

namespace pictures::helper {

namespace {

bool readExactly(int fd, char *to, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::read(fd, to, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n;
        size -= n;
    }
    return true;
}

} // namespace

bool writeFrame(int fd, const QByteArray &payload)
{
    QByteArray frame(4, Qt::Uninitialized);
    qToBigEndian<qint32>(qint32(payload.size()), frame.data());
    frame += payload;
    const char *from = frame.constData();
    qint64 left = frame.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, from, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        from += n;
        left -= n;
    }
    return true;
}

bool readFrame(int fd, QByteArray &payload)
{
    char head[4];
    if (!readExactly(fd, head, 4))
        return false;
    const qint32 size = qFromBigEndian<qint32>(head);
    if (size < 0 || size > kMaxFrame)
        return false;
    payload.resize(size);
    return readExactly(fd, payload.data(), size);
}

} // namespace pictures::helper
