#include "pnp/InterfaceType.h"
#include "pnp/ProgramType.h"

namespace {

template <size_t N>
QString nameAt(const char* const (&names)[N], int value)
{
    if (value < 0 || value >= int(N))
        return QString();
    return QString::fromLatin1(names[value]);
}

} // namespace

QString interfaceTypeName(int type)
{
    static const char* const names[] = {"empty", "RemoteControl", "data flow", "Monitor output data flow"};
    return nameAt(names, type);
}

QString programTypeName(int type)
{
    static const char* const names[] = {"RavelSystem", "Qol",    "Tamber",  "Orrin",  "ZelAnalyzer",
                                        "ZelSystem",   "Nimbus", "Brantle", "Ostrel", "Vimmer"};
    return nameAt(names, type);
}
