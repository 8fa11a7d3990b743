// The same streams, clean and damaged, cut into blocks of every size: a clean
// stream decodes identically at any split; a damaged one never yields a wrong
// event, and an intact event goes missing only when the pending buffer that
// held its start was dropped because no sync word followed a format error.
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "datapath/StreamFormat.h"
#include "tests/datapath/AnalyzerProbe.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

// A stream under construction that remembers where each intact event starts
// and where its pieces (records or damage) begin and end.
struct TestStream {
    QByteArray bytes;
    QMap<quint32, EventData> intact; // absolute position -> event
    QVector<int> pieceEnds;

    void addEvent(const EventData& event)
    {
        intact.insert(quint32(bytes.size()), event);
        addRaw(EventEncoder::encodeEvent(event));
    }
    void addRaw(const QByteArray& raw)
    {
        bytes += raw;
        pieceEnds.append(bytes.size());
    }
};

class GeneratedEvents {
public:
    GeneratedEvents() : m_generator(options()) {}
    EventData next() { return m_generator.nextEvent(); }

private:
    static SampleGenerator::Options options()
    {
        SampleGenerator::Options o;
        o.seed = 5;
        o.boards = 2;
        o.channels = 3;
        o.samples = 6;
        return o;
    }
    SampleGenerator m_generator;
};

// Intact events and records around one optional damage.
TestStream buildStream(const std::function<void(TestStream&, GeneratedEvents&)>& damage)
{
    GeneratedEvents gen;
    TestStream s;
    s.addEvent(gen.next());
    s.addEvent(gen.next());
    s.addRaw(EventEncoder::encodeAuxRecord("auxiliary payload", 1));
    EventData empty;
    empty.evNum = 100;
    s.addEvent(empty);
    damage(s, gen);
    s.addEvent(gen.next());
    // An unknown device type in front of the boards is skipped.
    const EventData withForeignBoard = gen.next();
    QByteArray payload = EventEncoder::deviceRecord(9, 0x00, QByteArray(12, 'f'));
    for (const DeviceEvent& board : withForeignBoard.devices)
        payload += EventEncoder::encodeDevice(board);
    s.intact.insert(quint32(s.bytes.size()), withForeignBoard);
    s.addRaw(EventEncoder::eventRecord(withForeignBoard.evNum, payload));
    s.addRaw(EventEncoder::encodeAuxRecord());
    for (int i = 0; i < 3; ++i)
        s.addEvent(gen.next());
    return s;
}

struct Damage {
    const char* name;
    bool keepsAlignment; // the stream after it stays on even offsets
    std::function<void(TestStream&, GeneratedEvents&)> apply;
};

QVector<Damage> damages()
{
    const auto addBroken = [](TestStream& s, QByteArray bytes) { s.addRaw(bytes); };
    return {
        {"Clean", true, [](TestStream&, GeneratedEvents&) {}},
        {"EvenGarbage", true, [=](TestStream& s, GeneratedEvents&) { addBroken(s, "GARBAGE!xy"); }},
        {"OddGarbage", false, [=](TestStream& s, GeneratedEvents&) { addBroken(s, "GARBA"); }},
        {"StartRecord", true,
         [=](TestStream& s, GeneratedEvents&) { addBroken(s, EventEncoder::encodeStartRecord("run1")); }},
        {"InvalidSubtype", true,
         [=](TestStream& s, GeneratedEvents&) {
             addBroken(s, EventEncoder::eventRecord(
                              7, EventEncoder::deviceRecord(1, 0xD9, EventEncoder::nimbusBlock(3, 0, "abcd"))));
         }},
        {"ChannelMask", true,
         [=](TestStream& s, GeneratedEvents&) {
             addBroken(s, EventEncoder::eventRecord(
                              7, EventEncoder::deviceRecord(1, 0xD9, EventEncoder::boardHeaderBlock(0, 0, 0, 0xF))));
         }},
        {"TruncatedEvent", true,
         [=](TestStream& s, GeneratedEvents& gen) { addBroken(s, EventEncoder::encodeEvent(gen.next()).chopped(24)); }},
        {"HugeLength", true,
         [=](TestStream& s, GeneratedEvents&) {
             QByteArray header;
             for (quint32 w : {StreamFormat::KEP_SYNC_WORD, 0x7FFFFFFFu, 3u})
                 EventEncoder::appendWord(header, w);
             addBroken(s, header);
         }},
    };
}

// Every decoded event is the intact event at its position, and only format
// errors were logged.
void expectOnlyIntactEvents(const AnalyzerProbe& probe, const TestStream& s)
{
    ASSERT_EQ(probe.events.size(), probe.positions.size());
    int i = 0;
    for (auto it = probe.positions.cbegin(); it != probe.positions.cend(); ++it, ++i) {
        ASSERT_TRUE(s.intact.contains(it.key())) << "event decoded at " << it.key();
        ASSERT_TRUE(probe.events[i] == s.intact[it.key()]) << "event at " << it.key();
    }
    for (const QString& line : probe.logs)
        ASSERT_TRUE(line.startsWith("Format error: ")) << line.toStdString();
}

// An intact event that was not decoded had its start in the pending buffer
// when a pass ended with a failed sync search (its error logged only once,
// so that pass logged an odd number of lines) and the buffer was dropped.
void expectMissingEventsWereDropped(const AnalyzerProbe& probe, const TestStream& s)
{
    const QList<quint32> decoded = probe.positions.keys();
    for (quint32 pos : s.intact.keys()) {
        if (probe.positions.contains(pos))
            continue;
        int decodedBefore = 0;
        bool dropped = false;
        for (const AnalyzerProbe::Block& block : probe.blocks) {
            if (block.fedUpTo > int(pos) && block.logLines % 2 == 1) {
                dropped = true;
                break;
            }
            decodedBefore = block.decoded;
        }
        ASSERT_TRUE(dropped) << "event at " << pos << " lost without a drop";
        ASSERT_TRUE(decodedBefore == 0 || decoded[decodedBefore - 1] < pos) << "event at " << pos << " was skipped";
    }
}

} // namespace

class StreamSplit : public ::testing::TestWithParam<int> {};

TEST_P(StreamSplit, EveryBlockSizeAgreesWithTheWholeStream)
{
    const Damage damage = damages()[GetParam()];
    const TestStream s = buildStream(damage.apply);

    AnalyzerProbe whole;
    whole.feed(s.bytes);
    expectOnlyIntactEvents(whole, s);
    const bool clean = QString(damage.name) == "Clean";
    if (damage.keepsAlignment) {
        EXPECT_EQ(whole.positions.keys(), s.intact.keys());
    }
    if (clean) {
        EXPECT_TRUE(whole.logs.isEmpty());
    }

    // Record by record, as a live source sends them, nothing is lost either.
    if (damage.keepsAlignment) {
        AnalyzerProbe byRecord;
        int from = 0;
        for (int end : s.pieceEnds) {
            byRecord.feed(s.bytes.mid(from, end - from));
            from = end;
        }
        EXPECT_EQ(byRecord.positions, whole.positions);
    }

    for (int size = 1; size <= s.bytes.size(); ++size) {
        SCOPED_TRACE(size);
        AnalyzerProbe probe;
        probe.feedInBlocks(s.bytes, size);
        expectOnlyIntactEvents(probe, s);
        expectMissingEventsWereDropped(probe, s);
        if (clean) {
            ASSERT_EQ(probe.positions, whole.positions);
            ASSERT_TRUE(probe.logs.isEmpty());
        }
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(Damages, StreamSplit, ::testing::Range(0, int(damages().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(damages()[info.param].name);
                         });
