// Discovery servers talking over the veth pair of the test namespace: several
// servers in this process (each with its own sockets on the shared port), a
// raw listener that sees every datagram on the wire, and the ravel-pnp tool
// as a peer process.
#include "pnp/PNPServer.h"
#include "pnp/MultiCastListener.h"
#include "pnp/PnpMessage.h"
#include "tests/MessageLog.h"
#include "tests/pnp/PnpTestSupport.h"

#include <QProcess>
#include <QTimer>
#include <QUdpSocket>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

namespace {

const QHostAddress v0Address(QStringLiteral("10.77.0.1"));

// A type name of this test run, so that discovery traffic of other tests in
// the namespace does not count here.
QString uniqueType(const char* base)
{
    return QStringLiteral("%1-%2").arg(base, QUuid::createUuid().toString().mid(1, 8));
}

ProgramDescription program(const QString& type, const QString& index = QStringLiteral("1"))
{
    ProgramDescription pd;
    pd.name = QStringLiteral("test ") + type;
    pd.type = type;
    pd.index = index;
    ProgramInterface data;
    data.port = 6000;
    data.type = interfaceTypeName(DataFlowInterface);
    pd.interfaces << data;
    return pd;
}

void own(PNPServer& server, const ProgramDescription& pd)
{
    QMetaObject::invokeMethod(&server, "changeProgramDescription", Q_ARG(ProgramDescription, pd));
}

void withdraw(PNPServer& server, const ProgramDescription& pd)
{
    QMetaObject::invokeMethod(&server, "closeProgram", Q_ARG(ProgramDescription, pd));
}

bool decode(PNPServer& server, const QByteArray& data)
{
    bool result = false;
    QMetaObject::invokeMethod(&server, "decode", Q_RETURN_ARG(bool, result), Q_ARG(QByteArray, data),
                              Q_ARG(QHostAddress, v0Address));
    return result;
}

QByteArray messageBytes(PnpMessageType kind, const ProgramDescription& pd)
{
    PnpMessage message;
    message.kind = kind;
    message.program = pd;
    return message.toXml().toLatin1();
}

// What one server signalled, per program UUID.
class Signalled {
public:
    explicit Signalled(PNPServer& server)
    {
        QObject::connect(&server, qOverload<ProgramDescription>(&PNPServer::programDiscovered), &server,
                         [this](const ProgramDescription& pd) { discovered.append(pd); });
        QObject::connect(&server, qOverload<ProgramDescription, int>(&PNPServer::programDiscovered), &server,
                         [this](const ProgramDescription& pd, int size) {
                             sized.append({pd, size});
                         });
        QObject::connect(&server, &PNPServer::programClosed, &server,
                         [this](const ProgramDescription& pd) { closed.append(pd); });
    }
    int discoveries(const QUuid& uuid) const { return countOf(discovered, uuid); }
    int closes(const QUuid& uuid) const { return countOf(closed, uuid); }

    QList<ProgramDescription> discovered;
    QList<QPair<ProgramDescription, int>> sized;
    QList<ProgramDescription> closed;

private:
    static int countOf(const QList<ProgramDescription>& list, const QUuid& uuid)
    {
        return int(
            std::count_if(list.cbegin(), list.cend(), [&](const ProgramDescription& pd) { return pd.uuid == uuid; }));
    }
};

// Every discovery message on the wire, read by a plain listener on the port.
class Wire {
public:
    Wire()
    {
        QObject::connect(&listener, &MultiCastListener::received, &listener,
                         [this](QByteArray data, QHostAddress host) {
                             PnpMessage message;
                             if (message.fromXml(data, host))
                                 messages.append(message);
                         });
    }
    QList<quint32> announcedSeqs(const QUuid& uuid) const
    {
        QList<quint32> seqs;
        for (const PnpMessage& m : messages)
            if (m.kind == ProgramAnnouncement && m.program.uuid == uuid && !seqs.contains(m.program.seq))
                seqs.append(m.program.seq);
        std::sort(seqs.begin(), seqs.end());
        return seqs;
    }
    quint32 lastSeq(const QUuid& uuid) const { return announcedSeqs(uuid).value(announcedSeqs(uuid).size() - 1); }
    bool requested(const QStringList& targets) const
    {
        return std::any_of(messages.cbegin(), messages.cend(),
                           [&](const PnpMessage& m) { return m.kind == DiscoverRequest && m.targets == targets; });
    }

private:
    QList<PnpMessage> messages;
    MultiCastListener listener{PNPServer::multicastGroup, PNPServer::port};
};

// Lets datagrams already on their way arrive before absence is checked.
void settle()
{
    QTest::qWait(300);
}

} // namespace

