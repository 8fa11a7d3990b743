#pragma once
// Everything the simulated acquisition program is told on its command line:
// who it is in discovery, where it serves its data interface, what stream it
// serves and how it damages that stream for tests.

#include "datapath/SampleGenerator.h"
#include "pnp/InterfaceType.h"
#include "pnp/ProgramType.h"

#include <QHostAddress>
#include <QString>
#include <QUuid>

struct SimOptions {
    // Discovery identity.
    bool discovery = true;
    QString programType = programTypeName(NimbusProgram);
    QString programIndex = QStringLiteral("1");
    QString programName = QStringLiteral("ravel-daq-sim");
    QUuid uuid = QUuid::createUuid();
    QString interfaceType = interfaceTypeName(MonitorDataFlowInterface);
    qint32 interfaceId = 0;

    // Data interface.
    QHostAddress listenAddress = QHostAddress(QHostAddress::AnyIPv4);
    quint16 port = 0; // 0: chosen by the system

    // Stream content: generated events, or the records of a data file.
    SampleGenerator::Options generator;
    int pool = 0; // distinct events repeated with new numbers; 0: every event fresh
    bool adcSigned = true;
    quint64 events = 0; // events per connection; 0: endless
    QString replayFile; // non-empty: replay this file instead
    bool loop = false;  // replay the file again at its end

    // Pacing: events per second per connection; 0: as fast as the client reads.
    double rate = 10.0;

    // Damage for tests of the receiving side.
    int garbageEvery = 0;   // garbage before every n-th event; 0: none
    bool cutWrites = false; // each event split over two writes at a moving offset
};
