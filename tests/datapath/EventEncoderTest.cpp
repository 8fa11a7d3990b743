// EventEncoder writes what ADCAnalyzer reads back, and SampleGenerator makes
// the same realistic events from the same seed.
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "datapath/StreamFormat.h"
#include "tests/datapath/AnalyzerProbe.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

SampleGenerator::Options smallOptions(quint64 seed)
{
    SampleGenerator::Options options;
    options.seed = seed;
    options.boards = 3;
    options.channels = 64;
    options.samples = 64;
    return options;
}

} // namespace

TEST(EventEncoder, RecordLayouts)
{
    EventData empty;
    empty.evNum = 7;
    EXPECT_EQ(EventEncoder::encodeEvent(empty).toHex(), "502a502a0000000007000000");
    EXPECT_EQ(EventEncoder::encodeAuxRecord("abcd", 9).toHex(), "624a624a040000000900000061626364");
    EXPECT_EQ(EventEncoder::encodeStartRecord("ab").toHex(), "53746172020000006162");
    EXPECT_EQ(EventEncoder::encodeStopRecord().toHex(), "53746f7000000000");

    DeviceEvent board;
    board.serial = 0x01020304;
    board.timeHigh = 5;
    board.timeFlags = 2;
    board.timeLow = 1;
    ChannelData channel;
    channel.ch = 65;
    channel.time = 0x0000000A00000003ull;
    channel.samples = {1, -2, 3}; // odd: padded with one zero sample
    board.channels.insert(65, channel);
    EXPECT_EQ(EventEncoder::encodeDevice(board).toHex(),
              "04030201"
              "280000d9" // serial; length 40, default type
              "10000000"
              "05000000"
              "06000000"
              "0200000000000000" // board header, mask bit 1
              "11000041"
              "0a000000"
              "0c000000"
              "feff0100"
              "00000300");
}

TEST(EventEncoder, SampleCodesRoundAndClamp)
{
    EXPECT_EQ(EventEncoder::sampleCode(1.6, true), 2);
    EXPECT_EQ(EventEncoder::sampleCode(-1.0, true), 0xFFFF);
    EXPECT_EQ(EventEncoder::sampleCode(1e9, true), 0x7FFF);
    EXPECT_EQ(EventEncoder::sampleCode(-1e9, true), 0x8000);
    EXPECT_EQ(EventEncoder::sampleCode(0, false), 0x8000);
    EXPECT_EQ(EventEncoder::sampleCode(-32768, false), 0);
}

TEST(EventEncoder, GeneratedEventsRoundTripSignedAndUnsigned)
{
    for (bool adcSigned : {true, false}) {
        SampleGenerator generator(smallOptions(11));
        AnalyzerProbe probe;
        probe.analyzer.adcRawDataSignedUpdated(adcSigned);
        QVector<EventData> written;
        QByteArray stream;
        for (int i = 0; i < 5; ++i) {
            written.append(generator.nextEvent());
            EventEncoder::appendEvent(stream, written.last(), adcSigned);
        }
        probe.feed(stream);
        EXPECT_TRUE(probe.logs.isEmpty());
        ASSERT_EQ(probe.events.size(), written.size());
        for (int i = 0; i < written.size(); ++i)
            EXPECT_TRUE(probe.events[i] == written[i]) << "event " << i << " signed " << adcSigned;
    }
}

TEST(SampleGenerator, DeterministicRealisticBoards)
{
    SampleGenerator first(smallOptions(3)), again(smallOptions(3)), other(smallOptions(4));
    bool anyDifference = false;
    bool anyPulse = false;
    for (int i = 1; i <= 10; ++i) {
        const EventData a = first.nextEvent();
        EXPECT_TRUE(a == again.nextEvent());
        anyDifference = anyDifference || a != other.nextEvent();
        EXPECT_EQ(a.evNum, quint32(i));
        ASSERT_EQ(a.devices.keys(), (QList<quint32>{2001, 2002, 2003}));
        for (const DeviceEvent& board : a.devices) {
            EXPECT_EQ(board.evNum, a.evNum);
            EXPECT_TRUE(StreamFormat::isAcceptedDeviceType(quint8(board.deviceType)));
            ASSERT_EQ(board.channels.size(), 64);
            for (const ChannelData& channel : board.channels) {
                ASSERT_EQ(channel.samples.size(), 64);
                const auto [low, high] = std::minmax_element(channel.samples.begin(), channel.samples.end());
                anyPulse = anyPulse || *high - *low > 100;
                for (double s : channel.samples)
                    ASSERT_TRUE(s == std::round(s) && s >= -32768 && s <= 32767);
            }
        }
    }
    EXPECT_TRUE(anyDifference);
    EXPECT_TRUE(anyPulse);
}
