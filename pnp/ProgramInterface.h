#pragma once

#include <QHostAddress>
#include <QString>

// One network endpoint offered by a program. The host is never transmitted:
// a receiver fills in the address the describing datagram came from.
struct ProgramInterface {
    QHostAddress host;
    quint32 port = 0;
    QString type;
    bool enabled = true;
    bool isFree = true;
    qint32 id = 0;
};
