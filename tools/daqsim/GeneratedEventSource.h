#pragma once
// Deterministic generated events for the simulated acquisition program. With
// a pool, a few distinct events are generated and encoded once and then
// repeated with fresh event numbers, so the source keeps up with any reader;
// without one, every event is generated anew. Only the encoded pool is kept:
// nextEvent() generates the pool's events again as it needs them. The same options give the same
// stream on every machine, so a test can regenerate what a client was sent.

#include "datapath/EventData.h"
#include "datapath/SampleGenerator.h"
#include "tools/daqsim/EventSource.h"

#include <QVector>

class GeneratedEventSource : public EventSource {
public:
    struct Options {
        SampleGenerator::Options generator;
        int pool = 0; // 0: no pool
        bool adcSigned = true;
        quint64 events = 0; // 0: endless
    };

    explicit GeneratedEventSource(const Options& options);

    // The n-th record; nextEvent() gives the same n-th event as a decoder
    // sees it. Both count the same events, so use one or the other.
    QByteArray nextRecord() override;
    EventData nextEvent();

private:
    bool atEnd() const;
    int poolSlot() const;

    Options m_options;
    SampleGenerator m_generator;
    QVector<QByteArray> m_poolRecords;
    quint32 m_evNum = 0;
};
