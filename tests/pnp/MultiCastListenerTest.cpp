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

#include <algorithm>
#include <memory>

namespace {

const QHostAddress group(QStringLiteral("239.192.1.2"));
constexpr quint16 testPort = 33317;

QStringList threadNames(const MultiCastListener& listener)
{
    QStringList names;
    for (const QThread* thread : listener.findChildren<QThread*>())
        names << thread->objectName();
    names.sort();
    return names;
}

void sendToGroup(const QByteArray& payload, const QString& interfaceName)
{
    QUdpSocket socket;
    ASSERT_TRUE(socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
    socket.setMulticastInterface(QNetworkInterface::interfaceFromName(interfaceName));
    ASSERT_EQ(socket.writeDatagram(payload, group, testPort), payload.size());
}

bool receivedFrom(const QSignalSpy& spy, const QByteArray& payload, const QHostAddress& sender)
{
    return std::any_of(spy.cbegin(), spy.cend(), [&](const QList<QVariant>& args) {
        return args.at(0).toByteArray() == payload && args.at(1).value<QHostAddress>() == sender;
    });
}

// Runs one test of this program again in a namespace of its own set up by
// the given shell commands (only loopback exists there).
void runInFreshNamespace(const QString& setup, const char* testName)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("RAVEL_PNP_CHILD", "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("unshare",
                {"-n", "sh", "-c", setup + " && exec \"$0\" --gtest_filter=\"$1\"",
                 QCoreApplication::applicationFilePath(), QStringLiteral("MultiCastListenerAlone.%1").arg(testName)});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    if (child.exitCode() != 0 && output.contains("unshare"))
        GTEST_SKIP() << "cannot create a nested network namespace: " << output.constData();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
}

bool isChild()
{
    return qgetenv("RAVEL_PNP_CHILD") == "1";
}

} // namespace

TEST(MultiCastListener, OneLowPriorityThreadPerMulticastInterface)
{
    REQUIRE_PRIVATE_NETWORK();
    MultiCastListener listener(group, testPort);
    // Loopback has no multicast flag here, so only the veth pair is used.
    EXPECT_EQ(threadNames(listener), (QStringList{"multicast v0", "multicast v1"}));
    for (const QThread* thread : listener.findChildren<QThread*>()) {
        EXPECT_TRUE(thread->isRunning());
        EXPECT_EQ(thread->priority(), QThread::LowPriority);
    }
}

TEST(MultiCastListener, DeliversEveryDatagramWithItsSender)
{
    REQUIRE_PRIVATE_NETWORK();
    MultiCastListener listener(group, testPort);
    QSignalSpy spy(&listener, &MultiCastListener::received);
    const QByteArray small = "hello from v0";
    const QByteArray large(60000, 'x'); // fragmented on the veth pair, one datagram all the same
    const QByteArray fromV1 = "hello from v1";
    // The threads join their groups asynchronously with this test: repeat
    // until the first datagram is heard.
    ASSERT_TRUE(waitUntil([&] {
        sendToGroup(small, "v0");
        return receivedFrom(spy, small, QHostAddress("10.77.0.1"));
    }));
    sendToGroup(large, "v0");
    sendToGroup(fromV1, "v1");
    EXPECT_TRUE(waitUntil([&] { return receivedFrom(spy, large, QHostAddress("10.77.0.1")); }));
    EXPECT_TRUE(waitUntil([&] { return receivedFrom(spy, fromV1, QHostAddress("10.77.0.2")); }));
}

TEST(MultiCastListener, SeveralListenersShareThePort)
{
    REQUIRE_PRIVATE_NETWORK();
    MultiCastListener first(group, testPort);
    MultiCastListener second(group, testPort);
    QSignalSpy firstSpy(&first, &MultiCastListener::received);
    QSignalSpy secondSpy(&second, &MultiCastListener::received);
    const QByteArray payload = "shared";
    const QHostAddress v0("10.77.0.1");
    EXPECT_TRUE(waitUntil([&] {
        sendToGroup(payload, "v0");
        return receivedFrom(firstSpy, payload, v0) && receivedFrom(secondSpy, payload, v0);
    }));
}

TEST(MultiCastListener, DestructionEndsEveryThreadPromptly)
{
    REQUIRE_PRIVATE_NETWORK();
    MessageLog capture;
    auto listener = std::make_unique<MultiCastListener>(group, testPort);
    QList<QThread*> threads = listener->findChildren<QThread*>();
    ASSERT_EQ(threads.size(), 2);
    QElapsedTimer clock;
    clock.start();
    listener.reset();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(capture.warnings().isEmpty()) << qPrintable(capture.warnings().join('\n'));
}

TEST(MultiCastListener, WithoutMulticastInterfaces)
{
    REQUIRE_PRIVATE_NETWORK();
    runInFreshNamespace("ip link set lo up", "NoInterface");
}

TEST(MultiCastListener, LoopbackWithMulticastFlag)
{
    REQUIRE_PRIVATE_NETWORK();
    runInFreshNamespace("ip link set lo up && ip link set lo multicast on", "LoopbackGetsThreadButNoSocket");
}

// Run only by the two tests above, inside a namespace where loopback is the
// one interface.
TEST(MultiCastListenerAlone, NoInterface)
{
    if (!isChild())
        GTEST_SKIP() << "runs in a namespace of its own";
    MessageLog capture;
    MultiCastListener listener(group, testPort);
    EXPECT_TRUE(threadNames(listener).isEmpty());
    EXPECT_EQ(capture.texts(QtCriticalMsg), QStringList{"No multicast interfaces found"});
}

TEST(MultiCastListenerAlone, LoopbackGetsThreadButNoSocket)
{
    if (!isChild())
        GTEST_SKIP() << "runs in a namespace of its own";
    MultiCastListener listener(group, testPort);
    EXPECT_EQ(threadNames(listener), QStringList{"multicast lo"});
    QSignalSpy spy(&listener, &MultiCastListener::received);
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    socket.setMulticastInterface(QNetworkInterface::interfaceFromName("lo"));
    socket.writeDatagram("multicast", group, testPort);
    socket.writeDatagram("unicast", QHostAddress::LocalHost, testPort);
    QTest::qWait(300); // nothing can come; give it the chance anyway
    EXPECT_TRUE(spy.isEmpty());
}
