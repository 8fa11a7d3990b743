// Decoding rules, failure texts, resynchronisation, emission and flow control
// of ADCAnalyzer, on hand-built records.
#include "datapath/ADCAnalyzer.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "datapath/StreamFormat.h"
#include "tests/MessageLog.h"
#include "tests/datapath/AnalyzerProbe.h"

#include <QThread>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace StreamFormat;
using E = EventEncoder;
using Positions = QMap<quint32, quint32>;

namespace {

QByteArray words(std::initializer_list<quint32> values)
{
    QByteArray out;
    for (quint32 v : values)
        E::appendWord(out, v);
    return out;
}

QByteArray boardHeader(quint64 mask, quint32 timeHigh = 0, quint32 flagsAndLow = 0)
{
    return E::nimbusBlock(BoardHeaderBlock, 0, words({timeHigh, flagsAndLow, quint32(mask), quint32(mask >> 32)}));
}

// A waveform block with raw sample words.
QByteArray channel(quint32 ch, std::initializer_list<quint32> samples, quint32 timeHigh = 0, quint32 timeLow = 0)
{
    return E::nimbusBlock(ChannelWaveformBlock, ch, words({timeHigh, timeLow}) + words(samples));
}

const auto event = &E::eventRecord;

QByteArray board(quint32 serial, const QByteArray& blocks, quint8 type = 0xD9)
{
    return E::deviceRecord(serial, type, blocks);
}

QByteArray simpleEvent(quint32 evNum)
{
    return event(evNum, board(100, boardHeader(0x1) + channel(0, {0x00010002})));
}

QString maskText(quint64 got, quint64 mask)
{
    return QStringLiteral("Format error: Got channel events (%1) doesn't correspont to adcChMask (%2)")
        .arg(got, 64, 2, QLatin1Char('0'))
        .arg(mask, 64, 2, QLatin1Char('0'));
}

} // namespace

TEST(ADCAnalyzerDecode, FieldsOfEmptyEventBoardHeaderAndChannels)
{
    AnalyzerProbe probe;
    probe.feed(QByteArray::fromHex("502a502a0000000007000000"));
    const quint64 mask = (quint64(1) << 63) | 0x4;
    probe.feed(event(9, board(0xCAFE,
                              boardHeader(mask, 0x12345678, 0xFFFFFFF3 /* low 0x3FFFFFFC, flags 3 */)
                                  + channel(2, {0x80007FFF, 0x00017FFE}, 0xA, 0x7) + channel(63, {}),
                              0xBE)));
    ASSERT_EQ(probe.events.size(), 2) << probe.logs.join('\n').toStdString();
    EXPECT_TRUE(probe.events[0].devices.isEmpty());
    EXPECT_EQ(probe.positions, (Positions{{0, 7}, {12, 9}}));
    DeviceEvent expected;
    expected.serial = 0xCAFE;
    expected.deviceType = 0xBE;
    expected.evNum = 9;
    expected.timeHigh = 0x12345678;
    expected.timeFlags = 3;
    expected.timeLow = 0x3FFFFFFC;
    // The low two bits of the channel's second time word are dropped.
    ChannelData& two = expected.channels[2];
    two.ch = 2;
    two.time = (quint64(0xA) << 32) | 0x1;
    two.samples = {-32768, 32767, 1, 32766};
    expected.channels[63].ch = 63;
    EXPECT_TRUE(probe.events[1].devices.keys() == QList<quint32>{0xCAFE}
                && probe.events[1].devices[0xCAFE] == expected);
    EXPECT_TRUE(probe.logs.isEmpty());
}

