// Feeds arbitrary bytes to ADCAnalyzer in arbitrary block splits. The first
// two bytes choose the options and the split; the rest is the stream. Beyond
// the sanitizers it checks what holds for any input: one permit per block,
// a position map that only grows, and events whose boards and channels are
// keyed consistently.
#include "datapath/ADCAnalyzer.h"

#include <QSemaphore>

#include <cstdint>
#include <cstdlib>

namespace {

void silence(QtMsgType, const QMessageLogContext&, const QString&) {}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkEvent(const EventData& event)
{
    for (auto board = event.devices.cbegin(); board != event.devices.cend(); ++board) {
        check(board.key() == board->serial);
        for (auto channel = board->channels.cbegin(); channel != board->channels.cend(); ++channel)
            check(channel.key() == channel->ch && channel->samples.size() % 2 == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(silence); // resynchronisation notes would flood the output
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t options = data[0];
    quint32 split = data[1] | 1u; // drives the block sizes
    const QByteArray stream(reinterpret_cast<const char*>(data + 2), int(size - 2));

    QSemaphore semaphore(0);
    ADCAnalyzer analyzer(&semaphore, nullptr);
    analyzer.adcRawDataSignedUpdated(options & 1);
    analyzer.dataSourceUpdated(options & 2);
    QMap<quint32, quint32> lastMap;
    QObject::connect(&analyzer, &ADCAnalyzer::eventDataUpdated, checkEvent);
    QObject::connect(&analyzer, &ADCAnalyzer::eventMapUpdated, [&lastMap](const QMap<quint32, quint32>& map) {
        check(map.size() >= lastMap.size());
        lastMap = map;
    });

    // Whole stream at once when bit 2 is set, else blocks of 1..64 bytes.
    int blocks = 0;
    for (int at = 0; at < stream.size(); ++blocks) {
        split = split * 1103515245u + 12345u;
        const int blockSize = (options & 4) ? stream.size() : int((split >> 16) % 64) + 1;
        analyzer.dataAccuired(stream.mid(at, blockSize));
        at += blockSize;
    }
    check(semaphore.available() == blocks);
    return 0;
}
