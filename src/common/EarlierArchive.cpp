#include "common/EarlierArchive.h"

#include "common/Installation.h"
#include "common/Module1.h"
#include "store/Dialect.h"
#include "store/EarlierFormat.h"

#include <QDir>
#include <QFileInfo>

namespace app {

QString earlierArchiveAdvice(const QString &path)
{
    if (path.isEmpty() || store::isServerAddress(path))
        return QString();
    const store::EarlierFormat format = store::earlierFormatOf(path);
    if (format != store::EarlierFormat::Jet3 && format != store::EarlierFormat::Jet4)
        return QString();
    const QFileInfo info(path);
    const QString file = QDir::cleanPath(info.absoluteFilePath());
    const QString aside = QDir(info.absolutePath()).filePath(info.completeBaseName() + QStringLiteral("-earlier.")
                                                             + (info.suffix().isEmpty() ? QStringLiteral("dat") : info.suffix()));
    const QString machine = QDir::cleanPath(QFileInfo(machineFolder()).absoluteFilePath()) + QLatin1Char('/');
    const QString sudo = file.startsWith(machine) ? QStringLiteral("sudo ") : QString();
    const QString admin = shellQuoted(QDir(programFolder()).filePath(QStringLiteral("casearchive-admin")));
    return QStringLiteral("\n\n请系统管理员先把它改名放在一旁，再把它导入到本程序打开的位置（导入时逐格核对，原文件不会被改动），"
                          "然后重新启动本程序：\n%1mv %2 %3\n%1%4 import %3 %2")
        .arg(sudo, shellQuoted(file), shellQuoted(aside), admin);
}

} // namespace app
