#include "datapath/ADCAnalyzer.h"

#include "datapath/SampleDecoder.h"
#include "datapath/StreamFormat.h"

#include <QDebug>
#include <QSemaphore>
#include <QtEndian>

#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace StreamFormat;

namespace {

// A vector of `size` doubles left uninitialised for the caller to overwrite
// at once: QVector::resize would clear them first, which costs as much memory
// traffic as decoding into them.
QVector<double> uninitializedSamples(int size)
{
    if (size <= 0)
        return {};
    QTypedArrayData<double>* data = QTypedArrayData<double>::allocate(std::size_t(size));
    Q_CHECK_PTR(data);
    data->size = size;
    return QVector<double>(QArrayDataPointerRef<double>{data});
}

// Decoded samples take four times the bytes of the stream, a pass keeps its
// boards alive until it ends, and sources hand over blocks of up to 20 MB.
// With glibc's defaults such blocks are mapped and unmapped each time and the
// heap freed after a pass goes back to the kernel, so every page of the next
// block or pass faults in again, which costs several times the decoding
// itself. Serve blocks up to 32 MiB from the heap and keep up to 128 MiB of
// freed heap for reuse instead (process-wide, once).
void keepFreedHeapForReuse()
{
#ifdef __GLIBC__
    static const bool done = [] {
        constexpr int HeapBlockLimit = 32 * 1024 * 1024;
        constexpr int RetainedHeapBytes = 128 * 1024 * 1024;
        // Once per process (the static's initialisation is thread-safe); an
        // allocation racing with it just sees the old or the new threshold.
        // NOLINTNEXTLINE(concurrency-mt-unsafe)
        return mallopt(M_MMAP_THRESHOLD, HeapBlockLimit) == 1 && mallopt(M_TRIM_THRESHOLD, RetainedHeapBytes) == 1;
    }();
    Q_UNUSED(done);
#endif
}

// The board as the monitor gets it: every field and channel feature, but
// empty sample vectors, so that records waiting in queues stay small. Channels
// no one else holds (live events not shown) lose their samples in place;
// shared ones are copied without them.
DeviceEvent withoutSamples(DeviceEvent board)
{
    if (board.channels.isDetached()) {
        for (ChannelData& channel : board.channels)
            channel.samples = QVector<double>();
        return board;
    }
    DeviceEvent stripped = board;
    stripped.channels.clear();
    for (auto it = board.channels.cbegin(); it != board.channels.cend(); ++it) {
        ChannelData& channel = *stripped.channels.insert(stripped.channels.cend(), it.key(), ChannelData());
        channel.ch = it->ch;
        channel.time = it->time;
        channel.spare16 = it->spare16;
        channel.spare32a = it->spare32a;
        channel.spare32b = it->spare32b;
        channel.features = it->features;
    }
    return stripped;
}

QString binaryMask(quint64 mask)
{
    return QStringLiteral("%1").arg(mask, 64, 2, QLatin1Char('0'));
}

} // namespace

ADCAnalyzer::ADCAnalyzer(QSemaphore* sourceSemaphore, QSemaphore* writerSemaphore, QObject* parent)
    : QObject(parent), m_sourceSemaphore(sourceSemaphore), m_writerSemaphore(writerSemaphore)
{
    registerDataPathMetaTypes();
    keepFreedHeapForReuse();
}

QString ADCAnalyzer::tdcErrorText(int bit)
{
    static const char* const texts[] = {
        "Hit lost in group 0 from read-out fifo overflow",
        "Hit lost in group 0 from L1 buffer overflow",
        "Hit error have been detected in group 0",
        "Hit lost in group 1 from read-out fifo overflow",
        "Hit lost in group 1 from L1 buffer overflow",
        "Hit error have been detected in group 1",
        "Hit lost in group 2 from read-out fifo overflow",
        "Hit lost in group 2 from L1 buffer overflow",
        "Hit error have been detected in group 2",
        "Hit lost in group 3 from read-out fifo overflow",
        "Hit lost in group 3 from L1 buffer overflow",
        "Hit error have been detected in group 3",
        "Hits rejected because of programmed event size limit",
        "Event lost (trigger FIFO ovefrlow)",
        "Internal fatal chip error has been detected",
    };
    if (bit < 0 || bit >= int(sizeof texts / sizeof texts[0]))
        return QStringLiteral("Unknown");
    return QString::fromLatin1(texts[bit]);
}

