// The stream of the simulated acquisition program and what the live data path
// makes of it: a peer that sends garbage between events and cuts events at
// every byte offset loses the receiver no valid event; generated and
// replayed streams hold exactly the events they should.
#include "datapath/EventEncoder.h"
#include "tests/WaitUntil.h"
#include "tests/tools/LiveDataPath.h"
#include "tests/tools/SimProcess.h"
#include "tools/daqsim/FileEventSource.h"
#include "tools/daqsim/GeneratedEventSource.h"
#include "tools/daqsim/SimCommandLine.h"
#include "tools/daqsim/StreamShaper.h"

#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

GeneratedEventSource::Options tinyEvents(quint64 seed, quint64 events = 0)
{
    GeneratedEventSource::Options options;
    options.generator.seed = seed;
    options.generator.boards = 2;
    options.generator.channels = 2;
    options.generator.samples = 8;
    options.events = events;
    return options;
}

} // namespace

TEST(GeneratedEventSource, PooledRecordsDecodeToTheEvents)
{
    GeneratedEventSource::Options options = tinyEvents(3, 7);
    options.pool = 3;
    GeneratedEventSource records(options), events(options);
    QVector<EventData> expected, decoded;
    ADCAnalyzer analyzer(nullptr, nullptr);
    analyzer.dataSourceUpdated(true);
    QObject::connect(&analyzer, &ADCAnalyzer::eventDataUpdated, [&](const EventData& e) { decoded.append(e); });
    for (QByteArray record = records.nextRecord(); !record.isEmpty(); record = records.nextRecord()) {
        analyzer.dataAccuired(record);
        expected.append(events.nextEvent());
    }
    EXPECT_EQ(events.nextEvent().evNum, 0u) << "the stream has ended";
    ASSERT_EQ(expected.size(), 7);
    EXPECT_EQ(expected.last().evNum, 7u);
    EXPECT_EQ(decoded, expected);
}

TEST(SimCommandLine, ShapesAndNoiseReachTheGeneratorMemoryIsBounded)
{
    SimCommandLine commandLine;
    ASSERT_TRUE(commandLine.parse({"ravel-daq-sim", "--boards", "1", "--channels", "3", "--samples", "32", "--noise",
                                   "0", "--pulse-probability", "0", "--interface-type", "data", "--rate", "0"}))
        << commandLine.error().toStdString();
    EXPECT_EQ(commandLine.options().interfaceType, "data flow");
    const EventData event = GeneratedEventSource({commandLine.options().generator, 0, true, 0}).nextEvent();
    ASSERT_EQ(event.devices.size(), 1);
    ASSERT_EQ(event.devices.first().channels.size(), 3);
    for (const ChannelData& channel : event.devices.first().channels)
        EXPECT_EQ(channel.samples.count(channel.samples.first()), 32) << "flat baseline without noise or pulse";
    EXPECT_FALSE(commandLine.parse({"ravel-daq-sim", "--pool", "1000", "--samples", "100000"}));
    EXPECT_TRUE(commandLine.error().contains("--pool")) << commandLine.error().toStdString();
}

TEST(FileEventSource, ReplaysEventAndAuxRecordsAndStopsAtABrokenOne)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("replay.dat"));
    GeneratedEventSource generated(tinyEvents(4));
    const QByteArray first = generated.nextRecord(), second = generated.nextRecord();
    const QByteArray aux = EventEncoder::encodeAuxRecord("spare");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(EventEncoder::encodeStartRecord("run 1") + first + aux + second + EventEncoder::encodeStopRecord()
               + "garbage at the end");
    file.close();
    FileEventSource once(file.fileName(), false);
    for (const QByteArray& record : {first, aux, second, QByteArray(), QByteArray()})
        EXPECT_EQ(once.nextRecord(), record);

    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(first + second.left(30)); // a truncated last record
    file.close();
    FileEventSource looping(file.fileName(), true);
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(looping.nextRecord(), first);

    FileEventSource missing(dir.filePath("missing.dat"), false);
    EXPECT_FALSE(missing.isOpen());
    EXPECT_FALSE(missing.errorString().isEmpty());
    EXPECT_TRUE(missing.nextRecord().isEmpty());
}

// The simulator sends 400 small events paced over TCP, garbage before every
// third one, each event split over two writes at an offset that moves by one
// byte per event. The analyzer on the far side of a TcpClient must decode
// every one of them, at the stream offsets where they were sent.
TEST(DaqSimStream, GarbageAndCutsLoseNoValidEvent)
{
    // What the connection carries, regenerated from the simulator's options.
    const GeneratedEventSource::Options source = tinyEvents(77, 400);
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
    LiveDataPath path(true);
    path.connectTo(QHostAddress::LocalHost, sim.port());
    ASSERT_TRUE(waitUntil([&] { return path.events.size() >= expected.size(); }, 60000))
        << path.events.size() << " events decoded";
    // Snapshots: once the stream ends the client reconnects and it starts over.
    const QVector<EventData> decoded = path.events.mid(0, expected.size());
    const QStringList logs = path.logs;
    const QVector<int> blocks = path.blockSizes;
    path.disconnectClient();
    EXPECT_TRUE(decoded == expected);
    ASSERT_TRUE(waitUntil([&] { return path.evPosMap.size() >= evPosMap.size(); }));
    EXPECT_EQ(path.evPosMap.keys().mid(0, evPosMap.size()), evPosMap.keys());

    // Each garbage run was noticed once, and resynchronised at once (the
    // error text is logged again when the next sync word is found).
    ASSERT_EQ(quint64(logs.size()), 2 * shaper.garbageCount());
    for (const QString& line : logs)
        EXPECT_TRUE(line.startsWith("Format error: wrong KEP_SYNC_WORD: ")) << line.toStdString();

    // The receiver did see events cut: some block ended inside a record.
    quint32 end = 0;
    int cuts = 0;
    for (int size : blocks) {
        auto next = evPosMap.lowerBound(end += quint32(size));
        cuts += next != evPosMap.begin() && end < (--next).key() + quint32(recordSize) ? 1 : 0;
    }
    EXPECT_GT(cuts, 0);
}
