#pragma once

#include <QString>

// Kinds of network endpoint a program offers; the names travel in the
// "type" attribute of an announced interface.
enum InterfaceType {
    EmptyInterface = 0,
    RemoteControlInterface = 1,
    DataFlowInterface = 2,
    MonitorDataFlowInterface = 3
};

// The name of an interface type, or an empty string for an unknown value.
QString interfaceTypeName(int type);
