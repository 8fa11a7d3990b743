// EventEncoder writes what ADCAnalyzer reads back, and SampleGenerator makes
// the same realistic events from the same seed.
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "datapath/StreamFormat.h"
#include "tests/datapath/AnalyzerProbe.h"

#include <algorithm>
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
    board.channels[65] = {65, 0x0000000A00000003ull, {1, -2, 3}}; // odd: padded with one zero sample
    // serial; length 40, default type; board header with mask bit 1; channel block
    EXPECT_EQ(EventEncoder::encodeDevice(board).toHex(), "04030201280000d9100000000500000006000000020000000000"
                                                         "0000110000410a0000000c000000feff010000000300");
}

TEST(EventEncoder, SampleCodesRoundAndClamp)
{
    const struct {
        double value;
        bool adcSigned;
        int code;
    } cases[] = {{1.6, true, 2},       {-1.0, true, 0xFFFF}, {1e9, true, 0x7FFF},
                 {-1e9, true, 0x8000}, {0, false, 0x8000},   {-32768, false, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(EventEncoder::sampleCode(c.value, c.adcSigned), c.code) << c.value << " signed " << c.adcSigned;
}

// Generated events (integral, in range, of accepted device types) come back
// from the analyzer exactly as written.
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
        EXPECT_TRUE(probe.events == written) << "signed " << adcSigned;
    }
}

TEST(SampleGenerator, SeededBoardsWithPulses)
{
    SampleGenerator first(smallOptions(3)), other(smallOptions(4));
    bool anyDifference = false, anyPulse = false;
    for (int i = 1; i <= 10; ++i) {
        const EventData a = first.nextEvent();
        anyDifference = anyDifference || a != other.nextEvent();
        ASSERT_EQ(a.devices.keys(), (QList<quint32>{2001, 2002, 2003}));
        for (const DeviceEvent& board : a.devices)
            for (const ChannelData& channel : board.channels) {
                const auto [low, high] = std::minmax_element(channel.samples.begin(), channel.samples.end());
                anyPulse = anyPulse || *high - *low > 100;
            }
    }
    EXPECT_TRUE(anyDifference);
    EXPECT_TRUE(anyPulse);
}
