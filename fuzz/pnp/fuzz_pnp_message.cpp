// Feeds arbitrary datagrams to the discovery message reader; whatever it
// accepts is written and rendered again.
#include "pnp/PnpMessage.h"

#include <QByteArray>
#include <QHostAddress>

#include <cstddef>
#include <cstdint>

namespace {

void discardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Keeps the fuzzer's output readable should anything write a warning.
    qInstallMessageHandler(discardMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536) // the largest UDP payload
        return 0;
    const QByteArray datagram = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    PnpMessage message;
    if (message.fromXml(datagram, QHostAddress(QStringLiteral("10.77.0.1")))) {
        const QByteArray written = message.toXml().toLatin1();
        PnpMessage reread;
        reread.fromXml(written, QHostAddress::LocalHost);
        (void)message.program.toText();
    }
    return 0;
}
