// Interface selection, delivery and shutdown of the multicast listeners, on
// the veth pair of the test namespace. A port of their own keeps these tests
// apart from the discovery servers of other tests.
#include "pnp/MultiCastListener.h"
#include "tests/MessageLog.h"
#include "tests/pnp/PnpTestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QUdpSocket>

#include <memory>

namespace {

const QHostAddress group(QStringLiteral("239.192.1.2"));
constexpr quint16 testPort = 33317;

void sendToGroup(const QByteArray& payload, const QString& interfaceName)
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    socket.setMulticastInterface(QNetworkInterface::interfaceFromName(interfaceName));
    socket.writeDatagram(payload, group, testPort);
}

bool received(const QSignalSpy& spy, const QByteArray& payload, const char* sender)
{
    for (const QList<QVariant>& args : spy)
        if (args.at(0).toByteArray() == payload && args.at(1).value<QHostAddress>() == QHostAddress(sender))
            return true;
    return false;
}

} // namespace

TEST(MultiCastListener, ThreadPerInterfaceDeliversToEveryListenerAndEndsPromptly)
{
    REQUIRE_PRIVATE_NETWORK();
    MessageLog capture;
    auto first = std::make_unique<MultiCastListener>(group, testPort);
    auto second = std::make_unique<MultiCastListener>(group, testPort); // sharing the port
    // Loopback has no multicast flag here, so only the veth pair is used.
    EXPECT_EQ(first->findChildren<QThread*>().size(), 2);

    QSignalSpy firstSpy(first.get(), &MultiCastListener::received);
    QSignalSpy secondSpy(second.get(), &MultiCastListener::received);
    // The threads join their groups asynchronously: repeat until heard.
    ASSERT_TRUE(waitUntil([&] {
        sendToGroup("hello", "v0");
        return received(firstSpy, "hello", "10.77.0.1") && received(secondSpy, "hello", "10.77.0.1");
    }));
    const QByteArray large(60000, 'x'); // fragmented on the veth pair, one datagram all the same
    sendToGroup(large, "v0");
    sendToGroup("from v1", "v1");
    EXPECT_TRUE(waitUntil(
        [&] { return received(firstSpy, large, "10.77.0.1") && received(firstSpy, "from v1", "10.77.0.2"); }));

    QElapsedTimer clock;
    clock.start();
    first.reset();
    second.reset();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(capture.warnings().isEmpty()) << qPrintable(capture.warnings().join('\n'));
}

// Runs MultiCastListenerAlone again in a namespace of its own where loopback
// without its multicast flag is the one interface.
TEST(MultiCastListener, NoMulticastInterface)
{
    REQUIRE_PRIVATE_NETWORK();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("RAVEL_PNP_CHILD", "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("unshare", {"-n", "sh", "-c", "ip link set lo up && exec \"$0\" --gtest_filter=\"$1\"",
                            QCoreApplication::applicationFilePath(), "MultiCastListenerAlone.*"});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    if (child.exitCode() != 0 && output.contains("unshare"))
        GTEST_SKIP() << "cannot create a nested network namespace: " << output.constData();
    EXPECT_TRUE(child.exitCode() == 0 && output.contains("[  PASSED  ] 1 test")) << output.constData();
}

TEST(MultiCastListenerAlone, NoThreadWithoutMulticast)
{
    if (qgetenv("RAVEL_PNP_CHILD") != "1")
        GTEST_SKIP() << "runs in a namespace of its own";
    MessageLog capture;
    MultiCastListener listener(group, testPort);
    EXPECT_TRUE(listener.findChildren<QThread*>().isEmpty());
    EXPECT_EQ(capture.texts(QtCriticalMsg), QStringList{"No multicast interfaces found"});
}
