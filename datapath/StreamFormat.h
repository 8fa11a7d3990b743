#pragma once
// Byte layout of the digitizer event stream, shared by data files and the TCP
// data connection. All multi-byte integers are little-endian; lengths never
// include the header that declares them.

#include <QtGlobal>
#include <cstring>

namespace StreamFormat {

// Record magic words (the first 32-bit word of every stream record).
constexpr quint32 KEP_SYNC_WORD = 0x2A502A50;   // event record, "P*P*"
constexpr quint32 AUX_SYNC_WORD = 0x4A624A62;   // auxiliary record, skipped
constexpr quint32 START_SYNC_WORD = 0x72617453; // "Star", known to the file map only
constexpr quint32 STOP_SYNC_WORD = 0x706F7453;  // "Stop", known to the file map only

// Largest accepted declared length of an event or auxiliary record (256 MiB):
// a corrupt length field must not make a reader hold more than this.
constexpr quint32 MaxRecordLength = 256u * 1024u * 1024u;

constexpr int EventHeaderSize = 12;    // sync, length, evNum
constexpr int AuxHeaderSize = 12;      // sync, length, spare word
constexpr int StartStopHeaderSize = 8; // sync, length
constexpr int DeviceHeaderSize = 8;    // serial, 24-bit length, device type
constexpr int NimbusHeaderSize = 4;    // subtype, words, channel

// Nimbus block subtypes (bits 0..1 of the block header).
enum NimbusSubtype : quint32 {
    BoardHeaderBlock = 0,
    ChannelWaveformBlock = 1,
    TdcBlock = 2,
    InvalidBlock = 3,
};
constexpr int BoardHeaderPayloadSize = 16;    // timeHigh, timeFlags|timeLow, adcChMask
constexpr int ChannelBlockMinPayloadSize = 8; // the channel's 64-bit time

constexpr quint32 nimbusSubtype(quint32 header)
{
    return header & 0x3u;
}
constexpr quint32 nimbusWords(quint32 header)
{
    return (header >> 2) & 0x3FFFFFu;
}
constexpr quint32 nimbusChannel(quint32 header)
{
    return header >> 24;
}
constexpr quint32 nimbusHeader(quint32 subtype, quint32 words, quint32 channel)
{
    return (subtype & 0x3u) | ((words & 0x3FFFFFu) << 2) | (channel << 24);
}

// Device types whose records carry Nimbus blocks; any other type is skipped.
constexpr quint8 AcceptedDeviceTypes[] = {0x89, 0xB8, 0xBA, 0xBE, 0xBF, 0xC3, 0xC5, 0xCA, 0xD4, 0xD9};
constexpr bool isAcceptedDeviceType(quint8 type)
{
    for (quint8 accepted : AcceptedDeviceTypes)
        if (accepted == type)
            return true;
    return false;
}

// Little-endian readers over raw bytes; callers check the bounds.
inline quint32 readWord(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint32(u[0]) | (quint32(u[1]) << 8) | (quint32(u[2]) << 16) | (quint32(u[3]) << 24);
}
inline quint64 readWord64(const char* p)
{
    return quint64(readWord(p)) | (quint64(readWord(p + 4)) << 32);
}
inline quint32 readWord24(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint32(u[0]) | (quint32(u[1]) << 8) | (quint32(u[2]) << 16);
}

} // namespace StreamFormat
