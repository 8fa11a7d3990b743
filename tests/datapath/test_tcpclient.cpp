// TcpClient against a QTcpServer on 127.0.0.1: connect and retry timing,
// reconnect after a lost connection, reading under flow control, status.
#include "datapath/TcpClient.h"
#include "tests/MessageLog.h"
#include "tests/WaitUntil.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

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
    QByteArray received() const { return blocks.join(); }

    QElapsedTimer clock;
    QByteArrayList blocks;
    qint64 total = 0;
    QHash<QString, QList<qint64>> logTimes; // addLog text -> when
    QList<bool> states;
    QStringList statuses;
};

// A port on which nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(Loopback);
    return probe.serverPort();
}

QTcpSocket* nextConnection(QTcpServer& server)
{
    return waitUntil([&] { return server.hasPendingConnections(); }) ? server.nextPendingConnection() : nullptr;
}

class TcpClientTest : public ::testing::Test {
protected:
    MessageLog log;
    QSemaphore semaphore{50};
};

// A client on a worker thread of its own, as in the viewer, connected to a
// server of the test; the recorder returns each block's permit like the analyzer.
class ConnectedTcpClientTest : public TcpClientTest {
protected:
    void SetUp() override
    {
        client->moveToThread(&thread);
        QObject::connect(client, &QObject::destroyed, &thread, &QThread::quit, Qt::DirectConnection);
        thread.start();
        ASSERT_TRUE(server.listen(Loopback));
        setAddress(server.serverPort());
        peer = nextConnection(server);
        ASSERT_NE(peer, nullptr);
    }
    void TearDown() override
    {
        client->deleteLater();
        thread.wait(10000);
    }
    void setAddress(quint16 port)
    {
        QMetaObject::invokeMethod(client, [c = client, port] { c->setAddress(Loopback, port); });
    }

    QTcpServer server;
    QThread thread;
    TcpClient* client = new TcpClient(&semaphore);
    Recorder recorder{client, &semaphore};
    QTcpSocket* peer = nullptr;
};

TEST_F(TcpClientTest, RefusedConnectionIsReportedOnceThenRetriedEveryFiveSeconds)
{
    const quint16 port = closedPort();
    TcpClient client(&semaphore);
    Recorder recorder(&client);
    client.setAddress(Loopback, port);
    client.setAddress(Loopback, port); // same address while connecting: no effect

    const QString refused = "The connection was refused by the peer";
    ASSERT_TRUE(waitUntil([&] { return recorder.logTimes[refused].size() == 3; }, 30000));
    const QString cannot = QString("TcpClient can't connect to 127.0.0.1:%1").arg(port);
    ASSERT_EQ(recorder.logTimes[cannot].size(), 1);
    EXPECT_LE(recorder.logTimes[cannot][0], recorder.logTimes[refused][0]);
    EXPECT_EQ(log.count(cannot), 1);
    EXPECT_EQ(log.count(refused), 3);
    EXPECT_EQ(log.count(QString("TcpClient::setAddress: 127.0.0.1 %1").arg(port)), 1);

    const QList<qint64> t = recorder.logTimes[refused];
    // Coarse timers may fire up to 5% early; delivery may be late under load.
    EXPECT_GE(t[1] - t[0], 800);
    EXPECT_LT(t[1] - t[0], 4000);
    EXPECT_GE(t[2] - t[1], 4500);
    EXPECT_TRUE(recorder.states.isEmpty());

    // A new address during the slow retry wait is tried at once, not when
    // the 5 s retry comes.
    QTcpServer server;
    ASSERT_TRUE(server.listen(Loopback));
    const qint64 changedAt = recorder.clock.elapsed();
    client.setAddress(Loopback, server.serverPort());
    ASSERT_TRUE(waitUntil([&] { return recorder.states == QList<bool>{true}; }));
    EXPECT_LT(recorder.clock.elapsed() - changedAt, 4000);
}

TEST_F(ConnectedTcpClientTest, ConnectsReadsAndReconnectsAfterTheSourceClosed)
{
    ASSERT_TRUE(waitUntil([&] { return recorder.states == QList<bool>{true}; }));
    EXPECT_TRUE(log.contains(QString("Connected to 127.0.0.1:%1").arg(server.serverPort())));
    peer->write("hello");
    ASSERT_TRUE(waitUntil([&] { return recorder.received() == "hello"; }));

    // A new address while connected is ignored.
    setAddress(closedPort());
    QSemaphore roundTrip;
    QMetaObject::invokeMethod(
        client, [&] { roundTrip.release(); }, Qt::QueuedConnection);
    roundTrip.acquire();
    EXPECT_EQ(log.countStartingWith("TcpClient::setAddress:"), 1);

    peer->close();
    QTcpSocket* again = nextConnection(server);
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(waitUntil([&] { return recorder.states == QList<bool>({true, false, true}); }));
    EXPECT_EQ(recorder.logTimes["Remote host closed connection."].size(), 1);
    EXPECT_TRUE(log.contains("Client disconnected, trying to reconnect"));
    again->write(" world");
    ASSERT_TRUE(waitUntil([&] { return recorder.received() == "hello world"; }));
    ASSERT_TRUE(waitUntil([&] { return recorder.statuses.contains("tcp:11 bytes"); }));
    EXPECT_TRUE(recorder.statuses.first().startsWith("tcp:"));
}

// Everything sent arrives in order, in blocks bounded by the socket's buffer,
// with one permit per block.
TEST_F(ConnectedTcpClientTest, StreamArrivesWholeInBoundedBlocks)
{
    QByteArray stream;
    QRandomGenerator random(7);
    while (stream.size() < 20000000) {
        QByteArray piece(int(random.bounded(1, 300000)), Qt::Uninitialized);
        for (char& c : piece)
            c = char(random.generate());
        stream += piece;
        peer->write(piece);
    }
    ASSERT_TRUE(waitUntil([&] { return recorder.total >= stream.size(); }, 60000));
    EXPECT_TRUE(recorder.received() == stream);
    for (const QByteArray& block : recorder.blocks)
        EXPECT_LE(block.size(), TcpClient::ReadBufferSize);
    EXPECT_EQ(semaphore.available(), 50);
}

// With every permit taken the bytes wait in the socket, polled every 200 ms;
// once a permit is free everything available goes out as one block.
TEST_F(TcpClientTest, HeldBackBurstIsReadAsOneBlockOncePermitted)
{
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
    ASSERT_TRUE(waitUntil([&] { return socket->bytesAvailable() == burst.size(); }, 30000));
    EXPECT_TRUE(recorder.blocks.isEmpty());

    QElapsedTimer sinceRelease;
    sinceRelease.start();
    none.release();
    ASSERT_TRUE(waitUntil([&] { return !recorder.blocks.isEmpty(); }));
    EXPECT_LT(sinceRelease.elapsed(), 5000);
    ASSERT_EQ(recorder.blocks.size(), 1);
    EXPECT_EQ(recorder.blocks.first().size(), burst.size());
    EXPECT_EQ(none.available(), 0);
    ASSERT_TRUE(waitUntil([&] { return recorder.statuses.contains("tcp:3000000 bytes"); }));
}

} // namespace
