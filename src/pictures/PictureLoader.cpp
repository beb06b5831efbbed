#include "pictures/PictureLoader.h"

#include <QFileInfo>
#include <QImageReader>

namespace pictures {

namespace {
// Camera photos of 50 megapixels and more exceed the reader's default allowance;
// records are meant to be looked at whatever camera took them.
constexpr int kAllocationLimitMb = 1024;
} // namespace

LoadedPicture loadPicture(const QString &path)
{
    LoadedPicture result;
    if (path.isEmpty()) {
        result.ok = true;
        return result;
    }
    if (!QFileInfo(path).isFile()) {
        result.error = QStringLiteral("文件不存在：") + path;
        return result;
    }
    if (QImageReader::allocationLimit() > 0 && QImageReader::allocationLimit() < kAllocationLimitMb)
        QImageReader::setAllocationLimit(kAllocationLimitMb);

    QImageReader reader(path);
    // Photos are often renamed by hand; the bytes say what they are, not the name.
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) {
        result.error = reader.errorString();
        return result;
    }
    result.ok = true;
    result.image = std::move(image);
    return result;
}

} // namespace pictures
