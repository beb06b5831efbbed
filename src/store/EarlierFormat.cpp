#include "store/EarlierFormat.h"

#include <QFile>

namespace store {

EarlierFormat earlierFormatOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return EarlierFormat::None;
    const QByteArray head = f.read(0x18);
    if (head.size() < 0x18 || !head.startsWith(QByteArray("\x00\x01\x00\x00", 4)))
        return EarlierFormat::None;
    const QByteArray signature = head.mid(4, 15);
    const auto version = static_cast<unsigned char>(head.at(0x14));
    if (signature == "Standard ACE DB")
        return EarlierFormat::Ace;
    if (signature != "Standard Jet DB")
        return EarlierFormat::None;
    // Access 2007 and later write their version here when they keep the .mdb form.
    return version == 0 ? EarlierFormat::Jet3 : version == 1 ? EarlierFormat::Jet4 : EarlierFormat::Ace;
}

QString earlierFormatName(EarlierFormat format)
{
    switch (format) {
    case EarlierFormat::Jet3:
        return QStringLiteral("Jet 3 数据库（Access 97 格式）");
    case EarlierFormat::Jet4:
        return QStringLiteral("Jet 4 数据库（Access 2000 格式）");
    case EarlierFormat::Ace:
        return QStringLiteral("Access 2007 或更新版本的数据库（ACE 格式）");
    case EarlierFormat::None:
        break;
    }
    return QString();
}

QString earlierFormatMessage(const QString &path, EarlierFormat format)
{
    if (format == EarlierFormat::Ace)
        return QStringLiteral("文件“%1”是%2，不是病案数据库。早先的病案管理系统的档案是 Access 97 或 2000 格式的，"
                              "这种更新的格式本程序既不能打开，也不能导入。")
            .arg(path, earlierFormatName(format));
    return QStringLiteral("文件“%1”是早先的病案管理系统的档案（%2），本程序不能直接打开它。它没有损坏，也没有被改动；"
                          "用 casearchive-admin import 把它导入为本程序的新档案后，其中的病案、类型、操作员和照片就都能使用了。")
        .arg(path, earlierFormatName(format));
}

} // namespace store
