#include "pnp/ProgramDescription.h"

#include <QHostInfo>
#include <QStringList>

ProgramDescription::ProgramDescription() : uuid(QUuid::createUuid()), hostName(QHostInfo::localHostName()) {}

const ProgramInterface& ProgramDescription::getInterface(const QString& typeName, bool* found) const
{
    for (const ProgramInterface& iface : interfaces) {
        if (iface.type == typeName) {
            if (found)
                *found = true;
            return iface;
        }
    }
    if (found)
        *found = false;
    return fallbackInterface;
}

const ProgramInterface& ProgramDescription::getInterface(InterfaceType type, bool* found) const
{
    return getInterface(interfaceTypeName(type), found);
}

namespace {

QString interfaceState(const ProgramInterface& iface)
{
    if (!iface.enabled)
        return QStringLiteral(" (disabled)");
    return iface.isFree ? QString() : QStringLiteral(" (busy)");
}

} // namespace

QString ProgramDescription::toText() const
{
    QStringList lines;
    lines << QStringLiteral("Name:%1").arg(name) << QStringLiteral("Type:%1").arg(type)
          << QStringLiteral("Index:%1").arg(index) << QStringLiteral("host: %1").arg(host.toString())
          << QStringLiteral("hostName:%1").arg(hostName) << QStringLiteral("Uuid:%1").arg(uuid.toString())
          << QStringLiteral("Seq:%1").arg(seq);
    int count = 0;
    for (const ProgramInterface& iface : interfaces) {
        lines << QStringLiteral("Interface %1:%2").arg(++count).arg(interfaceState(iface))
              << QStringLiteral("\ttype: %1").arg(iface.type) << QStringLiteral("\t  id: %1").arg(iface.id)
              << QStringLiteral("\tport: %1").arg(iface.port);
    }
    if (!options.isEmpty()) {
        lines << QStringLiteral("Options:");
        for (auto it = options.cbegin(); it != options.cend(); ++it)
            lines << QStringLiteral("\t%1: %2").arg(it.key(), it.value());
    }
    return lines.join(QLatin1Char('\n'));
}
