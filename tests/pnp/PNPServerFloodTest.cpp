// A peer floods the discovery port with malformed and valid datagrams: every
// bad one is dropped with its warning, every valid one is still signalled,
// and the memory of the process stays bounded.
#include "pnp/PNPServer.h"
#include "pnp/PnpMessage.h"
#include "tests/MessageLog.h"
#include "tests/pnp/PnpTestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QUdpSocket>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// Datagrams the kernel of this namespace dropped for full socket buffers
// (RcvbufErrors of /proc/net/snmp): the server cannot signal those.
int kernelReceiveDrops()
{
    QFile snmp("/proc/net/snmp");
    snmp.open(QIODevice::ReadOnly);
    const QStringList udp = QString(snmp.readAll()).split('\n').filter(QRegularExpression("^Udp: "));
    return udp.value(1).split(' ').value(udp.value(0).split(' ').indexOf("RcvbufErrors")).toInt();
}

qint64 peakMemoryKb()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QByteArray datagram(int i, const QString& type, const QUuid& uuid)
{
    const QByteArray n = QByteArray::number(i);
    switch (i % 8) { // the odd ones valid, four kinds of junk between them
    case 0:
        return "\x01\x02 junk " + n;
    case 2:
        return "<!DOCTYPE pnp_message>\n<program name=\"" + n;
    case 4:
        return "<!DOCTYPE other>\n<discover_request><target>" + n + "</target></discover_request>";
    case 6: // rejected announcement, with its own warning first
        return "<!DOCTYPE pnp_message>\n<program hostName=\"h\" uuid=\"{}\" seq=\"" + n + "\"/>";
    }
    PnpMessage message;
    message.kind = ProgramAnnouncement;
    message.program.type = type;
    message.program.index = QStringLiteral("1");
    message.program.uuid = uuid;
    message.program.seq = quint32(i);
    return message.toXml().toLatin1();
}

} // namespace

TEST(PNPServerFlood, DropsBadDatagramsSignalsValidOnesInBoundedMemory)
{
    REQUIRE_PRIVATE_NETWORK();
    constexpr int total = 24000, perMillisecond = 10; // about 9000 datagrams a second
    MessageLog capture;
    const QString type = QStringLiteral("Flood-") + QUuid::createUuid().toString().mid(1, 8);
    const QUuid uuid = QUuid::createUuid();
    QList<QByteArray> datagrams;
    for (int i = 0; i < total; ++i)
        datagrams << datagram(i, type, uuid);

    PNPServer server;
    QSet<quint32> signalled;
    QObject::connect(&server, qOverload<ProgramDescription>(&PNPServer::programDiscovered),
                     [&](const ProgramDescription& pd) {
                         if (pd.uuid == uuid)
                             signalled.insert(pd.seq);
                     });
    server.startSearch(type);

    const int dropsBefore = kernelReceiveDrops();
    const qint64 peakBefore = peakMemoryKb();
    std::thread sender([&datagrams] {
        QUdpSocket socket;
        for (int sent = 0; sent < datagrams.size(); ++sent) {
            if (sent % perMillisecond == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            while (socket.writeDatagram(datagrams[sent], PNPServer::multicastGroup, PNPServer::port) < 0)
                std::this_thread::yield(); // a full send buffer
        }
    });
    waitUntil([&] { return signalled.size() == total / 2; }, 40000);
    sender.join();
    QTest::qWait(200); // late copies of the last datagrams

    // Each datagram arrives on both ends of the veth pair; one is lost only
    // when the kernel dropped every copy of it for a busy machine.
    const int kernelDrops = kernelReceiveDrops() - dropsBefore;
    const qint64 peakGrowthKb = peakMemoryKb() - peakBefore;
    QSet<QString> droppedWithWarning;
    for (const QString& warning : capture.warnings())
        if (warning.startsWith("Failed decode msg:"))
            droppedWithWarning.insert(warning);
    std::printf("flood: %d valid signalled of %d, %d bad dropped with warning, %d kernel drops, peak +%lld kB\n",
                int(signalled.size()), total / 2, int(droppedWithWarning.size()), kernelDrops, (long long)peakGrowthKb);
    EXPECT_GE(signalled.size(), total / 2 - kernelDrops);
    EXPECT_GE(droppedWithWarning.size(), total / 2 - kernelDrops);
    EXPECT_GE(capture.countStartingWith(QtWarningMsg, "Program announce from"), total / 8 - kernelDrops);
    EXPECT_LT(peakGrowthKb, 64 * 1024) << "datagrams are not held beyond their decoding";
}
