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
    {
        analyzer->dataSourceUpdated(everyEvent);
        connect(client, &TcpClient::dataAccuired, analyzer, &ADCAnalyzer::dataAccuired);
        connect(client, &TcpClient::dataAccuired, this, [this](const QByteArray& b) { blockSizes.append(b.size()); });
        connect(client, &TcpClient::connectedStateChanged, this, [this](bool state) { connected = state; });
        connect(analyzer, &ADCAnalyzer::eventDataUpdated, this, [this](const EventData& e) { events.append(e); });
        connect(analyzer, &ADCAnalyzer::eventMapUpdated, this,
                [this](const QMap<quint32, quint32>& map) { evPosMap = map; });
        connect(analyzer, &ADCAnalyzer::addLog, this, [this](const QString& line) { logs.append(line); });
        for (auto [worker, thread] :
             {std::pair<QObject*, QThread*>{client, &clientThread}, {analyzer, &analyzerThread}}) {
            worker->moveToThread(thread);
            QObject::connect(worker, &QObject::destroyed, thread, &QThread::quit, Qt::DirectConnection);
            thread->start();
        }
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
        if (clientThread.isRunning()) {
            client->deleteLater();
            clientThread.wait(10000);
        }
    }

    QSemaphore semaphore{50};
    QThread clientThread, analyzerThread;
    TcpClient* client = new TcpClient(&semaphore);
    ADCAnalyzer* analyzer = new ADCAnalyzer(&semaphore, nullptr);

    bool connected = false;
    QVector<int> blockSizes;
    QVector<EventData> events;
    QMap<quint32, quint32> evPosMap;
    QStringList logs;
};
