// Interface selection, delivery and shutdown of the multicast listeners, on
// the veth pair of the test namespace. A port of their own keeps these tests
// apart from the discovery servers of other tests.
#include "pnp/MultiCastListener.h"
#include "tests/MessageLog.h"
#include "tests/pnp/PnpTestSupport.h"

#include <QSignalSpy>
#include <QThread>
#include <QUdpSocket>

#include <memory>

namespace {

const QHostAddress group(QStringLiteral("239.192.1.2"));
constexpr quint16 testPort = 33317;

// A discover request whose one target tells the datagrams apart.
QByteArray request(const QString& target)
{
    PnpMessage message;
    message.targets << target;
    return message.toXml().toLatin1();
}

// Sends out of one interface. The host hears it on that interface alone:
// the copy that crosses the veth pair carries a local source address and is
// dropped by the far end.
void sendToGroup(const QByteArray& payload, const QString& interfaceName)
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    socket.setMulticastInterface(QNetworkInterface::interfaceFromName(interfaceName));
    socket.writeDatagram(payload, group, testPort);
}

int count(const QSignalSpy& spy, const QString& target)
{
    int n = 0;
    for (const QList<QVariant>& args : spy)
        n += args.at(0).value<PnpMessage>().targets == QStringList{target} ? 1 : 0;
    return n;
}

bool received(const QSignalSpy& spy, const QString& target)
{
    return count(spy, target) > 0;
}

QStringList threadNames(const MultiCastListener& listener)
{
    QStringList names;
    for (const QThread* thread : listener.findChildren<QThread*>())
        names << thread->objectName();
    names.sort();
    return names;
}

} // namespace

TEST(MultiCastListener, ThreadPerInterfaceDeliversToEveryListenerAndEndsPromptly)
{
    REQUIRE_PRIVATE_NETWORK();
    MessageLog capture;
    auto first = std::make_unique<MultiCastListener>(group, testPort);
    auto second = std::make_unique<MultiCastListener>(group, testPort); // sharing the port
    // Loopback has no multicast flag here, so only the veth pair is used.
    EXPECT_EQ(threadNames(*first), (QStringList{"multicast v0", "multicast v1"}));

    QSignalSpy firstSpy(first.get(), &MultiCastListener::received);
    QSignalSpy secondSpy(second.get(), &MultiCastListener::received);
    // The threads join their groups asynchronously: repeat until heard.
    ASSERT_TRUE(waitUntil([&] {
        sendToGroup(request("hello"), "v0");
        return received(firstSpy, "hello") && received(secondSpy, "hello");
    }));
    const QString large(60000, 'x'); // fragmented on the veth pair, one datagram all the same
    sendToGroup(request(large), "v0");
    EXPECT_TRUE(waitUntil([&] { return received(firstSpy, large); }));

    // Each datagram arrives once per receiving interface: here only v0
    // receives, so the listener of v1 must not signal it as well.
    firstSpy.clear();
    for (int i = 0; i < 20; ++i)
        sendToGroup(request("once"), "v0");
    EXPECT_TRUE(waitUntil([&] { return count(firstSpy, "once") >= 20; }));
    QTest::qWait(300);
    EXPECT_EQ(count(firstSpy, "once"), 20);

    QElapsedTimer clock;
    clock.start();
    first.reset();
    second.reset();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(threadsNamedComeTo("multicast", 0));
    EXPECT_TRUE(capture.warnings().isEmpty()) << qPrintable(capture.warnings().join('\n'));
}

// Runs MultiCastListenerAlone again in a namespace of its own where loopback
// without its multicast flag is the one interface.
TEST(MultiCastListener, NoMulticastInterface)
{
    runInOwnNamespace("MultiCastListenerAlone.*",
                      {"unshare", "-n", "sh", "-c", "ip link set lo up && exec \"$@\"", "sh"});
}

TEST(MultiCastListenerAlone, NoThreadWithoutMulticast)
{
    REQUIRE_OWN_NAMESPACE();
    MessageLog capture;
    MultiCastListener listener(group, testPort);
    EXPECT_TRUE(listener.findChildren<QThread*>().isEmpty());
    EXPECT_EQ(capture.texts(QtCriticalMsg), QStringList{"No multicast interfaces found"});
}

TEST(MultiCastListener, InterfacesThatComeAndGo)
{
    runInOwnNamespace("MultiCastListenerOwnNetwork.*");
}

// A second veth pair comes up after start (a VPN, a re-plugged network card),
// first without addresses (as before its network is configured), and goes
// away again.
TEST(MultiCastListenerOwnNetwork, LateInterfaceIsJoinedAndAGoneOneLetGo)
{
    REQUIRE_OWN_NAMESPACE();
    MultiCastListener listener(group, testPort);
    QSignalSpy heard(&listener, &MultiCastListener::received);
    QSignalSpy joined(&listener, &MultiCastListener::interfaceJoined);
    ASSERT_TRUE(ip({"link", "add", "v2", "type", "veth", "peer", "name", "v3"}));
    ASSERT_TRUE(ip({"link", "set", "v2", "up"}) && ip({"link", "set", "v3", "up"}));
    // Within one rescan period, with slack for a busy machine.
    const QStringList four{"multicast v0", "multicast v1", "multicast v2", "multicast v3"};
    ASSERT_EVENTUALLY_EQ(threadNames(listener), four, 15000);
    EXPECT_EQ(joined.size(), 0) << "no address, nothing to listen on";

    ASSERT_TRUE(ip({"addr", "add", "10.78.0.1/24", "dev", "v2"}) && ip({"addr", "add", "10.78.0.2/24", "dev", "v3"}));
    ASSERT_EVENTUALLY_EQ(joined.size(), 2, 15000);
    ASSERT_EVENTUALLY_EQ(threadNames(listener), four, 5000); // the replaced threads end
    // Heard on v2 alone: only the new listener of v2 can signal it.
    ASSERT_TRUE(waitUntil([&] {
        sendToGroup(request("late"), "v2");
        return received(heard, "late");
    }));

    ASSERT_TRUE(ip({"link", "del", "v2"}));
    ASSERT_EVENTUALLY_EQ(threadNames(listener), (QStringList{"multicast v0", "multicast v1"}), 15000);
    ASSERT_EVENTUALLY_EQ(threadsNamed("multicast"), 2, 5000);
}

// A rescan falls due while the threads are waited for, with an interface new
// since the last one: it must start no listener that would outlive shutdown.
TEST(MultiCastListenerOwnNetwork, RescanDueAtDestructionStartsNothing)
{
    REQUIRE_OWN_NAMESPACE();
    MessageLog capture;
    auto listener = std::make_unique<MultiCastListener>(group, testPort);
    QTest::qSleep(MultiCastListener::RescanMs + 100); // no event loop: the rescan stays due
    ASSERT_TRUE(ip({"link", "add", "v4", "type", "veth", "peer", "name", "v5"}));
    ASSERT_TRUE(ip({"link", "set", "v4", "up"}) && ip({"link", "set", "v5", "up"}));
    const auto running = [] {
        return QNetworkInterface::interfaceFromName("v4").flags() & QNetworkInterface::IsRunning;
    };
    for (int i = 0; i < 500 && !running(); ++i) // the carrier comes a moment after
        QTest::qSleep(10);
    ASSERT_TRUE(running());
    QElapsedTimer clock;
    clock.start();
    listener.reset();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(threadsNamedComeTo("multicast", 0));
    EXPECT_TRUE(capture.warnings().isEmpty()) << qPrintable(capture.warnings().join('\n'));
    ip({"link", "del", "v4"});
}
