// TcpClient against QTcpServers on 127.0.0.1: connect and retry timing,
// reconnect after a lost connection (the analyzer seeing the new stream start),
// the endpoint it is given last, a moved
// port, a peer that stops answering, reading under flow control, status.
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "datapath/TcpClient.h"
#include "tests/MessageLog.h"
#include "tests/WaitUntil.h"
#include "tests/datapath/AnalyzerProbe.h"
#include "tests/pnp/PnpTestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const QHostAddress Loopback(QHostAddress::LocalHost);

// Collects what the client emits, on the test's thread, with arrival times.
class Recorder : public QObject {
public:
    explicit Recorder(TcpClient* client, QSemaphore* releaseAfterBlock = nullptr)
    {
        clock.start();
        connect(client, &TcpClient::dataAccuired, this, [this, releaseAfterBlock](const QByteArray& block) {
            blocks.append(block);
            total += block.size();
            if (releaseAfterBlock) // stands in for the analyzer
                releaseAfterBlock->release();
        });
        connect(client, &TcpClient::addLog, this, [this](const QString& text) { logTimes[text] << clock.elapsed(); });
        connect(client, &TcpClient::connectedStateChanged, this, [this](bool state) { states.append(state); });
        connect(client, &TcpClient::statusUpdated, this, [this](const QString& text) { statuses.append(text); });
    }

    QElapsedTimer clock;
    QByteArrayList blocks;
    qint64 total = 0;
    QHash<QString, QList<qint64>> logTimes; // addLog text -> when
    QList<bool> states;
    QStringList statuses;
};

QTcpSocket* nextConnection(QTcpServer& server)
{
    return waitUntil([&] { return server.hasPendingConnections(); }) ? server.nextPendingConnection() : nullptr;
}

// A port on which nothing listens.
quint16 closedPort()
{
    QTcpServer closed;
    return closed.listen(Loopback) ? closed.serverPort() : 0;
}

// A client on a worker thread of its own, as in the viewer; the recorder
// returns each block's permit like the analyzer.
class ThreadedClient {
public:
    ThreadedClient()
    {
        client->moveToThread(&thread);
        QObject::connect(client, &QObject::destroyed, &thread, &QThread::quit, Qt::DirectConnection);
        thread.start();
    }
    ~ThreadedClient()
    {
        client->deleteLater();
        thread.wait(10000);
    }
    void setAddress(const QHostAddress& address, quint16 port)
    {
        QMetaObject::invokeMethod(client, [c = client, address, port] { c->setAddress(address, port); });
    }
    int refusals() const { return recorder.logTimes.value("The connection was refused by the peer").size(); }

    QSemaphore semaphore{50};
    QThread thread;
    TcpClient* client = new TcpClient(&semaphore);
    Recorder recorder{client, &semaphore};
};

// A threaded client connected to a server of the test.
class TcpClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listen(Loopback));
        live.setAddress(Loopback, server.serverPort());
        peer = nextConnection(server);
        ASSERT_NE(peer, nullptr);
    }

    MessageLog log;
    QTcpServer server;
    ThreadedClient live;
    Recorder& recorder = live.recorder;
    QSemaphore& semaphore = live.semaphore;
    QTcpSocket* peer = nullptr;
};

TEST(TcpClientRetry, RefusedConnectionIsReportedOnceThenRetriedEveryFiveSeconds)
{
    MessageLog log;
    QSemaphore semaphore(50);
    const quint16 port = closedPort();
    TcpClient client(&semaphore);
    Recorder recorder(&client);
    client.setAddress(Loopback, port);
    client.setAddress(Loopback, port); // same address while connecting: no effect

    const QString refused = "The connection was refused by the peer";
    ASSERT_EVENTUALLY(recorder.logTimes[refused].size() == 3, 30000);
    const QString cannot = QString("TcpClient can't connect to 127.0.0.1:%1").arg(port);
    ASSERT_EQ(recorder.logTimes[cannot].size(), 1);
    EXPECT_EQ(log.count(QString("TcpClient::setAddress: 127.0.0.1 %1").arg(port)), 1);
    const QList<qint64> t = recorder.logTimes[refused];
    // Coarse timers may fire up to 5% early; delivery may be late under load.
    EXPECT_GE(t[1] - t[0], 800);
    EXPECT_LT(t[1] - t[0], 4000);
    EXPECT_GE(t[2] - t[1], 4500);

    // A new address during the slow retry wait is tried at once, not when
    // the 5 s retry comes.
    QTcpServer server;
    ASSERT_TRUE(server.listen(Loopback));
    const qint64 changedAt = recorder.clock.elapsed();
    client.setAddress(Loopback, server.serverPort());
    ASSERT_EVENTUALLY(recorder.states == QList<bool>{true}, 15000);
    EXPECT_LT(recorder.clock.elapsed() - changedAt, 4000);
}

