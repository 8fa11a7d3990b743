#include "datapath/EventData.h"

void registerDataPathMetaTypes()
{
    qRegisterMetaType<EventData>("EventData");
    qRegisterMetaType<DeviceData>("DeviceData");
    qRegisterMetaType<QMap<quint32, quint32>>("QMap<quint32,quint32>");
}
