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
#include <QSignalSpy>
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

// Calls one of the server's private slots, as the window's queued signals do.
void call(PNPServer& server, const char* slot, const ProgramDescription& pd)
{
    QMetaObject::invokeMethod(&server, slot, Q_ARG(ProgramDescription, pd));
}

QByteArray messageBytes(PnpMessageType kind, const ProgramDescription& pd)
{
    PnpMessage message;
    message.kind = kind;
    message.program = pd;
    return message.toXml().toLatin1();
}

ProgramDescription at(const QSignalSpy& spy, int i)
{
    return spy.at(i).at(0).value<ProgramDescription>();
}

int count(const QSignalSpy& spy, const QUuid& uuid)
{
    int n = 0;
    for (int i = 0; i < spy.size(); ++i)
        n += at(spy, i).uuid == uuid ? 1 : 0;
    return n;
}

// What one server signalled.
struct Signalled {
    explicit Signalled(PNPServer& server)
        : discovered(&server, qOverload<ProgramDescription>(&PNPServer::programDiscovered))
        , sized(&server, qOverload<ProgramDescription, int>(&PNPServer::programDiscovered))
        , closed(&server, &PNPServer::programClosed)
    {}
    QSignalSpy discovered, sized, closed;
};

// Every discovery message on the wire, heard by a plain listener on the port.
struct Wire : MultiCastListener {
    Wire() : MultiCastListener(PNPServer::multicastGroup, PNPServer::port) {}
    QList<PnpMessage> messages() const
    {
        QList<PnpMessage> decoded;
        for (const QList<QVariant>& datagram : heard) {
            PnpMessage m;
            if (m.fromXml(datagram.at(0).toByteArray(), QHostAddress()))
                decoded.append(m);
        }
        return decoded;
    }
    // The highest sequence number announced for the UUID, 0 for none.
    quint32 lastSeq(const QUuid& uuid) const
    {
        quint32 seq = 0;
        for (const PnpMessage& m : messages())
            if (m.kind == ProgramAnnouncement && m.program.uuid == uuid)
                seq = qMax(seq, m.program.seq);
        return seq;
    }
    bool requested(const QStringList& targets) const
    {
        const QList<PnpMessage> all = messages();
        return std::any_of(all.cbegin(), all.cend(),
                           [&](const PnpMessage& m) { return m.kind == DiscoverRequest && m.targets == targets; });
    }
    QSignalSpy heard{this, &MultiCastListener::received};
};

// Lets datagrams already on their way arrive before absence is checked.
const auto settle = [] { QTest::qWait(300); };

} // namespace

TEST(PNPServer, SearchesFindOthersNeverTheirOwnPrograms)
{
    REQUIRE_PRIVATE_NETWORK();
    const ProgramDescription pd = program(uniqueType("Nimbus"));
    PNPServer announcer, searcher;
    Signalled self(announcer), found(searcher);
    call(announcer, "changeProgramDescription", pd);
    announcer.startSearch(); // all types: the announcer hears its own answers
    searcher.startSearch(QStringList{pd.type, "Qol"});
    ASSERT_TRUE(waitUntil([&] { return count(found.discovered, pd.uuid) > 0; }));

    const ProgramDescription seen = at(found.discovered, 0);
    EXPECT_EQ(seen.name, pd.name);
    EXPECT_EQ(seen.host, v0Address);
    ASSERT_EQ(seen.interfaces.size(), 1);
    EXPECT_EQ(seen.interfaces[0].host, v0Address);
    EXPECT_EQ(seen.interfaces[0].port, 6000u);
    ASSERT_EQ(found.sized.size(), found.discovered.size());
    EXPECT_EQ(found.sized.at(0).at(1).toInt(), messageBytes(ProgramAnnouncement, seen).size());

    // A foreign sender using the same UUID is treated as the announcer too.
    ProgramDescription impostor = pd;
    impostor.name = QStringLiteral("impostor");
    QUdpSocket peer;
    peer.writeDatagram(messageBytes(ProgramAnnouncement, impostor), PNPServer::multicastGroup, PNPServer::port);
    peer.writeDatagram(messageBytes(ProgramClose, impostor), PNPServer::multicastGroup, PNPServer::port);
    ASSERT_TRUE(waitUntil([&] { return count(found.closed, pd.uuid) > 0; }));
    settle();
    EXPECT_EQ(count(self.discovered, pd.uuid) + count(self.closed, pd.uuid), 0);
}