TEST(PNPServer, SearchFindsAnnouncedProgramWithSenderAddress)
{
    REQUIRE_PRIVATE_NETWORK();
    const ProgramDescription pd = program(uniqueType("Nimbus"));
    PNPServer announcer, searcher, secondSearcher;
    Signalled found(searcher), alsoFound(secondSearcher);
    own(announcer, pd);
    searcher.startSearch(QStringList{pd.type, "Qol"});
    secondSearcher.startSearch(pd.type);
    ASSERT_TRUE(waitUntil([&] { return found.discoveries(pd.uuid) > 0 && alsoFound.discoveries(pd.uuid) > 0; }));

    const ProgramDescription& seen = found.discovered.first();
    EXPECT_EQ(seen.name, pd.name);
    EXPECT_EQ(seen.index, pd.index);
    EXPECT_EQ(seen.host, v0Address);
    ASSERT_EQ(seen.interfaces.size(), 1);
    EXPECT_EQ(seen.interfaces[0].host, v0Address);
    EXPECT_EQ(seen.interfaces[0].port, 6000u);
    ASSERT_EQ(found.sized.size(), found.discovered.size());
    EXPECT_EQ(found.sized.first().first.uuid, pd.uuid);
    EXPECT_EQ(found.sized.first().second, messageBytes(ProgramAnnouncement, seen).size());
}

TEST(PNPServer, RequestsAnsweredIgnoringCaseAnnouncementsMatchedExactly)
{
    REQUIRE_PRIVATE_NETWORK();
    const ProgramDescription pd = program(uniqueType("Nimbus"));
    Wire wire;
    PNPServer announcer, searcher;
    Signalled found(searcher);
    own(announcer, pd);
    ASSERT_TRUE(waitUntil([&] { return wire.lastSeq(pd.uuid) == 1; }));

    searcher.startSearch(pd.type.toUpper());
    EXPECT_TRUE(waitUntil([&] { return wire.lastSeq(pd.uuid) >= 2; })) << "a request in other letter case is answered";
    settle();
    EXPECT_EQ(found.discoveries(pd.uuid), 0) << "but the answer does not match the upper-case search";

    searcher.startSearch(pd.type);
    EXPECT_TRUE(waitUntil([&] { return found.discoveries(pd.uuid) > 0; }));
}

TEST(PNPServer, SequenceNumbersCountPerUuid)
{
    REQUIRE_PRIVATE_NETWORK();
    const QString type = uniqueType("Qol");
    const ProgramDescription first = program(type, "1");
    const ProgramDescription second = program(type, "2");
    Wire wire;
    PNPServer announcer;
    own(announcer, first);
    ASSERT_TRUE(waitUntil([&] { return wire.lastSeq(first.uuid) == 1; }));
    own(announcer, second);
    ASSERT_TRUE(waitUntil([&] { return wire.lastSeq(second.uuid) == 1; }));
    own(announcer, first);
    ASSERT_TRUE(waitUntil([&] { return wire.lastSeq(first.uuid) == 2; }));

    PNPServer searcher;
    searcher.startSearch(type);
    EXPECT_TRUE(waitUntil([&] { return wire.lastSeq(first.uuid) >= 3; })) << "answers go on counting";
    settle();
    EXPECT_EQ(wire.announcedSeqs(second.uuid), QList<quint32>{1}) << "a replaced program is not answered";
}

