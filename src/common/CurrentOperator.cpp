#include "common/CurrentOperator.h"

#include <QSysInfo>

namespace app {

QString CurrentOperator;

namespace {
QString &workstationOverride()
{
    static QString name;
    return name;
}
} // namespace

QString workstationName()
{
    if (!workstationOverride().isEmpty())
        return workstationOverride();
    const QString host = QSysInfo::machineHostName().trimmed();
    return host.isEmpty() ? QStringLiteral("本机") : host;
}

void setWorkstationNameForTests(const QString &name) { workstationOverride() = name; }

store::Actor currentActor() { return store::Actor{CurrentOperator, workstationName()}; }

} // namespace app