TEST(PNPServer, AnswersCountPerUuidRequestsIgnoreCaseSearchesDoNot)
{
    REQUIRE_PRIVATE_NETWORK();
    const QString type = uniqueType("Qol");
    const ProgramDescription first = program(type, "1"), second = program(type, "2");
    Wire wire;
    PNPServer announcer, searcher;
    Signalled found(searcher);
    call(announcer, "changeProgramDescription", first);
    ASSERT_TRUE(waitUntil([&] { return wire.lastSeq(first.uuid) == 1; }));
    call(announcer, "changeProgramDescription", second);
    ASSERT_TRUE(waitUntil([&] { return wire.lastSeq(second.uuid) == 1; }));
    call(announcer, "changeProgramDescription", first);
    ASSERT_TRUE(waitUntil([&] { return wire.lastSeq(first.uuid) == 2; }));

    searcher.startSearch(type.toUpper());
    EXPECT_TRUE(waitUntil([&] { return wire.lastSeq(first.uuid) >= 3; })) << "a request in other case is answered";
    settle();
    EXPECT_EQ(count(found.discovered, first.uuid), 0) << "but the answer does not match the upper-case search";
    EXPECT_EQ(wire.lastSeq(second.uuid), 1u) << "a replaced program is not answered";
    searcher.startSearch(type);
    EXPECT_TRUE(waitUntil([&] { return count(found.discovered, first.uuid) > 0; }));
}

TEST(PNPServer, ClosesArriveWithdrawnProgramsAreNotAnsweredStoppedSearchesSignalNothing)
{
    REQUIRE_PRIVATE_NETWORK();
    const QString type = uniqueType("Nimbus");
    ProgramDescription pd = program(type);
    pd.seq = 9;
    const ProgramDescription neverAnnounced = program(type, "5"), emptyIndex = program(type, "");
    const ProgramDescription control = program(type, "7");
    Wire wire;
    PNPServer announcer, searcher, quiet;
    Signalled found(searcher), quietSignals(quiet);
    quiet.startSearch(type);
    quiet.stopSearch();
    searcher.startSearch(type);
    call(announcer, "changeProgramDescription", pd);
    ASSERT_TRUE(waitUntil([&] { return count(found.discovered, pd.uuid) > 0; }));
    call(announcer, "closeProgram", pd);
    call(announcer, "closeProgram", neverAnnounced);
    ASSERT_TRUE(
        waitUntil([&] { return count(found.closed, pd.uuid) > 0 && count(found.closed, neverAnnounced.uuid) > 0; }));
    const ProgramDescription closed = at(found.closed, 0);
    EXPECT_EQ(closed.seq, 9u) << "a close carries the description unchanged";
    EXPECT_EQ(closed.host, v0Address);

    call(announcer, "changeProgramDescription", emptyIndex); // leaves no program and sends nothing
    call(quiet, "changeProgramDescription", control);
    const quint32 seqBefore = wire.lastSeq(pd.uuid);
    searcher.startSearch(type);
    ASSERT_TRUE(waitUntil([&] { return wire.lastSeq(control.uuid) >= 2; })) << "answered after stopSearch";
    settle();
    EXPECT_EQ(wire.lastSeq(pd.uuid), seqBefore);
    EXPECT_EQ(wire.lastSeq(emptyIndex.uuid), 0u);
    EXPECT_EQ(quietSignals.discovered.size() + quietSignals.closed.size(), 0);
}

