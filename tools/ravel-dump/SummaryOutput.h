#pragma once
// A human summary of a data file: size, records, event-number range, boards
// with their channel counts and sample lengths, and the format errors seen.

#include "tools/ravel-dump/DumpOutput.h"

#include <QMap>
#include <QStringList>

class SummaryOutput : public DumpOutput {
public:
    explicit SummaryOutput(const QString& fileName);
    void event(int record, const EventData& event) override;
    void log(const QString& text, bool newError) override;
    void finish(const FileMapResult& fileMap) override;

private:
    struct Range {
        qint64 low = 0;
        qint64 high = -1; // empty while high < low
        void add(qint64 value);
        QString text() const;
    };
    struct BoardStats {
        int deviceType = 0;
        int events = 0;
        Range channelCount;
        Range samples;
        Range channelNumbers;
    };

    QString m_fileName;
    int m_events = 0;
    Range m_evNums;
    QMap<quint32, BoardStats> m_boards;
    QStringList m_errors; // each once, in the order they occurred
};