TEST(PNPServer, ClosesArriveAndWithdrawnProgramsAreNotAnswered)
{
    REQUIRE_PRIVATE_NETWORK();
    const QString type = uniqueType("Nimbus");
    ProgramDescription pd = program(type);
    pd.seq = 9;
    const ProgramDescription neverAnnounced = program(type, "5");
    const ProgramDescription emptyIndex = program(type, "");
    Wire wire;
    PNPServer announcer, searcher;
    Signalled found(searcher);
    searcher.startSearch(type);
    own(announcer, pd);
    ASSERT_TRUE(waitUntil([&] { return found.discoveries(pd.uuid) > 0; }));
    withdraw(announcer, pd);
    withdraw(announcer, neverAnnounced);
    ASSERT_TRUE(waitUntil([&] { return found.closes(pd.uuid) > 0 && found.closes(neverAnnounced.uuid) > 0; }));
    const ProgramDescription closed = found.closed.first();
    EXPECT_EQ(closed.seq, 9u) << "a close carries the description unchanged";
    EXPECT_EQ(closed.host, v0Address);
    EXPECT_EQ(closed.name, pd.name);

    own(announcer, emptyIndex); // leaves the announcer without a program and sends nothing
    PNPServer control;
    const ProgramDescription controlProgram = program(type, "7");
    own(control, controlProgram);
    const quint32 seqBefore = wire.lastSeq(pd.uuid);
    searcher.startSearch(type);
    ASSERT_TRUE(waitUntil([&] { return wire.lastSeq(controlProgram.uuid) >= 2; }));
    settle();
    EXPECT_EQ(wire.lastSeq(pd.uuid), seqBefore);
    EXPECT_TRUE(wire.announcedSeqs(emptyIndex.uuid).isEmpty());
}

TEST(PNPServer, OwnAnnouncementsAreNeverSignalled)
{
    REQUIRE_PRIVATE_NETWORK();
    const ProgramDescription pd = program(uniqueType("Nimbus"));
    PNPServer self, other;
    Signalled selfSignals(self), otherSignals(other);
    own(self, pd);
    self.startSearch(); // all types: the server hears its own answers
    other.startSearch();
    ASSERT_TRUE(waitUntil([&] { return otherSignals.discoveries(pd.uuid) > 0; }));

    // A foreign sender using the same UUID is treated as this process too.
    ProgramDescription impostor = pd;
    impostor.name = QStringLiteral("impostor");
    QUdpSocket peer;
    peer.writeDatagram(messageBytes(ProgramAnnouncement, impostor), PNPServer::multicastGroup, PNPServer::port);
    peer.writeDatagram(messageBytes(ProgramClose, impostor), PNPServer::multicastGroup, PNPServer::port);
    ASSERT_TRUE(waitUntil([&] {
        return otherSignals.closes(pd.uuid) > 0
               && std::any_of(otherSignals.discovered.cbegin(), otherSignals.discovered.cend(),
                              [](const ProgramDescription& p) { return p.name == "impostor"; });
    }));
    settle();
    EXPECT_EQ(selfSignals.discoveries(pd.uuid), 0);
    EXPECT_EQ(selfSignals.closes(pd.uuid), 0);
}

TEST(PNPServer, AfterStopSearchRequestsAreStillAnswered)
{
    REQUIRE_PRIVATE_NETWORK();
    const QString type = uniqueType("Qol");
    const ProgramDescription stopped = program(type, "1");
    const ProgramDescription announced = program(type, "2");
    PNPServer quiet, announcer, searcher;
    Signalled quietSignals(quiet), found(searcher);
    quiet.startSearch(type);
    quiet.stopSearch();
    own(quiet, stopped);
    searcher.startSearch(type);
    EXPECT_TRUE(waitUntil([&] { return found.discoveries(stopped.uuid) > 0; }));
    own(announcer, announced);
    withdraw(announcer, announced);
    ASSERT_TRUE(waitUntil([&] { return found.closes(announced.uuid) > 0; }));
    settle();
    EXPECT_TRUE(quietSignals.discovered.isEmpty());
    EXPECT_TRUE(quietSignals.closed.isEmpty());
}

