#include "scan/Scanner.h"

namespace pictures {

namespace {
ScannerSystemFactory &factory()
{
    static ScannerSystemFactory f;
    return f;
}
} // namespace

QString scanStatusText(ScanStatus status)
{
    switch (status) {
    case ScanStatus::Good:
    case ScanStatus::Eof:
        return QString();
    case ScanStatus::Cancelled:
        return QStringLiteral("扫描已取消。");
    case ScanStatus::Jammed:
        return QStringLiteral("扫描仪卡纸。请取出卡住的纸，再重新扫描。");
    case ScanStatus::NoDocs:
        return QStringLiteral("进纸器中没有纸。请放好要扫描的纸，再按“扫描”。");
    case ScanStatus::CoverOpen:
        return QStringLiteral("扫描仪的盖子没有盖好。请盖好后再扫描。");
    case ScanStatus::IoError:
        return QStringLiteral("与扫描仪的连接中断（扫描仪可能已断开或关机）。请检查电源和连接线后再扫描。");
    case ScanStatus::DeviceBusy:
        return QStringLiteral("扫描仪正忙，可能另一个程序正在使用它。请稍后再试。");
    case ScanStatus::AccessDenied:
        return QStringLiteral("没有使用这台扫描仪的权限。请系统管理员检查。");
    case ScanStatus::NoMemory:
        return QStringLiteral("内存不足，扫描无法继续。");
    case ScanStatus::Invalid:
        return QStringLiteral("扫描仪不接受这些设置。");
    case ScanStatus::Unsupported:
        return QStringLiteral("扫描仪不支持这项操作。");
    }
    return QStringLiteral("扫描仪报告了一个未知的错误。");
}

bool isFeederSource(const QString &source)
{
    return source.contains(QLatin1String("ADF"), Qt::CaseInsensitive)
        || source.contains(QLatin1String("Feeder"), Qt::CaseInsensitive)
        || source.contains(QLatin1String("Duplex"), Qt::CaseInsensitive);
}

std::unique_ptr<ScannerSystem> makeScannerSystem()
{
    if (factory())
        return factory()();
    return makeSaneSystem();
}

void setScannerSystemFactory(ScannerSystemFactory f) { factory() = std::move(f); }

} // namespace pictures
