#include "tools/daqsim/StreamShaper.h"

#include "datapath/StreamFormat.h"

#include <algorithm>

namespace {

// The first bytes of the two sync words; garbage without them cannot hold one.
constexpr char EventSyncFirstByte = char(StreamFormat::KEP_SYNC_WORD & 0xFF);
constexpr char AuxSyncFirstByte = char(StreamFormat::AUX_SYNC_WORD & 0xFF);

} // namespace

StreamShaper::StreamShaper(const Options& options) : m_options(options), m_random(options.seed) {}

QVector<QByteArray> StreamShaper::shape(const QByteArray& record)
{
    ++m_records;
    const bool withGarbage = m_options.garbageEvery > 0 && m_records % quint64(m_options.garbageEvery) == 0;
    const QByteArray prefix = withGarbage ? garbage() : QByteArray();
    const int cut = m_options.cutWrites ? cutOffset(record.size(), withGarbage) : 0;
    if (cut <= 0 || cut >= record.size())
        return {prefix + record};
    return {prefix + record.left(cut), record.mid(cut)};
}

QByteArray StreamShaper::garbage()
{
    ++m_garbageCount;
    const int pairs = MinGarbage / 2 + int(m_random() % quint64((MaxGarbage - MinGarbage) / 2 + 1));
    QByteArray bytes(2 * pairs, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = char(m_random() & 0xFF);
        if (byte == EventSyncFirstByte || byte == AuxSyncFirstByte)
            byte = char(byte ^ 1);
    }
    return bytes;
}

// Offsets 1 .. size-1 in turn; behind garbage at least the record header.
int StreamShaper::cutOffset(int recordSize, bool afterGarbage) const
{
    if (recordSize < 2)
        return 0;
    const int offset = 1 + int((m_records - 1) % quint64(recordSize - 1));
    return afterGarbage ? std::max(offset, int(StreamFormat::EventHeaderSize)) : offset;
}
