#pragma once
// Drives an ADCAnalyzer on the test thread and records what it emits: events,
// board records and skipped boards, addLog lines and the latest position
// map. Records hold their writer permit until a test releases it.

#include "datapath/ADCAnalyzer.h"

#include <QSemaphore>
#include <QStringList>
#include <QVector>

class AnalyzerProbe {
public:
    explicit AnalyzerProbe(bool fromFile = true) : semaphore(50), writer(50), analyzer(&semaphore, &writer)
    {
        analyzer.dataSourceUpdated(fromFile);
        QObject::connect(&analyzer, &ADCAnalyzer::eventDataUpdated, [this](const EventData& e) { events.append(e); });
        QObject::connect(&analyzer, &ADCAnalyzer::deviceDataUpdated,
                         [this](const DeviceData& d) { records.append(d); });
        QObject::connect(&analyzer, &ADCAnalyzer::deviceDataSkipped, [this](int boards) { skipped += boards; });
        QObject::connect(&analyzer, &ADCAnalyzer::addLog, [this](const QString& line) { logs.append(line); });
        QObject::connect(&analyzer, &ADCAnalyzer::eventMapUpdated,
                         [this](const QMap<quint32, quint32>& map) { positions = map; });
    }

    // Feeds the stream whole, or in blocks of blockSize bytes.
    void feed(const QByteArray& stream, int blockSize = 0)
    {
        for (int at = 0; at < qMax(1, stream.size());) {
            const QByteArray block = stream.mid(at, blockSize > 0 ? blockSize : stream.size());
            analyzer.dataAccuired(block);
            at += qMax(1, block.size());
        }
    }

    QSemaphore semaphore;
    QSemaphore writer;
    ADCAnalyzer analyzer;
    QVector<EventData> events;
    QVector<DeviceData> records;
    int skipped = 0;
    QStringList logs;
    QMap<quint32, quint32> positions;
};
