// ravel-daq-sim as the viewer meets it: found through discovery with its data
// interface, streaming events into the live data path, busy while a client
// holds it, announcing a new port after a move and a close message at exit.
#include "pnp/PNPServer.h"
#include "tests/pnp/PnpTestSupport.h"
#include "tests/tools/LiveDataPath.h"
#include "tests/tools/SimProcess.h"
#include "tools/daqsim/GeneratedEventSource.h"

#include <QTcpSocket>

#include <csignal>
#include <memory>

#include <gtest/gtest.h>

namespace {

constexpr int TimeoutMs = 30000;

// One simulator instance under test, its announcements and closes picked by
// its UUID among whatever else runs in the namespace.
class DaqSimProcess : public ::testing::Test {
protected:
    // Nothing joins the multicast group outside the private namespace.
    void SetUp() override
    {
        REQUIRE_PRIVATE_NETWORK();
        server = std::make_unique<PNPServer>();
        QObject::connect(server.get(), qOverload<ProgramDescription>(&PNPServer::programDiscovered),
                         [this](const ProgramDescription& pd) {
                             if (pd.uuid == uuid)
                                 announcements.append(pd);
                         });
        QObject::connect(server.get(), &PNPServer::programClosed,
                         [this](const ProgramDescription& pd) { closed = closed || pd.uuid == uuid; });
    }

    // Starts the simulator as a program of this type, searched for by the server.
    bool startSim(const QString& type, const QStringList& arguments)
    {
        server->startSearch(type, false);
        return sim.start(QStringList{"--type", type, "--uuid", uuid.toString()} + arguments);
    }

    // Waits for an announcement whose data interface has this port and availability.
    bool waitForInterface(quint16 port, bool isFree)
    {
        return waitUntil(
            [&] {
                return !announcements.isEmpty() && !announcements.last().interfaces.isEmpty()
                       && announcements.last().interfaces.first().port == port
                       && announcements.last().interfaces.first().isFree == isFree;
            },
            TimeoutMs);
    }

    const QUuid uuid = QUuid::createUuid();
    QVector<ProgramDescription> announcements;
    bool closed = false;
    std::unique_ptr<PNPServer> server; // created only inside the namespace
    SimProcess sim;
};

bool accepts(const QHostAddress& host, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(host, port);
    return socket.waitForConnected(5000);
}

} // namespace

TEST_F(DaqSimProcess, AnnouncesStreamsTracksClientsMovesAndCloses)
{
    GeneratedEventSource::Options options;
    options.generator.seed = 5;
    options.generator.boards = 1;
    options.generator.channels = 4;
    options.generator.samples = 64;
    ASSERT_TRUE(startSim("Nimbus", {"--index", "42", "--name", "sim under test", "--seed", "5", "--boards", "1",
                                    "--channels", "4", "--samples", "64", "--rate", "50"}));
    const quint16 firstPort = sim.port();
    ASSERT_NE(firstPort, 0);

    // Announced at start (or in answer to the periodic request).
    ASSERT_TRUE(waitForInterface(firstPort, true));
    const ProgramDescription announced = announcements.last();
    EXPECT_EQ(announced.name, "sim under test");
    EXPECT_EQ(announced.index, "42");
    ASSERT_EQ(announced.interfaces.size(), 1);
    const ProgramInterface data = announced.interfaces.first();
    EXPECT_EQ(data.type, "Monitor output data flow");
    EXPECT_TRUE(data.enabled);
    EXPECT_EQ(data.host, announced.host);
    ASSERT_FALSE(data.host.isNull());

    {
        // A client takes the interface: busy, and live events arrive,
        // the first of them exactly the first generated event.
        LiveDataPath path(false);
        path.connectTo(data.host, firstPort);
        ASSERT_TRUE(waitForInterface(firstPort, false));
        ASSERT_TRUE(waitUntil([&] { return path.events.size() >= 2; }, TimeoutMs));
        EXPECT_EQ(path.events.first(), GeneratedEventSource(options).nextEvent());
        EXPECT_GT(path.events.last().evNum, path.events.first().evNum);

        // A move drops the client before the new port is announced, so that
        // the client is free to take the new address (as the viewer does).
        sim.command("move");
        ASSERT_TRUE(sim.waitForLine("moved from port"));
        const quint16 secondPort = sim.port();
        ASSERT_NE(secondPort, firstPort);
        ASSERT_TRUE(waitUntil([&] { return !path.connected; }, TimeoutMs));
        ASSERT_TRUE(waitForInterface(secondPort, true));
        const int eventsBefore = path.events.size();
        path.connectTo(data.host, secondPort);
        ASSERT_TRUE(waitForInterface(secondPort, false));
        ASSERT_TRUE(waitUntil([&] { return path.events.size() > eventsBefore; }, TimeoutMs));
        EXPECT_TRUE(path.logs.isEmpty()) << path.logs.join('\n').toStdString();
    }
    // The client is gone: free again.
    const quint16 secondPort = sim.port();
    ASSERT_TRUE(waitForInterface(secondPort, true));

    // SIGUSR1 moves to a port the system chooses.
    ::kill(pid_t(sim.process.processId()), SIGUSR1);
    ASSERT_TRUE(waitUntil([&] { return sim.port() != secondPort; }, TimeoutMs));
    const quint16 thirdPort = sim.port();
    ASSERT_TRUE(waitForInterface(thirdPort, true));
    EXPECT_FALSE(accepts(data.host, firstPort));
    EXPECT_FALSE(accepts(data.host, secondPort));
    EXPECT_TRUE(accepts(data.host, thirdPort));

    sim.process.terminate();
    ASSERT_TRUE(sim.process.waitForFinished(TimeoutMs));
    EXPECT_EQ(sim.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.process.exitCode(), 0);
    EXPECT_TRUE(waitUntil([&] { return closed; }, TimeoutMs));
}

TEST_F(DaqSimProcess, OffersTheDataFlowInterfaceAndRejectsBadOptions)
{
    ASSERT_TRUE(startSim("Qol", {"--index", "2", "--interface-type", "data"}));
    ASSERT_TRUE(waitForInterface(sim.port(), true));
    EXPECT_EQ(announcements.last().interfaces.first().type, "data flow");

    for (const QStringList& bad : {QStringList{"--samples", "7"}, QStringList{"--channels", "65"},
                                   QStringList{"--interface-type", "RemoteControl"}, QStringList{"--index", ""},
                                   QStringList{"--rate", "fast"}, QStringList{"--replay", "/nonexistent/file.dat"}}) {
        QProcess failing;
        failing.start(QStringLiteral(RAVEL_DAQSIM_PATH), bad);
        ASSERT_TRUE(failing.waitForFinished(TimeoutMs));
        EXPECT_EQ(failing.exitCode(), 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(failing.readAllStandardError().startsWith("ravel-daq-sim: ")) << bad.join(' ').toStdString();
    }
}
