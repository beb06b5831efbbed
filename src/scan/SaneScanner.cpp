// SANE behind the scanner seam: the only file that speaks SANE's own calls. It runs in
// the scanner helper (src/scan/ScanHelperMain.cpp), never in the program itself (ScanHelperLink.h).
#include "scan/Scanner.h"

#include <QByteArray>
#include <QMutex>

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cstring>

namespace pictures {

namespace {

ScanStatus fromSane(SANE_Status s)
{
    switch (s) {
    case SANE_STATUS_GOOD: return ScanStatus::Good;
    case SANE_STATUS_UNSUPPORTED: return ScanStatus::Unsupported;
    case SANE_STATUS_CANCELLED: return ScanStatus::Cancelled;
    case SANE_STATUS_DEVICE_BUSY: return ScanStatus::DeviceBusy;
    case SANE_STATUS_INVAL: return ScanStatus::Invalid;
    case SANE_STATUS_EOF: return ScanStatus::Eof;
    case SANE_STATUS_JAMMED: return ScanStatus::Jammed;
    case SANE_STATUS_NO_DOCS: return ScanStatus::NoDocs;
    case SANE_STATUS_COVER_OPEN: return ScanStatus::CoverOpen;
    case SANE_STATUS_IO_ERROR: return ScanStatus::IoError;
    case SANE_STATUS_NO_MEM: return ScanStatus::NoMemory;
    case SANE_STATUS_ACCESS_DENIED: return ScanStatus::AccessDenied;
    }
    return ScanStatus::IoError;
}

// A driver's texts are the driver's: bounded, and read as the C strings they claim to be.
QString driverText(const char *text)
{
    if (!text)
        return QString();
    return QString::fromUtf8(text, int(strnlen(text, 256)));
}

// The resolutions offered from a range: the usual ones that fall inside it.
const int kUsualResolutions[] = {75, 100, 150, 200, 300, 400, 600, 1200};

class SaneDevice : public ScannerDevice {
public:
    explicit SaneDevice(SANE_Handle handle) : m_handle(handle) {}
    ~SaneDevice() override
    {
        sane_cancel(m_handle);
        sane_close(m_handle);
    }

    ScanChoices choices() override
    {
        ScanChoices c;
        if (const int source = find(SANE_NAME_SCAN_SOURCE); source > 0) {
            c.sources = stringList(source);
            c.source = stringValue(source);
        }
        if (const int mode = find(SANE_NAME_SCAN_MODE); mode > 0) {
            c.modes = stringList(mode);
            c.mode = stringValue(mode);
        }
        if (const int res = find(SANE_NAME_SCAN_RESOLUTION); res > 0) {
            const SANE_Option_Descriptor *d = sane_get_option_descriptor(m_handle, res);
            const bool fixed = d->type == SANE_TYPE_FIXED;
            auto value = [fixed](SANE_Word w) { return fixed ? int(SANE_UNFIX(w) + 0.5) : int(w); };
            if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
                const int n = std::min<int>(d->constraint.word_list[0], 1000);
                for (int i = 1; i <= n; ++i)
                    c.resolutions << value(d->constraint.word_list[i]);
            } else if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
                const int lo = value(d->constraint.range->min);
                const int hi = value(d->constraint.range->max);
                for (int r : kUsualResolutions)
                    if (r >= lo && r <= hi)
                        c.resolutions << r;
            }
            SANE_Word w = 0;
            if (d->size == sizeof(SANE_Word)
                && sane_control_option(m_handle, res, SANE_ACTION_GET_VALUE, &w, nullptr) == SANE_STATUS_GOOD)
                c.resolution = value(w);
            if (c.resolution > 0 && !c.resolutions.contains(c.resolution))
                c.resolutions << c.resolution;
            std::sort(c.resolutions.begin(), c.resolutions.end());
            c.resolutions.erase(std::unique(c.resolutions.begin(), c.resolutions.end()), c.resolutions.end());
            c.resolutions.removeIf([](int r) { return r <= 0; });
        }
        return c;
    }

    QString apply(const ScanSettings &s) override
    {
        // The source first: a feeder may offer other modes and resolutions than the glass.
        if (!s.source.isEmpty()) {
            if (const QString e = setString(SANE_NAME_SCAN_SOURCE, s.source); !e.isEmpty())
                return QStringLiteral("不能选用来源“%1”：%2").arg(s.source, e);
        }
        if (!s.mode.isEmpty()) {
            if (const QString e = setString(SANE_NAME_SCAN_MODE, s.mode); !e.isEmpty())
                return QStringLiteral("不能选用颜色“%1”：%2").arg(s.mode, e);
        }
        if (s.resolution > 0) {
            const int res = find(SANE_NAME_SCAN_RESOLUTION);
            if (res > 0) {
                const SANE_Option_Descriptor *d = sane_get_option_descriptor(m_handle, res);
                SANE_Word w = d->type == SANE_TYPE_FIXED ? SANE_FIX(s.resolution) : s.resolution;
                const SANE_Status st = sane_control_option(m_handle, res, SANE_ACTION_SET_VALUE, &w, nullptr);
                if (st != SANE_STATUS_GOOD)
                    return QStringLiteral("不能选用分辨率 %1 dpi：%2").arg(s.resolution).arg(scanStatusText(fromSane(st)));
            }
        }
        return QString();
    }

    ScanStatus start() override { return fromSane(sane_start(m_handle)); }

