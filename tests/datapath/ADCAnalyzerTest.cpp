// Decoding rules, failure texts, resynchronisation, emission and flow control
// of ADCAnalyzer, on hand-built records.
#include "datapath/ADCAnalyzer.h"
#include "datapath/EventEncoder.h"
#include "datapath/StreamFormat.h"
#include "tests/datapath/AnalyzerProbe.h"

#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace StreamFormat;
using E = EventEncoder;

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
QByteArray channel(quint32 ch, std::initializer_list<quint32> sampleWords, quint32 timeHigh = 0,
                   quint32 timeLowWord = 0)
{
    return E::nimbusBlock(ChannelWaveformBlock, ch, words({timeHigh, timeLowWord}) + words(sampleWords));
}

QByteArray event(quint32 evNum, const QByteArray& payload)
{
    return E::eventRecord(evNum, payload);
}

QByteArray board(quint32 serial, const QByteArray& blocks, quint8 type = 0xD9)
{
    return E::deviceRecord(serial, type, blocks);
}

QByteArray simpleEvent(quint32 evNum)
{
    return event(evNum, board(100, boardHeader(0x1) + channel(0, {0x00010002})));
}

QString mask64(quint64 mask)
{
    return QStringLiteral("%1").arg(mask, 64, 2, QLatin1Char('0'));
}

} // namespace

TEST(ADCAnalyzerDecode, EmptyEventFromRawBytes)
{
    AnalyzerProbe probe;
    probe.feed(QByteArray::fromHex("502a502a0000000007000000"));
    ASSERT_EQ(probe.events.size(), 1);
    EXPECT_EQ(probe.events[0].evNum, 7u);
    EXPECT_TRUE(probe.events[0].devices.isEmpty());
    EXPECT_EQ(probe.positions, (QMap<quint32, quint32>{{0, 7}}));
    EXPECT_TRUE(probe.logs.isEmpty());
}

TEST(ADCAnalyzerDecode, BoardHeaderAndChannelFields)
{
    AnalyzerProbe probe;
    const quint64 mask = (quint64(1) << 63) | 0x4;
    probe.feed(event(9, board(0xCAFE,
                              boardHeader(mask, 0x12345678, 0xFFFFFFF3 /* low 0x3FFFFFFC, flags 3 */)
                                  + channel(2, {0x80007FFF, 0x00017FFE}, 0xA, 0x7) + channel(63, {}),
                              0xBE)));
    ASSERT_EQ(probe.events.size(), 1) << probe.logs.join('\n').toStdString();
    const DeviceEvent b = probe.events[0].devices.value(0xCAFE);
    EXPECT_EQ(b.serial, 0xCAFEu);
    EXPECT_EQ(b.deviceType, 0xBE);
    EXPECT_EQ(b.evNum, 9u);
    EXPECT_EQ(b.timeHigh, 0x12345678u);
    EXPECT_EQ(b.timeFlags, 3u);
    EXPECT_EQ(b.timeLow, 0x3FFFFFFCu);
    ASSERT_EQ(b.channels.keys(), (QList<int>{2, 63}));
    const ChannelData c = b.channels[2];
    EXPECT_EQ(c.ch, 2);
    EXPECT_EQ(c.time, (quint64(0xA) << 32) | 0x1); // the low two bits of word 1 are dropped
    EXPECT_EQ(c.samples, (QVector<double>{-32768, 32767, 1, 32766}));
    EXPECT_TRUE(b.channels[63].samples.isEmpty());
    EXPECT_EQ(c.spare16 + c.spare32a + c.spare32b, 0u);
}

