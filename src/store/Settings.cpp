#include "store/Settings.h"

#include "store/FileModes.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <charconv>
#include <cmath>

namespace settings {

namespace {
QString applicationName()
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (name.isEmpty())
        name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("casearchive") : name;
}

} // namespace

QString read(const QString &section, const QString &key)
{
    QSettings s(QSettings::UserScope, applicationName());
    return s.value(section + QLatin1Char('/') + key).toString();
}

namespace {
// The settings name the archive and the files last chosen: the user's alone, the file and
// any folder made for it, from their first moment and whatever the umask.
void savePrivately(QSettings &s)
{
    const store::PrivateUmask privately;
    s.sync();
    QFile::setPermissions(s.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
} // namespace

void write(const QString &section, const QString &key, const QString &value)
{
    QSettings s(QSettings::UserScope, applicationName());
    s.setValue(section + QLatin1Char('/') + key, value);
    savePrivately(s);
}

QString readOwn(const QString &section, const QString &key)
{
    QSettings s(QSettings::UserScope, applicationName());
    s.setFallbacksEnabled(false);
    return s.value(section + QLatin1Char('/') + key).toString();
}

QString readSite(const QString &section, const QString &key)
{
    QSettings s(QSettings::SystemScope, applicationName());
    return s.value(section + QLatin1Char('/') + key).toString();
}

bool hasOwn(const QString &section, const QString &key)
{
    QSettings s(QSettings::UserScope, applicationName());
    s.setFallbacksEnabled(false);
    return s.contains(section + QLatin1Char('/') + key);
}

void removeOwn(const QString &section, const QString &key)
{
    QSettings s(QSettings::UserScope, applicationName());
    s.setFallbacksEnabled(false);
    const QString name = section + QLatin1Char('/') + key;
    if (!s.contains(name))
        return; // a user who never started the program gets no file for it
    s.remove(name);
    savePrivately(s);
}

QString readOfProgram(const QString &section, const QString &key)
{
    QSettings s(QSettings::UserScope, QStringLiteral("casearchive"));
    return s.value(section + QLatin1Char('/') + key).toString();
}

double leadingNumber(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral("^\\s*([+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?)"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch())
        return 0;
    bool ok = false;
    const double v = m.captured(1).toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0;
}

QString numberText(double value)
{
    const float f = static_cast<float>(value);
    if (!std::isfinite(f))
        return QStringLiteral("0");
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, f, std::chars_format::fixed);
    if (result.ec != std::errc())
        return QString::number(static_cast<double>(f));
    return QString::fromLatin1(buf, int(result.ptr - buf));
}

double readNumber(const QString &section, const QString &key)
{
    return leadingNumber(read(section, key));
}

void writeNumber(const QString &section, const QString &key, double value)
{
    write(section, key, numberText(value));
}

QPoint readPosition(const QString &section)
{
    // A damaged value must not throw the window far off every screen.
    const double left = qBound(-1e7, readNumber(section, QStringLiteral("Left")), 1e7);
    const double top = qBound(-1e7, readNumber(section, QStringLiteral("Top")), 1e7);
    return QPoint(int(std::lround(left / kTwipsPerPixel)), int(std::lround(top / kTwipsPerPixel)));
}

void writePosition(const QString &section, const QPoint &pixels)
{
    writeNumber(section, QStringLiteral("Left"), double(pixels.x()) * kTwipsPerPixel);
    writeNumber(section, QStringLiteral("Top"), double(pixels.y()) * kTwipsPerPixel);
}

} // namespace settings