void ADCAnalyzer::setFeatureExtractor(const FeatureExtractor& extractor)
{
    m_features = extractor;
}

void ADCAnalyzer::setFeaturesComputed(bool on)
{
    m_featuresComputed = on;
}

void ADCAnalyzer::dataAccuired(QByteArray newData)
{
    if (m_buffer.isEmpty())
        m_buffer = newData; // shares the block instead of copying it
    else
        m_buffer.append(newData);
    read();
    emit eventMapUpdated(m_evPosMap);
    if (m_sourceSemaphore)
        m_sourceSemaphore->release();
}

void ADCAnalyzer::adcRawDataSignedUpdated(bool adcSigned)
{
    m_adcSigned = adcSigned;
}

// The window switches to a file only after the live connection has been
// closed and its last block delivered, so a record that block left unfinished
// can never be completed: drop it rather than let it swallow the first file
// record. (Going live keeps the buffer: the new connection's first blocks may
// already be here; the connection announces its own start, see streamStarted.)
void ADCAnalyzer::dataSourceUpdated(bool fromFile)
{
    if (fromFile && !m_fromFile)
        dropPendingBytes();
    m_fromFile = fromFile;
}

void ADCAnalyzer::streamStarted()
{
    dropPendingBytes();
}

// The bytes still waiting can never be completed: the stream they came from
// has ended. Positions keep counting past them.
void ADCAnalyzer::dropPendingBytes()
{
    if (m_buffer.isEmpty())
        return;
    qDebug().noquote()
        << QStringLiteral("Dropped %1 bytes of an unfinished record at the end of a stream").arg(m_buffer.size());
    m_eventStart = quint32(m_buffer.size());
    dropConsumedBytes();
}

void ADCAnalyzer::read()
{
    m_readPos = 0;
    m_eventStart = 0;
    for (;;) {
        try {
            while (parseEvent() == ParseResult::Consumed)
                continue;
            break;
        } catch (const FormatError& error) {
            // Logged once when the rest of the buffer holds no sync word, and
            // once more when decoding goes on at the one found.
            emit addLog(error.text);
            if (!findSync())
                break;
            emit addLog(error.text);
        } catch (...) {
            if (!findSync())
                break;
            emit addLog(QStringLiteral("Unknown exception while reading stream "));
        }
    }
    dropConsumedBytes();
    emitHistory();
}

ADCAnalyzer::ParseResult ADCAnalyzer::parseEvent()
{
    m_eventStart = quint32(m_readPos);
    if (m_buffer.size() - m_readPos < EventHeaderSize)
        return ParseResult::NeedMoreData;
    const char* header = m_buffer.constData() + m_readPos;
    const quint32 sync = readWord(header);
    const quint32 length = readWord(header + 4);
    switch (sync) {
    case KEP_SYNC_WORD:
        if (!holdsWholeRecord(EventHeaderSize, length))
            return ParseResult::NeedMoreData;
        m_readPos += EventHeaderSize;
        m_event = EventData();
        m_event.evNum = readWord(header + 8);
        decodeEventPayload(length);
        finishEvent();
        return ParseResult::Consumed;
    case AUX_SYNC_WORD:
        if (!holdsWholeRecord(AuxHeaderSize, length))
            return ParseResult::NeedMoreData;
        m_readPos += AuxHeaderSize + int(length);
        return ParseResult::Consumed;
    default:
        throw FormatError{
            QStringLiteral("Format error: wrong KEP_SYNC_WORD: %1; at file pos:%2").arg(sync, 0, 16).arg(m_eventStart)};
    }
}

bool ADCAnalyzer::holdsWholeRecord(quint32 headerSize, quint32 length) const
{
    if (length > MaxRecordLength)
        throw FormatError{QStringLiteral("Format error: Record length %1 exceeds the limit of %2 bytes; at file pos:%3")
                              .arg(length)
                              .arg(MaxRecordLength)
                              .arg(m_eventStart)};
    return qint64(m_buffer.size()) - qint64(m_eventStart) >= qint64(headerSize) + qint64(length);
}

void ADCAnalyzer::decodeEventPayload(quint32 length)
{
    quint32 remaining = length;
    while (remaining > 0)
        remaining -= decodeDevice(remaining);
}

