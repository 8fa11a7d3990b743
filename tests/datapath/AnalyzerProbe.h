#pragma once
// Drives an ADCAnalyzer on the test thread and records everything it says:
// emitted events, addLog lines, the latest position map, and the diagnostic
// lines written to Qt's message output while the probe lives.

#include "datapath/ADCAnalyzer.h"

#include <QSemaphore>
#include <QStringList>
#include <QVector>

class AnalyzerProbe {
public:
    struct Block {
        int fedUpTo;  // stream bytes fed after this block
        int logLines; // addLog lines this block caused
        int decoded;  // position map entries after this block
    };

    explicit AnalyzerProbe(bool fromFile = true) : semaphore(50), analyzer(&semaphore, nullptr)
    {
        analyzer.dataSourceUpdated(fromFile);
        QObject::connect(&analyzer, &ADCAnalyzer::eventDataUpdated, [this](const EventData& e) { events.append(e); });
        QObject::connect(&analyzer, &ADCAnalyzer::addLog, [this](const QString& line) { logs.append(line); });
        QObject::connect(&analyzer, &ADCAnalyzer::eventMapUpdated,
                         [this](const QMap<quint32, quint32>& map) { positions = map; });
        previousHandler = qInstallMessageHandler(&AnalyzerProbe::captureMessage);
        diagnostics().clear();
    }
    ~AnalyzerProbe() { qInstallMessageHandler(previousHandler); }

    void feed(const QByteArray& block)
    {
        const int before = logs.size();
        analyzer.dataAccuired(block);
        fed += block.size();
        blocks.append({fed, logs.size() - before, positions.size()});
    }
    void feedInBlocks(const QByteArray& stream, int blockSize)
    {
        for (int at = 0; at < stream.size(); at += blockSize)
            feed(stream.mid(at, blockSize));
    }

    static QStringList& diagnostics()
    {
        static QStringList lines;
        return lines;
    }

    QSemaphore semaphore;
    ADCAnalyzer analyzer;
    QVector<EventData> events;
    QStringList logs;
    QMap<quint32, quint32> positions;
    QVector<Block> blocks;
    int fed = 0;

private:
    static void captureMessage(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        diagnostics().append(text);
    }
    QtMessageHandler previousHandler;
};