TEST(ADCAnalyzerDecode, UnsignedSamplesAndOptionChangeAffectsOnlyLaterBlocks)
{
    AnalyzerProbe probe;
    // Enough sample words that the wide decoding path and its tail both run.
    const QByteArray ev =
        event(1, board(1, boardHeader(1) + channel(0, {0x80007FFF, 0, 0xFFFF0001, 0x12348000, 0x7FFF8000})));
    const QByteArray firstPart = ev.left(ev.size() - 4);
    probe.feed(ev + firstPart);
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
    AnalyzerProbe probe;
    // Device length 0 with mask 0 still yields a board; channel 64 sets mask bit 0;
    // a second block of a channel replaces the first; a repeated serial keeps the later record.
    probe.feed(event(1, board(5, QByteArray())));
    probe.feed(event(2, board(5, boardHeader(0x1) + channel(64, {1}))));
    probe.feed(event(3, board(6, boardHeader(0x2) + channel(1, {1}) + channel(1, {2}))
                            + board(6, boardHeader(0x1) + channel(0, {3}))));
    ASSERT_EQ(probe.events.size(), 3) << probe.logs.join('\n').toStdString();
    EXPECT_TRUE(probe.events[0].devices[5].channels.isEmpty());
    EXPECT_EQ(probe.events[0].devices[5].evNum, 0u);
    EXPECT_EQ(probe.events[1].devices[5].channels.keys(), QList<int>{64});
    EXPECT_EQ(probe.events[1].devices[5].channels[64].ch, 64);
    const DeviceEvent b6 = probe.events[2].devices[6];
    EXPECT_EQ(b6.channels.keys(), QList<int>{0});
    EXPECT_EQ(b6.channels[0].samples, (QVector<double>{0, 3}));
    EXPECT_TRUE(probe.logs.isEmpty());
}

TEST(ADCAnalyzerDecode, BoardWithoutHeaderUsesEarlierMask)
{
    AnalyzerProbe probe;
    probe.feed(event(1, board(1, boardHeader(0x3, 77) + channel(0, {}) + channel(1, {}))
                            + board(2, channel(1, {}) + channel(0, {}))));
    ASSERT_EQ(probe.events.size(), 1);
    const DeviceEvent second = probe.events[0].devices[2];
    EXPECT_EQ(second.evNum, 0u);
    EXPECT_EQ(second.timeHigh, 0u);
    EXPECT_EQ(second.channels.size(), 2);
    // Zero-length board against a non-zero earlier mask fails rule 7.
    probe.feed(event(2, board(3, QByteArray())));
    EXPECT_EQ(probe.logs,
              QStringList{QStringLiteral("Format error: Got channel events (%1) doesn't correspont to adcChMask (%2)")
                              .arg(mask64(0), mask64(3))});
}

TEST(ADCAnalyzerDecode, UnknownDeviceTypeAndTdcBlockAreSteppedOver)
{
    AnalyzerProbe probe;
    probe.feed(
        event(4, board(1, "12345678", 0x00) + board(2, boardHeader(0) + E::nimbusBlock(TdcBlock, 0, words({1, 2})))));
    ASSERT_EQ(probe.events.size(), 1);
    EXPECT_EQ(probe.events[0].devices.keys(), QList<quint32>{2});
    EXPECT_TRUE(probe.events[0].devices[2].tdcHits.isEmpty());
    EXPECT_TRUE(probe.logs.isEmpty());
    EXPECT_EQ(AnalyzerProbe::diagnostics(), QStringList{"Todo: add hptdc decoder."});
}

struct FailureCase {
    const char* name;
    QByteArray stream;
    QString text;
};

