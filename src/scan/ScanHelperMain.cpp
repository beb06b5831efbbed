// casearchive-scan: runs the scanner drivers (SANE) for the program that starts it.
//
// The drivers live here rather than in the program because SANE stops a driver's reader
// thread with an asynchronous cancel, wherever that thread is; a thread stopped inside
// malloc, fork or strerror leaves a lock of the C library held for good, and the process
// then hangs at its next dlclose, fork or setlocale. Here that can only wedge this helper,
// which the program kills (scan/ScanHelperLink.h describes the conversation).
//
// Standard input: requests; standard output: replies; descriptor 3: one byte per cancel.
// The helper ends, closing its drivers, when its standard input ends.
#include "scan/ScanHelperLink.h"
#include "scan/Scanner.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace pictures;

int main()
{
    // Requests and replies get descriptors of their own: a driver that prints on standard
    // output must not garble a reply, nor one that reads standard input eat a request.
    const int requests = ::fcntl(0, F_DUPFD_CLOEXEC, 10);
    const int replies = ::fcntl(1, F_DUPFD_CLOEXEC, 10);
    if (requests < 0 || replies < 0)
        return 64;
    const int nowhere = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nowhere >= 0)
        ::dup2(nowhere, 0);
    ::dup2(2, 1);

    std::unique_ptr<ScannerSystem> system = makeSaneSystemInProcess();
    std::mutex deviceLock; // the device is closed on this thread while a cancel may reach it
    std::unique_ptr<ScannerDevice> device;

    // Cancels arrive while this thread is blocked in a read: SANE lets another thread call
    // sane_cancel then, and the pending read comes back cancelled.
    std::thread([&] {
        for (;;) {
            char byte;
            const ssize_t n = ::read(helper::kCancelFd, &byte, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            const std::lock_guard<std::mutex> lock(deviceLock);
            if (device)
                device->cancel();
        }
    }).detach();

    QByteArray request;
    while (helper::readFrame(requests, request)) {
        QDataStream in(request);
        qint32 op = 0;
        helper::stream(in) >> op;
        QByteArray reply;
        QDataStream out(&reply, QIODevice::WriteOnly);
        helper::stream(out);
        switch (op) {
        case helper::Devices: {
            QString error;
            const QVector<ScannerInfo> found = system->devices(error);
            out << error << qint32(found.size());
            for (const ScannerInfo &info : found)
                out << info.name << info.label;
            break;
        }
        case helper::Open: {
            QString name;
            in >> name;
            {
                const std::lock_guard<std::mutex> lock(deviceLock);
                device.reset();
            }
            QString error;
            std::unique_ptr<ScannerDevice> opened = system->open(name, error);
            ScanChoices c;
            if (opened)
                c = opened->choices();
            out << bool(opened) << error << c.sources << c.source << c.modes << c.mode << c.resolutions
                << qint32(c.resolution);
            const std::lock_guard<std::mutex> lock(deviceLock);
            device = std::move(opened);
            break;
        }
        case helper::Apply: {
            QString source, mode;
            qint32 resolution = 0;
            in >> source >> mode >> resolution;
            out << (device ? device->apply({source, mode, resolution}) : scanStatusText(ScanStatus::Invalid));
            break;
        }
        case helper::Start:
            out << qint32(device ? device->start() : ScanStatus::Invalid);
            break;
        case helper::Format: {
            FrameFormat f;
            const ScanStatus st = device ? device->format(f) : ScanStatus::Invalid;
            out << qint32(st) << qint32(f.kind) << f.last << qint32(f.bytesPerLine) << qint32(f.pixelsPerLine)
                << qint32(f.lines) << qint32(f.depth);
            break;
        }
        case helper::Read: {
            qint32 most = 0;
            in >> most;
            most = qBound(0, most, 1 << 20);
            QByteArray data(most, Qt::Uninitialized);
            int length = 0;
            const ScanStatus st = device ? device->read(reinterpret_cast<unsigned char *>(data.data()), most, length)
                                         : ScanStatus::Invalid;
            data.resize(qBound(0, length, most));
            out << qint32(st) << data;
            break;
        }
        case helper::Cancel:
            if (device)
                device->cancel();
            out << true;
            break;
        case helper::Close: {
            const std::lock_guard<std::mutex> lock(deviceLock);
            device.reset();
            out << true;
            break;
        }
        default:
            return 64;
        }
        if (!helper::writeFrame(replies, reply))
            break;
    }
    {
        const std::lock_guard<std::mutex> lock(deviceLock);
        device.reset();
    }
    system.reset();
    // The cancel thread may still be waiting on its descriptor; nothing else is left to end.
    ::_exit(0);
}
