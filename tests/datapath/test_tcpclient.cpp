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

// A client on a worker thread of its own, as in the viewer, connected to a
// server of the test; the recorder returns each block's permit like the analyzer.
class TcpClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        client->moveToThread(&thread);
        QObject::connect(client, &QObject::destroyed, &thread, &QThread::quit, Qt::DirectConnection);
        thread.start();
        ASSERT_TRUE(server.listen(Loopback));
        QMetaObject::invokeMethod(client, [c = client, port = server.serverPort()] { c->setAddress(Loopback, port); });
        peer = nextConnection(server);
        ASSERT_NE(peer, nullptr);
    }
    void TearDown() override
    {
        client->deleteLater();
        thread.wait(10000);
    }

    MessageLog log;
    QSemaphore semaphore{50};
    QTcpServer server;
    QThread thread;
    TcpClient* client = new TcpClient(&semaphore);
    Recorder recorder{client, &semaphore};
    QTcpSocket* peer = nullptr;
};

TEST(TcpClientRetry, RefusedConnectionIsReportedOnceThenRetriedEveryFiveSeconds)
{
    MessageLog log;
    QSemaphore semaphore(50);
    quint16 port = 0;
    {
        QTcpServer closed; // a port on which nothing listens
        port = closed.listen(Loopback) ? closed.serverPort() : 0;
    }
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
// once a permit is free everything available goes out as one block.
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
    none.release();
    ASSERT_EVENTUALLY(!recorder.blocks.isEmpty(), 5000);
    ASSERT_EQ(recorder.blocks.size(), 1);
    EXPECT_EQ(recorder.blocks.first().size(), burst.size());
}

} // namespace
