// The stream of the simulated acquisition program and what the live data path
// makes of it: a peer that sends garbage between events and cuts events at
// every byte offset loses the receiver no valid event; generated and
// replayed streams hold exactly the events they should.
#include "datapath/EventEncoder.h"
#include "datapath/StreamFormat.h"
#include "tests/datapath/Polling.h"
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

using namespace StreamFormat;

// What one connection of the simulator carries, regenerated from its options.
struct ExpectedStream {
    QVector<EventData> events;
    QMap<quint32, quint32> evPosMap; // stream offset of each event record -> evNum
    QSet<int> cutOffsets;            // offsets within a record at which a write ended
    quint64 garbageRuns = 0;
    int recordSize = 0; // the same for every generated event here

    ExpectedStream(const GeneratedEventSource::Options& source, const StreamShaper::Options& shaping)
    {
        GeneratedEventSource records(source);
        GeneratedEventSource decoded(source);
        StreamShaper shaper(shaping);
        quint32 offset = 0;
        for (QByteArray record = records.nextRecord(); !record.isEmpty(); record = records.nextRecord()) {
            events.append(decoded.nextEvent());
            recordSize = record.size();
            const QVector<QByteArray> recordWrites = shaper.shape(record);
            const int garbage = totalSize(recordWrites) - record.size();
            evPosMap.insert(offset + quint32(garbage), events.last().evNum);
            if (recordWrites.size() == 2)
                cutOffsets.insert(recordWrites.first().size() - garbage);
            offset += quint32(totalSize(recordWrites));
        }
        garbageRuns = shaper.garbageCount();
    }

    static int totalSize(const QVector<QByteArray>& writes)
    {
        int total = 0;
        for (const QByteArray& write : writes)
            total += write.size();
        return total;
    }

    // Whether a block that ends at this stream offset cut a record.
    bool cutsRecord(quint32 end) const
    {
        auto next = evPosMap.lowerBound(end);
        return next != evPosMap.begin() && end < (--next).key() + quint32(recordSize);
    }
};

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

// The first entries of a map in key order.
QMap<quint32, quint32> firstEntries(const QMap<quint32, quint32>& map, int count)
{
    QMap<quint32, quint32> first;
    for (auto it = map.cbegin(); it != map.cend() && first.size() < count; ++it)
        first.insert(it.key(), it.value());
    return first;
}

} // namespace

TEST(StreamShaper, GarbageCannotHideAnEventAndCutsVisitEveryOffset)
{
    const QByteArray record = GeneratedEventSource(tinyEvents(1)).nextRecord();
    StreamShaper shaper({2, true, 9});
    QSet<int> offsets;
    for (int i = 0; i < 2 * record.size(); ++i) {
        const QVector<QByteArray> writes = shaper.shape(record);
        ASSERT_EQ(writes.size(), 2);
        const QByteArray garbage = writes.first().left(ExpectedStream::totalSize(writes) - record.size());
        if (i % 2 == 1) {
            ASSERT_GE(garbage.size(), StreamShaper::MinGarbage);
            ASSERT_LE(garbage.size(), StreamShaper::MaxGarbage);
            EXPECT_EQ(garbage.size() % 2, 0);
            EXPECT_FALSE(garbage.contains('\x50') || garbage.contains('\x62'));
            EXPECT_GE(writes.first().size() - garbage.size(), EventHeaderSize); // the header travels along
        } else {
            EXPECT_TRUE(garbage.isEmpty());
            offsets.insert(writes.first().size());
        }
        EXPECT_EQ(writes.first().mid(garbage.size()) + writes.last(), record);
    }
    EXPECT_EQ(offsets.size(), record.size() - 1); // every split point, 1 .. size-1
    EXPECT_EQ(shaper.garbageCount(), quint64(record.size()));
}

TEST(GeneratedEventSource, RecordsDecodeToTheEventsWithAndWithoutPool)
{
    for (int pool : {0, 3}) {
        GeneratedEventSource::Options options = tinyEvents(3, 7);
        options.pool = pool;
        GeneratedEventSource records(options);
        GeneratedEventSource events(options);
        QByteArray stream;
        QVector<EventData> expected;
        for (QByteArray record = records.nextRecord(); !record.isEmpty(); record = records.nextRecord()) {
            stream += record;
            expected.append(events.nextEvent());
        }
        ASSERT_EQ(expected.size(), 7);
        EXPECT_EQ(events.nextEvent().evNum, 0u) << "the stream has ended";

        QVector<EventData> decoded;
        ADCAnalyzer analyzer(nullptr, nullptr);
        analyzer.dataSourceUpdated(true);
        QObject::connect(&analyzer, &ADCAnalyzer::eventDataUpdated, [&](const EventData& e) { decoded.append(e); });
        analyzer.dataAccuired(stream);
        EXPECT_EQ(decoded, expected) << "pool " << pool;
        EXPECT_EQ(expected.last().evNum, 7u);
    }
}

