#pragma once
// Writes the event stream format: the inverse of ADCAnalyzer's decoding, for
// tests, tools, benchmarks and simulated sources (the viewer's read path never
// uses it). Whole events come from an EventData; the lower-level pieces let a
// caller build damaged or unusual records byte by byte.

#include "datapath/EventData.h"
#include "datapath/StreamFormat.h"

#include <QByteArray>
#include <QString>

class EventEncoder {
public:
    // Accepted device type used when a board's deviceType is 0.
    static constexpr quint8 DefaultDeviceType = 0xD9;

    // An event record: boards in ascending serial, each with a board header
    // block (its adcChMask set from the channels present) followed by one
    // waveform block per channel in ascending channel order.
    static QByteArray encodeEvent(const EventData& event, bool adcSigned = true);
    static void appendEvent(QByteArray& out, const EventData& event, bool adcSigned = true);

    // Stream bytes of one board's device record as encodeEvent writes it for
    // `channels` channels of `samples` (even) samples each.
    static constexpr quint64 encodedBoardSize(quint64 channels, quint64 samples)
    {
        using namespace StreamFormat;
        return DeviceHeaderSize + NimbusHeaderSize + BoardHeaderPayloadSize
               + channels * (NimbusHeaderSize + ChannelBlockMinPayloadSize + 2 * samples);
    }
    // Empty when generated events of these dimensions fit the stream format
    // (an even sample count, the 24-bit device length and the record length
    // limit), else the reason for an operator.
    static QString dimensionsError(int boards, int channels, int samples);

    // One board's device record as encodeEvent writes it.
    static QByteArray encodeDevice(const DeviceEvent& board, bool adcSigned = true);

    // Records with raw payloads.
    static QByteArray eventRecord(quint32 evNum, const QByteArray& payload);
    static QByteArray deviceRecord(quint32 serial, quint8 deviceType, const QByteArray& blocks);
    static QByteArray encodeAuxRecord(const QByteArray& payload = QByteArray(), quint32 spare = 0);
    static QByteArray encodeStartRecord(const QByteArray& payload = QByteArray());
    static QByteArray encodeStopRecord(const QByteArray& payload = QByteArray());

    // Nimbus blocks. A block's word count is its payload size / 4, so the
    // payload of nimbusBlock must be a whole number of words.
    static QByteArray nimbusBlock(quint32 subtype, quint32 channel, const QByteArray& payload);
    static QByteArray boardHeaderBlock(quint32 timeHigh, quint32 timeFlags, quint32 timeLow, quint64 adcChMask);
    // The 16-bit code of a decoded sample value, rounded and clamped to the
    // code range. (Channel blocks pad an odd sample count with one zero
    // sample: the format holds two per word.)
    static quint16 sampleCode(double value, bool adcSigned);

    static void appendWord(QByteArray& out, quint32 word);
};