TEST_F(TcpClientTest, ConnectsReadsAndReconnectsAfterTheSourceClosed)
{
    ASSERT_EVENTUALLY(recorder.states == QList<bool>{true}, 15000);
    EXPECT_TRUE(log.contains(QString("Connected to 127.0.0.1:%1").arg(server.serverPort())));
    peer->write("hello");
    ASSERT_EVENTUALLY(recorder.total == 5, 15000);

    peer->close();
    QTcpSocket* again = nextConnection(server);
    ASSERT_NE(again, nullptr);
    ASSERT_EVENTUALLY(recorder.states == QList<bool>({true, false, true}), 15000);
    EXPECT_TRUE(recorder.logTimes.contains("Remote host closed connection."));
    EXPECT_TRUE(log.contains("Client disconnected, trying to reconnect"));
    again->write(" world");
    ASSERT_EVENTUALLY(recorder.statuses.contains("tcp:11 bytes"), 15000);
    EXPECT_EQ(recorder.blocks.join(), "hello world");
}

// A connection lost inside the last samples of a record, whole records on the
// next one: wired as in the viewer, the analyzer decodes exactly the records
// of the new connection, the first one included.
TEST_F(TcpClientTest, AnalyzerDropsTheRecordALostConnectionLeftUnfinished)
{
    AnalyzerProbe probe(true); // every event shown, none thinned out
    QObject::connect(live.client, &TcpClient::streamStarted, &probe.analyzer, &ADCAnalyzer::streamStarted);
    QObject::connect(live.client, &TcpClient::dataAccuired, &probe.analyzer, &ADCAnalyzer::dataAccuired);
    SampleGenerator::Options options;
    options.boards = 1;
    options.channels = 2;
    options.samples = 8;
    SampleGenerator gen(options);
    const QByteArray cut = EventEncoder::encodeEvent(gen.nextEvent()).chopped(4);
    peer->write(cut);
    ASSERT_EVENTUALLY(probe.analyzer.pendingBytes() == cut.size(), 15000);

    peer->close();
    QTcpSocket* again = nextConnection(server);
    ASSERT_NE(again, nullptr);
    const QVector<EventData> sent{gen.nextEvent(), gen.nextEvent()};
    for (const EventData& event : sent)
        again->write(EventEncoder::encodeEvent(event));
    ASSERT_EVENTUALLY(probe.events.size() >= 2 && probe.analyzer.pendingBytes() == 0, 15000);
    EXPECT_TRUE(probe.events == sent) << "evNums " << probe.events.first().evNum << ", " << probe.events.last().evNum;
    EXPECT_TRUE(probe.logs.isEmpty()) << probe.logs.join('\n').toStdString();
}

// Everything sent arrives in order, in blocks bounded by the socket's buffer,
// with one permit per block.
TEST_F(TcpClientTest, StreamArrivesWholeInBoundedBlocks)
{
    QByteArray stream;
    QRandomGenerator random(7);
    while (stream.size() < 20000000) {
        QByteArray piece(int(random.bounded(1, 300000)), char(random.generate()));
        stream += piece;
        peer->write(piece);
    }
    ASSERT_EVENTUALLY(recorder.total >= stream.size(), 60000);
    EXPECT_TRUE(recorder.blocks.join() == stream);
    for (const QByteArray& block : recorder.blocks)
        EXPECT_LE(block.size(), TcpClient::ReadBufferSize);
    EXPECT_EQ(semaphore.available(), 50);
}

// With every permit taken the bytes wait in the socket, polled every 200 ms;
// once a permit is free everything available goes out as one block, even when
// the peer has closed meanwhile and a reconnect has come due.
TEST(TcpClientFlow, HeldBackBurstIsReadAsOneBlockOncePermitted)
{
    MessageLog quiet;
    QSemaphore none(0);
    QTcpServer server;
    ASSERT_TRUE(server.listen(Loopback));
    TcpClient client(&none);
    Recorder recorder(&client);
    client.setAddress(Loopback, server.serverPort());
    QTcpSocket* peer = nextConnection(server);
    ASSERT_NE(peer, nullptr);
    auto* socket = client.findChild<QTcpSocket*>();
    ASSERT_NE(socket, nullptr);

    const QByteArray burst(3000000, 'b');
    peer->write(burst);
    ASSERT_EVENTUALLY(socket->bytesAvailable() == burst.size(), 30000);
    EXPECT_TRUE(recorder.blocks.isEmpty());
    peer->close();
    ASSERT_EVENTUALLY(recorder.states == QList<bool>({true, false}), 15000);
    QTest::qWait(TcpClient::ReconnectMs + 500);
    none.release();
    ASSERT_EVENTUALLY(!recorder.blocks.isEmpty(), 5000);
    ASSERT_EQ(recorder.blocks.size(), 1);
    EXPECT_EQ(recorder.blocks.first().size(), burst.size());
}