class ADCAnalyzerFailure : public ::testing::TestWithParam<int> {
public:
    static QVector<FailureCase> cases()
    {
        return {
            {"NoDeviceHeader", event(1, "1234"), "Format error: There is no data for KepDeviceHdr"},
            {"NoDevicePayload", event(1, words({1, 100 | (0xD9u << 24)})),
             "Format error: There is no data for KepDevice payload"},
            {"Subtype3", event(1, board(1, E::nimbusBlock(InvalidBlock, 0, {}))),
             "Format error: Invalid subtype number in Nimbus header: 3."},
            {"Subtype0Size", event(1, board(1, E::nimbusBlock(BoardHeaderBlock, 0, words({0, 0, 0})))),
             "Format error: Invalid size(12 Bytes) of Nimbus subtype=0 block; should be 16 Bytes."},
            {"Subtype1Size", event(1, board(1, boardHeader(1) + E::nimbusBlock(ChannelWaveformBlock, 0, words({0})))),
             "Format error: Invalid size(4 Bytes) of Nimbus subtype=1 block; should be >=8 Bytes."},
            {"BlockRunsPastDevice",
             event(1, board(1, boardHeader(1) + words({nimbusHeader(ChannelWaveformBlock, 5, 0)}))),
             "Format error: Sum of sizes of Nimbus blocks(44) isn't equal to one declared in KepDevice header(24)"},
            {"BlockHeaderRunsPastDevice", event(1, board(1, boardHeader(0) + "xy") + "zw"),
             "Format error: Sum of sizes of Nimbus blocks(24) isn't equal to one declared in KepDevice header(22)"},
            {"ChannelMask", event(1, board(1, boardHeader(0x5) + channel(0, {}))),
             QStringLiteral("Format error: Got channel events (%1) doesn't correspont to adcChMask (%2)")
                 .arg(mask64(1), mask64(5))},
            {"WrongSync", QByteArray("ABCDEFGHIJKL"), "Format error: wrong KEP_SYNC_WORD: 44434241; at file pos:0"},
            {"StartRecord", E::encodeStartRecord("abcd"), "Format error: wrong KEP_SYNC_WORD: 72617453; at file pos:0"},
            {"HugeEventLength", words({KEP_SYNC_WORD, ADCAnalyzer::MaxRecordLength + 1, 1}),
             "Format error: Record length 268435457 exceeds the limit of 268435456 bytes; at file pos:0"},
            {"HugeAuxLength", words({AUX_SYNC_WORD, 0xFFFFFFFF, 0}),
             "Format error: Record length 4294967295 exceeds the limit of 268435456 bytes; at file pos:0"},
        };
    }
};

TEST_P(ADCAnalyzerFailure, LoggedOnceAndBufferDroppedThenNextBlockDecodes)
{
    const FailureCase c = cases()[GetParam()];
    SCOPED_TRACE(c.name);
    AnalyzerProbe probe;
    probe.feed(c.stream);
    EXPECT_TRUE(probe.events.isEmpty());
    EXPECT_EQ(probe.logs, QStringList{c.text});
    EXPECT_TRUE(probe.positions.isEmpty());
    // The failed record left nothing behind: the next block decodes from its
    // own start, whose absolute position counts the dropped bytes.
    probe.feed(simpleEvent(2));
    ASSERT_EQ(probe.events.size(), 1);
    EXPECT_EQ(probe.positions, (QMap<quint32, quint32>{{quint32(c.stream.size()), 2}}));
}