TEST(ADCAnalyzerDecode, UnsignedSamplesAndOptionChangeAffectsOnlyLaterBlocks)
{
    AnalyzerProbe probe;
    // Enough sample words that the wide decoding path and its tail both run.
    const QByteArray ev =
        event(1, board(1, boardHeader(1) + channel(0, {0x80007FFF, 0, 0xFFFF0001, 0x12348000, 0x7FFF8000})));
    probe.feed(ev + ev.chopped(4));
    probe.analyzer.adcRawDataSignedUpdated(false);
    probe.feed(ev.right(4));
    ASSERT_EQ(probe.events.size(), 2);
    EXPECT_EQ(probe.events[0].devices[1].channels[0].samples,
              (QVector<double>{-32768, 32767, 0, 0, -1, 1, 0x1234, -32768, 32767, -32768}));
    EXPECT_EQ(probe.events[1].devices[1].channels[0].samples,
              (QVector<double>{0, -1, -32768, -32768, 32767, -32767, 0x1234 - 32768, 0, -1, 0}));
}

TEST(ADCAnalyzerDecode, EdgeCasesOfBoardsAndChannels)
{
    MessageLog log;
    AnalyzerProbe probe;
    // Device length 0 with mask 0 still yields a board; channel 64 sets mask bit 0;
    // a second block of a channel replaces the first; a repeated serial keeps the
    // later record; a board without header uses the earlier mask; an unknown
    // device type and a TDC block are stepped over.
    probe.feed(event(1, board(5, QByteArray())));
    probe.feed(event(2, board(5, boardHeader(0x1) + channel(64, {1}))));
    probe.feed(event(3, board(6, boardHeader(0x2) + channel(1, {1}) + channel(1, {2}, 9))
                            + board(7, boardHeader(0x2) + channel(1, {4}))
                            + board(7, boardHeader(0x1) + channel(0, {3}))));
    probe.feed(
        event(4, board(1, "12345678", 0x00) + board(2, boardHeader(0) + E::nimbusBlock(TdcBlock, 0, words({1})))));
    probe.feed(event(5, board(1, boardHeader(0x3, 77) + channel(0, {}) + channel(1, {}))
                            + board(2, channel(1, {}) + channel(0, {}))));
    ASSERT_EQ(probe.events.size(), 5) << probe.logs.join('\n').toStdString();
    EXPECT_TRUE(probe.events[0].devices[5].channels.isEmpty());
    EXPECT_EQ(probe.events[1].devices[5].channels[64].ch, 64);
    EXPECT_EQ(probe.events[2].devices[6].channels.keys(), QList<int>{1});
    EXPECT_EQ(probe.events[2].devices[6].channels[1].samples, (QVector<double>{0, 2}));
    EXPECT_EQ(probe.events[2].devices[6].channels[1].time, quint64(9) << 32);
    EXPECT_EQ(probe.events[2].devices[7].channels.keys(), QList<int>{0});
    EXPECT_EQ(probe.events[2].devices[7].channels[0].samples, (QVector<double>{0, 3}));
    EXPECT_EQ(probe.events[3].devices.keys(), QList<quint32>{2});
    EXPECT_EQ(probe.events[4].devices[2].channels.size(), 2);
    EXPECT_TRUE(probe.logs.isEmpty());
    EXPECT_EQ(log.texts(), QStringList{"Todo: add hptdc decoder."});
    // A zero-length board against the non-zero mask of an earlier event fails.
    probe.feed(event(6, board(3, QByteArray())));
    EXPECT_EQ(probe.logs, QStringList{maskText(0, 3)});
}