// What the client does before it is given the next endpoint, and which one.
enum class Before { Idle, Connected, Retrying };
enum class Next { Same, Other, Null };
struct Transition {
    const char* name;
    Before before;
    Next next;
};

// A threaded client and two servers of the test to send it to.
template <typename Param>
class TwoServerTest : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override { ASSERT_TRUE(first.listen(Loopback) && other.listen(Loopback)); }
    // Connects the client to the first server; returns that server's end.
    QTcpSocket* connectToFirst()
    {
        live.setAddress(Loopback, first.serverPort());
        QTcpSocket* peer = nextConnection(first);
        EXPECT_TRUE(waitUntil([&] { return recorder.states == QList<bool>{true}; }, 15000)) << "not connected";
        return peer;
    }

    MessageLog log;
    ThreadedClient live;
    const Recorder& recorder = live.recorder;
    QTcpServer first, other;
};

class TcpClientTransition : public TwoServerTest<Transition> {};

// Which server sees a connection after the change, that a dropped
// connection is closed, and that nothing at all follows a null endpoint.
TEST_P(TcpClientTransition, ServesTheEndpointGivenLast)
{
    const Transition t = GetParam();
    QTcpSocket* firstPeer = nullptr;
    quint16 firstPort = 0;
    if (t.before == Before::Connected) {
        firstPort = first.serverPort();
        ASSERT_NE(firstPeer = connectToFirst(), nullptr);
    } else if (t.before == Before::Retrying) {
        firstPort = closedPort();
        live.setAddress(Loopback, firstPort);
        ASSERT_EVENTUALLY(live.refusals() == 1, 15000);
    }

    QHostAddress nextAddress = Loopback;
    quint16 nextPort = t.next == Next::Same ? firstPort : other.serverPort();
    if (t.next == Next::Null)
        nextAddress = QHostAddress(), nextPort = 0;
    QElapsedTimer clock;
    clock.start();
    live.setAddress(nextAddress, nextPort);

    const QString dropped = QString("TcpClient dropped the connection to 127.0.0.1:%1").arg(firstPort);
    if (t.next == Next::Other) {
        ASSERT_NE(nextConnection(other), nullptr);
        EXPECT_LT(clock.elapsed(), 3000) << "the new endpoint is connected at once";
        ASSERT_EVENTUALLY(!recorder.states.isEmpty() && recorder.states.last(), 3000);
    }
    if (firstPeer && t.next != Next::Same) {
        ASSERT_EVENTUALLY(firstPeer->state() == QAbstractSocket::UnconnectedState, 3000);
        EXPECT_EQ(log.count(dropped), 1);
    }
    if (t.next == Next::Null) {
        ASSERT_EVENTUALLY(recorder.states.isEmpty() || !recorder.states.last(), 3000);
    }

    // Longer than any retry or reconnect that a stopped client would still
    // make (at once for a new endpoint, 1 s after a failure or a loss).
    QTest::qWait(3000);
    EXPECT_FALSE(first.hasPendingConnections());
    EXPECT_FALSE(other.hasPendingConnections()) << "one connection only";
    if (t.next == Next::Null) {
        QStringList after = log.texts();
        after = after.mid(after.indexOf("TcpClient::setAddress:  0") + 1);
        after.removeAll(dropped);
        EXPECT_EQ(after, QStringList()) << "the stopped client stays silent";
    }
    if (t.next == Next::Same) {
        EXPECT_EQ(log.count(dropped), 0);
        if (firstPeer) {
            EXPECT_EQ(firstPeer->state(), QAbstractSocket::ConnectedState);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TcpClientTransition,
                         ::testing::Values(Transition{"ConnectedToSame", Before::Connected, Next::Same},
                                           Transition{"ConnectedToOther", Before::Connected, Next::Other},
                                           Transition{"ConnectedToNull", Before::Connected, Next::Null},
                                           Transition{"RetryingToNull", Before::Retrying, Next::Null},
                                           Transition{"RetryingToOther", Before::Retrying, Next::Other},
                                           Transition{"IdleToEndpoint", Before::Idle, Next::Other}),
                         [](const auto& info) { return std::string(info.param.name); });

// A program moves its data interface: the new port is announced before or
// after the old connection is closed. Either way the client ends up on the
// new port within 2 s of the announcement and stays there.
class TcpClientPortMove : public TwoServerTest<bool> {};

TEST_P(TcpClientPortMove, IsFollowedWhicheverOfAnnouncementAndCloseComesFirst)
{
    const bool closeFirst = GetParam();
    QTcpSocket* oldPeer = connectToFirst();
    ASSERT_NE(oldPeer, nullptr);

    const auto closeOld = [&] {
        first.close();
        oldPeer->close();
    };
    if (closeFirst) {
        closeOld();
        ASSERT_EVENTUALLY(recorder.states.size() == 2, 3000) << "the loss is seen before the announcement";
    }
    QElapsedTimer clock;
    clock.start();
    live.setAddress(Loopback, other.serverPort());
    if (!closeFirst)
        closeOld();
    ASSERT_NE(nextConnection(other), nullptr);
    EXPECT_LT(clock.elapsed(), 4000);
    QTest::qWait(3000);
    EXPECT_FALSE(other.hasPendingConnections());
    EXPECT_EQ(recorder.states.last(), true) << "still connected to the new port";
}

INSTANTIATE_TEST_SUITE_P(Order, TcpClientPortMove, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "CloseFirst" : "AnnouncementFirst"; });

// A second network namespace joined to this one by a veth pair, held by a
// child process; its end of the pair can be taken down so that a peer in it
// falls silent without closing anything.
class FarNamespace {
public:
    static constexpr const char* FarAddress = "10.78.0.2";

    ~FarNamespace()
    {
        if (holder.state() != QProcess::NotRunning) {
            holder.kill();
            holder.waitForFinished(5000);
        }
    }

    // Empty on success, else why the namespace cannot be had here.
    QString create()
    {
        holder.start("unshare", {"-n", "sleep", "300"});
        if (!holder.waitForStarted(5000))
            return "unshare cannot be started";
        pid = QString::number(holder.processId());
        // The new namespace exists once the child has become sleep.
        if (!waitUntil([&] { return QFile::symLinkTarget("/proc/" + pid + "/exe").endsWith("sleep"); }, 5000))
            return "unshare -n failed";
        const QString linkUp = "ip link add rk0 type veth peer name rk1 netns " + pid
                               + " && ip addr add 10.78.0.1/24 dev rk0 && ip link set rk0 up";
        if (!run(linkUp) || !runFar(QString("ip addr add %1/24 dev rk1 && ip link set rk1 up").arg(FarAddress)))
            return "cannot join the namespaces by a veth pair";
        return QString();
    }
    bool runFar(const QString& command) { return run("nsenter -t " + pid + " -n sh -c '" + command + "'"); }

    // A listening socket on the far address, made in the far namespace.
    int listenFar()
    {
        int fd = -1;
        std::thread inFar([&] {
            const int ns = ::open(qPrintable("/proc/" + pid + "/ns/net"), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0)
                return;
            ::close(ns);
            fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address = {};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(QHostAddress(FarAddress).toIPv4Address());
            if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
                ::close(fd);
                fd = -1;
            }
        });
        inFar.join();
        return fd;
    }

private:
    static bool run(const QString& command)
    {
        return QProcess::execute("sh", {"-c", command + " >/dev/null 2>&1"}) == 0;
    }

    QProcess holder;
    QString pid;
};