quint32 ADCAnalyzer::decodeDevice(quint32 remaining)
{
    if (remaining < quint32(DeviceHeaderSize))
        throw FormatError{QStringLiteral("Format error: There is no data for KepDeviceHdr")};
    const char* header = m_buffer.constData() + m_readPos;
    const quint32 serial = readWord(header);
    const quint32 deviceLength = readWord24(header + 4);
    const quint8 deviceType = quint8(header[7]);
    if (remaining - DeviceHeaderSize < deviceLength)
        throw FormatError{QStringLiteral("Format error: There is no data for KepDevice payload")};
    m_readPos += DeviceHeaderSize;
    if (!isAcceptedDeviceType(deviceType)) {
        m_readPos += int(deviceLength);
        return DeviceHeaderSize + deviceLength;
    }

    m_board = DeviceEvent();
    m_board.serial = serial;
    m_board.deviceType = deviceType;
    decodeBlocks(deviceLength);
    checkChannelMask();

    m_event.devices.insert(serial, m_board);
    return DeviceHeaderSize + deviceLength;
}

void ADCAnalyzer::decodeBlocks(quint32 deviceLength)
{
    const auto sizeMismatch = [deviceLength](quint32 sum) {
        return FormatError{
            QStringLiteral(
                "Format error: Sum of sizes of Nimbus blocks(%1) isn't equal to one declared in KepDevice header(%2)")
                .arg(sum)
                .arg(deviceLength)};
    };
    const char* data = m_buffer.constData();
    quint32 sum = 0;
    while (sum < deviceLength) {
        // Neither a block header nor a payload is read past the device record.
        if (deviceLength - sum < quint32(NimbusHeaderSize))
            throw sizeMismatch(sum + NimbusHeaderSize);
        const quint32 header = readWord(data + m_readPos);
        m_readPos += NimbusHeaderSize;
        const quint32 subtype = nimbusSubtype(header);
        const quint32 words = nimbusWords(header);
        const quint32 blockSize = NimbusHeaderSize + 4 * words;
        if (subtype == BoardHeaderBlock && 4 * words != BoardHeaderPayloadSize)
            throw FormatError{
                QStringLiteral("Format error: Invalid size(%1 Bytes) of Nimbus subtype=0 block; should be %2 Bytes.")
                    .arg(4 * words)
                    .arg(BoardHeaderPayloadSize)};
        if (subtype == ChannelWaveformBlock && 4 * words < ChannelBlockMinPayloadSize)
            throw FormatError{
                QStringLiteral("Format error: Invalid size(%1 Bytes) of Nimbus subtype=1 block; should be >=%2 Bytes.")
                    .arg(4 * words)
                    .arg(ChannelBlockMinPayloadSize)};
        if (subtype == InvalidBlock)
            throw FormatError{
                QStringLiteral("Format error: Invalid subtype number in Nimbus header: %1.").arg(subtype)};
        if (deviceLength - sum < blockSize)
            throw sizeMismatch(sum + blockSize);

        const char* payload = data + m_readPos;
        if (subtype == BoardHeaderBlock)
            decodeBoardHeader(payload);
        else if (subtype == ChannelWaveformBlock)
            decodeChannel(nimbusChannel(header), payload, words);
        else
            qWarning("Todo: add hptdc decoder.");
        m_readPos += int(4 * words);
        sum += blockSize;
    }
}

void ADCAnalyzer::decodeBoardHeader(const char* payload)
{
    m_board.timeHigh = readWord(payload);
    const quint32 flagsAndLow = readWord(payload + 4);
    m_board.timeFlags = flagsAndLow & 0x3u;
    m_board.timeLow = flagsAndLow >> 2;
    m_adcChMask = readWord64(payload + 8);
    m_board.evNum = m_event.evNum;
}

void ADCAnalyzer::decodeChannel(quint32 channel, const char* payload, quint32 words)
{
    ChannelData data;
    data.ch = quint8(channel);
    data.time = (quint64(readWord(payload)) << 32) | (readWord(payload + 4) >> 2);
    const quint32 sampleWords = words - 2;
    data.samples = uninitializedSamples(int(2 * sampleWords));
    const char* codes = payload + ChannelBlockMinPayloadSize;
    if (m_featuresComputed)
        data.features =
            SampleDecoder::decodeWithFeatures(codes, sampleWords, m_adcSigned, m_features, data.samples.data());
    else
        SampleDecoder::decode(codes, sampleWords, m_adcSigned, data.samples.data());
    m_board.channels.insert(int(channel), data);
}

void ADCAnalyzer::checkChannelMask() const
{
    const quint64 seen = channelMask(m_board);
    if (seen != m_adcChMask)
        throw FormatError{QStringLiteral("Format error: Got channel events (%1) doesn't correspont to adcChMask (%2)")
                              .arg(binaryMask(seen), binaryMask(m_adcChMask))};
}

