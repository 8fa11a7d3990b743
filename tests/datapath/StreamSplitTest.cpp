// The same streams, clean and damaged, cut into blocks of every size and in
// two at every byte: every intact event is decoded at any split, whatever the
// damage before it (odd lengths included, and a record magic or header cut by
// the end of a block), and nothing else is.
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
    QByteArray (*bytes)(SampleGenerator&);
};

const Damage damages[] = {
    {"Clean", [](SampleGenerator&) { return QByteArray(); }},
    {"EvenGarbage", [](SampleGenerator&) { return QByteArray("GARBAGE!xy"); }},
    {"OddGarbage", [](SampleGenerator&) { return QByteArray("GARBA"); }},
    {"GarbageEndingLikeASyncWord", [](SampleGenerator&) { return QByteArray("GARBAGEP*P"); }},
    {"GarbageEndingLikeAnAuxWord", [](SampleGenerator&) { return QByteArray("GARbJ"); }},
    {"StartRecord", [](SampleGenerator&) { return E::encodeStartRecord("run1"); }},
    {"OddStartRecord", [](SampleGenerator&) { return E::encodeStartRecord("run 7"); }},
    {"LoneEventHeader", [](SampleGenerator&) { return E::eventRecord(5, "abcde").left(12); }},
    {"InvalidSubtype",
     [](SampleGenerator&) { return E::eventRecord(7, E::deviceRecord(1, 0xD9, E::nimbusBlock(3, 0, "abcd"))); }},
    {"ChannelMask",
     [](SampleGenerator&) { return E::eventRecord(7, E::deviceRecord(1, 0xD9, E::boardHeaderBlock(0, 0, 0, 0xF))); }},
    {"TruncatedEvent", [](SampleGenerator& gen) { return E::encodeEvent(gen.nextEvent()).chopped(24); }},
    {"TruncatedOddEvent", [](SampleGenerator& gen) { return E::encodeEvent(gen.nextEvent()).chopped(23); }},
    {"HugeLength", [](SampleGenerator&) { return E::eventRecord(3, "").replace(4, 4, "\xff\xff\xff\x7f"); }},
};

// Exactly the intact events were decoded, at their positions, and only format
// errors were logged.
void expectEveryIntactEvent(const AnalyzerProbe& probe, const TestStream& s)
{
    ASSERT_EQ(probe.positions.keys(), s.intact.keys());
    ASSERT_EQ(probe.events.size(), s.intact.size());
    ASSERT_TRUE(probe.events.toList() == s.intact.values());
    for (const QString& line : probe.logs)
        ASSERT_TRUE(line.startsWith("Format error: ")) << line.toStdString();
}

} // namespace

TEST(StreamSplit, EveryIntactEventAtEverySplit)
{
    MessageLog quiet; // resynchronisation diagnostics
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        const TestStream s = buildStream(damage.bytes);
        const bool clean = QString(damage.name) == "Clean";
        AnalyzerProbe whole;
        whole.feed(s.bytes);
        expectEveryIntactEvent(whole, s);
        EXPECT_EQ(whole.logs.isEmpty(), clean);
        AnalyzerProbe byRecord; // as a live source sends them
        for (int from = 0, i = 0; i < s.pieceEnds.size(); from = s.pieceEnds[i++])
            byRecord.feed(s.bytes.mid(from, s.pieceEnds[i] - from));
        expectEveryIntactEvent(byRecord, s);
        for (int size = 1; size <= s.bytes.size(); ++size) {
            SCOPED_TRACE(size);
            AnalyzerProbe inBlocks;
            inBlocks.feed(s.bytes, size);
            expectEveryIntactEvent(inBlocks, s);
            // Two blocks cut here: every record magic and header of the stream
            // is cut by a block's end at every one of its bytes.
            AnalyzerProbe inTwo;
            inTwo.feed(s.bytes.left(size));
            inTwo.feed(s.bytes.mid(size));
            expectEveryIntactEvent(inTwo, s);
            if (clean) {
                ASSERT_TRUE(inBlocks.logs.isEmpty() && inTwo.logs.isEmpty());
            }
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }
}
