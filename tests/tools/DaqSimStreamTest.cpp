// The stream of the simulated acquisition program through the viewer's live
// data path: a peer that sends garbage between events and cuts events at
// every byte offset loses the receiver no valid event.
#include "datapath/ADCAnalyzer.h"
#include "datapath/TcpClient.h"
#include "tests/WaitUntil.h"
#include "tests/tools/SimProcess.h"
#include "tools/daqsim/GeneratedEventSource.h"
#include "tools/daqsim/StreamShaper.h"

#include <QSemaphore>
#include <QSet>

#include <gtest/gtest.h>

// The simulator sends 400 small events paced over TCP, garbage before every
// third one, each event split over two writes at an offset that moves by one
// byte per event. The analyzer on the far side of a TcpClient must decode
// every one of them, at the stream offsets where they were sent.
TEST(DaqSimStream, GarbageAndCutsLoseNoValidEvent)
{
    // What the connection carries, regenerated from the simulator's options.
    GeneratedEventSource::Options source;
    source.generator = {77, 2, 2, 8}; // seed, boards, channels, samples
    source.events = 400;
    GeneratedEventSource records(source), events(source);
    StreamShaper shaper({3, true, source.generator.seed});
    QVector<EventData> expected;
    QMap<quint32, quint32> evPosMap; // stream offset of each event record -> evNum
    QSet<int> cutOffsets;            // offsets within a record at which a write ended
    int recordSize = 0;              // the same for every generated event here
    quint32 offset = 0;
    for (QByteArray record = records.nextRecord(); !record.isEmpty(); record = records.nextRecord()) {
        expected.append(events.nextEvent());
        recordSize = record.size();
        const QVector<QByteArray> writes = shaper.shape(record);
        int sent = 0;
        for (const QByteArray& write : writes)
            sent += write.size();
        const int garbage = sent - record.size();
        evPosMap.insert(offset + quint32(garbage), expected.last().evNum);
        if (writes.size() == 2)
            cutOffsets.insert(writes.first().size() - garbage);
        offset += quint32(sent);
    }
    ASSERT_EQ(cutOffsets.size(), recordSize - 1) << "every split point is sent";

    SimProcess sim;
    ASSERT_TRUE(
        sim.start({"--no-discovery", "--listen", "127.0.0.1", "--seed", "77", "--boards", "2", "--channels", "2",
                   "--samples", "8", "--events", "400", "--rate", "250", "--garbage-every", "3", "--cut-writes"}));
    // The viewer's live data path, here on the test's thread.
    QSemaphore semaphore(50);
    TcpClient client(&semaphore);
    ADCAnalyzer analyzer(&semaphore, nullptr);
    analyzer.dataSourceUpdated(true); // every event, not thinned
    QVector<EventData> decoded;
    QMap<quint32, quint32> positions;
    QStringList logs;
    QObject::connect(&client, &TcpClient::dataAccuired, &analyzer, &ADCAnalyzer::dataAccuired);
    QObject::connect(&analyzer, &ADCAnalyzer::eventDataUpdated, [&](const EventData& e) { decoded.append(e); });
    QObject::connect(&analyzer, &ADCAnalyzer::eventMapUpdated, [&](const QMap<quint32, quint32>& m) { positions = m; });
    QObject::connect(&analyzer, &ADCAnalyzer::addLog, [&](const QString& line) { logs.append(line); });
    client.setAddress(QHostAddress::LocalHost, sim.port());
    // Once the stream ends the client reconnects and it starts over: only the
    // first run is compared.
    ASSERT_EVENTUALLY(decoded.size() >= expected.size(), 60000);
    EXPECT_TRUE(decoded.mid(0, expected.size()) == expected);
    EXPECT_EQ(positions.keys().mid(0, evPosMap.size()), evPosMap.keys());

    // Each garbage run was noticed once, and resynchronised at once (the
    // error text is logged again when the next sync word is found).
    ASSERT_EQ(quint64(logs.size()), 2 * shaper.garbageCount());
    for (const QString& line : logs)
        EXPECT_TRUE(line.startsWith("Format error: wrong KEP_SYNC_WORD: ")) << line.toStdString();
}