void ADCAnalyzer::finishEvent()
{
    recordPosition(m_streamBase + m_eventStart, m_event.evNum);
    if (m_fromFile || !m_emitTimer.isValid() || m_emitTimer.elapsed() > LiveEmitIntervalMs) {
        emit eventDataUpdated(m_event);
        m_emitTimer.start();
    }
    if (m_writerSemaphore) {
        m_board = DeviceEvent();                   // its share of the last board's channels
        for (DeviceEvent& board : m_event.devices) // the event is done with
            addToHistory(withoutSamples(std::move(board)));
    }
}

void ADCAnalyzer::addToHistory(DeviceEvent board)
{
    m_history.events.append(std::move(board));
    if (m_history.events.size() >= HistoryLimit)
        emitHistory();
}

// Never waits for the monitor: without a writer permit the record is dropped
// and only its size reported.
void ADCAnalyzer::emitHistory()
{
    if (m_history.events.isEmpty())
        return;
    if (m_writerSemaphore && m_writerSemaphore->tryAcquire())
        emit deviceDataUpdated(m_history);
    else
        emit deviceDataSkipped(m_history.events.size());
    // A fresh vector: clear() on the one just shared with the receivers
    // would first copy every board, only to destroy the copies.
    m_history.events = QVector<DeviceEvent>();
}

// Keeps the newest EvPosMapLimit entries. Positions wrap after 4 GiB, so the
// oldest entry is the one that follows the newest position in key order,
// going round to the smallest key.
void ADCAnalyzer::recordPosition(quint32 position, quint32 evNum)
{
    m_evPosMap.insert(position, evNum);
    if (m_evPosMap.size() <= EvPosMapLimit)
        return;
    auto oldest = m_evPosMap.upperBound(position);
    m_evPosMap.erase(oldest == m_evPosMap.end() ? m_evPosMap.begin() : oldest);
}

// Every byte offset after the failed record's start is tried, so that records
// after an odd-length record or odd-length garbage are found; a word only
// needs to fit whole, a record header cut by the end of the block waits for
// the rest in the next pass. Without a sync word the bytes are dropped except
// a tail that may be the start of one cut by the end of the block.
bool ADCAnalyzer::findSync()
{
    const char* data = m_buffer.constData();
    const qint64 size = m_buffer.size();
    for (qint64 offset = qint64(m_eventStart) + 1; offset + 4 <= size; ++offset) {
        const quint32 word = readWord(data + offset);
        if (word == KEP_SYNC_WORD || word == AUX_SYNC_WORD) {
            m_readPos = int(offset);
            qDebug().noquote() << QStringLiteral("Syncword found at 0x%1; shift:0x%2")
                                      .arg(m_eventStart, 0, 16)
                                      .arg(offset - qint64(m_eventStart), 0, 16);
            return true;
        }
    }
    m_eventStart = quint32(size - cutSyncWordLength());
    return false;
}

// The length of the longest tail of the pending buffer, at most 3 bytes, that
// equals the first bytes of an event or auxiliary magic word.
int ADCAnalyzer::cutSyncWordLength() const
{
    const auto startsLike = [](const char* bytes, int length, quint32 magic) {
        for (int i = 0; i < length; ++i)
            if (quint8(bytes[i]) != quint8(magic >> (8 * i)))
                return false;
        return true;
    };
    for (int length = std::min(3, m_buffer.size() - int(m_eventStart) - 1); length > 0; --length) {
        const char* tail = m_buffer.constData() + m_buffer.size() - length;
        if (startsLike(tail, length, KEP_SYNC_WORD) || startsLike(tail, length, AUX_SYNC_WORD))
            return length;
    }
    return 0;
}

void ADCAnalyzer::dropConsumedBytes()
{
    const int dropped = int(m_eventStart);
    if (dropped >= m_buffer.size()) {
        m_buffer.clear();
    } else if (dropped > 0) {
        // Moving the partial record to the front of a buffer of our own keeps
        // its capacity for the next block, instead of a fresh allocation of
        // the block's size each time; a large capacity is given back.
        if (m_buffer.isDetached() && m_buffer.capacity() <= RetainedBufferCapacity)
            m_buffer.remove(0, dropped);
        else
            m_buffer = m_buffer.mid(dropped);
    }
    m_streamBase += quint32(dropped);
}