    ScanStatus format(FrameFormat &f) override
    {
        SANE_Parameters p{};
        const SANE_Status st = sane_get_parameters(m_handle, &p);
        if (st != SANE_STATUS_GOOD)
            return fromSane(st);
        switch (p.format) {
        case SANE_FRAME_GRAY: f.kind = FrameKind::Gray; break;
        case SANE_FRAME_RGB: f.kind = FrameKind::Rgb; break;
        case SANE_FRAME_RED: f.kind = FrameKind::Red; break;
        case SANE_FRAME_GREEN: f.kind = FrameKind::Green; break;
        case SANE_FRAME_BLUE: f.kind = FrameKind::Blue; break;
        default: f.kind = FrameKind::Other; break;
        }
        f.last = p.last_frame != SANE_FALSE;
        f.bytesPerLine = p.bytes_per_line;
        f.pixelsPerLine = p.pixels_per_line;
        f.lines = p.lines;
        f.depth = p.depth;
        return ScanStatus::Good;
    }

    ScanStatus read(unsigned char *buffer, int maxLength, int &length) override
    {
        SANE_Int got = 0;
        const SANE_Status st = sane_read(m_handle, buffer, maxLength, &got);
        length = qBound(0, int(got), maxLength);
        return fromSane(st);
    }

    void cancel() override
    {
        const QMutexLocker lock(&m_cancelling);
        sane_cancel(m_handle);
    }

private:
    // The number of the option of that name, 0 when the device has none (option 0 is
    // the count of options, never a setting).
    int find(const char *name)
    {
        SANE_Int count = 0;
        if (sane_control_option(m_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
            return 0;
        count = std::min<SANE_Int>(count, 10000);
        for (int i = 1; i < count; ++i) {
            const SANE_Option_Descriptor *d = sane_get_option_descriptor(m_handle, i);
            if (d && d->name && std::strcmp(d->name, name) == 0 && SANE_OPTION_IS_ACTIVE(d->cap))
                return i;
        }
        return 0;
    }

    QStringList stringList(int option)
    {
        QStringList list;
        const SANE_Option_Descriptor *d = sane_get_option_descriptor(m_handle, option);
        if (d->type != SANE_TYPE_STRING || d->constraint_type != SANE_CONSTRAINT_STRING_LIST)
            return list;
        for (int i = 0; i < 1000 && d->constraint.string_list && d->constraint.string_list[i]; ++i)
            list << driverText(d->constraint.string_list[i]);
        return list;
    }

    QString stringValue(int option)
    {
        const SANE_Option_Descriptor *d = sane_get_option_descriptor(m_handle, option);
        if (d->type != SANE_TYPE_STRING || d->size <= 0 || d->size > 65536)
            return QString();
        QByteArray value(d->size + 1, '\0');
        if (sane_control_option(m_handle, option, SANE_ACTION_GET_VALUE, value.data(), nullptr) != SANE_STATUS_GOOD)
            return QString();
        return driverText(value.constData());
    }

    QString setString(const char *name, const QString &text)
    {
        const int option = find(name);
        if (option <= 0)
            return QStringLiteral("扫描仪没有这一项设置。");
        const SANE_Option_Descriptor *d = sane_get_option_descriptor(m_handle, option);
        const QByteArray utf8 = text.toUtf8();
        if (d->type != SANE_TYPE_STRING || d->size <= utf8.size() || d->size > 65536)
            return scanStatusText(ScanStatus::Invalid);
        QByteArray value(d->size, '\0');
        std::memcpy(value.data(), utf8.constData(), size_t(utf8.size()));
        const SANE_Status st = sane_control_option(m_handle, option, SANE_ACTION_SET_VALUE, value.data(), nullptr);
        return st == SANE_STATUS_GOOD ? QString() : scanStatusText(fromSane(st));
    }

    SANE_Handle m_handle;
    QMutex m_cancelling;
};

class SaneSystem : public ScannerSystem {
public:
    SaneSystem()
    {
        SANE_Int version = 0;
        m_status = sane_init(&version, nullptr);
    }
    ~SaneSystem() override
    {
        if (m_status == SANE_STATUS_GOOD)
            sane_exit();
    }

    QVector<ScannerInfo> devices(QString &error) override
    {
        QVector<ScannerInfo> found;
        if (m_status != SANE_STATUS_GOOD) {
            error = QStringLiteral("扫描系统（SANE）无法启动：") + driverText(sane_strstatus(m_status));
            return found;
        }
        const SANE_Device **list = nullptr;
        const SANE_Status st = sane_get_devices(&list, SANE_FALSE);
        if (st != SANE_STATUS_GOOD) {
            error = QStringLiteral("扫描系统（SANE）找不到设备：") + driverText(sane_strstatus(st));
            return found;
        }
        for (int i = 0; list && list[i] && i < 256; ++i) {
            ScannerInfo info;
            info.name = driverText(list[i]->name);
            const QString vendor = driverText(list[i]->vendor);
            const QString model = driverText(list[i]->model);
            info.label = QStringList{vendor, model}.join(QLatin1Char(' ')).trimmed();
            info.label += (info.label.isEmpty() ? QString() : QStringLiteral(" ")) + QLatin1Char('(') + info.name
                + QLatin1Char(')');
            found << info;
        }
        return found;
    }

    std::unique_ptr<ScannerDevice> open(const QString &name, QString &error) override
    {
        SANE_Handle handle = nullptr;
        const SANE_Status st = sane_open(name.toUtf8().constData(), &handle);
        if (st != SANE_STATUS_GOOD || !handle) {
            error = QStringLiteral("扫描仪 %1 无法打开：%2").arg(name, scanStatusText(fromSane(st)));
            return nullptr;
        }
        return std::make_unique<SaneDevice>(handle);
    }

private:
    SANE_Status m_status = SANE_STATUS_INVAL;
};

} // namespace

std::unique_ptr<ScannerSystem> makeSaneSystemInProcess() { return std::make_unique<SaneSystem>(); }

} // namespace pictures