TEST(SimCommandLine, ShapesAndNoiseReachTheGenerator)
{
    SimCommandLine commandLine;
    ASSERT_TRUE(commandLine.parse({"ravel-daq-sim", "--boards", "1", "--channels", "3", "--samples", "32", "--noise",
                                   "0", "--pulse-probability", "0", "--interface-type", "data", "--rate", "0"}))
        << commandLine.error().toStdString();
    const SimOptions& options = commandLine.options();
    EXPECT_EQ(options.interfaceType, "data flow");
    EXPECT_EQ(options.rate, 0.0);
    const EventData event = GeneratedEventSource({options.generator, 0, true, 0}).nextEvent();
    ASSERT_EQ(event.devices.size(), 1);
    ASSERT_EQ(event.devices.first().channels.size(), 3);
    for (const ChannelData& channel : event.devices.first().channels) {
        ASSERT_EQ(channel.samples.size(), 32);
        EXPECT_EQ(channel.samples.count(channel.samples.first()), 32) << "flat baseline without noise or pulse";
    }
    EXPECT_FALSE(commandLine.parse({"ravel-daq-sim", "--pool", "1000", "--samples", "100000"}));
    EXPECT_TRUE(commandLine.error().contains("--pool")) << commandLine.error().toStdString();
}

TEST(FileEventSource, ReplaysEventAndAuxRecordsAndStopsAtABrokenOne)
{
    QTemporaryDir dir;
    const QString fileName = dir.filePath("replay.dat");
    GeneratedEventSource generated(tinyEvents(4));
    const QByteArray first = generated.nextRecord();
    const QByteArray second = generated.nextRecord();
    const QByteArray aux = EventEncoder::encodeAuxRecord("spare");
    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(EventEncoder::encodeStartRecord("run 1") + first + aux + second + EventEncoder::encodeStopRecord()
               + "garbage at the end");
    file.close();

    FileEventSource once(fileName, false);
    ASSERT_TRUE(once.isOpen());
    EXPECT_EQ(once.nextRecord(), first);
    EXPECT_EQ(once.nextRecord(), aux);
    EXPECT_EQ(once.nextRecord(), second);
    EXPECT_TRUE(once.nextRecord().isEmpty()); // with a warning about the garbage
    EXPECT_TRUE(once.nextRecord().isEmpty());

    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(first + second.left(30)); // a truncated last record
    file.close();
    FileEventSource looping(fileName, true);
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
    const GeneratedEventSource::Options source = tinyEvents(77, 400);
    const StreamShaper::Options shaping{3, true, source.generator.seed};
    const ExpectedStream expected(source, shaping);
    ASSERT_EQ(expected.cutOffsets.size(), expected.recordSize - 1) << "every split point is sent";

    SimProcess sim;
    ASSERT_TRUE(
        sim.start({"--no-discovery", "--listen", "127.0.0.1", "--seed", "77", "--boards", "2", "--channels", "2",
                   "--samples", "8", "--events", "400", "--rate", "250", "--garbage-every", "3", "--cut-writes"}));
    LiveDataPath path(true);
    path.connectTo(QHostAddress::LocalHost, sim.port());
    ASSERT_TRUE(waitUntil([&] { return path.events.size() >= expected.events.size(); }, 60000))
        << path.events.size() << " events decoded";

    // Snapshots: once the stream ends the client reconnects and it starts over.
    const QVector<EventData> decoded = path.events.mid(0, expected.events.size());
    const QStringList logs = path.logs;
    const QVector<int> blocks = path.blockSizes;
    path.disconnectClient();

    EXPECT_TRUE(decoded == expected.events);
    ASSERT_TRUE(waitUntil([&] { return path.evPosMap.size() >= expected.evPosMap.size(); }));
    EXPECT_EQ(firstEntries(path.evPosMap, expected.evPosMap.size()), expected.evPosMap);

    // Each garbage run was noticed once, and resynchronised at once (the
    // error text is logged again when the next sync word is found).
    ASSERT_EQ(quint64(logs.size()), 2 * expected.garbageRuns);
    for (const QString& line : logs)
        EXPECT_TRUE(line.startsWith("Format error: wrong KEP_SYNC_WORD: ")) << line.toStdString();

    // The receiver did see events cut: some block ended inside a record.
    quint32 end = 0;
    int cuts = 0;
    for (int size : blocks)
        cuts += expected.cutsRecord(end += quint32(size)) ? 1 : 0;
    EXPECT_GT(cuts, 0);
}