TEST(PNPServer, SearchModesAndTheirLogLines)
{
    REQUIRE_PRIVATE_NETWORK();
    MessageLog capture;
    Wire wire;
    auto server = std::make_unique<PNPServer>();
    QTimer* timer = server->findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 5000);

    server->startSearch(QStringList());
    EXPECT_FALSE(timer->isActive());
    const QString type = uniqueType("Nimbus");
    server->startSearch(QStringList{type, "Qol"}, false);
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(waitUntil([&] { return wire.requested({type, "Qol"}); }));
    server->stopSearch();
    EXPECT_FALSE(timer->isActive());
    server->startSearch(type);
    server.reset();
    EXPECT_EQ(
        capture.texts(QtInfoMsg),
        (QStringList{"Pnp_search single request for targets:all",
                     QStringLiteral("Pnp_search started with 5000ms interval, targets:%1, Qol").arg(type),
                     "Pnp_search stopped", "Pnp_search single request for targets:" + type, "Pnp_search stopped"}));
}

TEST(PNPServer, DropsUndecodableDatagramsWithWarning)
{
    REQUIRE_PRIVATE_NETWORK();
    MessageLog capture;
    PNPServer server;
    Signalled signalled(server);
    EXPECT_FALSE(decode(server, "<!DOCTYPE x><program/>"));
    EXPECT_EQ(capture.warnings(), QStringList{"Failed decode msg:<!DOCTYPE x><program/>"});
    const ProgramDescription pd = program("Nimbus");
    EXPECT_TRUE(decode(server, messageBytes(ProgramAnnouncement, pd))) << "accepted but not searched for";
    server.startSearch("Nimbus");
    EXPECT_TRUE(decode(server, messageBytes(ProgramAnnouncement, pd)));
    EXPECT_EQ(signalled.discoveries(pd.uuid), 1);
    EXPECT_EQ(signalled.discovered.first().host, v0Address);
}

TEST(PNPServer, SendSocketUsesMulticastTtl15)
{
    REQUIRE_PRIVATE_NETWORK();
    PNPServer server;
    const QUdpSocket* socket = server.findChild<QUdpSocket*>();
    ASSERT_NE(socket, nullptr);
    unsigned char ttl = 0;
    socklen_t size = sizeof ttl;
    ASSERT_EQ(::getsockopt(int(socket->socketDescriptor()), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, &size), 0);
    EXPECT_EQ(ttl, 15);
}

namespace {

QString toolPath()
{
    return qEnvironmentVariable("RAVEL_BINARY_DIR") + QStringLiteral("/tools/ravel-pnp");
}

} // namespace

TEST(PNPServerPeerProcess, ToolAnnouncesAndDiscoversAcrossTheVethPair)
{
    REQUIRE_PRIVATE_NETWORK();
    const QUuid toolUuid = QUuid::createUuid();
    const QString type = uniqueType("Qol");
    PNPServer server;
    Signalled found(server);
    server.startSearch(type);

    QProcess announcer;
    announcer.start(toolPath(), {"announce", "--type", type, "--index", "3", "--name", "tool", "--port", "7000",
                                 "--uuid", toolUuid.toString()});
    ASSERT_TRUE(announcer.waitForStarted()) << qPrintable(toolPath());
    ASSERT_TRUE(waitUntil([&] { return found.discoveries(toolUuid) > 0; }));
    const ProgramDescription seen = found.discovered.first();
    EXPECT_EQ(seen.name, "tool");
    EXPECT_EQ(seen.host, v0Address);
    EXPECT_EQ(seen.getInterface(DataFlowInterface).port, 7000u);
    announcer.terminate(); // the tool sends its close message on the way out
    EXPECT_TRUE(waitUntil([&] { return found.closes(toolUuid) > 0; }));
    EXPECT_TRUE(waitUntil([&] { return announcer.state() == QProcess::NotRunning; }));
    EXPECT_EQ(announcer.exitCode(), 0);

    const ProgramDescription mine = program(type, "4");
    own(server, mine);
    QProcess discoverer;
    discoverer.start(toolPath(), {"discover", "--type", type, "--count", "1", "--seconds", "30"});
    ASSERT_TRUE(waitUntil([&] { return discoverer.state() == QProcess::NotRunning; }, 35000));
    EXPECT_EQ(discoverer.exitCode(), 0);
    const QString output = QString::fromLocal8Bit(discoverer.readAllStandardOutput());
    EXPECT_TRUE(output.contains(QStringLiteral("discovered uuid=%1").arg(mine.uuid.toString()))) << qPrintable(output);
    EXPECT_TRUE(output.contains(QStringLiteral("host=10.77.0.1"))) << qPrintable(output);
}
