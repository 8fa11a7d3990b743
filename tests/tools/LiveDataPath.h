#pragma once
// The viewer's live data path for tests: a TcpClient and an ADCAnalyzer on
// worker threads of their own, sharing a semaphore of 50 permits, with what
// they emit collected on the test's thread.

#include "datapath/ADCAnalyzer.h"
#include "datapath/TcpClient.h"

#include <QHostAddress>
#include <QSemaphore>
#include <QThread>
#include <QVector>

class LiveDataPath : public QObject {
public:
    // everyEvent: the analyzer emits every decoded event (as for a file)
    // instead of thinning live data to two events per second.
    explicit LiveDataPath(bool everyEvent)
        : client(new TcpClient(&semaphore)), analyzer(new ADCAnalyzer(&semaphore, nullptr))
    {
        analyzer->dataSourceUpdated(everyEvent);
        connect(client, &TcpClient::dataAccuired, analyzer, &ADCAnalyzer::dataAccuired);
        connect(client, &TcpClient::dataAccuired, this,
                [this](const QByteArray& block) { blockSizes.append(block.size()); });
        connect(client, &TcpClient::connectedStateChanged, this, [this](bool state) { connected = state; });
        connect(analyzer, &ADCAnalyzer::eventDataUpdated, this,
                [this](const EventData& event) { events.append(event); });
        connect(analyzer, &ADCAnalyzer::eventMapUpdated, this,
                [this](const QMap<quint32, quint32>& map) { evPosMap = map; });
        connect(analyzer, &ADCAnalyzer::addLog, this, [this](const QString& line) { logs.append(line); });
        startWorker(client, clientThread);
        startWorker(analyzer, analyzerThread);
    }

    ~LiveDataPath() override
    {
        disconnectClient();
        analyzer->deleteLater();
        analyzerThread.wait(10000);
    }

    void connectTo(const QHostAddress& address, quint16 port)
    {
        QMetaObject::invokeMethod(client, [c = client, address, port] { c->setAddress(address, port); });
    }

    // Deletes the client (which drops its connection), as the viewer does at shutdown.
    void disconnectClient()
    {
        if (!clientThread.isRunning())
            return;
        client->deleteLater();
        clientThread.wait(10000);
    }

    qint64 bytesReceived() const
    {
        qint64 total = 0;
        for (int size : blockSizes)
            total += size;
        return total;
    }

    QSemaphore semaphore{50};
    QThread clientThread;
    QThread analyzerThread;
    TcpClient* client;
    ADCAnalyzer* analyzer;

    bool connected = false;
    QVector<int> blockSizes;
    QVector<EventData> events;
    QMap<quint32, quint32> evPosMap;
    QStringList logs;

private:
    static void startWorker(QObject* worker, QThread& thread)
    {
        worker->moveToThread(&thread);
        QObject::connect(worker, &QObject::destroyed, &thread, &QThread::quit, Qt::DirectConnection);
        thread.start();
    }
};
