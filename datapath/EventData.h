#pragma once
// Decoded event types: what the analyzer makes of one event record of the
// stream. They are plain values built on Qt's implicitly shared containers, so
// copying an event into a queued signal, the analyzer's history or the main
// window shares the sample vectors instead of copying them.

#include "datapath/ChannelFeatures.h"

#include <QMap>
#include <QMetaType>
#include <QVector>

#include <algorithm>

// One channel's waveform block.
struct ChannelData {
    quint8 ch = 0;           // channel number, equal to its key in DeviceEvent::channels
    quint64 time = 0;        // (word0 << 32) | (word1 >> 2) of the block
    QVector<double> samples; // 2 * (words - 2) decoded samples, first in time first
    quint16 spare16 = 0;     // spare fields, never filled by the decoder
    quint32 spare32a = 0;
    quint32 spare32b = 0;
    ChannelFeatures features; // derived from samples by the analyzer; not part of equality
};

// A 16-byte TDC hit; TDC blocks are not decoded yet, so nothing creates one.
struct TdcHit {
    quint32 words[4] = {0, 0, 0, 0};
};

// One board's share of one event.
struct DeviceEvent {
    DeviceEvent() : timeFlags(0), timeLow(0) {}

    quint32 serial = 0;
    quint16 deviceType = 0;
    quint32 evNum = 0; // set from the event header by the board header block, else 0
    quint32 timeHigh = 0;
    quint32 timeFlags : 2; // bits 0..1 of the board header's second word
    quint32 timeLow : 30;  // bits 2..31 of the board header's second word
    QMap<int, ChannelData> channels;
    QMap<quint32, TdcHit> tdcHits;
};

// One decoded event: its number and its boards keyed by serial.
struct EventData {
    quint32 evNum = 0;
    QMap<quint32, DeviceEvent> devices;
};

// The adcChMask a board's channels make: bit (key mod 64) per channel.
inline quint64 channelMask(const DeviceEvent& board)
{
    quint64 mask = 0;
    for (auto it = board.channels.cbegin(); it != board.channels.cend(); ++it)
        mask |= quint64(1) << (it.key() % 64);
    return mask;
}

// Several board records. The analyzer's records mix the boards of a decoding
// pass (each DeviceEvent names its own) and leave serial and deviceType 0.
struct DeviceData {
    quint32 serial = 0;
    quint16 deviceType = 0;
    QVector<DeviceEvent> events;
    QVector<quint64> values; // spare, never filled by the decoder
};

// Field-by-field equality, for comparing decoded events with what was encoded.
inline bool operator==(const ChannelData& a, const ChannelData& b)
{
    return a.ch == b.ch && a.time == b.time && a.samples == b.samples && a.spare16 == b.spare16
           && a.spare32a == b.spare32a && a.spare32b == b.spare32b;
}
inline bool operator==(const TdcHit& a, const TdcHit& b)
{
    return std::equal(a.words, a.words + 4, b.words);
}
inline bool operator==(const DeviceEvent& a, const DeviceEvent& b)
{
    return a.serial == b.serial && a.deviceType == b.deviceType && a.evNum == b.evNum && a.timeHigh == b.timeHigh
           && a.timeFlags == b.timeFlags && a.timeLow == b.timeLow && a.channels == b.channels
           && a.tdcHits == b.tdcHits;
}
inline bool operator==(const EventData& a, const EventData& b)
{
    return a.evNum == b.evNum && a.devices == b.devices;
}
inline bool operator!=(const ChannelData& a, const ChannelData& b)
{
    return !(a == b);
}
inline bool operator!=(const DeviceEvent& a, const DeviceEvent& b)
{
    return !(a == b);
}
inline bool operator!=(const EventData& a, const EventData& b)
{
    return !(a == b);
}

Q_DECLARE_METATYPE(EventData)
Q_DECLARE_METATYPE(DeviceData)

// Registers the decoded types and the event position map for queued signals
// under the names used in signal signatures. Safe to call more than once.
void registerDataPathMetaTypes();