TEST(PNPServer, SearchModesLogLinesBadDatagramsAndTtl)
{
    REQUIRE_PRIVATE_NETWORK();
    MessageLog capture;
    Wire wire;
    auto server = std::make_unique<PNPServer>();
    QTimer* timer = server->findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    unsigned char ttl = 0;
    socklen_t size = sizeof ttl;
    const int fd = int(server->findChild<QUdpSocket*>()->socketDescriptor());
    ASSERT_EQ(::getsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, &size), 0);
    EXPECT_EQ(ttl, 15);

    const ProgramDescription pd = program("Nimbus");
    auto decode = [&](const QByteArray& data) {
        bool result = false;
        QMetaObject::invokeMethod(server.get(), "decode", Q_RETURN_ARG(bool, result), Q_ARG(QByteArray, data),
                                  Q_ARG(QHostAddress, v0Address));
        return result;
    };
    Signalled signalled(*server);
    EXPECT_FALSE(decode("<!DOCTYPE x><program/>"));
    EXPECT_EQ(capture.warnings(), QStringList{"Failed decode msg:<!DOCTYPE x><program/>"});
    EXPECT_TRUE(decode(messageBytes(ProgramAnnouncement, pd))) << "accepted but not searched for";
    EXPECT_EQ(signalled.discovered.size(), 0);

    server->startSearch(QStringList());
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(decode(messageBytes(ProgramAnnouncement, pd)));
    EXPECT_EQ(count(signalled.discovered, pd.uuid), 1);
    const QString type = uniqueType("Nimbus");
    server->startSearch(QStringList{type, "Qol"}, false);
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(waitUntil([&] { return wire.requested({type, "Qol"}); })); // the request names its targets
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

TEST(PNPServerPeerProcess, ToolAnnouncesAndDiscoversAcrossTheVethPair)
{
    REQUIRE_PRIVATE_NETWORK();
    const QString tool = qEnvironmentVariable("RAVEL_BINARY_DIR") + QStringLiteral("/tools/ravel-pnp");
    const QUuid toolUuid = QUuid::createUuid();
    const QString type = uniqueType("Qol");
    PNPServer server;
    Signalled found(server);
    server.startSearch(type);

    QProcess announcer;
    announcer.start(tool, {"announce", "--type", type, "--index", "3", "--name", "tool", "--port", "7000", "--uuid",
                           toolUuid.toString()});
    ASSERT_TRUE(announcer.waitForStarted()) << qPrintable(tool);
    ASSERT_TRUE(waitUntil([&] { return count(found.discovered, toolUuid) > 0; }));
    const ProgramDescription seen = at(found.discovered, 0);
    EXPECT_EQ(seen.name, "tool");
    EXPECT_EQ(seen.host, v0Address);
    EXPECT_EQ(seen.getInterface(DataFlowInterface).port, 7000u);
    announcer.terminate(); // the tool sends its close message on the way out
    EXPECT_TRUE(waitUntil([&] { return count(found.closed, toolUuid) > 0; }));
    EXPECT_TRUE(waitUntil([&] { return announcer.state() == QProcess::NotRunning; }));
    EXPECT_EQ(announcer.exitCode(), 0);

    const ProgramDescription mine = program(type, "4");
    call(server, "changeProgramDescription", mine);
    QProcess discoverer;
    discoverer.start(tool, {"discover", "--type", type, "--count", "1", "--seconds", "30"});
    ASSERT_TRUE(waitUntil([&] { return discoverer.state() == QProcess::NotRunning; }, 35000));
    EXPECT_EQ(discoverer.exitCode(), 0);
    const QString output = QString::fromLocal8Bit(discoverer.readAllStandardOutput());
    EXPECT_TRUE(output.contains(QStringLiteral("discovered uuid=%1").arg(mine.uuid.toString()))) << qPrintable(output);
    EXPECT_TRUE(output.contains(QStringLiteral("host=10.77.0.1"))) << qPrintable(output);
}