INSTANTIATE_TEST_SUITE_P(Texts, ADCAnalyzerFailure, ::testing::Range(0, int(ADCAnalyzerFailure::cases().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(ADCAnalyzerFailure::cases()[info.param].name);
                         });

TEST(ADCAnalyzerResync, WrongWordFollowedBySyncSixBytesLater)
{
    AnalyzerProbe probe;
    probe.feed(QByteArray("GARBAG") + simpleEvent(3));
    const QString text = "Format error: wrong KEP_SYNC_WORD: 42524147; at file pos:0";
    EXPECT_EQ(probe.logs, (QStringList{text, text}));
    EXPECT_EQ(AnalyzerProbe::diagnostics(), QStringList{"Syncword found at 0x0; shift:0x6"});
    ASSERT_EQ(probe.events.size(), 1);
    EXPECT_EQ(probe.positions, (QMap<quint32, quint32>{{6, 3}}));
}

TEST(ADCAnalyzerResync, SearchStartsFromFailedEventAndSkipsItsRest)
{
    AnalyzerProbe probe;
    const QByteArray bad = event(2, board(1, E::nimbusBlock(InvalidBlock, 0, {})));
    probe.feed(simpleEvent(1) + bad + E::encodeAuxRecord("xxxx") + simpleEvent(3));
    const QString text = "Format error: Invalid subtype number in Nimbus header: 3.";
    EXPECT_EQ(probe.logs, (QStringList{text, text}));
    const int badStart = simpleEvent(1).size();
    EXPECT_EQ(
        AnalyzerProbe::diagnostics(),
        QStringList{QStringLiteral("Syncword found at 0x%1; shift:0x%2").arg(badStart, 0, 16).arg(bad.size(), 0, 16)});
    ASSERT_EQ(probe.events.size(), 2);
    EXPECT_EQ(probe.events[1].evNum, 3u);
    EXPECT_EQ(probe.positions.keys(), (QList<quint32>{0, quint32(badStart + bad.size() + 16)}));
}

TEST(ADCAnalyzerStream, PartialEventWaitsForTheRest)
{
    AnalyzerProbe probe;
    const QByteArray first = simpleEvent(1), second = simpleEvent(2);
    probe.feed(first + second.left(13));
    probe.feed(second.mid(13, 5));
    EXPECT_EQ(probe.events.size(), 1);
    probe.feed(second.mid(18));
    ASSERT_EQ(probe.events.size(), 2);
    EXPECT_EQ(probe.events[1].evNum, 2u);
    EXPECT_EQ(probe.positions, (QMap<quint32, quint32>{{0, 1}, {quint32(first.size()), 2}}));
}

TEST(ADCAnalyzerStream, AuxRecordIsSkippedOnlyWhenComplete)
{
    AnalyzerProbe probe;
    const QByteArray aux = E::encodeAuxRecord("12345678", 0xDEAD);
    probe.feed(aux.left(12));
    probe.feed(aux.mid(12) + simpleEvent(8));
    EXPECT_TRUE(probe.logs.isEmpty());
    ASSERT_EQ(probe.events.size(), 1);
    EXPECT_EQ(probe.positions, (QMap<quint32, quint32>{{quint32(aux.size()), 8}}));
}

TEST(ADCAnalyzerStream, LiveDataAreThinnedFileDataAreNot)
{
    AnalyzerProbe live(false);
    live.feed(simpleEvent(1) + simpleEvent(2));
    EXPECT_EQ(live.positions.size(), 2);
    ASSERT_EQ(live.events.size(), 1);
    EXPECT_EQ(live.events[0].evNum, 1u);
    QThread::msleep(ADCAnalyzer::LiveEmitIntervalMs + 50); // the interval itself is what is tested
    live.feed(simpleEvent(3));
    ASSERT_EQ(live.events.size(), 2);
    EXPECT_EQ(live.events[1].evNum, 3u);

    AnalyzerProbe file(true);
    file.feed(simpleEvent(1) + simpleEvent(2));
    EXPECT_EQ(file.events.size(), 2);
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

TEST(ADCAnalyzerStream, LengthAtTheLimitWaitsForData)
{
    AnalyzerProbe probe;
    probe.feed(words({KEP_SYNC_WORD, ADCAnalyzer::MaxRecordLength, 1}));
    EXPECT_TRUE(probe.logs.isEmpty());
}

TEST(ADCAnalyzer, TdcErrorTexts)
{
    EXPECT_EQ(ADCAnalyzer::tdcErrorText(0), "Hit lost in group 0 from read-out fifo overflow");
    EXPECT_EQ(ADCAnalyzer::tdcErrorText(11), "Hit error have been detected in group 3");
    EXPECT_EQ(ADCAnalyzer::tdcErrorText(13), "Event lost (trigger FIFO ovefrlow)");
    EXPECT_EQ(ADCAnalyzer::tdcErrorText(14), "Internal fatal chip error has been detected");
    EXPECT_EQ(ADCAnalyzer::tdcErrorText(15), "Unknown");
    EXPECT_EQ(ADCAnalyzer::tdcErrorText(-1), "Unknown");
}
