// The same streams, clean and damaged, cut into blocks of every size: a clean
// stream decodes identically at any split; a damaged one never yields a wrong
// event, and an intact event goes missing only when the pending buffer that
// held its start was dropped because no sync word followed a format error.
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "tests/MessageLog.h"
#include "tests/datapath/AnalyzerProbe.h"

#include <gtest/gtest.h>

using E = EventEncoder;

namespace {

// A stream that remembers where each intact event and each piece ends.
struct TestStream {
    QByteArray bytes;
    QMap<quint32, EventData> intact; // absolute position -> event
    QVector<int> pieceEnds;

    void add(const QByteArray& raw, const EventData* event = nullptr)
    {
        if (raw.isEmpty())
            return;
        if (event)
            intact.insert(quint32(bytes.size()), *event);
        bytes += raw;
        pieceEnds.append(bytes.size());
    }
    void addEvent(const EventData& event) { add(E::encodeEvent(event), &event); }
};

// Intact events and records around one damage, made by a function of the generator.
TestStream buildStream(QByteArray (*damage)(SampleGenerator&))
{
    SampleGenerator::Options options;
    options.channels = 3;
    options.samples = 6;
    SampleGenerator gen(options);
    TestStream s;
    s.addEvent(gen.nextEvent());
    s.addEvent(gen.nextEvent());
    s.add(E::encodeAuxRecord("auxiliary payload", 1));
    s.addEvent(EventData{100, {}});
    s.add(damage(gen));
    s.addEvent(gen.nextEvent());
    s.add(E::encodeAuxRecord());
    for (int i = 0; i < 3; ++i)
        s.addEvent(gen.nextEvent());
    return s;
}

struct Damage {
    const char* name;
    bool keepsAlignment; // the stream after it stays on even offsets
    QByteArray (*bytes)(SampleGenerator&);
};

const Damage damages[] = {
    {"Clean", true, [](SampleGenerator&) { return QByteArray(); }},
    {"EvenGarbage", true, [](SampleGenerator&) { return QByteArray("GARBAGE!xy"); }},
    {"OddGarbage", false, [](SampleGenerator&) { return QByteArray("GARBA"); }},
    {"StartRecord", true, [](SampleGenerator&) { return E::encodeStartRecord("run1"); }},
    {"InvalidSubtype", true,
     [](SampleGenerator&) { return E::eventRecord(7, E::deviceRecord(1, 0xD9, E::nimbusBlock(3, 0, "abcd"))); }},
    {"ChannelMask", true,
     [](SampleGenerator&) { return E::eventRecord(7, E::deviceRecord(1, 0xD9, E::boardHeaderBlock(0, 0, 0, 0xF))); }},
    {"TruncatedEvent", true, [](SampleGenerator& gen) { return E::encodeEvent(gen.nextEvent()).chopped(24); }},
    {"HugeLength", true, [](SampleGenerator&) { return E::eventRecord(3, "").replace(4, 4, "\xff\xff\xff\x7f"); }},
};

// Every decoded event is the intact event at its position, only format errors
// were logged, and an intact event that was not decoded had its start in the
// pending buffer when a pass ended with a failed sync search (its error logged
// only once, so that block logged an odd number of lines).
void expectOnlyIntactEventsAndExplainedLosses(const AnalyzerProbe& probe, const TestStream& s)
{
    ASSERT_EQ(probe.events.size(), probe.positions.size());
    int i = 0;
    for (auto it = probe.positions.cbegin(); it != probe.positions.cend(); ++it, ++i) {
        ASSERT_TRUE(s.intact.contains(it.key())) << "event decoded at " << it.key();
        ASSERT_TRUE(probe.events[i] == s.intact[it.key()]) << "event at " << it.key();
    }
    for (const QString& line : probe.logs)
        ASSERT_TRUE(line.startsWith("Format error: ")) << line.toStdString();
    const QList<quint32> decoded = probe.positions.keys();
    for (quint32 pos : s.intact.keys()) {
        if (probe.positions.contains(pos))
            continue;
        auto drop = std::find_if(probe.blocks.cbegin(), probe.blocks.cend(),
                                 [pos](const auto& b) { return b.fedUpTo > int(pos) && b.logLines % 2 == 1; });
        ASSERT_NE(drop, probe.blocks.cend()) << "event at " << pos << " lost without a drop";
        const int decodedBefore = drop == probe.blocks.cbegin() ? 0 : (drop - 1)->decoded;
        ASSERT_TRUE(decodedBefore == 0 || decoded[decodedBefore - 1] < pos) << "event at " << pos << " was skipped";
    }
}

} // namespace

TEST(StreamSplit, EveryBlockSizeAgreesWithTheWholeStream)
{
    MessageLog quiet; // resynchronisation diagnostics
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        const TestStream s = buildStream(damage.bytes);
        const bool clean = QString(damage.name) == "Clean";
        AnalyzerProbe whole;
        whole.feed(s.bytes);
        expectOnlyIntactEventsAndExplainedLosses(whole, s);
        EXPECT_EQ(whole.logs.isEmpty(), clean);
        if (damage.keepsAlignment) {
            // Whole, or record by record as a live source sends them: nothing is lost.
            EXPECT_EQ(whole.positions.keys(), s.intact.keys());
            AnalyzerProbe byRecord;
            for (int from = 0, i = 0; i < s.pieceEnds.size(); from = s.pieceEnds[i++])
                byRecord.feed(s.bytes.mid(from, s.pieceEnds[i] - from));
            EXPECT_EQ(byRecord.positions, whole.positions);
        }
        for (int size = 1; size <= s.bytes.size(); ++size) {
            SCOPED_TRACE(size);
            AnalyzerProbe probe;
            probe.feed(s.bytes, size);
            expectOnlyIntactEventsAndExplainedLosses(probe, s);
            if (clean) {
                ASSERT_EQ(probe.positions, whole.positions);
                ASSERT_TRUE(probe.logs.isEmpty());
            }
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }
}