TEST(ADCAnalyzerFailure, LoggedOnceAndBufferDroppedThenNextBlockDecodes)
{
    const struct {
        QByteArray stream;
        QString text;
    } cases[] = {
        {event(1, "1234"), "Format error: There is no data for KepDeviceHdr"},
        {event(1, words({1, 100 | (0xD9u << 24)})), "Format error: There is no data for KepDevice payload"},
        {event(1, board(1, E::nimbusBlock(InvalidBlock, 0, {}))),
         "Format error: Invalid subtype number in Nimbus header: 3."},
        {event(1, board(1, E::nimbusBlock(BoardHeaderBlock, 0, words({0, 0, 0})))),
         "Format error: Invalid size(12 Bytes) of Nimbus subtype=0 block; should be 16 Bytes."},
        {event(1, board(1, boardHeader(1) + E::nimbusBlock(ChannelWaveformBlock, 0, words({0})))),
         "Format error: Invalid size(4 Bytes) of Nimbus subtype=1 block; should be >=8 Bytes."},
        {event(1, board(1, boardHeader(1) + words({nimbusHeader(ChannelWaveformBlock, 5, 0)}))),
         "Format error: Sum of sizes of Nimbus blocks(44) isn't equal to one declared in KepDevice header(24)"},
        {event(1, board(1, boardHeader(0) + "xy") + "zw"),
         "Format error: Sum of sizes of Nimbus blocks(24) isn't equal to one declared in KepDevice header(22)"},
        {event(1, board(1, boardHeader(0x5) + channel(0, {}))), maskText(1, 5)},
        {"ABCDEFGHIJKL", "Format error: wrong KEP_SYNC_WORD: 44434241; at file pos:0"},
        {E::encodeStartRecord("abcd"), "Format error: wrong KEP_SYNC_WORD: 72617453; at file pos:0"},
        {words({KEP_SYNC_WORD, ADCAnalyzer::MaxRecordLength + 1, 1}),
         "Format error: Record length 268435457 exceeds the limit of 268435456 bytes; at file pos:0"},
        {words({AUX_SYNC_WORD, 0xFFFFFFFF, 0}),
         "Format error: Record length 4294967295 exceeds the limit of 268435456 bytes; at file pos:0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        AnalyzerProbe probe;
        probe.feed(c.stream);
        EXPECT_EQ(probe.logs, QStringList{c.text});
        // The failed record left nothing behind: the next block decodes from its
        // own start, whose absolute position counts the dropped bytes.
        probe.feed(simpleEvent(2));
        ASSERT_EQ(probe.events.size(), 1);
        EXPECT_EQ(probe.positions, (Positions{{quint32(c.stream.size()), 2}}));
    }
    AnalyzerProbe atLimit; // a length at the limit waits for its data
    atLimit.feed(words({KEP_SYNC_WORD, ADCAnalyzer::MaxRecordLength, 1}));
    EXPECT_TRUE(atLimit.logs.isEmpty());
}

// The search starts one byte after the failed record's start and steps by
// one byte, so it finds a record at an odd distance, and one inside the failed
// record before the point where it failed.
TEST(ADCAnalyzerResync, FirstSyncWordAfterTheFailedRecordStart)
{
    const QByteArray first = simpleEvent(1);
    const quint32 damage = quint32(first.size()); // where the failed record starts
    ASSERT_GT(damage, 16u) << "positions must read differently in hex and decimal";
    const QString wrong = QString("Format error: wrong KEP_SYNC_WORD: %1; at file pos:%2");
    // Waveform samples that hold a whole event, in a board whose mask names a
    // second channel that is missing: the check fails after the samples.
    const QByteArray inner = simpleEvent(3);
    const QByteArray hiding =
        event(2, board(1, boardHeader(0x3) + E::nimbusBlock(ChannelWaveformBlock, 0, words({0, 0}) + inner)));
    const quint32 innerAt = quint32(hiding.size() - inner.size());
    const struct {
        const char* name;
        QByteArray damagedThenEvent3;
        quint32 shift; // of event 3 from the damage
        QString error;
    } cases[] = {
        {"EvenGarbage", "GARBAG" + inner, 6, wrong.arg("42524147").arg(damage)},
        {"OddGarbage", "GARBA" + inner, 5, wrong.arg("42524147").arg(damage)},
        {"OddStartRecord", E::encodeStartRecord("run 7") + inner, 13, wrong.arg("72617453").arg(damage)},
        {"EventInsideTheFailedRecord", hiding, innerAt, maskText(1, 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MessageLog log;
        AnalyzerProbe probe;
        probe.feed(first + c.damagedThenEvent3);
        EXPECT_EQ(probe.logs, (QStringList{c.error, c.error}));
        EXPECT_EQ(log.texts(),
                  QStringList{QString("Syncword found at 0x%1; shift:0x%2").arg(damage, 0, 16).arg(c.shift, 0, 16)});
        EXPECT_EQ(probe.positions, (Positions{{0, 1}, {damage + c.shift, 3}}));
    }
}

// Garbage without a sync word is dropped after one log line, except a tail
// that starts a magic word: the next block may complete it.
TEST(ADCAnalyzerResync, CutMagicWordIsKeptOtherGarbageDropped)
{
    const QByteArray garbage = "GARBAGE!GARBAGE!";
    const QByteArray rest = E::encodeAuxRecord("x") + simpleEvent(2);
    const struct {
        QByteArray tail;
        QByteArray next; // completes the record that a kept tail starts
        bool kept;
    } cases[] = {
        {"", simpleEvent(2), false},        {"P*x", simpleEvent(2), false}, // not the start of a magic word
        {"P", simpleEvent(2).mid(1), true}, {"P*", simpleEvent(2).mid(2), true}, {"P*P", simpleEvent(2).mid(3), true},
        {"b", rest.mid(1), true},           {"bJ", rest.mid(2), true},           {"bJb", rest.mid(3), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail.constData());
        AnalyzerProbe probe;
        probe.feed(garbage + c.tail);
        EXPECT_EQ(probe.logs, QStringList{"Format error: wrong KEP_SYNC_WORD: 42524147; at file pos:0"});
        EXPECT_EQ(probe.analyzer.pendingBytes(), c.kept ? c.tail.size() : 0);
        probe.feed(c.next);
        EXPECT_EQ(probe.logs.size(), 1);
        const quint32 eventAt = quint32(garbage.size() + c.tail.size() + c.next.size() - simpleEvent(2).size());
        EXPECT_EQ(probe.positions, (Positions{{eventAt, 2}}));
    }
}

TEST(ADCAnalyzerStream, LiveDataAreThinnedFileDataAreNot)
{
    AnalyzerProbe live(false);
    live.feed(simpleEvent(1) + simpleEvent(2));
    ASSERT_EQ(live.events.size(), 1);
    EXPECT_EQ(live.events[0].evNum, 1u);
    const quint32 second = quint32(simpleEvent(1).size());
    EXPECT_EQ(live.positions, (Positions{{0, 1}, {second, 2}})); // both, though one was shown
    QThread::msleep(ADCAnalyzer::LiveEmitIntervalMs + 50);       // the interval itself is what is tested
    live.feed(simpleEvent(3));
    ASSERT_EQ(live.events.size(), 2);
    EXPECT_EQ(live.events[1].evNum, 3u);

    AnalyzerProbe file(true);
    file.feed(simpleEvent(1) + simpleEvent(2));
    EXPECT_EQ(file.events.size(), 2);
}

// A record cut inside its last sample word would decode without any error,
// with the next stream's first bytes as samples, if it were kept.
TEST(ADCAnalyzerStream, EndOfAStreamDropsTheRecordItLeftUnfinished)
{
    const std::function<void(ADCAnalyzer&)> ends[] = {
        [](ADCAnalyzer& a) { a.dataSourceUpdated(true); }, // switch to a file
        [](ADCAnalyzer& a) { a.streamStarted(); },         // new connection
    };
    for (const auto& end : ends) {
        MessageLog log;
        AnalyzerProbe probe(false);
        const int cut = simpleEvent(1).size() - 4;
        probe.feed(simpleEvent(1).left(cut));
        end(probe.analyzer);
        probe.feed(simpleEvent(2));
        ASSERT_EQ(probe.events.size(), 1);
        EXPECT_EQ(probe.events[0].evNum, 2u);
        EXPECT_EQ(probe.events[0].devices[100].channels[0].samples, (QVector<double>{1, 2}));
        EXPECT_TRUE(probe.logs.isEmpty()) << probe.logs.join('\n').toStdString();
        EXPECT_EQ(probe.positions, (Positions{{quint32(cut), 2}})); // positions stay absolute
        EXPECT_TRUE(log.contains(QString("Dropped %1 bytes of an unfinished record at the end of a stream").arg(cut)));
    }
}

TEST(ADCAnalyzerStream, OnePermitAndOneMapPerBlock)
{
    AnalyzerProbe probe;
    probe.semaphore.acquire(50);
    int maps = 0;
    QObject::connect(&probe.analyzer, &ADCAnalyzer::eventMapUpdated, [&maps] { ++maps; });
    probe.feed(simpleEvent(1).left(5)); // partial
    probe.feed(QByteArray(20, 'x'));    // format error
    probe.feed(simpleEvent(2));         // whole event
    EXPECT_EQ(probe.semaphore.available(), 3);
    EXPECT_EQ(maps, 3);
}

TEST(ADCAnalyzerStream, PositionMapKeepsTheNewestEntries)
{
    AnalyzerProbe live(false);
    const QByteArray empty = event(0, {});
    const int count = ADCAnalyzer::EvPosMapLimit + 3;
    live.feed(empty.repeated(count), 12 * 100000 + 5); // the blocks cut records
    ASSERT_EQ(live.positions.size(), ADCAnalyzer::EvPosMapLimit);
    EXPECT_EQ(live.positions.firstKey(), quint32(3 * empty.size()));
    EXPECT_EQ(live.positions.lastKey(), quint32((count - 1) * empty.size()));
}

TEST(ADCAnalyzerRecords, EveryBoardOncePerPassWithFeaturesAndWithoutSamples)
{
    AnalyzerProbe probe(false); // live: events are thinned, records are not
    probe.analyzer.adcRawDataSignedUpdated(false);
    // Unsigned codes 0x8064, 0x8064, 0x80C8, 0x8064 are the samples 100, 100, 200, 100.
    const QByteArray ev = event(1, board(7, boardHeader(0x1) + channel(0, {0x80648064, 0x80C88064}))
                                       + board(8, boardHeader(0x1) + channel(0, {})));
    probe.feed(ev + ev);
    probe.feed(ev);
    ASSERT_EQ(probe.events.size(), 1);
    ASSERT_EQ(probe.records.size(), 2);
    EXPECT_EQ(probe.records[0].events.size(), 4);
    EXPECT_EQ(probe.records[1].events.size(), 2);
    for (const DeviceData& record : qAsConst(probe.records)) { // of shown and of thinned events
        for (const DeviceEvent& board : record.events)
            EXPECT_TRUE(board.channels.first().samples.isEmpty()) << board.serial;
    }
    const DeviceEvent& recorded = probe.records[0].events[0];
    EXPECT_EQ(recorded.serial, 7u);
    const ChannelFeatures f = recorded.channels[0].features;
    EXPECT_DOUBLE_EQ(f.baseline, 125);
    EXPECT_DOUBLE_EQ(f.noise, std::sqrt(1875.0)); // deviations -25, -25, 75, -25
    EXPECT_DOUBLE_EQ(f.amplitude, 75);
    EXPECT_EQ(f.peak, 2);
    EXPECT_EQ(probe.records[0].events[1].channels[0].features.peak, -1);
    // The emitted event carries the same features next to its samples.
    EXPECT_EQ(probe.events[0].devices[7].channels[0].samples, (QVector<double>{100, 100, 200, 100}));
    EXPECT_EQ(probe.events[0].devices[7].channels[0].features.peak, 2);
    EXPECT_EQ(probe.writer.available(), 48);
}

TEST(ADCAnalyzerRecords, FeaturesOfSignedAndUnsignedCodesAreThoseOfTheDecodedSamples)
{
    SampleGenerator::Options options;
    options.boards = 1;
    options.channels = 16;
    options.samples = 1022; // the wide search and its tail both run
    SampleGenerator generator(options);
    QByteArray stream;
    for (int i = 0; i < 8; ++i)
        EventEncoder::appendEvent(stream, generator.nextEvent());
    // Signed, the two extremes lie at the same distance from the baseline 0.
    EventData tie;
    tie.devices[1].serial = 1;
    tie.devices[1].deviceType = 0xD9;
    QVector<double>& samples = tie.devices[1].channels[0].samples;
    samples = QVector<double>(40, 0);
    samples[25] = -5;
    samples[30] = 5;
    // Long channels: the one extreme in the last words, converted one by one;
    // a tie whose later candidate lies in an earlier chunk of words.
    QVector<double>& tail = tie.devices[1].channels[1].samples;
    tail = QVector<double>(1022, 0);
    tail[1020] = 7;
    QVector<double>& early = tie.devices[1].channels[2].samples;
    early = QVector<double>(1022, 0);
    early[900] = -5;
    early[100] = 5;
    EventEncoder::appendEvent(stream, tie);
    const FeatureExtractor extractor;
    for (bool adcSigned : {true, false}) {
        SCOPED_TRACE(adcSigned ? "signed" : "unsigned");
        AnalyzerProbe probe;
        probe.analyzer.adcRawDataSignedUpdated(adcSigned);
        probe.feed(stream);
        ASSERT_EQ(probe.events.size(), 9);
        if (adcSigned) {
            const auto& channels = probe.events.last().devices.first().channels;
            EXPECT_EQ(channels[0].features.peak, 25);
            EXPECT_EQ(channels[1].features.peak, 1020);
            EXPECT_EQ(channels[2].features.peak, 100);
        }
        for (const EventData& e : qAsConst(probe.events)) {
            for (const ChannelData& c : qAsConst(e.devices.first().channels)) {
                const ChannelFeatures expected = extractor.compute(c.samples.constData(), c.samples.size());
                EXPECT_EQ(c.features.peak, expected.peak);
                EXPECT_DOUBLE_EQ(c.features.amplitude, expected.amplitude);
                EXPECT_DOUBLE_EQ(c.features.integral, expected.integral);
            }
        }
    }
}

TEST(ADCAnalyzerRecords, PartsOfAtMostLimitBoardsAndSkippedWithoutPermit)
{
    AnalyzerProbe probe;
    probe.writer.acquire(49);
    QByteArray stream;
    const int events = 2 * ADCAnalyzer::HistoryLimit + 500;
    for (int i = 0; i < events; ++i)
        stream += simpleEvent(quint32(i));
    probe.feed(stream);
    // One permit: the first part goes out, the other two are counted; decoding went on.
    EXPECT_EQ(probe.events.size(), events);
    ASSERT_EQ(probe.records.size(), 1);
    EXPECT_EQ(probe.records[0].events.size(), ADCAnalyzer::HistoryLimit);
    EXPECT_EQ(probe.skipped, ADCAnalyzer::HistoryLimit + 500);
    EXPECT_EQ(probe.writer.available(), 0);
    probe.writer.release(); // the writer returns the permit of the first part
    probe.feed(simpleEvent(1));
    EXPECT_EQ(probe.records.size(), 2);
    EXPECT_EQ(probe.skipped, ADCAnalyzer::HistoryLimit + 500);
}

TEST(ADCAnalyzer, TdcErrorTexts)
{
    const QMap<int, QString> texts{{0, "Hit lost in group 0 from read-out fifo overflow"},
                                   {11, "Hit error have been detected in group 3"},
                                   {13, "Event lost (trigger FIFO ovefrlow)"},
                                   {14, "Internal fatal chip error has been detected"},
                                   {-1, "Unknown"}};
    for (auto it = texts.cbegin(); it != texts.cend(); ++it)
        EXPECT_EQ(ADCAnalyzer::tdcErrorText(it.key()), it.value());
}