// A peer whose host vanishes (no FIN, no RST) is declared lost by keepalive
// within about 5 + 3 * 2 s.
TEST(TcpClientKeepAlive, SilentPeerIsDeclaredLost)
{
    if (!insidePrivateNetwork()) // it adds links to the network it runs in
        GTEST_SKIP() << "changes network links: run inside scripts/netns-run";
    FarNamespace far;
    const QString problem = far.create();
    if (!problem.isEmpty())
        GTEST_SKIP() << "no second network namespace on this machine: " << problem.toStdString();
    QTcpServer server;
    const int fd = far.listenFar();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(server.setSocketDescriptor(fd));

    MessageLog quiet;
    ThreadedClient live;
    live.setAddress(QHostAddress(FarNamespace::FarAddress), server.serverPort());
    QTcpSocket* peer = nextConnection(server);
    ASSERT_NE(peer, nullptr);
    ASSERT_EVENTUALLY(live.recorder.states == QList<bool>{true}, 15000);
    peer->write("before the cable was pulled");
    ASSERT_EVENTUALLY(live.recorder.total > 0, 15000);

    ASSERT_TRUE(far.runFar("ip link set rk1 down"));
    QElapsedTimer clock;
    clock.start();
    ASSERT_EVENTUALLY(live.recorder.states == QList<bool>({true, false}), 20000);
    EXPECT_GE(clock.elapsed(), 5000) << "lost before keepalive could tell";
}

} // namespace
