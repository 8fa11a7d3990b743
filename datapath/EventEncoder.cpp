#include "datapath/EventEncoder.h"

#include "datapath/StreamFormat.h"

#include <QtEndian>
#include <cmath>
#include <cstddef>

using namespace StreamFormat;

namespace {

constexpr quint32 MaxDeviceLength = 0xFFFFFFu; // 24-bit length field

int sampleWords(int sampleCount)
{
    return (sampleCount + 1) / 2;
}

// Patches a length word written earlier as a placeholder.
void patchWord(QByteArray& out, int at, quint32 word)
{
    qToLittleEndian<quint32>(word, out.data() + at);
}

void appendDeviceHeader(QByteArray& out, quint32 serial, quint32 length, quint8 deviceType)
{
    Q_ASSERT(length <= MaxDeviceLength);
    EventEncoder::appendWord(out, serial);
    EventEncoder::appendWord(out, (length & MaxDeviceLength) | (quint32(deviceType) << 24));
}

void appendChannelBlock(QByteArray& out, quint32 channel, quint64 time, const QVector<double>& samples, bool adcSigned)
{
    const int words = sampleWords(samples.size());
    EventEncoder::appendWord(out, nimbusHeader(ChannelWaveformBlock, quint32(2 + words), channel));
    EventEncoder::appendWord(out, quint32(time >> 32));
    EventEncoder::appendWord(out, quint32(time << 2));
    const int at = out.size();
    out.resize(at + 4 * words);
    char* p = out.data() + at;
    for (int i = 0; i < words; ++i) {
        const quint32 first = EventEncoder::sampleCode(samples[2 * i], adcSigned);
        const quint32 second = 2 * i + 1 < samples.size() ? EventEncoder::sampleCode(samples[2 * i + 1], adcSigned)
                                                          : EventEncoder::sampleCode(0, adcSigned);
        qToLittleEndian<quint32>((first << 16) | second, p + 4 * std::ptrdiff_t(i));
    }
}

void appendBoardHeaderBlock(QByteArray& out, quint32 timeHigh, quint32 timeFlags, quint32 timeLow, quint64 mask)
{
    EventEncoder::appendWord(out, nimbusHeader(BoardHeaderBlock, BoardHeaderPayloadSize / 4, 0));
    EventEncoder::appendWord(out, timeHigh);
    EventEncoder::appendWord(out, (timeFlags & 0x3u) | (timeLow << 2));
    EventEncoder::appendWord(out, quint32(mask));
    EventEncoder::appendWord(out, quint32(mask >> 32));
}

void appendDevice(QByteArray& out, const DeviceEvent& board, bool adcSigned)
{
    const int start = out.size();
    const quint8 type = board.deviceType ? quint8(board.deviceType) : EventEncoder::DefaultDeviceType;
    appendDeviceHeader(out, board.serial, 0, type);
    appendBoardHeaderBlock(out, board.timeHigh, board.timeFlags, board.timeLow, channelMask(board));
    for (auto it = board.channels.cbegin(); it != board.channels.cend(); ++it)
        appendChannelBlock(out, quint32(it.key()), it->time, it->samples, adcSigned);
    const quint32 length = quint32(out.size() - start - DeviceHeaderSize);
    patchWord(out, start + 4, length | (quint32(type) << 24));
}

void appendRecord(QByteArray& out, quint32 sync, const QByteArray& payload)
{
    EventEncoder::appendWord(out, sync);
    EventEncoder::appendWord(out, quint32(payload.size()));
}

} // namespace

void EventEncoder::appendWord(QByteArray& out, quint32 word)
{
    char bytes[4];
    qToLittleEndian<quint32>(word, bytes);
    out.append(bytes, 4);
}

quint16 EventEncoder::sampleCode(double value, bool adcSigned)
{
    const double clamped = std::fmin(32767.0, std::fmax(-32768.0, std::nearbyint(value)));
    const quint16 code = quint16(qint16(clamped));
    return adcSigned ? code : quint16(code ^ 0x8000u);
}

void EventEncoder::appendEvent(QByteArray& out, const EventData& event, bool adcSigned)
{
    const int start = out.size();
    appendWord(out, KEP_SYNC_WORD);
    appendWord(out, 0);
    appendWord(out, event.evNum);
    for (const DeviceEvent& board : event.devices)
        appendDevice(out, board, adcSigned);
    patchWord(out, start + 4, quint32(out.size() - start - EventHeaderSize));
}

QByteArray EventEncoder::encodeEvent(const EventData& event, bool adcSigned)
{
    QByteArray out;
    appendEvent(out, event, adcSigned);
    return out;
}

QByteArray EventEncoder::encodeDevice(const DeviceEvent& board, bool adcSigned)
{
    QByteArray out;
    appendDevice(out, board, adcSigned);
    return out;
}

QByteArray EventEncoder::eventRecord(quint32 evNum, const QByteArray& payload)
{
    QByteArray out;
    appendRecord(out, KEP_SYNC_WORD, payload);
    appendWord(out, evNum);
    return out + payload;
}

QByteArray EventEncoder::deviceRecord(quint32 serial, quint8 deviceType, const QByteArray& blocks)
{
    QByteArray out;
    appendDeviceHeader(out, serial, quint32(blocks.size()), deviceType);
    return out + blocks;
}

QByteArray EventEncoder::encodeAuxRecord(const QByteArray& payload, quint32 spare)
{
    QByteArray out;
    appendRecord(out, AUX_SYNC_WORD, payload);
    appendWord(out, spare);
    return out + payload;
}

QByteArray EventEncoder::encodeStartRecord(const QByteArray& payload)
{
    QByteArray out;
    appendRecord(out, START_SYNC_WORD, payload);
    return out + payload;
}

QByteArray EventEncoder::encodeStopRecord(const QByteArray& payload)
{
    QByteArray out;
    appendRecord(out, STOP_SYNC_WORD, payload);
    return out + payload;
}

QByteArray EventEncoder::nimbusBlock(quint32 subtype, quint32 channel, const QByteArray& payload)
{
    Q_ASSERT(payload.size() % 4 == 0);
    QByteArray out;
    appendWord(out, nimbusHeader(subtype, quint32(payload.size() / 4), channel));
    return out + payload;
}

QString EventEncoder::dimensionsError(int boards, int channels, int samples)
{
    if (samples % 2 != 0)
        return QStringLiteral("--samples must be even (two samples per stream word)");
    const quint64 board = encodedBoardSize(quint64(channels), quint64(samples));
    if (board - StreamFormat::DeviceHeaderSize > 0xFFFFFF
        || quint64(boards) * board > StreamFormat::MaxRecordLength) // the event's length field
        return QStringLiteral("events of %1 boards x %2 channels x %3 samples are too large for the stream format")
            .arg(boards)
            .arg(channels)
            .arg(samples);
    return QString();
}

QByteArray EventEncoder::boardHeaderBlock(quint32 timeHigh, quint32 timeFlags, quint32 timeLow, quint64 adcChMask)
{
    QByteArray out;
    appendBoardHeaderBlock(out, timeHigh, timeFlags, timeLow, adcChMask);
    return out;
}
